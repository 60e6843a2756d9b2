#include "studio/gpu/StageRenderer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string>

#include "studio/PresenterShadow.h"
#include "studio/gpu/StudioShaders.h"

namespace vantry::studio::gl {
namespace {

GLuint compile(GLenum kind, const char* source) {
    const GLuint shader = glCreateShader(kind);
    if (shader == 0) return 0;
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// Links a program and binds its uniform block to binding 0 and its wall sampler to unit 0.
GLuint link(const char* vertexSource, const char* fragmentSource) {
    const GLuint vs = compile(GL_VERTEX_SHADER, vertexSource);
    const GLuint fs = compile(GL_FRAGMENT_SHADER, fragmentSource);
    GLuint program = 0;
    if (vs != 0 && fs != 0) {
        program = glCreateProgram();
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        GLint ok = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (ok != GL_TRUE) {
            glDeleteProgram(program);
            program = 0;
        }
    }
    if (vs != 0) glDeleteShader(vs);
    if (fs != 0) glDeleteShader(fs);
    if (program == 0) return 0;
    const GLuint block = glGetUniformBlockIndex(program, "StageUniforms");
    if (block == GL_INVALID_INDEX) {
        glDeleteProgram(program);
        return 0;
    }
    glUniformBlockBinding(program, block, 0);
    if (const GLint wall = glGetUniformLocation(program, "uWall"); wall >= 0) {
        glUseProgram(program);
        glUniform1i(wall, 0);
        glUseProgram(0);
    }
    return program;
}

std::atomic<unsigned> gPassFlags{StageRenderer::kDefaultPasses};
std::atomic<std::vector<StageRenderer::DrawProfile>*> gProfile{nullptr};

constexpr const char* kMaterialParts[4] = {"lit", "neon", "LED wall", "mixed"};
constexpr const char* kMaterialCovered[4] = {"lit covered", "neon covered", "LED wall covered",
                                             "mixed covered"};

StageRenderer::DrawProfile& profilePart(std::vector<StageRenderer::DrawProfile>& profile, const char* part) {
    for (StageRenderer::DrawProfile& d : profile) {
        if (d.part == part) return d;
    }
    profile.push_back({part});
    return profile.back();
}

// Which program draws a triangle with these vertex tags, as the stage shader tells materials
// apart (0 lit, 1 neon, 2 LED wall); 3 where the tags are not all well inside one material's
// range, so that interpolation could cross into another (the full stage program draws those).
int materialOf(float a, float b, float c) {
    const auto kind = [](float tag) {
        if (tag > 1.75f && tag < 2.25f) return 2;
        if (tag > 2.75f) return 1;
        if (tag < 1.25f) return 0;
        return 3;
    };
    const int k = kind(a);
    return kind(b) == k && kind(c) == k ? k : 3;
}

// The same fragment function with the depth test before it rather than after (the set's
// functions neither discard nor write depth, so only the work changes: a fragment behind what
// is drawn is not shaded).
std::string withEarlyDepthTest(const char* source) {
    std::string s(source);
    const std::size_t afterVersion = s.find('\n') + 1;
    s.insert(afterVersion,
             "#extension GL_ARB_shader_image_load_store : require\nlayout(early_fragment_tests) in;\n");
    return s;
}

void clearErrors() {
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

}  // namespace

void StageRenderer::setPassFlags(unsigned flags) {
    gPassFlags.store(flags & kAllPasses, std::memory_order_relaxed);
}

unsigned StageRenderer::passFlags() {
    return gPassFlags.load(std::memory_order_relaxed);
}

void StageRenderer::setDrawProfile(std::vector<DrawProfile>* profile) {
    gProfile.store(profile);
}

namespace {

// Runs `step` waited for and timed into the profile's `part` when one is set (just `step`
// without a profile).
template <class Step>
void profiledStep(const char* part, Step&& step) {
    std::vector<StageRenderer::DrawProfile>* profile = gProfile.load();
    if (profile == nullptr) {
        step();
        return;
    }
    glFinish();
    const auto start = std::chrono::steady_clock::now();
    step();
    glFinish();
    StageRenderer::DrawProfile& d = profilePart(*profile, part);
    d.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++d.draws;
}

}  // namespace

template <class Draw>
void StageRenderer::profiled(const char* part, Draw&& draw, bool countSamples) {
    std::vector<DrawProfile>* profile = gProfile.load();
    if (profile == nullptr) {
        draw();
        return;
    }
    if (profileQuery_ == 0) glGenQueries(1, &profileQuery_);
    glFinish();
    const auto start = std::chrono::steady_clock::now();
    if (countSamples) glBeginQuery(GL_SAMPLES_PASSED, profileQuery_);
    draw();
    if (countSamples) glEndQuery(GL_SAMPLES_PASSED);
    glFinish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    GLuint64 samples = 0;
    if (countSamples) glGetQueryObjectui64v(profileQuery_, GL_QUERY_RESULT, &samples);
    DrawProfile& d = profilePart(*profile, part);
    d.seconds += seconds;
    d.samples += samples;
    ++d.draws;
}

void StageRenderer::drawProfiled(const char* part, int first, int count) {
    profiled(part, [&] { drawIndices(first, count); });
}

void StageRenderer::countCoverage(float flipY, bool visibleOnly) {
    std::vector<DrawProfile>* profile = gProfile.load();
    if (profile == nullptr || !stageBuffersOk_) return;
    if (profileQuery_ == 0) glGenQueries(1, &profileQuery_);
    GLboolean depthTest = glIsEnabled(GL_DEPTH_TEST);
    GLboolean cull = glIsEnabled(GL_CULL_FACE);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glUseProgram(depthProgram_);
    glUniform1f(depthFlipLoc_, flipY);
    glBindVertexArray(stageVAO_);
    for (std::size_t m = 0; m < materials_.size(); ++m) {
        if (materials_[m].count < 1) continue;
        glBeginQuery(GL_SAMPLES_PASSED, profileQuery_);
        if (!visibleOnly) {
            drawIndices(materials_[m].first, materials_[m].count);
        } else if (!partialFaces_.empty()) {
            drawSteps(nullptr, visibleSteps_[m]);
        } else if (!visibleRuns_[m].counts.empty()) {
            glMultiDrawElements(GL_TRIANGLES, visibleRuns_[m].counts.data(), GL_UNSIGNED_INT,
                                visibleRuns_[m].offsets.data(), GLsizei(visibleRuns_[m].counts.size()));
        }
        glEndQuery(GL_SAMPLES_PASSED);
        GLuint64 samples = 0;
        glGetQueryObjectui64v(profileQuery_, GL_QUERY_RESULT, &samples);
        DrawProfile& d = profilePart(*profile, kMaterialCovered[m]);
        d.samples += samples;
        ++d.draws;
    }
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    if (depthTest) glEnable(GL_DEPTH_TEST);
    if (cull) glEnable(GL_CULL_FACE);
}

std::unique_ptr<StageRenderer> StageRenderer::create() {
    clearErrors();
    std::unique_ptr<StageRenderer> r(new StageRenderer());
    r->skyProgram_ = link(kSkyVertexSource, kSkyFragmentSource);
    r->stageProgram_ = link(kStageVertexSource, kStageFragmentSource);
    if (r->skyProgram_ == 0 || r->stageProgram_ == 0) return nullptr;
    const char* const materialSources[3] = {kStageLitFragmentSource, kStageNeonFragmentSource,
                                            kStageLEDFragmentSource};
    for (std::size_t m = 0; m < 3; ++m) {
        MaterialRange& range = r->materials_[m];
        range.program = link(kStageVertexSource, materialSources[m]);
        if (range.program == 0) return nullptr;
        range.flipLoc = glGetUniformLocation(range.program, "uFlipY");
        // Without the extension, the depth test stays where the driver puts it.
        clearErrors();
        range.earlyProgram = link(kStageVertexSource, withEarlyDepthTest(materialSources[m]).c_str());
        clearErrors();
        range.earlyFlipLoc =
            range.earlyProgram != 0 ? glGetUniformLocation(range.earlyProgram, "uFlipY") : -1;
    }
    r->materials_[3].program = r->stageProgram_;
    r->depthProgram_ = link(kStageVertexSource, kDepthFragmentSource);
    r->skyBehindProgram_ = link(kSkyBehindVertexSource, kSkyFragmentSource);
    if (r->depthProgram_ == 0 || r->skyBehindProgram_ == 0) return nullptr;
    r->depthFlipLoc_ = glGetUniformLocation(r->depthProgram_, "uFlipY");
    r->skyBehindFlipLoc_ = glGetUniformLocation(r->skyBehindProgram_, "uFlipY");
    r->presenterProgram_ = link(kPresenterVertexSource, kPresenterFragmentSource);
    if (r->presenterProgram_ == 0) return nullptr;
    r->presenterFlipLoc_ = glGetUniformLocation(r->presenterProgram_, "uFlipY");
    r->presenterCornersLoc_ = glGetUniformLocation(r->presenterProgram_, "uCorners");
    r->presenterTexelLoc_ = glGetUniformLocation(r->presenterProgram_, "uRimTexel");
    r->presenterBottomVLoc_ = glGetUniformLocation(r->presenterProgram_, "uBottomV");
    r->presenterWallLightLoc_ = glGetUniformLocation(r->presenterProgram_, "uWallLight");
    r->presenterWallSideLoc_ = glGetUniformLocation(r->presenterProgram_, "uWallSide");
    r->presenterColourGainLoc_ = glGetUniformLocation(r->presenterProgram_, "uColourGain");
    if (const GLint unit = glGetUniformLocation(r->presenterProgram_, "uPresenter"); unit >= 0) {
        glUseProgram(r->presenterProgram_);
        glUniform1i(unit, 0);
        glUseProgram(0);
    }
    r->shadowProgram_ = link(kPresenterShadowVertexSource, kPresenterShadowFragmentSource);
    if (r->shadowProgram_ == 0) return nullptr;
    r->shadowFlipLoc_ = glGetUniformLocation(r->shadowProgram_, "uFlipY");
    r->shadowQuadLoc_ = glGetUniformLocation(r->shadowProgram_, "uShadowQuad");
    r->shadowBottomVLoc_ = glGetUniformLocation(r->shadowProgram_, "uShadowBottomV");
    r->shadowMarginLoc_ = glGetUniformLocation(r->shadowProgram_, "uShadowMargin");
    r->shadowPlanesLoc_ = glGetUniformLocation(r->shadowProgram_, "uShadowPlanes");
    if (const GLint unit = glGetUniformLocation(r->shadowProgram_, "uPresenter"); unit >= 0) {
        glUseProgram(r->shadowProgram_);
        glUniform1i(unit, 0);
        glUseProgram(0);
    }
    r->skyFlipLoc_ = glGetUniformLocation(r->skyProgram_, "uFlipY");
    r->stageFlipLoc_ = glGetUniformLocation(r->stageProgram_, "uFlipY");
    r->materials_[3].flipLoc = r->stageFlipLoc_;

    glGenBuffers(1, &r->uniformBuffer_);
    glBindBuffer(GL_UNIFORM_BUFFER, r->uniformBuffer_);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(StageUniforms), nullptr, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_UNIFORM_BUFFER, 0);

    glGenVertexArrays(1, &r->emptyVAO_);
    glGenVertexArrays(1, &r->stageVAO_);
    glGenBuffers(1, &r->vertexBuffer_);
    glGenBuffers(1, &r->indexBuffer_);
    glBindVertexArray(r->stageVAO_);
    glBindBuffer(GL_ARRAY_BUFFER, r->vertexBuffer_);
    const auto attrib = [](GLuint loc, GLint n, std::size_t offset) {
        glEnableVertexAttribArray(loc);
        glVertexAttribPointer(loc, n, GL_FLOAT, GL_FALSE, sizeof(StageVertex),
                              reinterpret_cast<const void*>(offset));
    };
    attrib(kAttribPosition, 3, offsetof(StageVertex, position));
    attrib(kAttribNormal, 3, offsetof(StageVertex, normal));
    attrib(kAttribUV, 2, offsetof(StageVertex, uv));
    attrib(kAttribColor, 3, offsetof(StageVertex, color));
    attrib(kAttribMatTag, 1, offsetof(StageVertex, matTag));
    attrib(kAttribRoughness, 1, offsetof(StageVertex, roughness));
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, r->indexBuffer_);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // Linear filtering without mipmaps, clamped to the edge.
    for (GLuint* texture : {&r->wallTexture_, &r->presenterTexture_}) {
        glGenTextures(1, texture);
        glBindTexture(GL_TEXTURE_2D, *texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    // The presenter's rows are B G R A.
    glBindTexture(GL_TEXTURE_2D, r->presenterTexture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_RED);
    glBindTexture(GL_TEXTURE_2D, 0);

    if (glGetError() != GL_NO_ERROR) return nullptr;
    return r;
}

void StageRenderer::abandon() {
    skyProgram_ = stageProgram_ = presenterProgram_ = shadowProgram_ = depthProgram_ = skyBehindProgram_ = 0;
    for (MaterialRange& m : materials_) m.program = m.earlyProgram = 0;
    uniformBuffer_ = vertexBuffer_ = indexBuffer_ = emptyVAO_ = stageVAO_ = wallTexture_ = presenterTexture_ =
        0;
    profileQuery_ = 0;
    faceQueries_.clear();
    triangleQueries_.clear();
    wallWinners_.clear();
}

StageRenderer::~StageRenderer() {
    if (skyProgram_ == 0 && stageProgram_ == 0 && uniformBuffer_ == 0) return;
    if (skyProgram_ != 0) glDeleteProgram(skyProgram_);
    if (stageProgram_ != 0) glDeleteProgram(stageProgram_);
    if (presenterProgram_ != 0) glDeleteProgram(presenterProgram_);
    if (shadowProgram_ != 0) glDeleteProgram(shadowProgram_);
    for (std::size_t m = 0; m < 3; ++m) {
        if (materials_[m].program != 0) glDeleteProgram(materials_[m].program);
        if (materials_[m].earlyProgram != 0) glDeleteProgram(materials_[m].earlyProgram);
    }
    if (depthProgram_ != 0) glDeleteProgram(depthProgram_);
    if (skyBehindProgram_ != 0) glDeleteProgram(skyBehindProgram_);
    const GLuint buffers[] = {uniformBuffer_, vertexBuffer_, indexBuffer_};
    glDeleteBuffers(3, buffers);
    const GLuint vaos[] = {emptyVAO_, stageVAO_};
    glDeleteVertexArrays(2, vaos);
    if (wallTexture_ != 0) glDeleteTextures(1, &wallTexture_);
    if (presenterTexture_ != 0) glDeleteTextures(1, &presenterTexture_);
    if (profileQuery_ != 0) glDeleteQueries(1, &profileQuery_);
    if (!faceQueries_.empty()) glDeleteQueries(GLsizei(faceQueries_.size()), faceQueries_.data());
    if (!triangleQueries_.empty()) glDeleteQueries(GLsizei(triangleQueries_.size()), triangleQueries_.data());
}

void StageRenderer::sync(const FrameSnapshot& frame) {
    if (frame.setVersion != setVersion_) {
        setVersion_ = frame.setVersion;
        stageBuffersOk_ = false;
        indexCount_ = 0;
        wallFirstIndex_ = 0;
        for (MaterialRange& m : materials_) m.first = m.count = m.wallCount = 0;
        triangles_.clear();
        runs_.clear();
        orderEye_.reset();
        faceSeen_.clear();
        wallTriangleSeen_.clear();
        wallWinners_.clear();
        boxes_.clear();
        for (auto& list : materialTriangles_) list.clear();
        if (frame.geometry && !frame.geometry->vertices.empty() && !frame.geometry->indices.empty()) {
            clearErrors();
            const auto& g = *frame.geometry;
            // The set's indices as they are, then its whole triangles again by material.
            const std::size_t n = g.indices.size();
            std::vector<std::uint32_t> all(g.indices);
            std::array<std::vector<std::uint32_t>, 4> byMaterial;
            const std::size_t wallFirst = firstWallIndex(g);
            std::array<int, 4> wallCounts{};
            for (std::size_t i = 0; i + 2 < n; i += 3) {
                const std::uint32_t* t = &g.indices[i];
                int m = 3;
                if (t[0] < g.vertices.size() && t[1] < g.vertices.size() && t[2] < g.vertices.size()) {
                    m = materialOf(g.vertices[t[0]].matTag, g.vertices[t[1]].matTag, g.vertices[t[2]].matTag);
                }
                byMaterial[std::size_t(m)].insert(byMaterial[std::size_t(m)].end(), t, t + 3);
                if (i >= wallFirst) wallCounts[std::size_t(m)] += 3;
            }
            std::array<int, 4> firsts{};
            for (std::size_t m = 0; m < 4; ++m) {
                firsts[m] = static_cast<int>(all.size());
                all.insert(all.end(), byMaterial[m].begin(), byMaterial[m].end());
            }
            // Room for the near-first order of whole triangles, written for each camera.
            const int orderFirst = static_cast<int>(all.size());
            all.resize(all.size() + n - n % 3, 0);
            glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
            glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(g.vertices.size() * sizeof(StageVertex)),
                         g.vertices.data(), GL_STATIC_DRAW);
            glBindBuffer(GL_ARRAY_BUFFER, 0);
            glBindVertexArray(stageVAO_);
            glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(all.size() * sizeof(std::uint32_t)), all.data(),
                         GL_STATIC_DRAW);
            glBindVertexArray(0);
            // A buffer that could not be created leaves the stage undrawn (sky only).
            if (glGetError() == GL_NO_ERROR) {
                stageBuffersOk_ = true;
                indexCount_ = static_cast<int>(g.indices.size());
                wallFirstIndex_ = static_cast<int>(wallFirst);
                for (std::size_t m = 0; m < 4; ++m) {
                    materials_[m].first = firsts[m];
                    materials_[m].count = static_cast<int>(byMaterial[m].size());
                    materials_[m].wallCount = wallCounts[m];
                }
                orderFirst_ = orderFirst;
                // Boxes' faces are two triangles each (appendBox); any other set goes by triangle.
                faceIndices_ = n % 6 == 0 ? 6 : 3;
                const std::size_t faces = n / std::size_t(faceIndices_);
                if (faceQueries_.size() < faces) {
                    const std::size_t had = faceQueries_.size();
                    faceQueries_.resize(faces, 0);
                    glGenQueries(GLsizei(faces - had), faceQueries_.data() + had);
                }
                faceSeen_.assign(faces, true);
                // Boxes as appendBox makes them: 36 indices, six faces of four vertices with the
                // normals +z, -z, -x, +x, +y, -y in that order, each face on its box's bound.
                if (n % 36 == 0) {
                    constexpr float kNormals[6][3] = {{0, 0, 1}, {0, 0, -1}, {-1, 0, 0},
                                                      {1, 0, 0}, {0, 1, 0},  {0, -1, 0}};
                    bool boxes = true;
                    for (std::size_t b = 0; boxes && b < n / 36; ++b) {
                        Box box;
                        bool first = true;
                        for (std::size_t i = b * 36; boxes && i < b * 36 + 36; ++i) {
                            if (g.indices[i] >= g.vertices.size()) {
                                boxes = false;
                                break;
                            }
                            const StageVertex& v = g.vertices[g.indices[i]];
                            const float* nn = kNormals[(i - b * 36) / 6];
                            boxes = v.normal.x == nn[0] && v.normal.y == nn[1] && v.normal.z == nn[2];
                            const Float3& p = v.position;
                            box.low = first ? p
                                            : Float3{std::min(box.low.x, p.x), std::min(box.low.y, p.y),
                                                     std::min(box.low.z, p.z)};
                            box.high = first ? p
                                             : Float3{std::max(box.high.x, p.x), std::max(box.high.y, p.y),
                                                      std::max(box.high.z, p.z)};
                            first = false;
                        }
                        // Each face flat on its bound.
                        for (std::size_t i = b * 36; boxes && i < b * 36 + 36; ++i) {
                            const Float3& p = g.vertices[g.indices[i]].position;
                            const int face = int(i - b * 36) / 6;
                            const float c[3] = {p.x, p.y, p.z};
                            const float lo[3] = {box.low.x, box.low.y, box.low.z};
                            const float hi[3] = {box.high.x, box.high.y, box.high.z};
                            const int axis = face < 2 ? 2 : (face < 4 ? 0 : 1);
                            const bool high = face == 0 || face == 3 || face == 4;
                            boxes = c[axis] == (high ? hi[axis] : lo[axis]);
                        }
                        if (boxes) boxes_.push_back(box);
                    }
                    if (!boxes) boxes_.clear();
                }
                for (std::size_t i = 0; i + 2 < n; i += 3) {
                    Triangle t;
                    for (std::size_t k = 0; k < 3; ++k) {
                        t.index[k] = g.indices[i + k];
                        if (t.index[k] < g.vertices.size()) t.corner[k] = g.vertices[t.index[k]].position;
                    }
                    t.material =
                        t.index[0] < g.vertices.size() && t.index[1] < g.vertices.size() &&
                                t.index[2] < g.vertices.size()
                            ? materialOf(g.vertices[t.index[0]].matTag, g.vertices[t.index[1]].matTag,
                                         g.vertices[t.index[2]].matTag)
                            : 3;
                    t.valid = t.index[0] < g.vertices.size() && t.index[1] < g.vertices.size() &&
                              t.index[2] < g.vertices.size();
                    materialTriangles_[std::size_t(t.material)].push_back(int(triangles_.size()));
                    triangles_.push_back(t);
                }
            }
        }
    }
    // A new wall picture is uploaded once, into the texture it fits (same size: no realloc),
    // straight from its rows in either byte order: the bytes go in as they are (a driver may
    // reorder B G R A rows byte by byte on the way in, llvmpipe does) and the texture's swizzle
    // reads B G R A as R G B A, the same texel values.
    if (frame.wallVersion != wallVersion_ && frame.wall) {
        wallVersion_ = frame.wallVersion;
        const WallImage& w = *frame.wall;
        clearErrors();
        glBindTexture(GL_TEXTURE_2D, wallTexture_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, w.bgra ? GL_BLUE : GL_RED);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, w.bgra ? GL_RED : GL_BLUE);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, w.rowBytes() / 4);
        profiledStep("wall upload", [&] {
            if (wallOk_ && w.width == wallWidth_ && w.height == wallHeight_) {
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w.width, w.height, GL_RGBA, GL_UNSIGNED_BYTE,
                                w.data());
            } else {
                glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w.width, w.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                             w.data());
            }
        });
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        wallOk_ = glGetError() == GL_NO_ERROR;
        wallWidth_ = wallOk_ ? w.width : 0;
        wallHeight_ = wallOk_ ? w.height : 0;
    }
    // A new camera picture is uploaded once, into the texture it fits (same size: no realloc).
    if (frame.presenter && frame.presenterVersion != presenterVersion_) {
        presenterVersion_ = frame.presenterVersion;
        const PresenterPicture& p = *frame.presenter;
        clearErrors();
        glBindTexture(GL_TEXTURE_2D, presenterTexture_);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, p.stride / 4);
        // B G R A bytes as they are, read back in order by the texture's swizzle (as the wall's).
        if (p.width == presenterWidth_ && p.height == presenterHeight_ && presenterOk_) {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, p.width, p.height, GL_RGBA, GL_UNSIGNED_BYTE, p.bgra);
        } else {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, p.width, p.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, p.bgra);
        }
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        presenterOk_ = glGetError() == GL_NO_ERROR;
        presenterWidth_ = presenterOk_ ? p.width : 0;
        presenterHeight_ = presenterOk_ ? p.height : 0;
    }
}

