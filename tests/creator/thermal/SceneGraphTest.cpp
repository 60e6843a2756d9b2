#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "creator/thermal/SceneGraph.h"

namespace vantry::creator {
namespace {

constexpr float kTol = 1e-4f;

void expectNear(Float3 a, Float3 b, float tol = kTol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

Float3 cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float dot(Float3 a, Float3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Float3 sub(Float3 a, Float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

SceneGeometryRef geometryOf(SceneGeometryShape shape, std::vector<SceneMaterialRef> materials = {}) {
    return std::make_shared<SceneGeometry>(SceneGeometry{std::move(shape), std::move(materials)});
}

struct PrimitiveCase {
    const char* name;
    SceneGeometryShape shape;
    std::size_t vertices;
    std::size_t elements;
};

class Tessellation : public ::testing::TestWithParam<PrimitiveCase> {};

// Every primitive is a closed-or-flat mesh of unit normals whose triangles face the way their
// vertex normals point, with attribute arrays of one length and indices in range.
TEST_P(Tessellation, GivesConsistentOutwardFacingMesh) {
    const PrimitiveCase& c = GetParam();
    const SceneMesh mesh = tessellate(SceneGeometry{c.shape, {}});
    EXPECT_EQ(mesh.positions.size(), c.vertices);
    EXPECT_EQ(mesh.elements.size(), c.elements);
    ASSERT_EQ(mesh.normals.size(), mesh.positions.size());
    ASSERT_EQ(mesh.texcoords.size(), mesh.positions.size());
    for (const Float3& n : mesh.normals) EXPECT_NEAR(std::sqrt(dot(n, n)), 1.0f, kTol);
    std::size_t facing = 0, total = 0;
    for (const auto& tris : mesh.elements) {
        ASSERT_EQ(tris.size() % 3, 0u);
        for (std::size_t i = 0; i < tris.size(); i += 3) {
            for (int k = 0; k < 3; ++k) ASSERT_LT(tris[i + k], mesh.positions.size());
            const Float3 a = mesh.positions[tris[i]], b = mesh.positions[tris[i + 1]],
                         d = mesh.positions[tris[i + 2]];
            const Float3 face = cross(sub(b, a), sub(d, a));
            if (dot(face, face) < 1e-12f) continue;  // degenerate (pole or apex)
            const Float3 n = mesh.normals[tris[i]];
            ++total;
            if (dot(face, {n.x + mesh.normals[tris[i + 1]].x + mesh.normals[tris[i + 2]].x,
                           n.y + mesh.normals[tris[i + 1]].y + mesh.normals[tris[i + 2]].y,
                           n.z + mesh.normals[tris[i + 1]].z + mesh.normals[tris[i + 2]].z}) > 0)
                ++facing;
        }
    }
    EXPECT_GT(total, 0u);
    EXPECT_EQ(facing, total);
}

INSTANTIATE_TEST_SUITE_P(
    Primitives, Tessellation,
    ::testing::Values(PrimitiveCase{"box", SceneBox{2, 3, 4, 0, 5}, 24, 6},
                      PrimitiveCase{"chamferedBox", SceneBox{2, 3, 4, 0.3f, 2}, 6 * 6 * 6, 6},
                      PrimitiveCase{"sphere", SceneSphere{1, 8}, 9 * 5, 1},
                      PrimitiveCase{"cylinder", SceneCylinder{0.5f, 2, 6}, 14 + 2 * 8, 1},
                      PrimitiveCase{"cone", SceneCone{0, 1, 2, 6}, 14 + 8, 1},
                      PrimitiveCase{"frustum", SceneCone{0.5f, 1, 2, 6}, 14 + 2 * 8, 1},
                      PrimitiveCase{"pyramid", ScenePyramid{1, 1, 1}, 16, 1},
                      PrimitiveCase{"plane", ScenePlane{2, 1}, 4, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tessellation, ChamferedBoxStaysInsideItsBoundsAndReachesEachFace) {
    const SceneMesh mesh = tessellate(SceneGeometry{SceneBox{2, 4, 6, 0.5f, 3}, {}});
    Float3 lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
    for (const Float3& p : mesh.positions) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    expectNear(lo, {-1, -2, -3});
    expectNear(hi, {1, 2, 3});
    // The corner is rounded: no vertex sits at the sharp corner.
    for (const Float3& p : mesh.positions) EXPECT_FALSE(p.x > 0.99f && p.y > 1.99f && p.z > 2.99f);
}

TEST(Tessellation, CustomGeometryKeepsValidDataAndDropsBrokenTriangles) {
    SceneCustomGeometry custom;
    custom.sources.push_back({SceneSourceSemantic::vertex, 3, {0, 0, 0, 1, 0, 0, 0, 1, 0}});
    custom.sources.push_back({SceneSourceSemantic::texcoord, 2, {0, 0, 1, 0, 0, 1}});
    custom.elements.push_back({{0, 1, 2, 0, 1, 7, 2}});  // one good triangle, one out of range, a stray index
    const SceneMesh mesh = tessellate(SceneGeometry{custom, {}});
    ASSERT_EQ(mesh.positions.size(), 3u);
    ASSERT_EQ(mesh.elements.size(), 1u);
    EXPECT_EQ(mesh.elements[0], (std::vector<std::uint32_t>{0, 1, 2}));
    for (const Float3& n : mesh.normals) expectNear(n, {0, 0, 1});  // computed from the face
    EXPECT_EQ(mesh.texcoords[2], (Float2{0, 1}));

    const SceneMesh empty = tessellate(SceneGeometry{SceneCustomGeometry{}, {}});
    EXPECT_TRUE(empty.positions.empty());
}

TEST(SceneMatrices, NormalMatrixIsTheInverseTransposeForNonUniformScale) {
    const Float4x4 t = Float4x4::rotation(0.7f, {0, 0, 1}) * Float4x4::scale(4, 1, 1);
    const SceneNormalMatrix n = SceneNormalMatrix::of(t);
    // A surface through the origin with normal (1, 1, 0) holds the tangent (1, -1, 0); after the
    // transform the normal stays perpendicular to the transformed tangent.
    const Float3 tangent = t.transformDirection(Float3{1, -1, 0});
    const Float3 normal = n.apply({1, 1, 0});
    EXPECT_NEAR(dot(tangent, normal), 0.0f, kTol);
    EXPECT_NEAR(std::sqrt(dot(normal, normal)), 1.0f, kTol);
    EXPECT_LT(Float4x4::scale(-1, 1, 1).linearDeterminant(), 0.0f);
}

SceneNodeRef nodeWith(SceneGeometryShape shape, const Float4x4& transform,
                      std::vector<SceneMaterialRef> m = {}) {
    auto node = SceneNode::withGeometry(geometryOf(std::move(shape), std::move(m)));
    node->setTransform(transform);
    return node;
}

// Vertex i of the merged mesh (for a single-source merge, same order as the source mesh).
Float3 mergedPosition(const SceneGeometry& g, std::size_t i,
                      SceneSourceSemantic s = SceneSourceSemantic::vertex) {
    const auto& src = std::get<SceneCustomGeometry>(g.shape).firstSource(s)->data;
    return {src[3 * i], src[3 * i + 1], src[3 * i + 2]};
}

TEST(FlattenedClone, MergedVerticesAreTheSourceVerticesInWorldSpaceForNestedTransforms) {
    const Float4x4 rootT = Float4x4::translation(0, 0, 0);
    const Float4x4 aT = Float4x4::translation(3, 0, -2) * Float4x4::rotation(0.5f, {0, 1, 0});
    const Float4x4 bT = Float4x4::scale(2, 0.5f, 1) * Float4x4::rotation(1.1f, {1, 0, 0});
    const Float4x4 cT = Float4x4::translation(-1, 4, 0.25f);
    auto root = SceneNode::make();
    root->setTransform(rootT);
    auto a = nodeWith(SceneBox{1, 2, 3, 0, 5}, aT);
    auto b = nodeWith(SceneCone{0, 1, 2, 5}, bT);
    auto c = nodeWith(ScenePyramid{1, 1, 1}, cT);
    b->addChildNode(c);
    a->addChildNode(b);
    root->addChildNode(a);

    const SceneNodeRef flat = root->flattenedClone();
    ASSERT_TRUE(flat->geometry());
    EXPECT_TRUE(flat->childNodes().empty());
    const Float4x4 worlds[3] = {aT, aT * bT, aT * bT * cT};
    const SceneNode* sources[3] = {a.get(), b.get(), c.get()};
    std::size_t offset = 0;
    for (int s = 0; s < 3; ++s) {
        const SceneMesh mesh = tessellate(*sources[s]->geometry());
        const SceneNormalMatrix nm = SceneNormalMatrix::of(worlds[s]);
        for (std::size_t v = 0; v < mesh.positions.size(); ++v) {
            expectNear(mergedPosition(*flat->geometry(), offset + v),
                       worlds[s].transformPoint(mesh.positions[v]));
            expectNear(mergedPosition(*flat->geometry(), offset + v, SceneSourceSemantic::normal),
                       nm.apply(mesh.normals[v]));
        }
        offset += mesh.positions.size();
    }
    EXPECT_EQ(std::get<SceneCustomGeometry>(flat->geometry()->shape)
                  .firstSource(SceneSourceSemantic::vertex)
                  ->vectorCount(),
              static_cast<std::int64_t>(offset));
}

TEST(FlattenedClone, KeepsOneElementPerSourceMaterialAsFreshCopies) {
    auto red = std::make_shared<SceneMaterial>();
    red->name = "red";
    red->doubleSided = true;
    auto glass = std::make_shared<SceneMaterial>();
    glass->name = "glass";
    glass->transparency = 0.4f;
    auto root = SceneNode::make();
    root->addChildNode(nodeWith(ScenePlane{}, Float4x4::translation(1, 0, 0), {red}));
    root->addChildNode(nodeWith(ScenePlane{}, Float4x4::translation(2, 0, 0), {glass}));
    root->addChildNode(nodeWith(ScenePlane{}, Float4x4::translation(3, 0, 0), {red}));
    root->addChildNode(nodeWith(ScenePlane{}, Float4x4::translation(4, 0, 0)));  // default material

    const SceneNodeRef flat = root->flattenedClone();
    const auto& g = *flat->geometry();
    const auto& elements = std::get<SceneCustomGeometry>(g.shape).elements;
    ASSERT_EQ(elements.size(), 3u);
    ASSERT_EQ(g.materials.size(), 3u);
    EXPECT_EQ(g.materials[0]->name, "red");
    EXPECT_EQ(elements[0].indices.size(), 12u);  // both red planes
    EXPECT_EQ(g.materials[1]->name, "glass");
    EXPECT_FLOAT_EQ(g.materials[1]->transparency, 0.4f);
    EXPECT_EQ(g.materials[2]->name, "");
    EXPECT_NE(g.materials[0].get(), red.get());
    g.materials[0]->doubleSided = false;
    EXPECT_TRUE(red->doubleSided);
}

TEST(FlattenedClone, MirroringTransformKeepsTrianglesFacingTheirNormals) {
    auto root = SceneNode::make();
    root->addChildNode(nodeWith(ScenePlane{}, Float4x4::scale(-1, 1, 1)));
    const SceneNodeRef flat = root->flattenedClone();
    const auto& g = *flat->geometry();
    const auto& custom = std::get<SceneCustomGeometry>(g.shape);
    const auto& tris = custom.elements[0].indices;
    const Float3 a = mergedPosition(g, tris[0]), b = mergedPosition(g, tris[1]),
                 c = mergedPosition(g, tris[2]);
    const Float3 n = mergedPosition(g, tris[0], SceneSourceSemantic::normal);
    EXPECT_GT(dot(cross(sub(b, a), sub(c, a)), n), 0.0f);
}

TEST(FlattenedClone, SubtreeWithoutGeometryGivesNodeWithoutGeometry) {
    auto root = SceneNode::make();
    root->addChildNode(SceneNode::make());
    root->setCategoryBitMask(6);
    const SceneNodeRef flat = root->flattenedClone();
    EXPECT_FALSE(flat->geometry());
    EXPECT_EQ(flat->categoryBitMask(), 6u);
}

}  // namespace
}  // namespace vantry::creator
