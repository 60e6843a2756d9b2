// A small retained scene graph for static scenery: nodes with local transforms, primitive and custom
// geometries with shared materials, tessellation into triangle meshes and flattening of a subtree into
// one merged geometry. Pure computation: no GL, no Qt.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "common/Vector.h"

namespace vantry::creator {

// The 3 x 3 matrix that carries normals: the inverse transpose of the transform's linear part
// (a degenerate part yields its cofactor matrix, which still points the surviving normals right).
struct SceneNormalMatrix {
    std::array<float, 9> m{};  // column-major
    static SceneNormalMatrix of(const Float4x4& transform);
    // Transformed and normalised; a zero result stays zero.
    Float3 apply(Float3 n) const;
};

enum class SceneBlendMode : std::int32_t { alpha = 0, add, subtract, multiply, screen, replace, max };

// Shared between geometries like any scene resource; flattening copies it once per merged geometry.
struct SceneMaterial {
    std::string name;
    std::array<float, 4> diffuse{1, 1, 1, 1};  // linear RGBA
    float transparency = 1.0f;                 // 1 is opaque
    SceneBlendMode blendMode = SceneBlendMode::alpha;
    bool doubleSided = false;
};
using SceneMaterialRef = std::shared_ptr<SceneMaterial>;

// Primitive kinds, centred on the origin, y up; defaults give a one-unit shape.
struct SceneBox {
    float width = 1, height = 1, length = 1;
    float chamferRadius = 0;
    std::int32_t chamferSegmentCount = 5;
};
struct SceneSphere {
    float radius = 0.5f;
    std::int32_t segmentCount = 24;
};
struct SceneCylinder {
    float radius = 0.5f, height = 1;
    std::int32_t radialSegmentCount = 24;
};
struct SceneCone {
    float topRadius = 0, bottomRadius = 0.5f, height = 1;
    std::int32_t radialSegmentCount = 24;
};
struct ScenePyramid {  // square base on y = 0, apex at height
    float width = 1, height = 1, length = 1;
};
struct ScenePlane {  // in the xy plane, facing +z
    float width = 1, height = 1;
};

enum class SceneSourceSemantic : std::uint8_t { vertex, normal, texcoord };

// One per-vertex attribute stream: componentsPerVector floats per vertex.
struct SceneGeometrySource {
    SceneSourceSemantic semantic = SceneSourceSemantic::vertex;
    std::int32_t componentsPerVector = 3;
    std::vector<float> data;
    std::int64_t vectorCount() const;
};

// A triangle list indexing the vertices of the geometry's sources.
struct SceneGeometryElement {
    std::vector<std::uint32_t> indices;
};

// Vertex sources and elements given as data. Element i draws with material i modulo the material count.
struct SceneCustomGeometry {
    std::vector<SceneGeometrySource> sources;
    std::vector<SceneGeometryElement> elements;
    // First source of a semantic, or null.
    const SceneGeometrySource* firstSource(SceneSourceSemantic semantic) const;
};

using SceneGeometryShape = std::variant<SceneBox, SceneSphere, SceneCylinder, SceneCone, ScenePyramid,
                                        ScenePlane, SceneCustomGeometry>;

struct SceneGeometry {
    SceneGeometryShape shape;
    std::vector<SceneMaterialRef> materials;  // empty draws with a default material
};
using SceneGeometryRef = std::shared_ptr<const SceneGeometry>;

// A tessellated geometry: equally long attribute arrays and one triangle list per element.
struct SceneMesh {
    std::vector<Float3> positions;
    std::vector<Float3> normals;
    std::vector<Float2> texcoords;
    std::vector<std::vector<std::uint32_t>> elements;

    std::size_t triangleCount() const;
};

// Segment counts are clamped to what a primitive needs at least and to kMaxTessellationSegments at most.
inline constexpr std::int32_t kMaxTessellationSegments = 512;

// The triangle mesh of a geometry. Primitives give one element (boxes six, one per face); a custom
// geometry keeps its elements, takes the first source of each semantic (missing or short normals are
// computed from the faces, missing texture coordinates are zero) and drops triangles whose indices run
// past its vertices.
SceneMesh tessellate(const SceneGeometry& geometry);

class SceneNode;
using SceneNodeRef = std::shared_ptr<SceneNode>;

class SceneNode {
  public:
    SceneNode() = default;
    explicit SceneNode(SceneGeometryRef geometry) : geometry_(std::move(geometry)) {}
    static SceneNodeRef make() { return std::make_shared<SceneNode>(); }
    static SceneNodeRef withGeometry(SceneGeometryRef geometry) {
        return std::make_shared<SceneNode>(std::move(geometry));
    }

    const Float4x4& transform() const { return transform_; }
    void setTransform(const Float4x4& transform) { transform_ = transform; }
    const SceneGeometryRef& geometry() const { return geometry_; }
    void setGeometry(SceneGeometryRef geometry) { geometry_ = std::move(geometry); }
    const std::vector<SceneNodeRef>& childNodes() const { return children_; }
    void addChildNode(SceneNodeRef child) { children_.push_back(std::move(child)); }

    bool castsShadow() const { return castsShadow_; }
    void setCastsShadow(bool casts) { castsShadow_ = casts; }
    std::uint64_t categoryBitMask() const { return categoryBitMask_; }
    void setCategoryBitMask(std::uint64_t mask) { categoryBitMask_ = mask; }

    // A new childless node with this node's transform and shadow/category settings whose single custom
    // geometry merges this node's geometry and every descendant's, each in its transform relative to
    // this node (normals through the inverse transpose; a mirroring transform keeps faces facing out).
    // The merged geometry has one element per distinct source material, drawing with a fresh copy of
    // that material, so source materials survive the merge and the originals are never changed.
    // A subtree without geometry yields a node without geometry.
    SceneNodeRef flattenedClone() const;

  private:
    Float4x4 transform_ = Float4x4::identity();
    SceneGeometryRef geometry_;
    std::vector<SceneNodeRef> children_;
    bool castsShadow_ = true;
    std::uint64_t categoryBitMask_ = 1;
};

}  // namespace vantry::creator