void StageRenderer::drawPresenter(const FrameSnapshot& frame, float flipY) {
    if (!frame.presenter || !presenterOk_ || presenterWidth_ < 1 || presenterHeight_ < 1) return;
    // After the stage, depth-tested against it (the desk hides the lower body) but not writing
    // depth; premultiplied colour over what is there.
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDepthMask(GL_FALSE);
    glUseProgram(presenterProgram_);
    glUniform1f(presenterFlipLoc_, flipY);
    float corners[16];
    for (int i = 0; i < 4; ++i) {
        const Float3& c = frame.presenterQuad[std::size_t(i)];
        corners[i * 4 + 0] = c.x;
        corners[i * 4 + 1] = c.y;
        corners[i * 4 + 2] = c.z;
        corners[i * 4 + 3] = 1.0f;
    }
    glUniform4fv(presenterCornersLoc_, 4, corners);
    glUniform1f(presenterBottomVLoc_, frame.presenterBottomV);
    glUniform3f(presenterWallLightLoc_, frame.presenterWallLight.x, frame.presenterWallLight.y,
                frame.presenterWallLight.z);
    glUniform1f(presenterWallSideLoc_, frame.presenterWallSide);
    glUniform3f(presenterColourGainLoc_, frame.presenterColourGains.x, frame.presenterColourGains.y,
                frame.presenterColourGains.z);
    // The rim is about 1/160 of the picture's width wide, at least 2 texels.
    const float rim = std::max(2.0f, float(presenterWidth_) / 160.0f);
    glUniform2f(presenterTexelLoc_, rim / float(presenterWidth_), rim / float(presenterHeight_));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, presenterTexture_);
    glBindVertexArray(emptyVAO_);
    profiled("presenter", [] { glDrawArrays(GL_TRIANGLE_STRIP, 0, 4); });
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_BLEND);
}

