// Static chunk batching, measured: the same seeded city block of 10,000 primitives drawn offscreen with
// the studio's GL context, once with one draw per node (its model matrix and colour set per draw; the
// baseline) and once as batched chunks (one draw per chunk material), plus the time batching takes.
// Both modes draw the same triangles from one vertex buffer with the same state into a 1280x720 target;
// each iteration is one frame ended by glFinish.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "creator/thermal/CityBlockScene.h"
#include "creator/thermal/OruStaticChunkBatcherV1300.h"
#include "platform/gl/EglOffscreenContext.h"

namespace {

using namespace vantry::creator;
using vantry::Float4x4;

constexpr std::int64_t kNodes = 10000;
constexpr std::uint64_t kSeed = 1300;
constexpr std::int64_t kMaxVertsPerChunk = 8000;
constexpr int kWidth = 1280, kHeight = 720;

const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
uniform mat4 uViewProjection;
uniform mat4 uModel;
out vec3 vNormal;
void main() {
    vNormal = mat3(uModel) * aNormal;
    gl_Position = uViewProjection * uModel * vec4(aPosition, 1.0);
})";

const char* kFragmentShader = R"(#version 330 core
in vec3 vNormal;
uniform vec4 uColour;
out vec4 fragColour;
void main() {
    float light = 0.35 + 0.65 * max(dot(normalize(vNormal), normalize(vec3(0.4, 1.0, 0.3))), 0.0);
    fragColour = vec4(uColour.rgb * light, uColour.a);
})";

struct Draw {
    Float4x4 model;
    std::array<float, 4> colour;
    GLsizei count;
    std::size_t firstIndex;
};

// Appends a custom geometry's vertices and elements to the shared buffers; one draw per element.
void appendGeometry(const SceneGeometry& g, const Float4x4& model, std::vector<float>& vertices,
                    std::vector<std::uint32_t>& indices, std::vector<Draw>& draws) {
    const auto& custom = std::get<SceneCustomGeometry>(g.shape);
    const auto& pos = custom.firstSource(SceneSourceSemantic::vertex)->data;
    const auto& nor = custom.firstSource(SceneSourceSemantic::normal)->data;
    const auto base = static_cast<std::uint32_t>(vertices.size() / 6);
    for (std::size_t v = 0; v < pos.size() / 3; ++v) {
        vertices.insert(vertices.end(), {pos[3 * v], pos[3 * v + 1], pos[3 * v + 2], nor[3 * v],
                                         nor[3 * v + 1], nor[3 * v + 2]});
    }
    for (std::size_t e = 0; e < custom.elements.size(); ++e) {
        Draw d{model, g.materials[e]->diffuse, static_cast<GLsizei>(custom.elements[e].indices.size()),
               indices.size()};
        for (std::uint32_t i : custom.elements[e].indices) indices.push_back(base + i);
        draws.push_back(d);
    }
}

Float4x4 viewProjection() {
    // Perspective (60 degrees, 16:9) from above the block looking at its centre.
    const float f = 1.0f / std::tan(0.5f * 60.0f * 3.14159265f / 180.0f), aspect = 16.0f / 9.0f, n = 1,
                fa = 2000;
    const Float4x4 p{{{f / aspect, 0, 0, 0},
                      {0, f, 0, 0},
                      {0, 0, (fa + n) / (n - fa), -1},
                      {0, 0, 2 * fa * n / (n - fa), 0}}};
    const Float4x4 view = Float4x4::translation(0, 0, -420) * Float4x4::rotation(0.75f, {1, 0, 0});
    return p * view;
}

