// Static chunk batching: packs the geometries of static scenery nodes into merged chunks of a bounded
// (estimated) vertex count so that each chunk draws with one call per material.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "creator/thermal/SceneGraph.h"

namespace vantry::creator {

struct OruDrawCallAuditReceiptV1300 {
    std::int64_t rawNodeCount = 0;
    std::int64_t batchedChunkCount = 0;
    double reductionFactor = 1.0;  // rawNodeCount / max(batchedChunkCount, 1), one decimal
    std::int64_t totalTrianglesApprox = 0;

    // One JSON object with the field names as keys, in field order.
    std::string encodeJson() const;

    friend bool operator==(const OruDrawCallAuditReceiptV1300&,
                           const OruDrawCallAuditReceiptV1300&) = default;
};

// One gathered geometry with its transform relative to the input node's parent and its estimate.
struct OruGatheredPieceV1300 {
    SceneGeometryRef geometry;
    Float4x4 worldTransform = Float4x4::identity();
    std::int64_t estimatedVertices = 0;  // at least 4
};

namespace OruStaticChunkBatcherV1300 {

inline constexpr float kBoxChamferThreshold = 0.0001f;
inline constexpr std::int64_t kMinPieceVertices = 4;
inline constexpr std::int64_t kCustomWithoutSourceVertices = 24;
inline constexpr float kOpaqueTransparency = 0.98f;

struct BatchResult {
    std::vector<SceneNodeRef> chunks;
    OruDrawCallAuditReceiptV1300 receipt;
};

// Merges the input nodes' geometries into chunks of at most maxVertsPerChunk estimated vertices. An
// input node is never split; one larger than the limit forms a chunk of its own. Chunks cast no shadow
// and carry categoryBitMask; with disableBackfaceDoubleSided, their opaque alpha-blended materials are
// made single-sided. The input nodes are not changed.
BatchResult batchStaticNodes(const std::vector<SceneNodeRef>& nodes, std::int64_t maxVertsPerChunk,
                             std::int64_t categoryBitMask, bool disableBackfaceDoubleSided);

// Sum of estimateGeometryVertices over the node and its descendants that have a geometry.
std::int64_t estimateVertexCount(const SceneNode& node);

// The vertex estimate of a geometry by its kind (not its tessellated count).
std::int64_t estimateGeometryVertices(const SceneGeometry& geometry);

// The pieces of one input node, depth first, parent before children, children in order.
std::vector<OruGatheredPieceV1300> gatherPieces(const SceneNode& node);

// rawNodeCount / max(chunks, 1) rounded to one decimal, halves away from zero.
double reductionFactor(std::int64_t rawNodeCount, std::int64_t chunkCount);

}  // namespace OruStaticChunkBatcherV1300

}  // namespace vantry::creator
