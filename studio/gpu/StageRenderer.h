// GL objects of the studio in one GL context: the two programs, the set's vertex and
// index buffers, the LED wall texture and the 4-sample render targets. Every call
// needs that context current on the calling thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "studio/ScreenTiles.h"
#include "studio/SetGeometry.h"
#include "studio/StageTypes.h"

namespace vantry::studio::gl {

// Premultiplied pixels of the LED wall, row 0 at the top: R G B A rows of its own in `rgba`, or,
// for a picture shared without a copy, `pixels` rows `stride` bytes apart in `bgra` or R G B A
// order, kept alive by `owner`.
struct WallImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
    const std::uint8_t* pixels = nullptr;
    int stride = 0;  // bytes per row of `pixels`, a multiple of 4
    bool bgra = false;
    std::shared_ptr<const void> owner;

    const std::uint8_t* data() const { return pixels != nullptr ? pixels : rgba.data(); }
    int rowBytes() const { return pixels != nullptr ? stride : width * 4; }
};

// The presenter's picture for the in-set quad: premultiplied B G R A rows, row 0 at the top.
// owner keeps the bytes alive (the picture it came from).
struct PresenterPicture {
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row, a multiple of 4
    const std::uint8_t* bgra = nullptr;
    std::shared_ptr<const void> owner;
};

// What one frame draws, copied under the engine lock. The versions tell each context
// whether its GPU copies are current.
struct FrameSnapshot {
    std::shared_ptr<const SetGeometry> geometry;  // null: only the sky is drawn
    std::uint64_t setVersion = 0;
    std::shared_ptr<const WallImage> wall;
    std::uint64_t wallVersion = 0;
    StageUniforms uniforms;
    // The presenter standing in the set: null draws none. quad: world corners bottom-left,
    // bottom-right, top-left, top-right (studio::presenterQuad).
    std::shared_ptr<const PresenterPicture> presenter;
    std::uint64_t presenterVersion = 0;
    std::array<Float3, 4> presenterQuad{};
    // The texture row at the quad's bottom edge (1: the picture's bottom row; beyond it the
    // picture's last row carries on down to the floor).
    float presenterBottomV = 1;
    // The LED wall's light on the presenter's edge: the wall picture's mean linear colour and how
    // far to the presenter's right the wall is (studio::wallSide).
    Float3 presenterWallLight{};
    float presenterWallSide = 0;
    // The colour match's gains on the camera picture's linear colour (1: none).
    Float3 presenterColourGains{1.0f, 1.0f, 1.0f};
};