void StageRenderer::drawPresenterShadow(const FrameSnapshot& frame, float flipY) {
    if (!frame.presenter || !presenterOk_ || !stageBuffersOk_ || indexCount_ < 1) return;
    // Only where the shadow can fall; a hull without bounds (behind the camera) leaves it whole.
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const float backZ = frame.geometry ? setBackZ(*frame.geometry) : 0.0f;
    const std::optional<PixelRect> bounds = presenterShadowBounds(
        frame.presenterQuad, backZ, frame.uniforms.viewProj, flipY, viewport[2], viewport[3]);
    const auto planes = presenterShadowPlanes(frame.presenterQuad);
    if ((bounds && bounds->empty()) || !planes) return;
    if (bounds) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(viewport[0] + bounds->x, viewport[1] + bounds->y, bounds->width, bounds->height);
    }
    // dst *= src: the share of the light left, over the stage's own fragments (its depth kept).
    glEnable(GL_BLEND);
    glBlendFunc(GL_ZERO, GL_SRC_COLOR);
    glDepthMask(GL_FALSE);
    glUseProgram(shadowProgram_);
    glUniform1f(shadowFlipLoc_, flipY);
    float corners[16];
    for (int i = 0; i < 4; ++i) {
        const Float3& c = frame.presenterQuad[std::size_t(i)];
        corners[i * 4 + 0] = c.x;
        corners[i * 4 + 1] = c.y;
        corners[i * 4 + 2] = c.z;
        corners[i * 4 + 3] = 1.0f;
    }
    glUniform4fv(shadowQuadLoc_, 4, corners);
    glUniform1f(shadowBottomVLoc_, frame.presenterBottomV);
    glUniform1f(shadowMarginLoc_, kShadowMargin);
    glUniform4fv(shadowPlanesLoc_, 5, &(*planes)[0].x);
    for (GLenum i = 0; i < 5; ++i) glEnable(GL_CLIP_DISTANCE0 + i);
    // This program's depth may differ from the stage program's by a rounding: pulled towards
    // the eye by that much, the set's own fragments pass over the kept depth.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(-1.0f, -2.0f);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, presenterTexture_);
    glBindVertexArray(stageVAO_);
    drawProfiled("shadow", 0, indexCount_);
    glBindTexture(GL_TEXTURE_2D, 0);
    for (GLenum i = 0; i < 5; ++i) glDisable(GL_CLIP_DISTANCE0 + i);
    glPolygonOffset(0.0f, 0.0f);
    glDisable(GL_POLYGON_OFFSET_FILL);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
}

