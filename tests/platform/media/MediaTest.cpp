// The media layer's own logic: which H.264 encoder a choice gets on a machine (through a fake
// probe), and the blanking of secrets in FFmpeg's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/media/EncoderChoice.h"
#include "platform/media/MediaRuntime.h"

namespace {

using namespace vantry::platform::media;

// A machine described by what fails for each hardware encoder; records every question asked.
class FakeProbe final : public H264Probe {
  public:
    std::map<H264Backend, std::string> noEncoder, noDevice, badTestEncode;
    mutable std::vector<std::string> asked;

    std::string missingEncoder(H264Backend b) const override { return answer("build", b, noEncoder); }
    std::string missingDevice(H264Backend b) const override { return answer("device", b, noDevice); }
    std::string failedTestEncode(H264Backend b) const override { return answer("test", b, badTestEncode); }

  private:
    std::string answer(const char* step, H264Backend b,
                       const std::map<H264Backend, std::string>& fails) const {
        asked.push_back(std::string(step) + ":" + h264EncoderName(b));
        const auto found = fails.find(b);
        return found == fails.end() ? "" : found->second;
    }
};

constexpr auto x264 = H264Backend::x264;
constexpr auto vaapi = H264Backend::vaapi;
constexpr auto nvenc = H264Backend::nvenc;

TEST(H264Choice, PicksAWorkingHardwareEncoderElseFallsBackToX264) {
    struct Case {
        const char* name;
        H264Choice choice;
        std::map<H264Backend, std::string> noEncoder, noDevice, badTest;
        H264Backend expected;
        bool fails;
    };
    const std::map<H264Backend, std::string> none;
    const Case cases[] = {
        {"auto on a machine with both takes NVENC", H264Choice::automatic, none, none, none, nvenc, false},
        {"auto without an NVIDIA device takes VA-API",
         H264Choice::automatic,
         none,
         {{nvenc, "no device"}},
         none,
         vaapi,
         false},
        {"auto whose test encodes fail falls back",
         H264Choice::automatic,
         none,
         none,
         {{nvenc, "bad"}, {vaapi, "bad"}},
         x264,
         false},
        {"auto on a build without hardware encoders",
         H264Choice::automatic,
         {{nvenc, "no build"}, {vaapi, "no build"}},
         none,
         none,
         x264,
         false},
        {"x264 asks for x264", H264Choice::x264, none, none, none, x264, false},
        {"vaapi where it works", H264Choice::vaapi, none, none, none, vaapi, false},
        {"vaapi without a render node is an error",
         H264Choice::vaapi,
         none,
         {{vaapi, "no render node"}},
         none,
         x264,
         true},
        {"nvenc whose test encode fails is an error",
         H264Choice::nvenc,
         none,
         none,
         {{nvenc, "driver"}},
         x264,
         true},
    };
    for (const Case& c : cases) {
        FakeProbe probe;
        probe.noEncoder = c.noEncoder;
        probe.noDevice = c.noDevice;
        probe.badTestEncode = c.badTest;
        const H264Decision d = decideH264(c.choice, probe);
        EXPECT_EQ(d.backend, c.expected) << c.name;
        EXPECT_EQ(!d.error.empty(), c.fails) << c.name << ": " << d.error;
    }
}

TEST(H264Choice, AsksOnlyWhatTheDecisionNeedsAndSaysWhyAHardwareEncoderIsNotUsed) {
    FakeProbe probe;
    probe.noEncoder[nvenc] = "this FFmpeg build has no h264_nvenc";
    probe.noDevice[vaapi] = "no GPU render node (/dev/dri/renderD*)";
    const H264Decision automatic = decideH264(H264Choice::automatic, probe);
    EXPECT_EQ(automatic.backend, x264);
    EXPECT_EQ(probe.asked,
              (std::vector<std::string>{"build:h264_nvenc", "build:h264_vaapi", "device:h264_vaapi"}))
        << "no test encode where the build or the device is missing";
    ASSERT_EQ(automatic.findings.size(), 2u);
    EXPECT_EQ(automatic.findings[1].problem, "no GPU render node (/dev/dri/renderD*)");

    probe.asked.clear();
    EXPECT_EQ(decideH264(H264Choice::x264, probe).backend, x264);
    EXPECT_TRUE(probe.asked.empty()) << "x264 needs no probing";

    const H264Decision vaapiWanted = decideH264(H264Choice::vaapi, probe);
    EXPECT_EQ(vaapiWanted.error,
              "VA-API (h264_vaapi) cannot encode on this machine: no GPU render node "
              "(/dev/dri/renderD*)");
}

TEST(H264Choice, NamesRoundTripAndUnknownNamesAreRefused) {
    for (const H264Choice c : {H264Choice::automatic, H264Choice::x264, H264Choice::vaapi, H264Choice::nvenc})
        EXPECT_EQ(parseH264Choice(h264ChoiceName(c)), c);
    EXPECT_EQ(parseH264Choice("libx264"), std::nullopt);
    EXPECT_EQ(parseH264Choice(""), std::nullopt);
}

TEST(LogSecrets, BlanksTheLongestSecretWholeAndKeepsSharedOnesUntilTheLastOwnerGoes) {
    EXPECT_EQ(blankSecrets("rtmp://h/app/key123?t=key", {"key", "key123"}), "rtmp://h/app/****?t=****");
    EXPECT_EQ(blankSecrets("nothing here", {""}), "nothing here");
    // Only where a secret stands on its own: a short one inside other words stays as it is.
    EXPECT_EQ(blankSecrets("[tcp @ 0x7f] tcp_nodelay=1 key x", {"x", "y"}),
              "[tcp @ 0x7f] tcp_nodelay=1 key ****");

    const auto listed = [](const std::string& s) {
        const auto all = LogSecrets::registered();
        return std::count(all.begin(), all.end(), s);
    };
    {
        LogSecrets first({"shared", "only-first"});
        {
            LogSecrets second({"shared"});
            EXPECT_EQ(listed("shared"), 2);
        }
        EXPECT_EQ(listed("shared"), 1) << "still listed while the first stream lives";
        EXPECT_EQ(listed("only-first"), 1);
    }
    EXPECT_EQ(listed("shared"), 0);
    EXPECT_EQ(listed("only-first"), 0);
}

TEST(MediaRuntime, ErrorsCarryFfmpegsTextAndCode) {
    try {
        fail("cannot open 'x'", -2);  // AVERROR(ENOENT)
        FAIL() << "fail() returned";
    } catch (const MediaError& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open 'x': No such file or directory");
        EXPECT_EQ(e.code(), -2);
    }
}

}  // namespace
