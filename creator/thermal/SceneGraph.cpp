#include "creator/thermal/SceneGraph.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>

namespace vantry::creator {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

Float3 add(Float3 a, Float3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Float3 sub(Float3 a, Float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Float3 mul(Float3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}

std::int32_t clampSegments(std::int32_t count, std::int32_t least) {
    return std::clamp(count, least, kMaxTessellationSegments);
}

void addQuad(std::vector<std::uint32_t>& out, std::uint32_t a, std::uint32_t b, std::uint32_t c,
             std::uint32_t d) {
    out.insert(out.end(), {a, b, c, a, c, d});
}

std::uint32_t vertexCount(const SceneMesh& mesh) {
    return static_cast<std::uint32_t>(mesh.positions.size());
}

void pushVertex(SceneMesh& mesh, Float3 p, Float3 n, Float2 t) {
    mesh.positions.push_back(p);
    mesh.normals.push_back(n);
    mesh.texcoords.push_back(t);
}

// Samples along one box axis from -half to +half; with a chamfer, c extra samples round each end so the
// arcs of two neighbouring faces meet at 45 degrees.
std::vector<float> boxAxisSamples(float half, float radius, std::int32_t segments) {
    if (radius <= 0) return {-half, half};
    std::vector<float> s;
    const float inner = half - radius;
    for (std::int32_t k = 0; k <= segments; ++k) {
        const float angle = 0.25f * kPi * static_cast<float>(segments - k) / static_cast<float>(segments);
        s.push_back(-inner - radius * std::tan(angle));
    }
    for (std::int32_t k = 0; k <= segments; ++k) {
        const float angle = 0.25f * kPi * static_cast<float>(k) / static_cast<float>(segments);
        s.push_back(inner + radius * std::tan(angle));
    }
    return s;
}

SceneMesh tessellateBox(const SceneBox& box) {
    SceneMesh mesh;
    const Float3 half{std::abs(box.width) / 2, std::abs(box.height) / 2, std::abs(box.length) / 2};
    const float smallest = std::min({half.x, half.y, half.z});
    const float radius = box.chamferRadius > 0.0001f ? std::min(box.chamferRadius, smallest) : 0.0f;
    const std::int32_t segments = clampSegments(box.chamferSegmentCount, 1);
    const Float3 limit = sub(half, Float3{radius, radius, radius});
    struct Face {
        Float3 n, u, v;
    };
    static constexpr Face kFaces[6] = {
        {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}}, {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},
    };
    const auto extent = [&](Float3 axis) { return std::abs(dot(axis, half)); };
    for (const Face& face : kFaces) {
        const float hn = extent(face.n), hu = extent(face.u), hv = extent(face.v);
        const std::vector<float> us = boxAxisSamples(hu, radius, segments);
        const std::vector<float> vs = boxAxisSamples(hv, radius, segments);
        const std::uint32_t base = vertexCount(mesh);
        for (float sv : vs) {
            for (float su : us) {
                const Float3 p = add(add(mul(face.n, hn), mul(face.u, su)), mul(face.v, sv));
                Float3 pos = p, normal = face.n;
                if (radius > 0) {
                    const Float3 inner{std::clamp(p.x, -limit.x, limit.x), std::clamp(p.y, -limit.y, limit.y),
                                       std::clamp(p.z, -limit.z, limit.z)};
                    normal = normalize(sub(p, inner));
                    pos = add(inner, mul(normal, radius));
                }
                const Float2 uv{hu > 0 ? (su + hu) / (2 * hu) : 0.5f,
                                hv > 0 ? 1 - (sv + hv) / (2 * hv) : 0.5f};
                pushVertex(mesh, pos, normal, uv);
            }
        }
        std::vector<std::uint32_t> tris;
        const auto row = static_cast<std::uint32_t>(us.size());
        for (std::uint32_t j = 0; j + 1 < vs.size(); ++j) {
            for (std::uint32_t i = 0; i + 1 < row; ++i) {
                const std::uint32_t a = base + j * row + i;
                addQuad(tris, a, a + 1, a + 1 + row, a + row);
            }
        }
        mesh.elements.push_back(std::move(tris));
    }
    return mesh;
}

// Rows of rings from top to bottom around the y axis; ring(i) gives (y, radius, normal y, normal
// radial scale) for row i. Produces outward-facing quads between neighbouring rows.
template <typename Ring>
void lathe(SceneMesh& mesh, std::vector<std::uint32_t>& tris, std::int32_t rows, std::int32_t slices,
           Ring ring) {
    const std::uint32_t base = vertexCount(mesh);
    const auto row = static_cast<std::uint32_t>(slices + 1);
    for (std::int32_t i = 0; i <= rows; ++i) {
        const auto [y, r, ny, nr] = ring(i);
        for (std::int32_t j = 0; j <= slices; ++j) {
            const float theta = 2 * kPi * static_cast<float>(j) / static_cast<float>(slices);
            const float s = std::sin(theta), c = std::cos(theta);
            pushVertex(mesh, {r * s, y, r * c}, normalize(Float3{nr * s, ny, nr * c}),
                       {static_cast<float>(j) / static_cast<float>(slices),
                        static_cast<float>(i) / static_cast<float>(rows)});
        }
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(rows); ++i) {
        for (std::uint32_t j = 0; j < static_cast<std::uint32_t>(slices); ++j) {
            const std::uint32_t a = base + i * row + j;
            addQuad(tris, a, a + row, a + row + 1, a + 1);
        }
    }
}

void cap(SceneMesh& mesh, std::vector<std::uint32_t>& tris, float y, float radius, std::int32_t slices,
         bool up) {
    const std::uint32_t centre = vertexCount(mesh);
    const Float3 n{0, up ? 1.0f : -1.0f, 0};
    pushVertex(mesh, {0, y, 0}, n, {0.5f, 0.5f});
    for (std::int32_t j = 0; j <= slices; ++j) {
        const float theta = 2 * kPi * static_cast<float>(j) / static_cast<float>(slices);
        const float s = std::sin(theta), c = std::cos(theta);
        pushVertex(mesh, {radius * s, y, radius * c}, n, {0.5f + 0.5f * s, 0.5f + 0.5f * c});
    }
    for (std::uint32_t j = 0; j < static_cast<std::uint32_t>(slices); ++j) {
        const std::uint32_t a = centre + 1 + j;
        if (up) {
            tris.insert(tris.end(), {centre, a, a + 1});
        } else {
            tris.insert(tris.end(), {centre, a + 1, a});
        }
    }
}

SceneMesh tessellateSphere(const SceneSphere& sphere) {
    SceneMesh mesh;
    std::vector<std::uint32_t> tris;
    const std::int32_t slices = clampSegments(sphere.segmentCount, 3);
    const std::int32_t stacks = std::max(slices / 2, 2);
    const float r = std::abs(sphere.radius);
    lathe(mesh, tris, stacks, slices, [&](std::int32_t i) {
        const float phi = kPi * static_cast<float>(i) / static_cast<float>(stacks);
        return std::array<float, 4>{r * std::cos(phi), r * std::sin(phi), std::cos(phi), std::sin(phi)};
    });
    mesh.elements.push_back(std::move(tris));
    return mesh;
}

SceneMesh tessellateFrustum(float topRadius, float bottomRadius, float height, std::int32_t radialSegments) {
    SceneMesh mesh;
    std::vector<std::uint32_t> tris;
    const std::int32_t slices = clampSegments(radialSegments, 3);
    const float top = std::abs(topRadius), bottom = std::abs(bottomRadius), h = std::abs(height);
    lathe(mesh, tris, 1, slices, [&](std::int32_t i) {
        return std::array<float, 4>{i == 0 ? h / 2 : -h / 2, i == 0 ? top : bottom, bottom - top, h};
    });
    if (top > 0) cap(mesh, tris, h / 2, top, slices, true);
    if (bottom > 0) cap(mesh, tris, -h / 2, bottom, slices, false);
    mesh.elements.push_back(std::move(tris));
    return mesh;
}

SceneMesh tessellatePyramid(const ScenePyramid& pyramid) {
    SceneMesh mesh;
    std::vector<std::uint32_t> tris;
    const float hx = std::abs(pyramid.width) / 2, hz = std::abs(pyramid.length) / 2, h = pyramid.height;
    const Float3 apex{0, h, 0};
    const Float3 corners[4] = {{-hx, 0, hz}, {hx, 0, hz}, {hx, 0, -hz}, {-hx, 0, -hz}};
    for (int k = 0; k < 4; ++k) {
        pushVertex(mesh, corners[3 - k], {0, -1, 0},
                   {corners[3 - k].x > 0 ? 1.0f : 0.0f, corners[3 - k].z > 0 ? 1.0f : 0.0f});
    }
    addQuad(tris, 0, 1, 2, 3);
    for (int k = 0; k < 4; ++k) {
        const Float3 a = corners[k], b = corners[(k + 1) % 4];
        const Float3 n = normalize(cross(sub(b, a), sub(apex, a)));
        const std::uint32_t base = vertexCount(mesh);
        pushVertex(mesh, a, n, {0, 1});
        pushVertex(mesh, b, n, {1, 1});
        pushVertex(mesh, apex, n, {0.5f, 0});
        tris.insert(tris.end(), {base, base + 1, base + 2});
    }
    mesh.elements.push_back(std::move(tris));
    return mesh;
}

SceneMesh tessellatePlane(const ScenePlane& plane) {
    SceneMesh mesh;
    const float hx = std::abs(plane.width) / 2, hy = std::abs(plane.height) / 2;
    pushVertex(mesh, {-hx, -hy, 0}, {0, 0, 1}, {0, 1});
    pushVertex(mesh, {hx, -hy, 0}, {0, 0, 1}, {1, 1});
    pushVertex(mesh, {hx, hy, 0}, {0, 0, 1}, {1, 0});
    pushVertex(mesh, {-hx, hy, 0}, {0, 0, 1}, {0, 0});
    mesh.elements.push_back({0, 1, 2, 0, 2, 3});
    return mesh;
}

SceneMesh tessellateCustom(const SceneCustomGeometry& custom) {
    SceneMesh mesh;
    const SceneGeometrySource* vertices = custom.firstSource(SceneSourceSemantic::vertex);
    if (vertices == nullptr || vertices->vectorCount() == 0) {
        mesh.elements.resize(custom.elements.size());
        return mesh;
    }
    const auto count = static_cast<std::size_t>(vertices->vectorCount());
    const auto component = [](const SceneGeometrySource& s, std::size_t v, int c) {
        return c < s.componentsPerVector
                   ? s.data[v * static_cast<std::size_t>(s.componentsPerVector) + static_cast<std::size_t>(c)]
                   : 0.0f;
    };
    mesh.positions.resize(count);
    for (std::size_t v = 0; v < count; ++v) {
        mesh.positions[v] = {component(*vertices, v, 0), component(*vertices, v, 1),
                             component(*vertices, v, 2)};
    }
    for (const SceneGeometryElement& element : custom.elements) {
        std::vector<std::uint32_t> tris;
        const std::size_t whole = element.indices.size() / 3 * 3;
        for (std::size_t i = 0; i < whole; i += 3) {
            const auto* t = &element.indices[i];
            if (t[0] < count && t[1] < count && t[2] < count) tris.insert(tris.end(), {t[0], t[1], t[2]});
        }
        mesh.elements.push_back(std::move(tris));
    }
    const SceneGeometrySource* normals = custom.firstSource(SceneSourceSemantic::normal);
    if (normals != nullptr && normals->componentsPerVector >= 3 &&
        static_cast<std::size_t>(normals->vectorCount()) >= count) {
        mesh.normals.resize(count);
        for (std::size_t v = 0; v < count; ++v) {
            mesh.normals[v] = {component(*normals, v, 0), component(*normals, v, 1),
                               component(*normals, v, 2)};
        }
    } else {
        mesh.normals.assign(count, Float3{});
        for (const auto& tris : mesh.elements) {
            for (std::size_t i = 0; i < tris.size(); i += 3) {
                const Float3 a = mesh.positions[tris[i]], b = mesh.positions[tris[i + 1]],
                             c = mesh.positions[tris[i + 2]];
                const Float3 face = cross(sub(b, a), sub(c, a));  // area weighted
                for (int k = 0; k < 3; ++k) mesh.normals[tris[i + k]] = add(mesh.normals[tris[i + k]], face);
            }
        }
        for (Float3& n : mesh.normals) n = normalize(n);
    }
    mesh.texcoords.assign(count, Float2{});
    const SceneGeometrySource* uvs = custom.firstSource(SceneSourceSemantic::texcoord);
    if (uvs != nullptr && uvs->componentsPerVector >= 2 &&
        static_cast<std::size_t>(uvs->vectorCount()) >= count) {
        for (std::size_t v = 0; v < count; ++v)
            mesh.texcoords[v] = {component(*uvs, v, 0), component(*uvs, v, 1)};
    }
    return mesh;
}

}  // namespace

SceneNormalMatrix SceneNormalMatrix::of(const Float4x4& t) {
    // Columns of the linear part; the inverse transpose has columns (c1 x c2, c2 x c0, c0 x c1) / det.
    const auto column = [&t](int c) { return Float3{t.columns[c].x, t.columns[c].y, t.columns[c].z}; };
    const Float3 c0 = column(0), c1 = column(1), c2 = column(2);
    const Float3 k0 = cross(c1, c2), k1 = cross(c2, c0), k2 = cross(c0, c1);
    const float det = dot(c0, k0);
    const float inv = det != 0 ? 1.0f / det : 1.0f;
    SceneNormalMatrix n;
    n.m = {k0.x * inv, k0.y * inv, k0.z * inv, k1.x * inv, k1.y * inv,
           k1.z * inv, k2.x * inv, k2.y * inv, k2.z * inv};
    return n;
}

Float3 SceneNormalMatrix::apply(Float3 v) const {
    // Row i of the inverse transpose is column i of the inverse: n' = x * col0 + y * col1 + z * col2.
    return normalize(Float3{m[0] * v.x + m[3] * v.y + m[6] * v.z, m[1] * v.x + m[4] * v.y + m[7] * v.z,
                            m[2] * v.x + m[5] * v.y + m[8] * v.z});
}

std::int64_t SceneGeometrySource::vectorCount() const {
    if (componentsPerVector <= 0) return 0;
    return static_cast<std::int64_t>(data.size() / static_cast<std::size_t>(componentsPerVector));
}

const SceneGeometrySource* SceneCustomGeometry::firstSource(SceneSourceSemantic semantic) const {
    for (const auto& s : sources) {
        if (s.semantic == semantic) return &s;
    }
    return nullptr;
}

std::size_t SceneMesh::triangleCount() const {
    std::size_t n = 0;
    for (const auto& e : elements) n += e.size() / 3;
    return n;
}

SceneMesh tessellate(const SceneGeometry& geometry) {
    return std::visit(
        [](const auto& shape) -> SceneMesh {
            using T = std::decay_t<decltype(shape)>;
            if constexpr (std::is_same_v<T, SceneBox>) return tessellateBox(shape);
            if constexpr (std::is_same_v<T, SceneSphere>) return tessellateSphere(shape);
            if constexpr (std::is_same_v<T, SceneCylinder>)
                return tessellateFrustum(shape.radius, shape.radius, shape.height, shape.radialSegmentCount);
            if constexpr (std::is_same_v<T, SceneCone>)
                return tessellateFrustum(shape.topRadius, shape.bottomRadius, shape.height,
                                         shape.radialSegmentCount);
            if constexpr (std::is_same_v<T, ScenePyramid>) return tessellatePyramid(shape);
            if constexpr (std::is_same_v<T, ScenePlane>) return tessellatePlane(shape);
            if constexpr (std::is_same_v<T, SceneCustomGeometry>) return tessellateCustom(shape);
        },
        geometry.shape);
}

SceneNodeRef SceneNode::flattenedClone() const {
    struct Piece {
        const SceneGeometry* geometry;
        Float4x4 transform;
    };
    std::vector<Piece> pieces;
    const auto gather = [&pieces](const auto& self, const SceneNode& node,
                                  const Float4x4& transform) -> void {
        if (node.geometry_) pieces.push_back({node.geometry_.get(), transform});
        for (const auto& child : node.children_) {
            if (child) self(self, *child, transform * child->transform_);
        }
    };
    gather(gather, *this, Float4x4::identity());

    auto clone = std::make_shared<SceneNode>();
    clone->transform_ = transform_;
    clone->castsShadow_ = castsShadow_;
    clone->categoryBitMask_ = categoryBitMask_;
    if (pieces.empty()) return clone;

    std::unordered_map<const SceneGeometry*, SceneMesh> meshes;
    std::unordered_map<const SceneMaterial*, std::size_t> elementOfMaterial;
    std::vector<float> positions, normals, texcoords;
    std::vector<SceneGeometryElement> elements;
    std::vector<SceneMaterialRef> materials;
    for (const Piece& piece : pieces) {
        auto found = meshes.find(piece.geometry);
        if (found == meshes.end()) found = meshes.emplace(piece.geometry, tessellate(*piece.geometry)).first;
        const SceneMesh& mesh = found->second;
        const auto base = static_cast<std::uint32_t>(positions.size() / 3);
        const SceneNormalMatrix normalMatrix = SceneNormalMatrix::of(piece.transform);
        const bool mirrored = piece.transform.linearDeterminant() < 0;
        for (std::size_t v = 0; v < mesh.positions.size(); ++v) {
            const Float3 p = piece.transform.transformPoint(mesh.positions[v]);
            const Float3 n = normalMatrix.apply(mesh.normals[v]);
            positions.insert(positions.end(), {p.x, p.y, p.z});
            normals.insert(normals.end(), {n.x, n.y, n.z});
            texcoords.insert(texcoords.end(), {mesh.texcoords[v].x, mesh.texcoords[v].y});
        }
        const auto& sourceMaterials = piece.geometry->materials;
        for (std::size_t e = 0; e < mesh.elements.size(); ++e) {
            const auto& tris = mesh.elements[e];
            if (tris.empty()) continue;
            const SceneMaterial* material =
                sourceMaterials.empty() ? nullptr : sourceMaterials[e % sourceMaterials.size()].get();
            auto slot = elementOfMaterial.find(material);
            if (slot == elementOfMaterial.end()) {
                slot = elementOfMaterial.emplace(material, elements.size()).first;
                elements.emplace_back();
                materials.push_back(std::make_shared<SceneMaterial>(material ? *material : SceneMaterial{}));
            }
            auto& out = elements[slot->second].indices;
            for (std::size_t i = 0; i < tris.size(); i += 3) {
                if (mirrored) {
                    out.insert(out.end(), {base + tris[i], base + tris[i + 2], base + tris[i + 1]});
                } else {
                    out.insert(out.end(), {base + tris[i], base + tris[i + 1], base + tris[i + 2]});
                }
            }
        }
    }
    SceneCustomGeometry merged;
    merged.sources.push_back({SceneSourceSemantic::vertex, 3, std::move(positions)});
    merged.sources.push_back({SceneSourceSemantic::normal, 3, std::move(normals)});
    merged.sources.push_back({SceneSourceSemantic::texcoord, 2, std::move(texcoords)});
    merged.elements = std::move(elements);
    clone->geometry_ =
        std::make_shared<SceneGeometry>(SceneGeometry{std::move(merged), std::move(materials)});
    return clone;
}

}  // namespace vantry::creator