void StageRenderer::beginPassState(const FrameSnapshot& frame, const PixelRect* within) {
    sync(frame);
    glBindBuffer(GL_UNIFORM_BUFFER, uniformBuffer_);
    glBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof(StageUniforms), &frame.uniforms);
    glBindBuffer(GL_UNIFORM_BUFFER, 0);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, uniformBuffer_);

    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    if (within) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(within->x, within->y, within->width, within->height);
    } else {
        glDisable(GL_SCISSOR_TEST);
    }
    glDisable(GL_STENCIL_TEST);
    glEnable(GL_MULTISAMPLE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
}

void StageRenderer::drawSky(unsigned program, int flipLoc, float flipY) {
    glUseProgram(program);
    glUniform1f(flipLoc, flipY);
    glBindVertexArray(emptyVAO_);
    profiled("sky", [] { glDrawArrays(GL_TRIANGLES, 0, 3); });
}

void StageRenderer::drawSkyInGaps(const FrameSnapshot& frame, float flipY) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    projectFaces(frame, flipY);
    const studio::TileGrid& grid = tileGrid_;
    std::vector<std::uint8_t> uncovered(std::size_t(grid.columns()) * std::size_t(grid.rows()), 1);
    for (std::size_t f = 0; f < screenFaces_.size(); ++f) {
        if (!screenFaces_[f] || coveredWhole_[f].empty()) continue;
        const studio::ScreenFace& face = *screenFaces_[f];
        const int columns = face.column1 - face.column0 + 1;
        for (int r = face.row0; r <= face.row1; ++r) {
            for (int c = face.column0; c <= face.column1; ++c) {
                if (coveredWhole_[f][std::size_t(r - face.row0) * std::size_t(columns) +
                                     std::size_t(c - face.column0)])
                    uncovered[std::size_t(r) * std::size_t(grid.columns()) + std::size_t(c)] = 0;
            }
        }
    }
    const auto rects = studio::tileRects(uncovered, grid);
    if (rects.empty()) return;
    glEnable(GL_SCISSOR_TEST);
    for (const auto& r : rects) {
        glScissor(viewport[0] + r[0], viewport[1] + r[1], r[2], r[3]);
        drawSky(skyBehindProgram_, skyBehindFlipLoc_, flipY);
    }
    glDisable(GL_SCISSOR_TEST);
}

int StageRenderer::faceCorners(std::size_t face, Float3* corners) const {
    const std::size_t per = std::size_t(faceIndices_ / 3);
    const std::size_t first = face * per;
    if (first + per > triangles_.size()) return 0;
    const Triangle& t = triangles_[first];
    if (!t.valid) return 0;
    std::copy(t.corner.begin(), t.corner.end(), corners);
    if (per == 1) return 3;
    // A quad's two triangles (a, b, c) and (a, c, d).
    const Triangle& u = triangles_[first + 1];
    const auto same = [](const Float3& p, const Float3& q) { return p.x == q.x && p.y == q.y && p.z == q.z; };
    if (!u.valid || !same(u.corner[0], t.corner[0]) || !same(u.corner[1], t.corner[2])) return 0;
    corners[3] = u.corner[2];
    return 4;
}

