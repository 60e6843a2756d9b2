// The remote control's request decoder, request budget, address parser and secret file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "app/remote/RemoteLimits.h"
#include "app/remote/RemoteProtocol.h"
#include "app/remote/RemoteSecret.h"

namespace vantry::remote {
namespace {

TEST(RemoteProtocol, WellFormedRequestsDecodeToTheirCommand) {
    const struct {
        const char* text;
        std::size_t command;  // index in Command
    } cases[] = {
        {R"({"id":1,"request":"state"})", 1},
        {R"({"id":"a","request":"subscribe","params":{}})", 2},
        {R"({"id":3,"request":"recallShot","params":{"index":2}})", 4},
        {R"({"id":4,"request":"setSet","params":{"set":"neonArcade"}})", 5},
        {R"({"id":5,"request":"setGains","params":{"neon":1.5}})", 7},
        {R"({"id":6,"request":"setWallImage","params":{"path":"/tmp/a.png"}})", 8},
        {R"({"id":7,"request":"setPresenterMode","params":{"mode":"float"}})", 10},
        {R"({"id":8,"request":"endStream"})", 13},
        {R"({"id":9,"request":"nextSlide"})", 14},
        {R"({"id":10,"request":"previousSlide","params":{}})", 14},
        {R"({"id":11,"request":"setSlidePage","params":{"page":3}})", 15},
        {R"({"id":12,"request":"stopScreenShare"})", 16},
        {R"({"id":9,"request":"setMute","params":{"source":"desktop","on":true}})", 17},
        {R"({"id":10,"request":"setGain","params":{"source":"wallVideo","db":-30}})", 18},
    };
    for (const auto& c : cases) {
        const auto decoded = decodeRequest(c.text);
        ASSERT_TRUE(std::holds_alternative<Request>(decoded)) << c.text;
        EXPECT_EQ(std::get<Request>(decoded).command.index(), c.command) << c.text;
    }
    const auto gains = std::get<SetGains>(
        std::get<Request>(decodeRequest(R"({"id":1,"request":"setGains","params":{"key":0.5}})")).command);
    EXPECT_EQ(gains.key, 0.5);
    EXPECT_FALSE(gains.neon);
    EXPECT_FALSE(
        std::get<StepSlide>(std::get<Request>(decodeRequest(R"({"id":1,"request":"previousSlide"})")).command)
            .forward);
    EXPECT_EQ(
        std::get<SetSlidePage>(
            std::get<Request>(decodeRequest(R"({"id":1,"request":"setSlidePage","params":{"page":12}})"))
                .command)
            .page,
        12);
    const auto gain = std::get<SetGain>(
        std::get<Request>(
            decodeRequest(R"({"id":1,"request":"setGain","params":{"source":"mic","db":12.5}})"))
            .command);
    EXPECT_EQ(gain.source, "mic");
    EXPECT_EQ(gain.db, 12.5);
    const auto meters = std::get<Subscribe>(
        std::get<Request>(decodeRequest(R"({"id":1,"request":"subscribe","params":{"meters":true}})"))
            .command);
    EXPECT_TRUE(meters.on && meters.meters);
    EXPECT_FALSE(
        std::get<Subscribe>(std::get<Request>(decodeRequest(R"({"id":1,"request":"subscribe"})")).command)
            .meters);
}

TEST(RemoteProtocol, MalformedMessagesGetACodeAndKeepAUsableId) {
    const struct {
        std::string text;
        std::string_view code;
        bool idKept;
    } cases[] = {
        {"", code::badJson, false},
        {"{\"id\":1,", code::badJson, false},
        {"[1,2]", code::badRequest, false},
        {R"({"request":"state"})", code::badRequest, false},
        {R"({"id":1.5,"request":"state"})", code::badRequest, false},
        {R"({"id":[1],"request":"state"})", code::badRequest, false},
        {R"({"id":")" + std::string(65, 'x') + R"(","request":"state"})", code::badRequest, false},
        {R"({"id":1,"id":2,"request":"state"})", code::badRequest, false},
        {R"({"id":1,"request":"setAngle","params":{"angle":1,"angle":2}})", code::badRequest, false},
        {R"({"id":1})", code::badRequest, true},
        {R"({"id":1,"request":"state","extra":0})", code::badRequest, true},
        {R"({"id":1,"request":"reboot"})", code::unknownRequest, true},
        {R"({"id":1,"request":"state","params":[]})", code::badParams, true},
        {R"({"id":1,"request":"setAngle","params":{"angle":"2"}})", code::badParams, true},
        {R"({"id":1,"request":"setAngle","params":{"angle":-1}})", code::badParams, true},
        {R"({"id":1,"request":"setGains","params":{}})", code::badParams, true},
        {R"({"id":1,"request":"setGains","params":{"key":1e999}})", code::badParams, true},
        {R"({"id":1,"request":"setWallImage","params":{"path":"rel/a.png"}})", code::badParams, true},
        {R"({"id":1,"request":"setWallImage","params":{"path":"/a\u0000b"}})", code::badParams, true},
        {R"({"id":1,"request":"setVisionCutout","params":{"on":1}})", code::badParams, true},
        {R"({"id":1,"request":"setPresenterMode","params":{"mode":"stand"}})", code::badParams, true},
        {R"({"id":1,"request":"setSlidePage","params":{"page":0}})", code::badParams, true},
        {R"({"id":1,"request":"setSlidePage","params":{"page":"2"}})", code::badParams, true},
        {R"({"id":1,"request":"setSlidePage"})", code::badParams, true},
        {R"({"id":1,"request":"setMute","params":{"source":"drums","on":true}})", code::badParams, true},
        {R"({"id":1,"request":"setMute","params":{"source":"mic"}})", code::badParams, true},
        {R"({"id":1,"request":"setGain","params":{"source":"mic","db":20.5}})", code::badParams, true},
        {R"({"id":1,"request":"setGain","params":{"source":"mic","db":"-3"}})", code::badParams, true},
        {R"({"id":1,"request":"subscribe","params":{"meters":1}})", code::badParams, true},
        {std::string(kMaxMessageBytes + 1, ' '), code::tooLarge, false},
    };
    for (const auto& c : cases) {
        const auto decoded = decodeRequest(c.text);
        ASSERT_TRUE(std::holds_alternative<DecodeError>(decoded)) << c.text.substr(0, 80);
        const auto& error = std::get<DecodeError>(decoded);
        EXPECT_EQ(error.code, c.code) << c.text.substr(0, 80);
        EXPECT_EQ(error.id.has_value(), c.idKept) << c.text.substr(0, 80);
        EXPECT_FALSE(error.message.empty());
        // The answer is valid JSON whatever the message held.
        EXPECT_TRUE(json::parse(encodeError(error.id, error.code, error.message))) << c.text.substr(0, 80);
    }
}

TEST(RemoteProtocol, AnswersEchoTheIdAndStateChangesAreNamed) {
    EXPECT_EQ(encodeResult(json::Value{std::string("q\"1")}, R"({"a":1})"),
              R"({"id":"q\"1","ok":true,"result":{"a":1}})");
    EXPECT_EQ(encodeError(std::nullopt, code::badJson, "bad \xff"),
              R"({"id":null,"ok":false,"error":{"code":"bad-json","message":"bad ?"}})");
    StudioState before;
    StudioState after = before;
    after.angle = 2;
    after.wallImage = "a.png";
    EXPECT_EQ(changedFields(before, after), (std::vector<std::string>{"angle", "wallImage"}));
    EXPECT_TRUE(changedFields(after, after).empty());
    EXPECT_TRUE(json::parse(encodeState(after)));
    StudioState muted = after;
    muted.audio = {{"mic", true, -6.5, "usb_mic"}, {"desktop", false, 0, ""}};
    EXPECT_EQ(changedFields(after, muted), std::vector<std::string>{"audio"});
    const auto state = json::parse(encodeState(muted));
    ASSERT_TRUE(state && state->object());
    const json::Object* audio = json::member(*state->object(), "audio")->object();
    ASSERT_TRUE(audio);
    const json::Object* mic = json::member(*audio, "mic")->object();
    ASSERT_TRUE(mic);
    EXPECT_EQ(*json::member(*mic, "muted")->boolean(), true);
    EXPECT_EQ(json::numberMember(*mic, "gainDb"), -6.5);
    EXPECT_EQ(*json::stringMember(*mic, "device"), "usb_mic");
    EXPECT_EQ(encodeEvent("meters", encodeMeters({{"mix", -3, -9.5}})),
              R"({"event":"meters","meters":{"mix":{"peakDb":-3,"rmsDb":-9.5}}})");
}

// The stream's state as a whole tells a stream that reaches only some of its servers from one
// that reaches them all, and the state names each server's state and line.
TEST(RemoteProtocol, TheLiveStateSaysWhenNotEveryServerTakesTheStream) {
    using D = LiveDestinationState;
    const struct {
        std::string section;
        std::vector<D> servers;
        std::string expected;
    } cases[] = {
        {"idle", {}, "idle"},
        {"live", {{1, "live", "LIVE 00:10 · 2.0 Mbit/s"}}, "live"},
        {"live", {{1, "live", ""}, {2, "live", ""}}, "live"},
        {"live",
         {{1, "live", ""},
          {2, "failed", ""},
          {3, "stalled", ""},
          {4, "connecting", "Connecting · retry in 2 s…"}},
         "partial"},
        {"live", {{1, "reconnecting", ""}, {3, "live", ""}}, "partial"},
        {"connecting", {{1, "connecting", ""}, {2, "connecting", ""}}, "connecting"},
        {"stalled", {{1, "stalled", ""}, {2, "reconnecting", ""}}, "stalled"},
    };
    for (const auto& c : cases) EXPECT_EQ(overallLiveState(c.section, c.servers), c.expected) << c.expected;

    StudioState state;
    state.liveState = "partial";
    state.liveDestinations = {{1, "live", "LIVE 00:10"}, {2, "failed", "Could not connect \"x\""}};
    const std::string text = encodeState(state);
    EXPECT_NE(
        text.find(R"("liveState":"partial","liveStatus":"","liveDestinations":[{"server":1,"state":"live",)"
                  R"("statusLine":"LIVE 00:10"},{"server":2,"state":"failed",)"
                  R"("statusLine":"Could not connect \"x\""}])"),
        std::string::npos)
        << text;
    EXPECT_TRUE(json::parse(text));
    StudioState after = state;
    after.liveDestinations[1].state = "connecting";
    EXPECT_EQ(changedFields(state, after), (std::vector<std::string>{"liveDestinations"}));

    // Each server's picture, in the section's order.
    after = state;
    after.canvases = {"landscape", "vertical", "landscape", "landscape"};
    EXPECT_EQ(changedFields(state, after), (std::vector<std::string>{"canvases"}));
    EXPECT_NE(encodeState(after).find(R"("canvases":["landscape","vertical","landscape","landscape"])"),
              std::string::npos);
}

