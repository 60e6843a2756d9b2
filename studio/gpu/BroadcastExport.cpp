// Offline MP4 export of the studio: frames rendered on the engine's GL worker while
// the calling thread converts and encodes the previous one.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <future>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/files/SafeOutput.h"
#include "platform/video/VideoWriter.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "studio/gpu/VantryMetalEngineImpl.h"

namespace vantry {
namespace {

constexpr int kExportFPS = 30;
constexpr std::int64_t kExportBitRate = 16'000'000;

std::int64_t exportFrameTotal(double durationSec) {
    const double frames = std::trunc(durationSec * kExportFPS);
    // A NaN or out-of-range duration would make the conversion undefined.
    if (!std::isfinite(frames) || frames >= 9.2e18 || frames <= -9.2e18) {
        throw std::invalid_argument("export duration is not a finite number of seconds");
    }
    return std::max<std::int64_t>(30, static_cast<std::int64_t>(frames));
}

class WriterSink final : public ExportVideoSink {
  public:
    WriterSink(const std::filesystem::path& path, const ExportVideoFormat& format,
               platform::media::H264Choice encoder)
        : writer_(path, settings(format, encoder)) {}
    void appendBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t frame) override {
        writer_.appendBGRA(pixels, stride, frame);
    }
    void finish() override { writer_.finish(); }

  private:
    static platform::VideoWriterSettings settings(const ExportVideoFormat& format,
                                                  platform::media::H264Choice encoder) {
        platform::VideoWriterSettings s;
        s.encoder = encoder;
        s.width = format.width;
        s.height = format.height;
        s.fps = format.fps;
        s.averageBitRate = format.averageBitRate;
        return s;
    }
    platform::VideoWriter writer_;
};

}  // namespace

std::unique_ptr<ExportVideoSink> openMP4VideoSink(const std::filesystem::path& path,
                                                  const ExportVideoFormat& format,
                                                  platform::media::H264Choice encoder) {
    return std::make_unique<WriterSink>(path, format, encoder);
}

std::int64_t VantryMetalEngine::exportBroadcastMP4(int width, int height, double durationSec,
                                                   const std::filesystem::path& url,
                                                   const ExportProgress& progress, ProgramCanvas canvas) {
    const std::int64_t frameTotal = exportFrameTotal(durationSec);
    if (width < 1 || height < 1) throw std::invalid_argument("export size must be at least 1 x 1");

    namespace fs = std::filesystem;
    // The movie is written beside url and takes its name when finished; a folder, a device
    // or a pipe under that name is an error, never something to replace.
    platform::SafeOutput output(url);

    Impl* d = impl_.get();
    const ExportVideoFormat format{width, height, kExportFPS, kExportBitRate};
    std::unique_ptr<ExportVideoSink> writer = d->services.openVideoSink
                                                  ? d->services.openVideoSink(output.temporaryPath(), format)
                                                  : openMP4VideoSink(output.temporaryPath(), format);
    if (!writer) throw std::runtime_error("no video sink for the export");

    // A frame's pixels: shared with the engine's kept frame, so a frame whose key equals the
    // previous one (a still angle) is neither drawn nor copied again.
    using Frame = std::shared_ptr<const std::vector<std::uint8_t>>;
    const auto renderFrame = [d, width, height, canvas](std::int64_t n) {
        return d->worker->submit([d, width, height, n, canvas]() -> Frame {
            const float time = static_cast<float>(n) / 30.0f;
            if (!d->services.exportFrame) {
                try {
                    return d->renderSharedOnWorker(width, height, time, canvas).pixels;
                } catch (const std::exception&) {
                    return nullptr;
                }
            }
            const auto render = [&]() -> ExportFrame {
                try {
                    return d->renderOnWorker(width, height, time, canvas);
                } catch (const std::exception&) {
                    return std::nullopt;
                }
            };
            ExportFrame made = d->services.exportFrame(n, render);
            return made ? std::make_shared<const std::vector<std::uint8_t>>(std::move(*made)) : nullptr;
        });
    };

    // Frame n + 1 renders on the GL worker while frame n is converted and encoded here.
    std::future<Frame> next = renderFrame(0);
    for (std::int64_t n = 0; n < frameTotal; ++n) {
        Frame frame = next.get();
        if (n + 1 < frameTotal) next = renderFrame(n + 1);
        bool writerFailed = false;
        if (frame) {
            try {
                writer->appendBGRA(frame->data(), std::ptrdiff_t(width) * 4, n);
            } catch (const std::exception&) {
                writerFailed = true;
            }
        }
        // A frame that failed to render is skipped; its number stays missing.
        if (progress) progress(n + 1, frameTotal);
        if (writerFailed) {
            if (next.valid()) next.wait();
            break;
        }
    }

    try {
        writer->finish();
    } catch (const std::exception&) {
        // The file is closed as far as it goes; its size tells the caller what is left.
    }
    writer.reset();
    output.commit();
    std::error_code ec;
    const auto size = fs::file_size(url, ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
}

}  // namespace vantry