void StageRenderer::projectFaces(const FrameSnapshot& frame, float flipY) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    // 32-pixel tiles: a tile is 16 of llvmpipe's 8-pixel-square blocks, worth a draw's setup.
    const studio::TileGrid grid{viewport[2], viewport[3], 32};
    const std::size_t faces = faceSeen_.size();
    ProjectedKey key;
    key.setVersion = setVersion_;
    key.flipY = flipY;
    key.width = grid.width;
    key.height = grid.height;
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) key.viewProj[std::size_t(c * 4 + r)] = frame.uniforms.viewProj.at(r, c);
    }
    if (projectedFor_ && *projectedFor_ == key && screenFaces_.size() == faces) return;
    projectedFor_ = key;
    tileGrid_ = grid;
    screenFaces_.assign(faces, std::nullopt);
    coveredWhole_.assign(faces, {});
    Float3 corners[4];
    for (std::size_t f = 0; f < faces; ++f) {
        const int count = faceCorners(f, corners);
        if (count < 3) continue;
        screenFaces_[f] = studio::projectFace(corners, count, frame.uniforms.viewProj, flipY, grid);
        if (screenFaces_[f]) coveredWhole_[f] = studio::tilesCoveredWhole(*screenFaces_[f], grid);
    }
}

void StageRenderer::findCoveredFaces(const FrameSnapshot& frame, float flipY) {
    partialFaces_.clear();
    facePartial_.clear();
    projectFaces(frame, flipY);
    const studio::TileGrid& grid = tileGrid_;
    // Faces drawn with a scissor per rectangle are worth it where each rectangle saves a couple
    // of tiles' shading; small faces are drawn whole.
    constexpr int kLeastBoundTiles = 12;
    // Every face covering a tile whole can hide what lies behind it there, drawn or not: a face
    // left out (behind its box's opposite face, or covered here) has one nearer still at each of
    // its samples, and so does all that lies behind it.
    for (std::size_t f = 0; f < screenFaces_.size(); ++f) {
        if (!faceSeen_[f] || !screenFaces_[f]) continue;
        const studio::ScreenFace& face = *screenFaces_[f];
        if ((face.column1 - face.column0 + 1) * (face.row1 - face.row0 + 1) < kLeastBoundTiles) continue;
        studio::FaceCover cover = studio::coverOf(f, screenFaces_, coveredWhole_, grid);
        if (cover.hiddenTiles == 0) continue;
        if (cover.all) {
            faceSeen_[f] = false;
            continue;
        }
        if (cover.hiddenTiles < 2 * int(cover.rects.size()) + 2) continue;
        if (facePartial_.empty()) facePartial_.assign(faceSeen_.size(), -1);
        facePartial_[f] = int(partialFaces_.size());
        partialFaces_.push_back({int(f), std::move(cover.rects)});
    }
}

void StageRenderer::collectSteps() {
    for (std::size_t m = 0; m < materials_.size(); ++m) {
        std::vector<Step>& steps = visibleSteps_[m];
        steps.clear();
        const std::vector<int>& list = materialTriangles_[m];
        for (std::size_t k = 0; k < list.size(); ++k) {
            const std::size_t face = std::size_t(list[k] * 3 / faceIndices_);
            if (!faceSeen_[face]) continue;
            const int start = materials_[m].first + 3 * int(k);
            const int partial = facePartial_.empty() ? -1 : facePartial_[face];
            if (steps.empty() || steps.back().partial != partial ||
                (partial >= 0 && steps.back().first + steps.back().count != start)) {
                steps.push_back({});
                steps.back().partial = partial;
                steps.back().first = start;
            }
            Step& step = steps.back();
            if (partial >= 0) {
                step.count += 3;
            } else if (!step.runs.counts.empty() &&
                       step.runs.offsets.back() ==
                           reinterpret_cast<const void*>(std::size_t(start - step.runs.counts.back()) *
                                                         sizeof(std::uint32_t))) {
                step.runs.counts.back() += 3;
            } else {
                step.runs.counts.push_back(3);
                step.runs.offsets.push_back(
                    reinterpret_cast<const void*>(std::size_t(start) * sizeof(std::uint32_t)));
            }
        }
    }
}

void StageRenderer::drawSteps(const char* part, const std::vector<Step>& steps) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const auto timed = [&](auto&& draw) {
        if (part != nullptr) {
            profiled(part, draw);
        } else {
            draw();
        }
    };
    for (const Step& step : steps) {
        if (step.partial < 0) {
            timed([&] {
                glMultiDrawElements(GL_TRIANGLES, step.runs.counts.data(), GL_UNSIGNED_INT,
                                    step.runs.offsets.data(), GLsizei(step.runs.counts.size()));
            });
            continue;
        }
        glEnable(GL_SCISSOR_TEST);
        for (const auto& r : partialFaces_[std::size_t(step.partial)].rects) {
            glScissor(viewport[0] + r[0], viewport[1] + r[1], r[2], r[3]);
            timed([&] { drawIndices(step.first, step.count); });
        }
        glDisable(GL_SCISSOR_TEST);
    }
}

void StageRenderer::drawIndices(int first, int count) {
    glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT,
                   reinterpret_cast<const void*>(std::size_t(first) * sizeof(std::uint32_t)));
}

void StageRenderer::cullBackFaces(float flipY) {
    // Each box is closed and convex, its faces wound counter-clockwise seen from outside: a face
    // turned away from the camera lies behind the faces of its own box turned towards it.
    // flipY = -1 mirrors the picture vertically, which turns the winding round on the screen.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(flipY < 0 ? GL_CW : GL_CCW);
}

void StageRenderer::orderFor(const Float3& eye) {
    if (orderEye_ && orderEye_->x == eye.x && orderEye_->y == eye.y && orderEye_->z == eye.z) return;
    orderEye_ = eye;
    order_.clear();
    runs_.clear();
    const auto add = [&](const Triangle& t) {
        const int first = orderFirst_ + static_cast<int>(order_.size());
        order_.insert(order_.end(), t.index.begin(), t.index.end());
        if (!runs_.empty() && runs_.back().material == t.material) {
            runs_.back().count += 3;
        } else {
            runs_.push_back({t.material, first, 3});
        }
    };
    const auto sub = [](const Float3& a, const Float3& b) { return Float3{a.x - b.x, a.y - b.y, a.z - b.z}; };
    const auto dot = [](const Float3& a, const Float3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
    std::vector<bool> towards(triangles_.size());
    for (std::size_t i = 0; i < triangles_.size(); ++i) {
        const auto& c = triangles_[i].corner;
        const Float3 u = sub(c[1], c[0]), v = sub(c[2], c[0]);
        const Float3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
        towards[i] = dot(n, sub(eye, c[0])) > 0.0f;
    }
    // Boxes of 12 triangles each (appendBox); any other set is taken as one group.
    constexpr std::size_t kBox = 12;
    const std::size_t group =
        triangles_.size() % kBox == 0 ? kBox : std::max<std::size_t>(1, triangles_.size());
    std::vector<std::pair<float, std::size_t>> groups;
    for (std::size_t g = 0; g * group < triangles_.size(); ++g) {
        float farthest = 0;
        for (std::size_t i = g * group; i < (g + 1) * group && i < triangles_.size(); ++i) {
            for (const Float3& c : triangles_[i].corner)
                farthest = std::max(farthest, dot(sub(c, eye), sub(c, eye)));
        }
        groups.emplace_back(farthest, g);
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [farthest, g] : groups) {
        for (std::size_t i = g * group; i < (g + 1) * group && i < triangles_.size(); ++i) {
            if (towards[i]) add(triangles_[i]);
        }
    }
    for (int m = 0; m < 4; ++m) {
        for (std::size_t i = 0; i < triangles_.size(); ++i) {
            if (!towards[i] && triangles_[i].material == m) add(triangles_[i]);
        }
    }
    glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(std::size_t(orderFirst_) * sizeof(std::uint32_t)),
                    GLsizeiptr(order_.size() * sizeof(std::uint32_t)), order_.data());
}