TEST(RemoteLimits, TheBucketAllowsABurstThenTheRate) {
    TokenBucket bucket(10, 3);
    int granted = 0;
    for (int i = 0; i < 10; ++i) granted += bucket.take(0.0);
    EXPECT_EQ(granted, 3);
    EXPECT_FALSE(bucket.take(0.05));  // half a token
    EXPECT_TRUE(bucket.take(0.1));
    EXPECT_FALSE(bucket.take(0.1));
    granted = 0;
    for (int i = 0; i < 10; ++i) granted += bucket.take(100.0);  // a long pause refills only the burst
    EXPECT_EQ(granted, 3);
    EXPECT_FALSE(bucket.take(50.0));  // a clock going back gives nothing
}

TEST(RemoteLimits, AddressesAreHostAndPort) {
    const struct {
        const char* text;
        const char* host;  // null: refused
        int port;
    } cases[] = {
        {"127.0.0.1:9000", "127.0.0.1", 9000}, {":8123", "127.0.0.1", 8123},    {"[::1]:80", "::1", 80},
        {"0.0.0.0:65535", "0.0.0.0", 65535},   {"::1:80", nullptr, 0},          {"host", nullptr, 0},
        {"127.0.0.1:0", nullptr, 0},           {"127.0.0.1:70000", nullptr, 0}, {"127.0.0.1:8x", nullptr, 0},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto got = parseHostPort(c.text, &why);
        ASSERT_EQ(got.has_value(), c.host != nullptr) << c.text;
        if (!got) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(got->host, c.host);
        EXPECT_EQ(got->port, c.port);
    }
}