class StageRenderer {
  public:
    // How a whole stage pass draws; the combinations of the others give the same pixels. None: the
    // sky first, then one program over the whole set in its order (the way the others are
    // checked against). kByMaterial: each material's triangles with a program of its own (set
    // order kept within each). kDepthFirst: the set's depth first, then its colour where the
    // depth is equal, so that each sample is shaded by the fragment that stays. kSkyBehind: the
    // sky last, only where no part of the set is. kCullBackFaces: faces turned away from the
    // camera (hidden by their own box) are not drawn, here and in the wall pass. kEarlyDepthTest
    // (with kByMaterial): each material's fragments tested for depth before they are shaded.
    // kNearFirst (with kByMaterial): the faces turned towards the camera first, box by box from
    // the box whose farthest corner is nearest, then those turned away, so that fewer fragments
    // are shaded only to be covered later. kCullBackFaces and kNearFirst change a few hundred
    // pixels a frame (faces at equal depth at box edges win in another order): for measuring only.
    // kSkipHidden (with kDepthFirst, not with kNearFirst): the depth pass counts, face by face in
    // set order, the samples each face passes at its turn (an occlusion query), and the colour
    // pass leaves out the faces that passed none: such a face lies behind what was drawn before
    // it at every sample, so it wins none at the end either, in any pass. kSkyInGaps (with
    // kSkyBehind): the sky only in the screen tiles that no one triangle of the set covers whole
    // (scissored), as the sky behind the set shows nowhere else. kSkipOpposite (without
    // kSkipHidden): no depth pass needed; the faces left out are those of a box (appendBox) whose
    // opposite face lies between them and the eye, the eye beyond that face's plane and well
    // within its sides, so that every sight line to the face crosses the opposite face first,
    // clear of its edges: a fragment nearer than it at every sample (in any order of drawing).
    // kWallWinnersOnly: the wall pass counts, triangle by triangle (an occlusion query each, with
    // its own program and the wall pass's state, writing nothing), the samples within its bounds
    // that pass its depth test against the kept depth, and leaves out the triangles that pass at
    // none: drawn, they would write nothing. The kept depth is the same for every wall pass over
    // the same stage, so they are counted once for the set, camera and bounds. kSkipCovered (with
    // kByMaterial and kSkipOpposite, without kNearFirst, kSkipHidden or kCullBackFaces): each
    // large face is drawn, in its place in the order, only in the screen tiles where no other
    // face drawn covers the whole tile nearer than it at every point (studio::coverOf), scissored
    // to the rest; a fragment behind such a face never wins its sample.
    enum PassFlags : unsigned {
        kByMaterial = 1u,
        kDepthFirst = 2u,
        kSkyBehind = 4u,
        kCullBackFaces = 8u,
        kEarlyDepthTest = 16u,
        kNearFirst = 32u,
        kSkipHidden = 64u,
        kSkyInGaps = 128u,
        kSkipOpposite = 256u,
        kWallWinnersOnly = 512u,
        kSkipCovered = 1024u,
        kAllPasses = kByMaterial | kDepthFirst | kSkyBehind | kCullBackFaces | kEarlyDepthTest | kNearFirst |
                     kSkipHidden | kSkyInGaps | kSkipOpposite | kWallWinnersOnly | kSkipCovered,
        // The fastest on llvmpipe (LLVM 15), which with 4 samples shades every fragment a
        // triangle covers whether or not it passes the depth test: a depth pass, the depth test
        // forced early and the near-first order save nothing by themselves there, and culling
        // changes pixels at silhouettes (a face turned away can win a sample at its box's edge).
        // What saves is what is not drawn: faces behind their box's opposite face (the floor's
        // underside, the back of the wall) and the sky where the set covers whole tiles. The
        // depth pass with kSkipHidden finds more hidden faces, but costs about what they save.
        // In the wall pass, kWallWinnersOnly saves most: the back of the wall, as large as its
        // screen, lies behind its front, but not behind one face alone seen from the side, and
        // the set's other faces within the bounds mostly lie behind the wall.
        // kSkipCovered takes the floor's underside and the wall behind the LED panel and the desk
        // out of a moving frame, about a quarter of what the set shades.
        kDefaultPasses =
            kByMaterial | kSkyBehind | kSkipOpposite | kSkyInGaps | kWallWinnersOnly | kSkipCovered,
    };
    // For every renderer in the process, from its next pass on (kDefaultPasses unless set).
    static void setPassFlags(unsigned flags);
    static unsigned passFlags();

    // For measuring only: while a profile is set, every draw of the stage and presenter passes is
    // waited for (glFinish) before and after, timed, and its samples that pass the depth test
    // counted (GL_SAMPLES_PASSED), added up by part ("sky", "lit", "neon", "LED wall", "mixed",
    // "depth", "wall pass", "shadow", "presenter"). Parts ending in " covered" count the samples
    // each material's triangles cover before any depth test (an extra draw that writes nothing,
    // not timed into the other parts; of the triangles drawn when faces are left out). The steps
    // around the draws are waited for and timed too: "wall upload", and the multisample targets'
    // "resolve", "read-back" and "copy". Null stops it.
    // Only for a caller that renders one frame at a time and reads the profile between frames.
    struct DrawProfile {
        std::string part;
        double seconds = 0;
        std::uint64_t samples = 0;
        std::uint64_t draws = 0;
    };
    static void setDrawProfile(std::vector<DrawProfile>* profile);

    // Compiles and links both programs and creates the fixed objects. Null on failure.
    static std::unique_ptr<StageRenderer> create();
    ~StageRenderer();
    StageRenderer(const StageRenderer&) = delete;
    StageRenderer& operator=(const StageRenderer&) = delete;