void StageRenderer::drawDepthCountingFaces() {
    const int faces = indexCount_ / faceIndices_;
    profiled(
        "depth",
        [&] {
            for (int f = 0; f < faces; ++f) {
                glBeginQuery(GL_SAMPLES_PASSED, faceQueries_[std::size_t(f)]);
                drawIndices(f * faceIndices_, faceIndices_);
                glEndQuery(GL_SAMPLES_PASSED);
            }
        },
        false);
    // The first result waits for the depth pass; the others are ready with it.
    std::uint64_t passed = 0;
    for (int f = 0; f < faces; ++f) {
        GLuint samples = 1;
        glGetQueryObjectuiv(faceQueries_[std::size_t(f)], GL_QUERY_RESULT, &samples);
        faceSeen_[std::size_t(f)] = samples != 0;
        passed += samples;
    }
    if (std::vector<DrawProfile>* profile = gProfile.load()) profilePart(*profile, "depth").samples += passed;
    collectVisibleRuns();
}

void StageRenderer::findWallPassWinners(float flipY) {
    // Each triangle with its own program and the wall pass's depth test, writing nothing.
    if (triangleQueries_.size() < triangles_.size()) {
        const std::size_t had = triangleQueries_.size();
        triangleQueries_.resize(triangles_.size(), 0);
        glGenQueries(GLsizei(triangles_.size() - had), triangleQueries_.data() + had);
    }
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    const auto wallTriangles = [&](auto&& each) {
        for (std::size_t m = 0; m < materials_.size(); ++m) {
            const std::vector<int>& list = materialTriangles_[m];
            for (std::size_t k = list.size() - std::size_t(materials_[m].wallCount / 3); k < list.size();
                 ++k) {
                if (wallTriangleSeen_[std::size_t(list[k])]) each(m, k, std::size_t(list[k]));
            }
        }
    };
    profiled(
        "wall depth",
        [&] {
            std::size_t current = materials_.size();
            wallTriangles([&](std::size_t m, std::size_t k, std::size_t t) {
                if (m != current) {
                    glUseProgram(materials_[m].program);
                    glUniform1f(materials_[m].flipLoc, flipY);
                    current = m;
                }
                glBeginQuery(GL_SAMPLES_PASSED, triangleQueries_[t]);
                drawIndices(materials_[m].first + 3 * int(k), 3);
                glEndQuery(GL_SAMPLES_PASSED);
            });
        },
        false);
    wallTriangles([&](std::size_t, std::size_t, std::size_t t) {
        GLuint samples = 1;
        glGetQueryObjectuiv(triangleQueries_[t], GL_QUERY_RESULT, &samples);
        wallTriangleSeen_[t] = samples != 0;
    });
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

bool StageRenderer::findFacesBehindOpposites(const Float3& eye) {
    if (boxes_.empty() || faceIndices_ != 6 || faceSeen_.size() != boxes_.size() * 6) return false;
    const double e[3] = {eye.x, eye.y, eye.z};
    // A sight line's crossing of the near face stays this far from its edges, as an angle seen
    // from the eye (a picture's pixel spans about 1e-3), and the faces this far apart (metres).
    constexpr double kClearAngle = 1e-4;
    constexpr double kThickness = 0.01;
    constexpr double kNearFaceDistance = 1.0;
    for (std::size_t b = 0; b < boxes_.size(); ++b) {
        const double lo[3] = {boxes_[b].low.x, boxes_[b].low.y, boxes_[b].low.z};
        const double hi[3] = {boxes_[b].high.x, boxes_[b].high.y, boxes_[b].high.z};
        // Faces in appendBox's order: +z, -z, -x, +x, +y, -y.
        constexpr int kAxis[3] = {2, 0, 1};
        constexpr int kHighFace[3] = {0, 3, 4};
        constexpr int kLowFace[3] = {1, 2, 5};
        for (int k = 0; k < 3; ++k) {
            const int a = kAxis[k];
            const double t = hi[a] - lo[a];
            const bool aboveHigh = e[a] > hi[a];
            const bool belowLow = e[a] < lo[a];
            if (!(t >= kThickness) || (!aboveHigh && !belowLow)) continue;
            const double d = aboveHigh ? e[a] - hi[a] : lo[a] - e[a];  // eye to the near face's plane
            double lateral = 1e30;             // the eye's least distance within the near face's sides
            double reach = (d + t) * (d + t);  // squared distance to the far face's farthest corner
            for (int o = 0; o < 3; ++o) {
                if (o == a) continue;
                lateral = std::min({lateral, e[o] - lo[o], hi[o] - e[o]});
                const double far = std::max(std::abs(e[o] - lo[o]), std::abs(hi[o] - e[o]));
                reach += far * far;
            }
            // A sight line to a point of the far face crosses the near face's plane at least
            // lateral * t / (d + t) inside its sides, no nearer than d: with d a metre or more,
            // in front of the near plane (0.1) within any frustum narrower than 168 degrees.
            if (!(d >= kNearFaceDistance) || !(lateral > 0) ||
                !(lateral * t / (d + t) >= kClearAngle * std::sqrt(reach)))
                continue;
            const int hidden = aboveHigh ? kLowFace[k] : kHighFace[k];
            faceSeen_[b * 6 + std::size_t(hidden)] = false;
        }
    }
    return true;
}

void StageRenderer::collectVisibleRuns() {
    collectRuns(false);
}

void StageRenderer::collectWallRuns() {
    collectRuns(true);
}

void StageRenderer::collectRuns(bool wallPass) {
    const auto seen = [&](int triangle) {
        if (wallPass) return bool(wallTriangleSeen_[std::size_t(triangle)]);
        const std::size_t face = std::size_t(triangle * 3 / faceIndices_);
        return faceSeen_[face] && (facePartial_.empty() || facePartial_[face] < 0);
    };
    // Runs of consecutive seen triangles in `list` from its `from`-th on, whose k-th triangle's
    // indices start at first + 3k.
    const auto collect = [&](const auto& triangleAt, int from, int size, int first, Runs& runs) {
        runs.counts.clear();
        runs.offsets.clear();
        for (int k = from; k < size; ++k) {
            if (!seen(triangleAt(k))) continue;
            const int start = first + 3 * k;
            if (!runs.counts.empty() &&
                runs.offsets.back() == reinterpret_cast<const void*>(std::size_t(start - runs.counts.back()) *
                                                                     sizeof(std::uint32_t))) {
                runs.counts.back() += 3;
            } else {
                runs.counts.push_back(3);
                runs.offsets.push_back(
                    reinterpret_cast<const void*>(std::size_t(start) * sizeof(std::uint32_t)));
            }
        }
    };
    for (std::size_t m = 0; m < materials_.size(); ++m) {
        const std::vector<int>& list = materialTriangles_[m];
        const int from = wallPass ? int(list.size()) - materials_[m].wallCount / 3 : 0;
        collect([&](int k) { return list[std::size_t(k)]; }, from, int(list.size()), materials_[m].first,
                wallPass ? wallRuns_[m] : visibleRuns_[m]);
    }
    collect([](int k) { return k; }, wallPass ? wallFirstIndex_ / 3 : 0, int(triangles_.size()), 0,
            wallPass ? wallSetRuns_ : visibleSetRuns_);
}

void StageRenderer::drawWholeStage(const FrameSnapshot& frame, float flipY) {
    const unsigned flags = passFlags();
    const bool skyBehind = (flags & kSkyBehind) != 0;
    glDepthMask(GL_FALSE);
    if (!skyBehind) drawSky(skyProgram_, skyFlipLoc_, flipY);
    bool skippedHidden = false;
    partialFaces_.clear();
    facePartial_.clear();
    if (stageBuffersOk_ && indexCount_ >= 1) {
        if ((flags & kCullBackFaces) != 0) cullBackFaces(flipY);
        const bool skipHidden = (flags & kSkipHidden) != 0 && (flags & kDepthFirst) != 0 &&
                                (flags & kNearFirst) == 0 &&
                                faceQueries_.size() >= std::size_t(indexCount_ / faceIndices_) &&
                                std::size_t(indexCount_) == triangles_.size() * 3;
        bool skipOpposite = false;
        if (!skipHidden && (flags & kSkipOpposite) != 0 &&
            std::size_t(indexCount_) == triangles_.size() * 3) {
            std::fill(faceSeen_.begin(), faceSeen_.end(), true);
            skipOpposite = findFacesBehindOpposites(
                Float3{frame.uniforms.cameraPos.x, frame.uniforms.cameraPos.y, frame.uniforms.cameraPos.z});
            const bool skipCovered = skipOpposite && (flags & kSkipCovered) != 0 &&
                                     (flags & kByMaterial) != 0 && (flags & kNearFirst) == 0 &&
                                     (flags & kCullBackFaces) == 0;
            if (skipCovered) findCoveredFaces(frame, flipY);
            if (skipOpposite) collectVisibleRuns();
            if (!partialFaces_.empty()) collectSteps();
        }
        const bool skipping = skipHidden || skipOpposite;
        skippedHidden = skipping;
        // Draws `runs` (kSkipHidden) or the whole range.
        const auto drawRange = [&](const char* part, const Runs& runs, int first, int count) {
            if (!skipping) {
                drawProfiled(part, first, count);
            } else if (!runs.counts.empty()) {
                profiled(part, [&] {
                    glMultiDrawElements(GL_TRIANGLES, runs.counts.data(), GL_UNSIGNED_INT,
                                        runs.offsets.data(), GLsizei(runs.counts.size()));
                });
            }
        };
        glBindVertexArray(stageVAO_);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, wallOk_ ? wallTexture_ : 0);
        if ((flags & kDepthFirst) != 0) {
            // Depth of the whole set in set order, as the colour pass would leave it; then
            // colour only from the fragments at that depth, the last of them last, as before.
            glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
            glDepthMask(GL_TRUE);
            glUseProgram(depthProgram_);
            glUniform1f(depthFlipLoc_, flipY);
            if (skipHidden) {
                drawDepthCountingFaces();
            } else {
                drawProfiled("depth", 0, indexCount_);
            }
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            glDepthMask(GL_FALSE);
            glDepthFunc(GL_EQUAL);
        } else {
            glDepthMask(GL_TRUE);
        }
        const bool early = (flags & kEarlyDepthTest) != 0;
        const auto useMaterial = [&](const MaterialRange& m) {
            const bool useEarly = early && m.earlyProgram != 0;
            glUseProgram(useEarly ? m.earlyProgram : m.program);
            glUniform1f(useEarly ? m.earlyFlipLoc : m.flipLoc, flipY);
        };
        if ((flags & kByMaterial) != 0 && (flags & kNearFirst) != 0) {
            orderFor(
                Float3{frame.uniforms.cameraPos.x, frame.uniforms.cameraPos.y, frame.uniforms.cameraPos.z});
            int current = -1;
            for (const Run& run : runs_) {
                if (run.material != current) useMaterial(materials_[std::size_t(run.material)]);
                current = run.material;
                drawProfiled(kMaterialParts[run.material], run.first, run.count);
            }
        } else if ((flags & kByMaterial) != 0) {
            for (std::size_t i = 0; i < materials_.size(); ++i) {
                const MaterialRange& m = materials_[i];
                if (m.count < 1) continue;
                const bool steps = !partialFaces_.empty();
                if (skipping && visibleRuns_[i].counts.empty() && (!steps || visibleSteps_[i].empty()))
                    continue;
                useMaterial(m);
                if (steps) {
                    drawSteps(kMaterialParts[i], visibleSteps_[i]);
                } else {
                    drawRange(kMaterialParts[i], visibleRuns_[i], m.first, m.count);
                }
            }
        } else {
            glUseProgram(stageProgram_);
            glUniform1f(stageFlipLoc_, flipY);
            drawRange("whole set", visibleSetRuns_, 0, indexCount_);
        }
        glDepthFunc(GL_LEQUAL);
        glDepthMask(GL_FALSE);
        glDisable(GL_CULL_FACE);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    // At the far plane, behind every part of the set: it passes only where none was drawn.
    // (Without back faces drawn, a triangle's cover is not the set's.)
    if (skyBehind && (flags & kSkyInGaps) != 0 && (flags & kCullBackFaces) == 0 && stageBuffersOk_) {
        drawSkyInGaps(frame, flipY);
    } else if (skyBehind) {
        drawSky(skyBehindProgram_, skyBehindFlipLoc_, flipY);
    }
    countCoverage(flipY, skippedHidden);
}

void StageRenderer::drawStage(const FrameSnapshot& frame, float flipY, bool wallOnly) {
    if (!wallOnly) {
        drawWholeStage(frame, flipY);
        return;
    }
    // The wall pass: the sky where it shows is kept. The set from the first triangle that shows
    // the wall on, over the kept depth, without writing it; the faces the whole pass leaves out
    // are left out here too.
    glDepthMask(GL_FALSE);
    const int first = wallFirstIndex_;
    if (stageBuffersOk_ && indexCount_ - first >= 1) {
        const unsigned flags = passFlags();
        if ((flags & kCullBackFaces) != 0) cullBackFaces(flipY);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, wallOk_ ? wallTexture_ : 0);
        glBindVertexArray(stageVAO_);
        // A face behind its box's opposite face lies behind the kept depth at every sample: its
        // fragments would all fail, but a rasteriser may shade them first (llvmpipe does), as
        // many as the opposite face's (the back of the wall is as large as its screen).
        bool skipping = false;
        const bool wholeTriangles = std::size_t(indexCount_) == triangles_.size() * 3;
        if (wholeTriangles && (flags & (kSkipOpposite | kWallWinnersOnly)) != 0) {
            const Float3 eye{frame.uniforms.cameraPos.x, frame.uniforms.cameraPos.y,
                             frame.uniforms.cameraPos.z};
            const auto behindOpposites = [&] {
                wallTriangleSeen_.assign(triangles_.size(), true);
                std::fill(faceSeen_.begin(), faceSeen_.end(), true);
                if ((flags & kSkipOpposite) == 0 || !findFacesBehindOpposites(eye)) return false;
                for (std::size_t t = 0; t < triangles_.size(); ++t)
                    wallTriangleSeen_[t] = faceSeen_[t * 3 / std::size_t(faceIndices_)];
                return true;
            };
            // (Counted with the programs that draw them by material.)
            if ((flags & kWallWinnersOnly) != 0 && (flags & kByMaterial) != 0) {
                // Which triangles pass the depth test anywhere is the same for every wall pass
                // over the same stage's depth within the same bounds.
                WallPassKey key;
                key.setVersion = setVersion_;
                for (int k = 0; k < 16; ++k)
                    key.viewProj[std::size_t(k)] = frame.uniforms.viewProj.at(k % 4, k / 4);
                key.flipY = flipY;
                glGetIntegerv(GL_SCISSOR_BOX, key.scissor.data());
                glGetIntegerv(GL_VIEWPORT, key.viewport.data());
                key.flags = flags;
                // Kept for a few stages at a time (the canvases share a renderer), the latest last.
                const auto known = std::find_if(wallWinners_.begin(), wallWinners_.end(),
                                                [&](const WallPassWinners& w) { return w.key == key; });
                if (known != wallWinners_.end()) {
                    std::rotate(known, known + 1, wallWinners_.end());
                    wallTriangleSeen_ = wallWinners_.back().seen;
                } else {
                    behindOpposites();
                    findWallPassWinners(flipY);
                    if (wallWinners_.size() >= kWallWinnersKept) wallWinners_.erase(wallWinners_.begin());
                    wallWinners_.push_back({key, wallTriangleSeen_});
                }
                skipping = true;
            } else {
                skipping = behindOpposites();
            }
            if (skipping) collectWallRuns();
        }
        const auto drawRuns = [&](const Runs& runs, int from, int count) {
            if (!skipping) {
                drawProfiled("wall pass", from, count);
            } else if (!runs.counts.empty()) {
                profiled("wall pass", [&] {
                    glMultiDrawElements(GL_TRIANGLES, runs.counts.data(), GL_UNSIGNED_INT,
                                        runs.offsets.data(), GLsizei(runs.counts.size()));
                });
            }
        };
        if ((flags & kByMaterial) != 0) {
            // The same triangles material by material, in the whole pass's order of materials,
            // each with its own program: a fragment of the wall runs the wall's code alone.
            for (std::size_t i = 0; i < materials_.size(); ++i) {
                const MaterialRange& m = materials_[i];
                if (m.wallCount < 1 || (skipping && wallRuns_[i].counts.empty())) continue;
                glUseProgram(m.program);
                glUniform1f(m.flipLoc, flipY);
                drawRuns(wallRuns_[i], m.first + m.count - m.wallCount, m.wallCount);
            }
        } else {
            glUseProgram(stageProgram_);
            glUniform1f(stageFlipLoc_, flipY);
            drawRuns(wallSetRuns_, first, indexCount_ - first);
        }
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_CULL_FACE);
    }
}