TEST(RemoteSecret, MadeOnceWithMode0600AndRefusedWhenOthersCouldReadIt) {
    QTemporaryDir dir;
    const std::filesystem::path file = dir.filePath("cfg/vantry-pro/remote-secret").toStdString();
    const Secret made = loadOrCreateSecret(file);
    EXPECT_TRUE(made.created);
    EXPECT_EQ(made.hex.size(), 64u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const Secret again = loadOrCreateSecret(file);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.hex, made.hex);
    EXPECT_NE(loadOrCreateSecret(dir.filePath("other").toStdString()).hex, made.hex);

    const std::filesystem::path link = dir.filePath("link").toStdString();
    std::filesystem::create_symlink(file, link);
    const std::filesystem::path fifo = dir.filePath("fifo").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::filesystem::path shared = dir.filePath("shared").toStdString();
    std::ofstream(shared) << made.hex;
    ::chmod(shared.c_str(), 0640);
    const std::filesystem::path shortOne = dir.filePath("short").toStdString();
    std::ofstream(shortOne) << "abc";
    ::chmod(shortOne.c_str(), 0600);
    const std::filesystem::path zero = dir.filePath("zero").toStdString();
    std::filesystem::create_symlink("/dev/zero", zero);
    const std::filesystem::path big = dir.filePath("big").toStdString();
    std::ofstream(big) << made.hex << std::string(4096, '\n');
    ::chmod(big.c_str(), 0600);
    for (const auto& bad :
         {link, fifo, shared, shortOne, zero, big, std::filesystem::path(dir.path().toStdString())}) {
        EXPECT_THROW(loadOrCreateSecret(bad), SecretError) << bad;
        EXPECT_THROW(readSecret(bad), SecretError) << bad;
    }
    EXPECT_EQ(std::filesystem::status(shared).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0640))
        << "a refused file is left alone";
}

TEST(RemoteSecret, TheAnswerIsHmacSha256OfTheNonce) {
    // RFC 4231, test case 2: key "Jefe", data "what do ya want for nothing?".
    EXPECT_EQ(challengeAnswer("4a656665", "7768617420646f2079612077616e7420666f72206e6f7468696e673f"),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(challengeAnswer("4a65666", "00"), "");
    EXPECT_NE(randomHex(32), randomHex(32));
    EXPECT_TRUE(sameAnswer("ab", "ab"));
    EXPECT_FALSE(sameAnswer("ab", "ac"));
    EXPECT_FALSE(sameAnswer("ab", "abc"));
}

}  // namespace
}  // namespace vantry::remote
