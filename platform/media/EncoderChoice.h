// Which H.264 encoder a recording, an export or a stream uses: NVENC (NVIDIA) or VA-API (Intel
// and AMD through Mesa) where the machine has the device, FFmpeg has the encoder and a test
// encode succeeds; libx264 otherwise. The decision itself is plain logic over a probe, so a fake
// probe can stand in for hardware this machine lacks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantry::platform::media {

enum class H264Backend { x264, vaapi, nvenc };
// What the user asks for: `automatic` takes the first hardware encoder that works, else x264.
// The others name one H264Backend each, in the same order.
enum class H264Choice { automatic, x264, vaapi, nvenc };

// "auto", "x264", "vaapi", "nvenc"; nullopt for anything else.
std::optional<H264Choice> parseH264Choice(std::string_view text);
const char* h264ChoiceName(H264Choice choice);
// "libx264", "h264_vaapi", "h264_nvenc": FFmpeg's name of the encoder.
const char* h264EncoderName(H264Backend backend);
// "x264 (software)", "VA-API (h264_vaapi)", "NVENC (h264_nvenc)": for messages and doctor.
const char* h264BackendTitle(H264Backend backend);
// The help text of the --encoder option, shared by the commands that take it.
extern const char* const kEncoderOptionHelp;

// What one hardware encoder needs, asked in order; each answer is the reason it is not used, or
// empty when the step passed.
class H264Probe {
  public:
    virtual ~H264Probe() = default;
    virtual std::string missingEncoder(H264Backend backend) const = 0;  // FFmpeg build
    virtual std::string missingDevice(H264Backend backend) const = 0;   // /dev/dri, /dev/nvidia0
    virtual std::string failedTestEncode(H264Backend backend) const = 0;
};

struct H264Finding {
    H264Backend backend = H264Backend::x264;
    std::string problem;  // empty: usable
};

// The outcome: the encoder to use, or (an explicit hardware choice that does not work) an error.
struct H264Decision {
    H264Backend backend = H264Backend::x264;
    std::string error;                  // non-empty: nothing is opened
    std::vector<H264Finding> findings;  // every hardware encoder asked about, in order
};

// The hardware encoders in the order `automatic` tries them.
inline constexpr H264Backend kHardwareH264[] = {H264Backend::nvenc, H264Backend::vaapi};

// Asks the probe only what the choice needs (x264 asks nothing; a hardware encoder whose build
// or device is missing is not test-encoded).
H264Decision decideH264(H264Choice choice, const H264Probe& probe);

}  // namespace vantry::platform::media