void StageRenderer::endPassState() {
    glDisable(GL_SCISSOR_TEST);
    glBindVertexArray(0);
    glUseProgram(0);
    glDepthMask(GL_TRUE);
}

void StageRenderer::encodeStudioPass(const FrameSnapshot& frame, float flipY) {
    beginPassState(frame, nullptr);
    drawStage(frame, flipY, false);
    drawPresenterShadow(frame, flipY);
    drawPresenter(frame, flipY);
    endPassState();
}

void StageRenderer::encodeStagePass(const FrameSnapshot& frame, float flipY, const PixelRect* within) {
    beginPassState(frame, within);
    drawStage(frame, flipY, within != nullptr);
    endPassState();
}

void StageRenderer::encodePresenterPass(const FrameSnapshot& frame, float flipY) {
    beginPassState(frame, nullptr);
    drawPresenterShadow(frame, flipY);
    drawPresenter(frame, flipY);
    endPassState();
}

MultisampleTarget::~MultisampleTarget() {
    release();
}

void MultisampleTarget::abandon() {
    msFBO_ = resolveFBO_ = msColor_ = msDepth_ = resolveColor_ = 0;
    width_ = height_ = 0;
}

void MultisampleTarget::release() {
    if (msFBO_ != 0) glDeleteFramebuffers(1, &msFBO_);
    if (resolveFBO_ != 0) glDeleteFramebuffers(1, &resolveFBO_);
    const GLuint rbs[] = {msColor_, msDepth_, resolveColor_};
    for (GLuint rb : rbs) {
        if (rb != 0) glDeleteRenderbuffers(1, &rb);
    }
    msFBO_ = resolveFBO_ = msColor_ = msDepth_ = resolveColor_ = 0;
    width_ = height_ = 0;
}

