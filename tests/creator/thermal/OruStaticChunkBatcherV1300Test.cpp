#include <gtest/gtest.h>

#include <limits>

#include "creator/thermal/CityBlockScene.h"
#include "creator/thermal/OruStaticChunkBatcherV1300.h"

namespace vantry::creator {
namespace {

namespace batcher = OruStaticChunkBatcherV1300;

SceneNodeRef nodeOf(SceneGeometryShape shape, std::vector<SceneMaterialRef> materials = {}) {
    return SceneNode::withGeometry(
        std::make_shared<SceneGeometry>(SceneGeometry{std::move(shape), std::move(materials)}));
}

SceneCustomGeometry customWithVertices(std::size_t count) {
    SceneCustomGeometry custom;
    custom.sources.push_back({SceneSourceSemantic::normal, 3, std::vector<float>(3 * 99, 0.0f)});
    custom.sources.push_back({SceneSourceSemantic::vertex, 3, std::vector<float>(3 * count, 0.0f)});
    return custom;
}

std::int64_t childlessVertexCount(const SceneNode& chunk) {
    const auto& custom = std::get<SceneCustomGeometry>(chunk.geometry()->shape);
    return custom.firstSource(SceneSourceSemantic::vertex)->vectorCount();
}

struct EstimateCase {
    const char* name;
    SceneGeometryShape shape;
    std::int64_t estimate;
};

class VertexEstimate : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(VertexEstimate, FollowsTheKindTable) {
    EXPECT_EQ(batcher::estimateGeometryVertices(SceneGeometry{GetParam().shape, {}}), GetParam().estimate);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, VertexEstimate,
    ::testing::Values(EstimateCase{"plainBox", SceneBox{1, 1, 1, 0, 5}, 24},
                      EstimateCase{"boxAtChamferThreshold", SceneBox{1, 1, 1, 0.0001f, 5}, 24},
                      EstimateCase{"chamferedBox", SceneBox{1, 1, 1, 0.1f, 3}, 24 + 48 * 3},
                      EstimateCase{"sphere2", SceneSphere{1, 2}, 16},
                      EstimateCase{"sphere24", SceneSphere{1, 24}, 625},
                      EstimateCase{"cylinder3", SceneCylinder{1, 1, 3}, 16},
                      EstimateCase{"cylinder10", SceneCylinder{1, 1, 10}, 44},
                      EstimateCase{"cone1", SceneCone{0, 1, 1, 1}, 16},
                      EstimateCase{"cone7", SceneCone{0, 1, 1, 7}, 32},
                      EstimateCase{"pyramid", ScenePyramid{}, 16}, EstimateCase{"plane", ScenePlane{}, 4},
                      EstimateCase{"custom3", customWithVertices(3), 3},
                      EstimateCase{"customWithoutVertexSource", SceneCustomGeometry{}, 24}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VertexEstimate, NodeSumsItsSubtreeAndSkipsGeometryLessNodes) {
    auto root = SceneNode::make();
    auto a = nodeOf(SceneBox{});
    a->addChildNode(nodeOf(customWithVertices(3)));
    root->addChildNode(a);
    root->addChildNode(SceneNode::make());
    EXPECT_EQ(batcher::estimateVertexCount(*root), 27);
}

TEST(Gathering, VisitsParentsBeforeChildrenInOrderWithWorldTransforms) {
    auto root = nodeOf(ScenePlane{});
    root->setTransform(Float4x4::translation(10, 0, 0));
    auto a = nodeOf(SceneBox{});
    a->setTransform(Float4x4::translation(0, 1, 0));
    auto a1 = nodeOf(customWithVertices(3));
    a1->setTransform(Float4x4::scale(2, 2, 2));
    a->addChildNode(a1);
    root->addChildNode(a);
    root->addChildNode(nodeOf(ScenePyramid{}));

    const auto pieces = batcher::gatherPieces(*root);
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[0].estimatedVertices, 4);
    EXPECT_EQ(pieces[1].estimatedVertices, 24);
    EXPECT_EQ(pieces[2].estimatedVertices, 4);  // three vertices count as four
    EXPECT_EQ(pieces[3].estimatedVertices, 16);
    EXPECT_EQ(pieces[2].worldTransform,
              Float4x4::translation(10, 0, 0) * Float4x4::translation(0, 1, 0) * Float4x4::scale(2, 2, 2));
    EXPECT_EQ(pieces[3].worldTransform, Float4x4::translation(10, 0, 0));
}

struct BatchCase {
    const char* name;
    std::vector<SceneGeometryShape>
        nodes;  // a custom geometry without sources stands for a geometry-less node
    std::int64_t limit;
    OruDrawCallAuditReceiptV1300 receipt;
};

std::vector<SceneNodeRef> makeNodes(const std::vector<SceneGeometryShape>& shapes) {
    std::vector<SceneNodeRef> nodes;
    for (const auto& s : shapes) {
        const auto* custom = std::get_if<SceneCustomGeometry>(&s);
        nodes.push_back(custom && custom->sources.empty() ? SceneNode::make() : nodeOf(s));
    }
    return nodes;
}

class Batching : public ::testing::TestWithParam<BatchCase> {};

TEST_P(Batching, GivesTheExpectedReceipt) {
    const auto result = batcher::batchStaticNodes(makeNodes(GetParam().nodes), GetParam().limit, 2, true);
    EXPECT_EQ(result.receipt, GetParam().receipt);
    EXPECT_EQ(static_cast<std::int64_t>(result.chunks.size()), GetParam().receipt.batchedChunkCount);
}

const std::vector<SceneGeometryShape> kTenBoxes(10, SceneBox{});
const SceneCustomGeometry kNoGeometry{};

INSTANTIATE_TEST_SUITE_P(
    Receipts, Batching,
    ::testing::Values(
        BatchCase{"empty", {}, 100, {0, 0, 1.0, 0}}, BatchCase{"tenBoxes", kTenBoxes, 100, {10, 3, 3.3, 120}},
        BatchCase{"oversize", {customWithVertices(5000)}, 1000, {1, 1, 1.0, 2500}},
        BatchCase{"oversizeBetweenSmall",
                  {SceneBox{}, customWithVertices(5000), SceneBox{}},
                  1000,
                  {3, 3, 1.0, 2524}},
        BatchCase{"onlyGeometryLess", {kNoGeometry, kNoGeometry, kNoGeometry}, 100, {3, 0, 3.0, 0}},
        BatchCase{"geometryLessAmongBoxes", {SceneBox{}, kNoGeometry, SceneBox{}}, 100, {3, 1, 3.0, 24}},
        BatchCase{
            "threeVerticesCountFour", {customWithVertices(3), customWithVertices(3)}, 4, {2, 2, 1.0, 4}},
        BatchCase{"fiveOverThree",
                  {SceneBox{}, SceneBox{}, SceneBox{}, SceneBox{}, SceneBox{}},
                  48,
                  {5, 3, 1.7, 60}},
        BatchCase{"sevenOverFour", std::vector<SceneGeometryShape>(7, SceneBox{}), 48, {7, 4, 1.8, 84}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Batching, ChunksHoldWholeNodesMergedAndCastNoShadow) {
    const auto result = batcher::batchStaticNodes(makeNodes(kTenBoxes), 100, 0x24, false);
    ASSERT_EQ(result.chunks.size(), 3u);
    const std::int64_t boxesPerChunk[3] = {4, 4, 2};
    for (int i = 0; i < 3; ++i) {
        const SceneNode& chunk = *result.chunks[static_cast<std::size_t>(i)];
        EXPECT_TRUE(chunk.childNodes().empty());
        EXPECT_FALSE(chunk.castsShadow());
        EXPECT_EQ(chunk.categoryBitMask(), 0x24u);
        EXPECT_EQ(childlessVertexCount(chunk), 24 * boxesPerChunk[i]);
    }
}

TEST(Batching, SingleSidedRuleTouchesOnlyOpaqueAlphaMaterialsOfTheMergedCopy) {
    struct Sided {
        const char* name;
        float transparency;
        SceneBlendMode blend;
        bool expectDoubleSided;
    };
    const Sided cases[] = {{"opaque", 1.0f, SceneBlendMode::alpha, false},
                           {"atThreshold", 0.98f, SceneBlendMode::alpha, false},
                           {"translucent", 0.97f, SceneBlendMode::alpha, true},
                           {"additive", 1.0f, SceneBlendMode::add, true},
                           {"multiply", 1.0f, SceneBlendMode::multiply, true}};
    std::vector<SceneNodeRef> nodes;
    std::vector<SceneMaterialRef> originals;
    for (const Sided& c : cases) {
        auto m = std::make_shared<SceneMaterial>();
        m->name = c.name;
        m->transparency = c.transparency;
        m->blendMode = c.blend;
        m->doubleSided = true;
        originals.push_back(m);
        nodes.push_back(nodeOf(ScenePlane{}, {m}));
    }
    for (bool disable : {true, false}) {
        const auto result = batcher::batchStaticNodes(nodes, 1000, 1, disable);
        ASSERT_EQ(result.chunks.size(), 1u);
        const auto& materials = result.chunks[0]->geometry()->materials;
        ASSERT_EQ(materials.size(), std::size(cases));
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            EXPECT_EQ(materials[i]->doubleSided, disable ? cases[i].expectDoubleSided : true)
                << cases[i].name;
        }
    }
    for (const auto& m : originals) EXPECT_TRUE(m->doubleSided);
}

TEST(Receipt, EncodesFieldsInOrderAsJson) {
    EXPECT_EQ(
        (OruDrawCallAuditReceiptV1300{10, 3, 3.3, 120}.encodeJson()),
        R"({"rawNodeCount":10,"batchedChunkCount":3,"reductionFactor":3.3,"totalTrianglesApprox":120})");
    EXPECT_EQ((OruDrawCallAuditReceiptV1300{0, 0, 1.0, 0}.encodeJson()),
              R"({"rawNodeCount":0,"batchedChunkCount":0,"reductionFactor":1.0,"totalTrianglesApprox":0})");
    EXPECT_EQ((OruDrawCallAuditReceiptV1300{1, 2, std::numeric_limits<double>::infinity(), 3}.encodeJson()),
              R"({"rawNodeCount":1,"batchedChunkCount":2,"reductionFactor":null,"totalTrianglesApprox":3})");
    EXPECT_EQ(
        (OruDrawCallAuditReceiptV1300{-1, 0, 1e21, -7}.encodeJson()),
        R"({"rawNodeCount":-1,"batchedChunkCount":0,"reductionFactor":1e+21,"totalTrianglesApprox":-7})");
    EXPECT_DOUBLE_EQ(batcher::reductionFactor(1, 4), 0.3);  // 0.25 rounds away from zero
    EXPECT_DOUBLE_EQ(batcher::reductionFactor(3, 8), 0.4);  // 0.375
    EXPECT_DOUBLE_EQ(batcher::reductionFactor(10000, 7), 1428.6);
}

TEST(CityBlock, SameSeedGivesSameSceneAndBatchesWithinTheLimit) {
    const auto a = buildSeededCityBlock(400, 7);
    const auto b = buildSeededCityBlock(400, 7);
    ASSERT_EQ(a.nodes.size(), 400u);
    const auto ra = batcher::batchStaticNodes(a.nodes, 4000, 1, true);
    const auto rb = batcher::batchStaticNodes(b.nodes, 4000, 1, true);
    EXPECT_EQ(ra.receipt, rb.receipt);
    EXPECT_GT(ra.receipt.batchedChunkCount, 1);
    EXPECT_LT(ra.receipt.batchedChunkCount, 400);
    std::int64_t estimated = 0;
    for (const auto& n : a.nodes) estimated += batcher::estimateVertexCount(*n);
    EXPECT_LE(ra.receipt.totalTrianglesApprox * 2, estimated + 4 * 800);
    EXPECT_NE(buildSeededCityBlock(400, 8).nodes[0]->transform(), a.nodes[0]->transform());
}

}  // namespace
}  // namespace vantry::creator
