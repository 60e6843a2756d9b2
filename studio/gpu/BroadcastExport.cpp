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
#include "studio/gpu/EngineImpl.h"
#include "studio/gpu/VantryMetalEngine.h"

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

}  // namespace

std::int64_t VantryMetalEngine::exportBroadcastMP4(int width, int height, double durationSec,
                                                   const std::filesystem::path& url,
                                                   const ExportProgress& progress) {
    const std::int64_t frameTotal = exportFrameTotal(durationSec);
    if (width < 1 || height < 1) throw std::invalid_argument("export size must be at least 1 x 1");

    namespace fs = std::filesystem;
    // The movie is written beside url and takes its name when finished; a folder, a device
    // or a pipe under that name is an error, never something to replace.
    platform::SafeOutput output(url);

    platform::VideoWriterSettings settings;
    settings.width = width;
    settings.height = height;
    settings.fps = kExportFPS;
    settings.averageBitRate = kExportBitRate;
    platform::VideoWriter writer(output.temporaryPath(), settings);

    Impl* d = impl_.get();
    ExportFaultsForTesting faults;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        faults = d->exportFaults;
    }
    using Frame = std::optional<std::vector<std::uint8_t>>;
    const auto renderFrame = [d, width, height, &faults](std::int64_t n) {
        const bool forcedFailure = faults.renderFails && faults.renderFails(n);
        return d->worker->submit([d, width, height, n, forcedFailure]() -> Frame {
            if (forcedFailure) return std::nullopt;
            try {
                return d->renderOnWorker(width, height, static_cast<float>(n) / 30.0f);
            } catch (const std::exception&) {
                return std::nullopt;
            }
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
                if (faults.writerFails && faults.writerFails(n)) {
                    throw platform::VideoWriterError("Video writer: forced failure at frame " +
                                                     std::to_string(n));
                }
                writer.appendBGRA(frame->data(), std::ptrdiff_t(width) * 4, n);
            } catch (const platform::VideoWriterError&) {
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
        writer.finish();
    } catch (const platform::VideoWriterError&) {
        // The file is closed as far as it goes; its size tells the caller what is left.
    }
    output.commit();
    std::error_code ec;
    const auto size = fs::file_size(url, ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
}

}  // namespace vantry