    // Brings the GPU copies up to the snapshot's versions, then draws the sky, the stage and
    // the in-set presenter into the bound draw framebuffer (viewport already set). flipY = -1 puts
    // picture row 0 at framebuffer row 0 (for read-back); +1 is GL's usual orientation.
    void encodeStudioPass(const FrameSnapshot& frame, float flipY);
    // The same pass in two halves: the stage alone (sky and set, writing depth) and then the
    // presenter over whatever colour and depth the bound framebuffer holds (a copy of a stage
    // drawn earlier for the same camera gives the same picture as encodeStudioPass).
    // `within`: the wall pass, for a stage kept in the bound framebuffer that differs from this
    // one only in the wall's picture (and so has the same depth), where `within` holds the
    // wall's bounds. Scissored to them, it draws the set from the first triangle that shows the
    // wall on, over the kept depth, which it neither clears nor writes: at each sample the
    // fragments at the kept depth pass, the last of them last. The one a whole pass leaves
    // there is drawn again if it comes from that part of the set, and none is drawn otherwise
    // (a later fragment at that depth would have won), so each sample ends as a whole pass
    // leaves it. A fragment a rasteriser lets past the scissor's edge (llvmpipe does, by a
    // row) writes again what the sample holds, as no wall fragment lies outside the bounds.
    // The presenter blends and has no such pass: its whole quad is drawn over a fresh copy.
    // encodePresenterPass draws the presenter's shadow on the set first (within the screen
    // bounds of studio::presenterShadowHull: a copy of the stage within them, and of the
    // presenter's bounds, is enough for a picture equal to a whole pass).
    void encodeStagePass(const FrameSnapshot& frame, float flipY, const PixelRect* within = nullptr);
    void encodePresenterPass(const FrameSnapshot& frame, float flipY);

    // True when the set buffers of the last synchronised set were created.
    bool hasStageBuffers() const { return stageBuffersOk_; }
    // Forgets the GL names without deleting them (their context is gone or not current).
    void abandon();

  private:
    StageRenderer() = default;
    void sync(const FrameSnapshot& frame);
    void beginPassState(const FrameSnapshot& frame, const PixelRect* within);
    void drawStage(const FrameSnapshot& frame, float flipY, bool wallOnly);
    void drawWholeStage(const FrameSnapshot& frame, float flipY);
    // Brings the near-first order up to the camera at eye.
    void orderFor(const Float3& eye);
    // The depth of the whole set in set order, one occlusion query per face; then which faces
    // passed any sample, and each material's runs of triangles in the by-material order that
    // belong to such faces (visibleRuns_).
    void drawDepthCountingFaces();
    void collectVisibleRuns();
    // The same runs of the wall pass's triangles (wallRuns_, wallSetRuns_).
    void collectWallRuns();
    void collectRuns(bool wallPass);
    // kSkipOpposite: faceSeen_ false for the faces behind their box's opposite face from eye;
    // false when the set is not all boxes.
    bool findFacesBehindOpposites(const Float3& eye);
    // kWallWinnersOnly: wallTriangleSeen_ false, of the wall pass's triangles still seen, for
    // those that pass the wall pass's depth test against the bound depth buffer at no sample
    // within the scissor.
    void findWallPassWinners(float flipY);
    void drawSky(unsigned program, int flipLoc, float flipY);
    // The sky behind the set, scissored to the tiles that no face of the set covers whole.
    void drawSkyInGaps(const FrameSnapshot& frame, float flipY);
    // A face's corners (a box's quad or a triangle), 0 when it is neither.
    int faceCorners(std::size_t face, Float3* corners) const;
    // screenFaces_ and coveredWhole_ brought up to the frame's camera and the viewport.
    void projectFaces(const FrameSnapshot& frame, float flipY);
    // kSkipCovered: faceSeen_ false for the faces covered in every tile they touch, the faces
    // covered in enough of them in partialFaces_ (facePartial_), then collectSteps.
    void findCoveredFaces(const FrameSnapshot& frame, float flipY);
    // Each material's seen triangles in order as steps: runs drawn at once, or one partial face
    // drawn once per rectangle. drawSteps times them into the profile's `part` (none: untimed).
    void collectSteps();
    struct Step;
    void drawSteps(const char* part, const std::vector<Step>& steps);
    static void cullBackFaces(float flipY);
    void drawIndices(int first, int count);
    // drawIndices timed into the profile's `part` when one is set.
    void drawProfiled(const char* part, int first, int count);
    // Runs `draw` timed into the profile's `part` (just `draw` without a profile).
    template <class Draw>
    void profiled(const char* part, Draw&& draw, bool countSamples = true);
    void countCoverage(float flipY, bool visibleOnly);
    void endPassState();
    void drawPresenter(const FrameSnapshot& frame, float flipY);
    // The presenter's shadow from the key light on the set (never on the LED wall or the neon),
    // over the stage's colour and depth, within the screen bounds of the shadow's hull.
    void drawPresenterShadow(const FrameSnapshot& frame, float flipY);