class DrawScene {
  public:
    // batched: draw the batcher's chunks; otherwise each input node flattened on its own.
    bool build(bool batched) {
        context_ = vantry::platform::gl::EglOffscreenContext::create();
        if (!context_ || !context_->makeCurrent()) return false;
        std::fprintf(stderr, "GL renderer: %s\n", context_->renderer().c_str());
        const CityBlockScene scene = buildSeededCityBlock(kNodes, kSeed);
        std::vector<float> vertices;
        std::vector<std::uint32_t> indices;
        if (batched) {
            const auto result =
                OruStaticChunkBatcherV1300::batchStaticNodes(scene.nodes, kMaxVertsPerChunk, 1, true);
            for (const auto& chunk : result.chunks)
                appendGeometry(*chunk->geometry(), chunk->transform(), vertices, indices, draws_);
        } else {
            for (const auto& node : scene.nodes) {
                const SceneNodeRef flat = node->flattenedClone();
                appendGeometry(*flat->geometry(), flat->transform(), vertices, indices, draws_);
            }
        }
        triangles_ = indices.size() / 3;
        program_ = link();
        glGenVertexArrays(1, &vao_);
        glBindVertexArray(vao_);
        glGenBuffers(2, buffers_);
        glBindBuffer(GL_ARRAY_BUFFER, buffers_[0]);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)),
                     vertices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(std::uint32_t)),
                     indices.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float), nullptr);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 6 * sizeof(float),
                              reinterpret_cast<void*>(3 * sizeof(float)));
        glGenFramebuffers(1, &fbo_);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glGenRenderbuffers(2, renderbuffers_);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers_[0]);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers_[0]);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers_[1]);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kWidth, kHeight);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, renderbuffers_[1]);
        return program_ != 0 && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }

    void frame() {
        glViewport(0, 0, kWidth, kHeight);
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
        glClearColor(0.05f, 0.06f, 0.08f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glUseProgram(program_);
        glBindVertexArray(vao_);
        glUniformMatrix4fv(glGetUniformLocation(program_, "uViewProjection"), 1, GL_FALSE,
                           viewProjection().data());
        const GLint model = glGetUniformLocation(program_, "uModel");
        const GLint colour = glGetUniformLocation(program_, "uColour");
        for (const Draw& d : draws_) {
            glUniformMatrix4fv(model, 1, GL_FALSE, d.model.data());
            glUniform4fv(colour, 1, d.colour.data());
            glDrawElements(GL_TRIANGLES, d.count, GL_UNSIGNED_INT,
                           reinterpret_cast<void*>(d.firstIndex * sizeof(std::uint32_t)));
        }
        glFinish();
    }

    bool makeCurrent() { return context_ && context_->makeCurrent(); }
    std::size_t drawCalls() const { return draws_.size(); }
    std::size_t triangles() const { return triangles_; }

    ~DrawScene() {
        if (!context_) return;
        glDeleteFramebuffers(1, &fbo_);
        glDeleteRenderbuffers(2, renderbuffers_);
        glDeleteBuffers(2, buffers_);
        glDeleteVertexArrays(1, &vao_);
        glDeleteProgram(program_);
        context_->doneCurrent();
    }

  private:
    static GLuint compile(GLenum type, const char* source) {
        const GLuint s = glCreateShader(type);
        glShaderSource(s, 1, &source, nullptr);
        glCompileShader(s);
        GLint ok = 0;
        glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
        return ok ? s : 0;
    }
    static GLuint link() {
        const GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader),
                     fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
        if (!vs || !fs) return 0;
        const GLuint p = glCreateProgram();
        glAttachShader(p, vs);
        glAttachShader(p, fs);
        glLinkProgram(p);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint ok = 0;
        glGetProgramiv(p, GL_LINK_STATUS, &ok);
        return ok ? p : 0;
    }

    std::unique_ptr<vantry::platform::gl::EglOffscreenContext> context_;
    std::vector<Draw> draws_;
    std::size_t triangles_ = 0;
    GLuint program_ = 0, vao_ = 0, fbo_ = 0;
    GLuint buffers_[2] = {0, 0}, renderbuffers_[2] = {0, 0};
};

// Built once per mode (benchmark calls each function several times while it settles the iteration count).
DrawScene* sceneFor(bool batched) {
    static std::unique_ptr<DrawScene> scenes[2];
    auto& scene = scenes[batched ? 1 : 0];
    if (!scene) {
        scene = std::make_unique<DrawScene>();
        if (!scene->build(batched)) scene.reset();
    }
    return scene.get();
}

void drawFrames(benchmark::State& state, bool batched) {
    DrawScene* scene = sceneFor(batched);
    if (scene == nullptr || !scene->makeCurrent()) {
        state.SkipWithError("no GL 3.3 context or framebuffer");
        return;
    }
    scene->frame();  // warm up the driver's caches
    for (auto _ : state) scene->frame();
    state.counters["drawCalls"] = static_cast<double>(scene->drawCalls());
    state.counters["triangles"] = static_cast<double>(scene->triangles());
}

// Baseline: one draw per input node (per node material).
void BM_DrawCityBlock_PerNode(benchmark::State& state) {
    drawFrames(state, false);
}
BENCHMARK(BM_DrawCityBlock_PerNode)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_DrawCityBlock_Batched(benchmark::State& state) {
    drawFrames(state, true);
}
BENCHMARK(BM_DrawCityBlock_Batched)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// What batching itself costs: gathering, packing and flattening the 10,000 nodes into chunks.
void BM_BatchStaticNodes(benchmark::State& state) {
    const CityBlockScene scene = buildSeededCityBlock(kNodes, kSeed);
    std::int64_t chunks = 0;
    for (auto _ : state) {
        auto result = OruStaticChunkBatcherV1300::batchStaticNodes(scene.nodes, kMaxVertsPerChunk, 1, true);
        chunks = result.receipt.batchedChunkCount;
        benchmark::DoNotOptimize(result);
    }
    state.counters["chunks"] = static_cast<double>(chunks);
}
BENCHMARK(BM_BatchStaticNodes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