bool MultisampleTarget::ensure(int width, int height) {
    if (width == width_ && height == height_ && msFBO_ != 0) return true;
    release();
    if (width < 1 || height < 1) return false;
    clearErrors();
    GLint previousDraw = 0;
    GLint previousRead = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previousDraw);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
    const auto makeRenderbuffer = [&](GLsizei samples, GLenum format) {
        GLuint rb = 0;
        glGenRenderbuffers(1, &rb);
        glBindRenderbuffer(GL_RENDERBUFFER, rb);
        if (samples > 0) {
            glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, format, width, height);
        } else {
            glRenderbufferStorage(GL_RENDERBUFFER, format, width, height);
        }
        return rb;
    };
    msColor_ = makeRenderbuffer(4, GL_RGBA8);
    msDepth_ = makeRenderbuffer(4, GL_DEPTH_COMPONENT32F);
    resolveColor_ = makeRenderbuffer(0, GL_RGBA8);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glGenFramebuffers(1, &msFBO_);
    glBindFramebuffer(GL_FRAMEBUFFER, msFBO_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, msColor_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, msDepth_);
    bool ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glGenFramebuffers(1, &resolveFBO_);
    glBindFramebuffer(GL_FRAMEBUFFER, resolveFBO_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, resolveColor_);
    ok = ok && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(previousDraw));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previousRead));
    if (!ok || glGetError() != GL_NO_ERROR) {
        release();
        return false;
    }
    width_ = width;
    height_ = height;
    return true;
}

void MultisampleTarget::beginPass() {
    glBindFramebuffer(GL_FRAMEBUFFER, msFBO_);
    glViewport(0, 0, width_, height_);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void MultisampleTarget::resumePass() {
    glBindFramebuffer(GL_FRAMEBUFFER, msFBO_);
    glViewport(0, 0, width_, height_);
}

void MultisampleTarget::resolveInto(unsigned target) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, msFBO_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

void MultisampleTarget::copyFrom(const MultisampleTarget& source, bool depth, const PixelRect* within) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source.msFBO_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, msFBO_);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    const PixelRect all{0, 0, width_, height_};
    const PixelRect& r = within ? *within : all;
    profiledStep("copy", [&] {
        glBlitFramebuffer(r.x, r.y, r.x + r.width, r.y + r.height, r.x, r.y, r.x + r.width, r.y + r.height,
                          GL_COLOR_BUFFER_BIT | (depth ? GL_DEPTH_BUFFER_BIT : 0), GL_NEAREST);
    });
    glBindFramebuffer(GL_FRAMEBUFFER, msFBO_);
    glViewport(0, 0, width_, height_);
}

void MultisampleTarget::resolveFlippedInto(unsigned target) {
    clearErrors();
    resolveInto(resolveFBO_);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFBO_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    glBlitFramebuffer(0, 0, width_, height_, 0, height_, width_, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

bool MultisampleTarget::readBGRA(std::uint8_t* out) {
    clearErrors();
    profiledStep("resolve", [&] { resolveInto(resolveFBO_); });
    bool ok = false;
    profiledStep("read-back", [&] { ok = readResolvedBGRA(out); });
    return ok;
}

bool MultisampleTarget::readRegionBGRA(const PixelRect& region, std::uint8_t* frame) {
    clearErrors();
    if (region.empty()) return true;
    const PixelRect& r = region;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, msFBO_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFBO_);
    glDisable(GL_SCISSOR_TEST);
    profiledStep("resolve", [&] {
        glBlitFramebuffer(r.x, r.y, r.x + r.width, r.y + r.height, r.x, r.y, r.x + r.width, r.y + r.height,
                          GL_COLOR_BUFFER_BIT, GL_NEAREST);
    });
    glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFBO_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, width_);
    profiledStep("read-back", [&] {
        glReadPixels(r.x, r.y, r.width, r.height, GL_BGRA, GL_UNSIGNED_BYTE,
                     frame + (std::size_t(r.y) * std::size_t(width_) + std::size_t(r.x)) * 4);
    });
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return glGetError() == GL_NO_ERROR;
}

bool MultisampleTarget::readResolvedBGRA(std::uint8_t* out) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, resolveFBO_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, out);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return glGetError() == GL_NO_ERROR;
}

}  // namespace vantry::studio::gl