    unsigned skyProgram_ = 0;
    unsigned stageProgram_ = 0;
    int skyFlipLoc_ = -1;
    int stageFlipLoc_ = -1;
    unsigned uniformBuffer_ = 0;
    unsigned emptyVAO_ = 0;
    unsigned stageVAO_ = 0;
    unsigned vertexBuffer_ = 0;
    unsigned indexBuffer_ = 0;
    unsigned wallTexture_ = 0;
    int indexCount_ = 0;
    // The set's triangles by material (lit, neon, LED wall, and any whose tags span materials),
    // each in set order, after the set's own indices in the index buffer.
    struct MaterialRange {
        unsigned program = 0;
        int flipLoc = -1;
        unsigned earlyProgram = 0;  // the same with the depth test first; 0 where unsupported
        int earlyFlipLoc = -1;
        int first = 0;
        int count = 0;
        // Of its indices, those of the triangles from the wall pass's first one on in set order:
        // the last wallCount of its range.
        int wallCount = 0;
    };
    std::array<MaterialRange, 4> materials_{};
    // The set's triangles (three indices each) with their material, and the near-first order
    // for the eye it was made for: runs of one material after the by-material indices.
    struct Triangle {
        std::array<std::uint32_t, 3> index{};
        std::array<Float3, 3> corner{};
        int material = 3;
        bool valid = false;  // every index names a vertex
    };
    struct Run {
        int material = 0;
        int first = 0;
        int count = 0;
        // Of its indices, those of the triangles from the wall pass's first one on in set order:
        // the last wallCount of its range.
        int wallCount = 0;
    };
    std::vector<Triangle> triangles_;
    // kSkipHidden and kSkipOpposite: the set's faces (runs of faceIndices_ indices in set order,
    // or single triangles for a set not made of boxes), a query each, and which of them the last
    // pass drew.
    // materialTriangles_: the set-order triangle numbers in each material's range.
    int faceIndices_ = 3;
    std::vector<unsigned> faceQueries_;
    std::vector<bool> faceSeen_;
    // The set's boxes (appendBox: six faces of six indices, in its face order), their corners'
    // bounds; empty when the set is not made of them.
    struct Box {
        Float3 low{};
        Float3 high{};
    };
    std::vector<Box> boxes_;
    std::array<std::vector<int>, 4> materialTriangles_;
    struct Runs {
        std::vector<int> counts;
        std::vector<const void*> offsets;
    };
    std::array<Runs, 4> visibleRuns_;
    // kSkipCovered: the faces drawn only in some rectangles of the screen, and for each face its
    // entry there (-1: drawn whole; empty: none this pass); the steps of each material.
    struct PartialFace {
        int face = 0;
        std::vector<std::array<int, 4>> rects;  // x, y, width, height from the viewport's corner
    };
    std::vector<PartialFace> partialFaces_;
    std::vector<int> facePartial_;
    struct Step {
        Runs runs;         // partial < 0
        int partial = -1;  // otherwise its partialFaces_ entry, indices first .. first + count
        int first = 0;
        int count = 0;
    };
    std::array<std::vector<Step>, 4> visibleSteps_;
    // The set's faces on the screen for the last camera, viewport and orientation projected.
    struct ProjectedKey {
        std::uint64_t setVersion = 0;
        std::array<float, 16> viewProj{};
        float flipY = 0;
        int width = 0;
        int height = 0;
        friend bool operator==(const ProjectedKey&, const ProjectedKey&) = default;
    };
    std::optional<ProjectedKey> projectedFor_;
    studio::TileGrid tileGrid_;
    std::vector<std::optional<studio::ScreenFace>> screenFaces_;
    std::vector<std::vector<std::uint8_t>> coveredWhole_;
    Runs visibleSetRuns_;  // the same for the whole set in set order
    // The same of the wall pass's triangles, by material and in set order, of those
    // wallTriangleSeen_ holds (by set-order triangle number).
    std::array<Runs, 4> wallRuns_;
    Runs wallSetRuns_;
    std::vector<bool> wallTriangleSeen_;
    // kWallWinnersOnly: wallTriangleSeen_ as found for the last few stages (the wall pass's depth
    // test depends on the set, the camera, the bounds and the pass), and a query for each triangle.
    struct WallPassKey {
        std::uint64_t setVersion = 0;
        std::array<float, 16> viewProj{};
        float flipY = 0;
        std::array<int, 4> scissor{};
        std::array<int, 4> viewport{};
        unsigned flags = 0;
        friend bool operator==(const WallPassKey&, const WallPassKey&) = default;
    };
    struct WallPassWinners {
        WallPassKey key;
        std::vector<bool> seen;
    };
    static constexpr std::size_t kWallWinnersKept = 4;
    std::vector<WallPassWinners> wallWinners_;
    std::vector<unsigned> triangleQueries_;
    std::vector<Run> runs_;
    std::vector<std::uint32_t> order_;
    int orderFirst_ = 0;
    std::optional<Float3> orderEye_;
    unsigned profileQuery_ = 0;
    unsigned depthProgram_ = 0;
    int depthFlipLoc_ = -1;
    unsigned skyBehindProgram_ = 0;
    int skyBehindFlipLoc_ = -1;
    int wallFirstIndex_ = 0;  // where the wall pass starts drawing
    bool stageBuffersOk_ = false;
    bool wallOk_ = false;
    int wallWidth_ = 0;  // the wall texture's size while wallOk_
    int wallHeight_ = 0;
    std::uint64_t setVersion_ = 0;
    std::uint64_t wallVersion_ = 0;
    // The in-set presenter: its program, texture (re-uploaded only for a new picture).
    unsigned presenterProgram_ = 0;
    int presenterFlipLoc_ = -1;
    int presenterCornersLoc_ = -1;
    int presenterTexelLoc_ = -1;
    int presenterBottomVLoc_ = -1;
    int presenterWallLightLoc_ = -1;
    int presenterWallSideLoc_ = -1;
    int presenterColourGainLoc_ = -1;
    unsigned shadowProgram_ = 0;
    int shadowFlipLoc_ = -1;
    int shadowQuadLoc_ = -1;
    int shadowBottomVLoc_ = -1;
    int shadowMarginLoc_ = -1;
    int shadowPlanesLoc_ = -1;
    unsigned presenterTexture_ = 0;
    int presenterWidth_ = 0;
    int presenterHeight_ = 0;
    bool presenterOk_ = false;
    std::uint64_t presenterVersion_ = 0;
};

