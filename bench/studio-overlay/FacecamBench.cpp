// Facecam cost per 640 x 480 camera frame: segmentation alone (both models, 1 and 2 OpenCV
// threads), the edge refinement alone, and the whole frame processing in each background mode
// with refined or raw edges. Each benchmark records every iteration and reports the median and
// 95th percentile of its wall time as counters (p50_ms, p95_ms) and the median of the calling
// thread's CPU time (cpu_p50_ms: with one OpenCV thread all the work runs on the calling thread,
// so this is the frame's cost on one core even when other processes share the machine); the
// full-camera mode (mirror and copy, no segmentation) is the baseline for ratios of the whole
// processing, segmentation alone (general model, one thread) the baseline for the refinement.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include <QImage>
#include <opencv2/imgproc.hpp>

#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "platform/segmentation/PersonSegmenter.h"

using namespace vantry;
using Mode = creator::OruFacecamBackgroundModeV1045;

namespace {

// A camera-sized frame: the scikit-image portrait when present, else a synthetic picture.
const cv::Mat& cameraFrame() {
    static const cv::Mat frame = [] {
        QImage photo(QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/astronaut.png"));
        cv::Mat bgra;
        if (!photo.isNull()) {
            photo = photo.convertToFormat(QImage::Format_ARGB32);
            bgra = cv::Mat(photo.height(), photo.width(), CV_8UC4, photo.bits(),
                           std::size_t(photo.bytesPerLine()))
                       .clone();
        } else {
            bgra = cv::Mat(480, 640, CV_8UC4);
            cv::randu(bgra, cv::Scalar::all(0), cv::Scalar::all(256));
        }
        cv::Mat out;
        cv::resize(bgra, out, cv::Size(640, 480));
        return out;
    }();
    return frame;
}

void reportPercentiles(benchmark::State& state, std::vector<double>& ms, std::vector<double>& cpuMs) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    std::sort(cpuMs.begin(), cpuMs.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    state.counters["cpu_p50_ms"] = cpuMs[cpuMs.size() / 2];
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

template <typename F>
void timeEach(benchmark::State& state, F&& body) {
    std::vector<double> ms, cpuMs;
    ms.reserve(std::size_t(state.max_iterations));
    cpuMs.reserve(std::size_t(state.max_iterations));
    for (auto _ : state) {
        const double c0 = threadCpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        body();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        cpuMs.push_back(threadCpuMs() - c0);
    }
    reportPercentiles(state, ms, cpuMs);
}

std::unique_ptr<platform::OnnxPersonSegmenter> loadOrSkip(benchmark::State& state,
                                                          platform::SegmentationModel m, int threads) {
    try {
        return std::make_unique<platform::OnnxPersonSegmenter>(m, threads);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// Arguments: model (0 general 256x256, 1 landscape 256x144), OpenCV threads.
void BM_Segmentation(benchmark::State& state) {
    const auto model =
        state.range(0) == 0 ? platform::SegmentationModel::general : platform::SegmentationModel::landscape;
    auto segmenter = loadOrSkip(state, model, int(state.range(1)));
    if (!segmenter) return;
    const cv::Mat& frame = cameraFrame();
    segmenter->segment(frame);  // warm-up: first inference allocates the network's buffers
    timeEach(state, [&] { benchmark::DoNotOptimize(segmenter->segment(frame)); });
}
BENCHMARK(BM_Segmentation)
    ->ArgNames({"landscape", "threads"})
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

// Arguments: mode (0 cutout, 1 blur, 2 full camera), OpenCV threads, refined edges. Mirroring
// on, as by default.
void BM_ProcessFrame(benchmark::State& state) {
    const Mode mode = creator::OruFacecamBackgroundModeV1045::allCases()[std::size_t(state.range(0))];
    auto segmenter = loadOrSkip(state, platform::SegmentationModel::general, int(state.range(1)));
    if (!segmenter) return;
    creator::FacecamFrameProcessor processor(segmenter.get());
    const cv::Mat& frame = cameraFrame();
    const creator::FacecamFrameSettings settings{mode, true, state.range(2) != 0};
    processor.process(frame, settings);
    timeEach(state, [&] { benchmark::DoNotOptimize(processor.process(frame, settings)); });
}
BENCHMARK(BM_ProcessFrame)
    ->ArgNames({"mode", "threads", "refine"})
    ->Args({2, 1, 1})
    ->Args({0, 1, 0})
    ->Args({0, 1, 1})
    ->Args({1, 1, 0})
    ->Args({1, 1, 1})
    ->Args({0, 2, 1})
    ->Args({1, 2, 1})
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

// Smoothing and refinement of one frame's mask, on one OpenCV thread: 0 = the facecam's
// refiner (guided filter fitted at the working size, temporal average and feather at the
// frame's size), 1 = the guided filter alone computed in float at the frame's full size.
void BM_EdgeRefinement(benchmark::State& state) {
    auto segmenter = loadOrSkip(state, platform::SegmentationModel::general, 1);
    if (!segmenter) return;
    const cv::Mat& frame = cameraFrame();
    const cv::Mat mask = segmenter->segment(frame)->clone();
    creator::FacecamEdgeRefiner refiner;
    cv::Mat refined;
    const bool fullSizeFloat = state.range(0) == 1;
    refiner.refine(mask, frame, refined);  // history in place, as in a running feed
    timeEach(state, [&] {
        if (fullSizeFloat) {
            creator::FacecamEdgeRefiner::guidedFilterFullSize(mask, frame, refined);
        } else {
            refiner.refine(mask, frame, refined);
        }
        benchmark::DoNotOptimize(refined.data);
    });
}
BENCHMARK(BM_EdgeRefinement)
    ->ArgName("fullSizeFloat")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

// The blur background alone: 0 = the facecam's (quarter-size) blur, 1 = a direct full-size
// sigma-14 Gaussian blur, both with edge pixels repeated, on one OpenCV thread.
void BM_BlurBackground(benchmark::State& state) {
    cv::setNumThreads(1);
    const cv::Mat& frame = cameraFrame();
    cv::Mat blurred, small, smallBlurred;
    const bool direct = state.range(0) == 1;
    timeEach(state, [&] {
        if (direct) {
            cv::GaussianBlur(frame, blurred, cv::Size(0, 0), creator::kFacecamBlurSigma,
                             creator::kFacecamBlurSigma, cv::BORDER_REPLICATE);
        } else {
            creator::facecamBlurBackground(frame, blurred, small, smallBlurred);
        }
        benchmark::DoNotOptimize(blurred.data);
    });
}
BENCHMARK(BM_BlurBackground)
    ->ArgName("direct")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

// Agreement of the landscape model's mask with the general model's on the test photograph as a
// 640 x 480 camera frame (stretched, mirrored, and the figure moved to either side): the
// intersection over union of the two masks, thresholded at one half, at the frame's size.
// Counters: iou_min and iou_mean over the variants (the frame stretched to the model's 16:9
// input), letterboxed_iou_* with the frame between black bars instead.
void BM_LandscapeMaskAgreement(benchmark::State& state) {
    auto general = loadOrSkip(state, platform::SegmentationModel::general, 1);
    auto landscape = loadOrSkip(state, platform::SegmentationModel::landscape, 1);
    if (!general || !landscape) return;
    const cv::Mat& base = cameraFrame();
    std::vector<cv::Mat> variants;
    variants.push_back(base);
    cv::Mat flipped;
    cv::flip(base, flipped, 1);
    variants.push_back(flipped);
    for (const int shift : {-120, 120}) {
        cv::Mat moved(base.size(), base.type(), cv::Scalar(40, 40, 40, 255));
        const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, shift, 0, 1, 0);
        cv::warpAffine(base, moved, m, base.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        variants.push_back(moved);
    }
    const auto binary = [](const cv::Mat& mask, cv::Size size) {
        cv::Mat scaled, out;
        cv::resize(mask, scaled, size, 0, 0, cv::INTER_LINEAR);
        cv::compare(scaled, 128, out, cv::CMP_GE);
        return out;
    };
    // The landscape model given the 4:3 frame centred between black bars (16:9, undistorted);
    // the mask's middle part is the frame's.
    const auto letterboxed = [&](const cv::Mat& frame) {
        const int padded = frame.rows * 16 / 9;
        const int left = (padded - frame.cols) / 2;
        cv::Mat boxed;
        cv::copyMakeBorder(frame, boxed, 0, 0, left, padded - frame.cols - left, cv::BORDER_CONSTANT,
                           cv::Scalar(0, 0, 0, 255));
        const cv::Mat whole = binary(landscape->segment(boxed)->clone(), boxed.size());
        return whole(cv::Rect(left, 0, frame.cols, frame.rows)).clone();
    };
    const auto iouOf = [](const cv::Mat& a, const cv::Mat& b) {
        const double either = cv::countNonZero(a | b);
        return either > 0 ? cv::countNonZero(a & b) / either : 1.0;
    };
    double minIoU = 1, sumIoU = 0, minBoxed = 1, sumBoxed = 0;
    for (auto _ : state) {
        minIoU = minBoxed = 1;
        sumIoU = sumBoxed = 0;
        for (const cv::Mat& frame : variants) {
            const cv::Mat a = binary(general->segment(frame)->clone(), frame.size());
            const double iou = iouOf(a, binary(landscape->segment(frame)->clone(), frame.size()));
            const double boxed = iouOf(a, letterboxed(frame));
            minIoU = std::min(minIoU, iou);
            sumIoU += iou;
            minBoxed = std::min(minBoxed, boxed);
            sumBoxed += boxed;
        }
    }
    state.counters["iou_min"] = minIoU;
    state.counters["iou_mean"] = sumIoU / double(variants.size());
    state.counters["letterboxed_iou_min"] = minBoxed;
    state.counters["letterboxed_iou_mean"] = sumBoxed / double(variants.size());
}
BENCHMARK(BM_LandscapeMaskAgreement)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
