// A PipeWire video source of the test's own: 320x240 BGRx pictures at 30 per second whose
// colour and a bar move every picture, in shared-memory buffers, as a screen cast offers them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantry::testing {

class TestVideoProducer {
  public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;

    // Connects to the PipeWire daemon of $XDG_RUNTIME_DIR; empty with `why` set on failure.
    static std::unique_ptr<TestVideoProducer> start(std::string& why);
    ~TestVideoProducer();
    std::uint32_t nodeId() const { return nodeId_; }

    struct Impl;

  private:
    TestVideoProducer() = default;
    std::unique_ptr<Impl> impl_;
    std::uint32_t nodeId_ = 0;
};

}  // namespace vantry::testing