// 4-sample colour (RGBA8) and 32-bit float depth targets with a single-sample resolve
// target of the same size.
class MultisampleTarget {
  public:
    MultisampleTarget() = default;
    ~MultisampleTarget();
    MultisampleTarget(const MultisampleTarget&) = delete;
    MultisampleTarget& operator=(const MultisampleTarget&) = delete;

    // (Re)allocates for the size when it changed. False when a target is incomplete.
    bool ensure(int width, int height);
    // Binds the multisampled framebuffer, sets the viewport, clears to opaque black and depth 1.
    void beginPass();
    // The same without clearing: drawing goes on over the samples kept.
    void resumePass();
    // Resolves the samples into framebuffer `target` (same size, single-sampled).
    void resolveInto(unsigned target);
    // Resolves into the own single-sample target and reads it back as B G R A,
    // framebuffer row 0 first. False on a GL error.
    bool readBGRA(std::uint8_t* out);
    // Resolves into the own single-sample target and copies that into framebuffer `target`
    // (same size, single-sampled) upside down; readResolvedBGRA then reads what was resolved.
    void resolveFlippedInto(unsigned target);
    bool readResolvedBGRA(std::uint8_t* out);
    // Resolves the pixels of `region` alone into the own single-sample target and reads them
    // into their place in `frame`, a whole frame's rows as readBGRA writes them; the rest of
    // `frame` is left as it is. False on a GL error.
    bool readRegionBGRA(const PixelRect& region, std::uint8_t* frame);
    // Copies every sample of colour, and of depth unless told not to, from `source` (same size)
    // into this target, which is left bound for drawing with the viewport set (`within`: the
    // samples of those pixels only).
    void copyFrom(const MultisampleTarget& source, bool depth = true, const PixelRect* within = nullptr);

    int width() const { return width_; }
    int height() const { return height_; }
    // Forgets the GL names without deleting them (their context is gone or not current).
    void abandon();

  private:
    void release();
    int width_ = 0;
    int height_ = 0;
    unsigned msFBO_ = 0;
    unsigned msColor_ = 0;
    unsigned msDepth_ = 0;
    unsigned resolveFBO_ = 0;
    unsigned resolveColor_ = 0;
};

}  // namespace vantry::studio::gl
