#include "creator/thermal/OruStaticChunkBatcherV1300.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "common/Json.h"

namespace vantry::creator {

namespace {

std::int64_t segmentsPlusOne(std::int32_t segments) {
    return std::max<std::int64_t>(static_cast<std::int64_t>(segments) + 1, 4);
}

void gatherInto(const SceneNode& node, const Float4x4& parentWorld, std::vector<OruGatheredPieceV1300>& out) {
    const Float4x4 world = parentWorld * node.transform();
    if (node.geometry()) {
        const std::int64_t estimate = OruStaticChunkBatcherV1300::estimateGeometryVertices(*node.geometry());
        out.push_back(
            {node.geometry(), world, std::max(estimate, OruStaticChunkBatcherV1300::kMinPieceVertices)});
    }
    for (const auto& child : node.childNodes()) {
        if (child) gatherInto(*child, world, out);
    }
}

}  // namespace

std::string OruDrawCallAuditReceiptV1300::encodeJson() const {
    json::Writer w(false);
    w.beginObject();
    w.key("rawNodeCount");
    w.rawNumber(std::to_string(rawNodeCount));
    w.key("batchedChunkCount");
    w.rawNumber(std::to_string(batchedChunkCount));
    w.key("reductionFactor");
    if (std::isfinite(reductionFactor)) {
        w.rawNumber(json::formatDecimal(reductionFactor));
    } else {
        w.null();
    }
    w.key("totalTrianglesApprox");
    w.rawNumber(std::to_string(totalTrianglesApprox));
    w.endObject();
    return w.finish();
}

namespace OruStaticChunkBatcherV1300 {

std::int64_t estimateGeometryVertices(const SceneGeometry& geometry) {
    return std::visit(
        [](const auto& shape) -> std::int64_t {
            using T = std::decay_t<decltype(shape)>;
            if constexpr (std::is_same_v<T, SceneBox>) {
                if (shape.chamferRadius <= kBoxChamferThreshold) return 24;
                return 24 + 48 * static_cast<std::int64_t>(shape.chamferSegmentCount);
            } else if constexpr (std::is_same_v<T, SceneSphere>) {
                const std::int64_t m = segmentsPlusOne(shape.segmentCount);
                return m * m;
            } else if constexpr (std::is_same_v<T, SceneCylinder> || std::is_same_v<T, SceneCone>) {
                return 4 * segmentsPlusOne(shape.radialSegmentCount);
            } else if constexpr (std::is_same_v<T, ScenePyramid>) {
                return 16;
            } else if constexpr (std::is_same_v<T, ScenePlane>) {
                return 4;
            } else {
                const SceneGeometrySource* vertices = shape.firstSource(SceneSourceSemantic::vertex);
                return vertices ? vertices->vectorCount() : kCustomWithoutSourceVertices;
            }
        },
        geometry.shape);
}

std::int64_t estimateVertexCount(const SceneNode& node) {
    std::int64_t total = node.geometry() ? estimateGeometryVertices(*node.geometry()) : 0;
    for (const auto& child : node.childNodes()) {
        if (child) total += estimateVertexCount(*child);
    }
    return total;
}

std::vector<OruGatheredPieceV1300> gatherPieces(const SceneNode& node) {
    std::vector<OruGatheredPieceV1300> pieces;
    gatherInto(node, Float4x4::identity(), pieces);
    return pieces;
}

double reductionFactor(std::int64_t rawNodeCount, std::int64_t chunkCount) {
    const double ratio =
        static_cast<double>(rawNodeCount) / static_cast<double>(std::max<std::int64_t>(chunkCount, 1));
    return std::round(ratio * 10.0) / 10.0;
}

BatchResult batchStaticNodes(const std::vector<SceneNodeRef>& nodes, std::int64_t maxVertsPerChunk,
                             std::int64_t categoryBitMask, bool disableBackfaceDoubleSided) {
    BatchResult result;
    if (nodes.empty()) {
        result.receipt = {0, 0, 1.0, 0};
        return result;
    }
    SceneNodeRef chunk = SceneNode::make();
    std::int64_t running = 0;
    std::int64_t total = 0;
    const auto flush = [&] {
        if (chunk->childNodes().empty()) return;
        SceneNodeRef merged = chunk->flattenedClone();
        merged->setCastsShadow(false);
        merged->setCategoryBitMask(static_cast<std::uint64_t>(categoryBitMask));
        if (disableBackfaceDoubleSided && merged->geometry()) {
            for (const SceneMaterialRef& material : merged->geometry()->materials) {
                if (material->transparency >= kOpaqueTransparency &&
                    material->blendMode == SceneBlendMode::alpha) {
                    material->doubleSided = false;
                }
            }
        }
        result.chunks.push_back(std::move(merged));
        chunk = SceneNode::make();
        running = 0;
    };
    for (const SceneNodeRef& node : nodes) {
        if (!node) continue;
        const std::vector<OruGatheredPieceV1300> pieces = gatherPieces(*node);
        std::int64_t own = 0;
        for (const auto& piece : pieces) own += piece.estimatedVertices;
        if (running > 0 && running + own > maxVertsPerChunk) flush();
        for (const auto& piece : pieces) {
            SceneNodeRef child = SceneNode::withGeometry(piece.geometry);
            child->setTransform(piece.worldTransform);
            chunk->addChildNode(std::move(child));
        }
        running += own;
        total += own;
    }
    flush();
    const auto chunkCount = static_cast<std::int64_t>(result.chunks.size());
    const auto rawCount = static_cast<std::int64_t>(nodes.size());
    result.receipt = {rawCount, chunkCount, reductionFactor(rawCount, chunkCount), total / 2};
    return result;
}

}  // namespace OruStaticChunkBatcherV1300

}  // namespace vantry::creator
