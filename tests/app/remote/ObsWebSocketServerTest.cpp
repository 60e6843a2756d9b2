// The obs-websocket endpoint over 127.0.0.1 with QWebSocket clients, both subprotocols: hostile
// and malformed messages close with the protocol's codes, the bounds hold, and scenes, outputs,
// the microphone, screenshots and batches behave as clients of broadcast programs expect.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>

#include "app/remote/ObsWebSocketServer.h"
#include "app/remote/RemoteClient.h"
#include "app/remote/RemoteControl.h"
#include "app/remote/RemoteSecret.h"
#include "tests/support/EventPump.h"
#include "tests/support/FakeRemoteStudio.h"
#include "tests/support/ObsWebSocketTestClient.h"
#include "tests/support/Ports.h"

namespace vantry::remote {
namespace {

using obs::Encoding;
using testing::ObsWebSocketTestClient;
namespace op = obs::op;

const std::string kPassword(64, 'a');

void ensureApplication() {
    static int argc = 1;
    static char name[] = "obs_websocket_server_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) static QCoreApplication app(argc, argv);
}

class FakeShots : public RemoteShots {
  public:
    int shotCount() const override { return int(names.size()); }
    std::string shotJson(int i) const override {
        return "{\"name\":" + json::quote(names[std::size_t(i)]) + "}";
    }
    bool recallShot(int i, std::string* error) override {
        if (names[std::size_t(i)] == "Broken") {
            *error = "its set is gone";
            return false;
        }
        recalled.push_back(i);
        // A recall changes the look as the window's does: set and angle at once.
        studio->set = "neon-arcade";
        studio->setAngle(1);
        return true;
    }
    std::vector<std::string> names{"Intro", "Close", "Broken"};
    std::vector<int> recalled;
    testing::FakeRemoteStudio* studio = nullptr;
};

int statusCode(const std::optional<json::Object>& response) {
    if (!response) return -1;
    const json::Value* status = json::member(*response, "requestStatus");
    const auto code =
        status && status->object() ? json::numberMember(*status->object(), "code") : std::nullopt;
    return code ? int(*code) : -1;
}
std::string comment(const std::optional<json::Object>& response) {
    const json::Value* status = response ? json::member(*response, "requestStatus") : nullptr;
    const std::string* c =
        status && status->object() ? json::stringMember(*status->object(), "comment") : nullptr;
    return c ? *c : "";
}
json::Object responseOf(const std::optional<json::Object>& response) {
    const json::Value* d = response ? json::member(*response, "responseData") : nullptr;
    return d && d->object() ? *d->object() : json::Object{};
}
std::string textOf(const json::Object& o, std::string_view key) {
    const std::string* s = json::stringMember(o, key);
    return s ? *s : "<none>";
}
bool flagOf(const json::Object& o, std::string_view key) {
    const bool* b = json::boolMember(o, key);
    return b && *b;
}

class ObsWebSocketServerTest : public ::testing::TestWithParam<Encoding> {
  protected:
    void SetUp() override {
        ensureApplication();
        shots.studio = &studio;
    }
    void TearDown() override { server.reset(); }

    void start(ObsWebSocketServer::Options options = {}) {
        options.port = 0;
        options.password = kPassword;
        server = std::make_unique<ObsWebSocketServer>(studio, &shots, options);
        QString error;
        ASSERT_TRUE(server->listen(&error)) << error.toStdString();
    }
    std::unique_ptr<ObsWebSocketTestClient> connect(
        std::optional<std::uint32_t> subscriptions = std::nullopt) {
        auto client = std::make_unique<ObsWebSocketTestClient>(GetParam());
        EXPECT_TRUE(client->open(server->port()));
        EXPECT_TRUE(client->identify(kPassword, subscriptions)) << client->closeReason();
        return client;
    }

    testing::FakeRemoteStudio studio;
    FakeShots shots;
    std::unique_ptr<ObsWebSocketServer> server;
};

INSTANTIATE_TEST_SUITE_P(BothSubprotocols, ObsWebSocketServerTest,
                         ::testing::Values(Encoding::json, Encoding::msgpack),
                         [](const auto& info) { return info.param == Encoding::json ? "json" : "msgpack"; });

TEST_P(ObsWebSocketServerTest, HelloCarriesTheChallengeAndTheSubprotocolIsEchoed) {
    start();
    ObsWebSocketTestClient client(GetParam());
    ASSERT_TRUE(client.open(server->port()));
    EXPECT_EQ(client.subprotocol(),
              GetParam() == Encoding::json ? "obswebsocket.json" : "obswebsocket.msgpack");
    EXPECT_TRUE(client.identify(kPassword));
    EXPECT_EQ(client.unreadable(), 0) << "every message came in the subprotocol's frames";
}

// What an unidentified or identified client sends that the server cannot use.
TEST_P(ObsWebSocketServerTest, MalformedAndOutOfTurnMessagesCloseWithTheProtocolsCodes) {
    const struct {
        const char* what;
        bool identifiedFirst;
        std::string json;  // sent in the client's encoding
        int closeCode;
    } cases[] = {
        {"a request before Identify", false, R"({"op":6,"d":{"requestType":"GetVersion","requestId":"1"}})",
         4007},
        {"an unknown op", false, R"({"op":42,"d":{}})", 4006},
        {"no op", false, R"({"d":{}})", 4006},
        {"no d", false, R"({"op":1})", 4003},
        {"a d that is no object", false, R"({"op":1,"d":[]})", 4004},
        {"an rpcVersion that is text", false, R"({"op":1,"d":{"rpcVersion":"1"}})", 4004},
        {"no rpcVersion", false, R"({"op":1,"d":{}})", 4003},
        {"no authentication", false, R"({"op":1,"d":{"rpcVersion":1}})", 4009},
        {"a wrong authentication", false, R"({"op":1,"d":{"rpcVersion":1,"authentication":"x"}})", 4009},
        {"an obs-websocket 4 request", false, R"({"request-type":"GetVersion","message-id":"1"})", 4010},
        {"not an object", false, R"([1,2])", 4002},
        {"Identify twice", true, R"({"op":1,"d":{"rpcVersion":1}})", 4008},
        {"a request without requestId", true, R"({"op":6,"d":{"requestType":"GetVersion"}})", 4003},
        {"a requestType that is a number", true, R"({"op":6,"d":{"requestType":1,"requestId":"a"}})", 4004},
        {"a requestId of 300 bytes", true,
         R"({"op":6,"d":{"requestType":"GetVersion","requestId":")" + std::string(300, 'x') + "\"}}", 4005},
        {"requestData that is text", true,
         R"({"op":6,"d":{"requestType":"GetVersion","requestId":"a","requestData":"x"}})", 4004},
        {"a batch without requests", true, R"({"op":8,"d":{"requestId":"b"}})", 4003},
        {"a batch of non-objects", true, R"({"op":8,"d":{"requestId":"b","requests":[1]}})", 4004},
        {"an unknown execution type", true,
         R"({"op":8,"d":{"requestId":"b","executionType":7,"requests":[]}})", 4005},
        {"a server's op", true, R"({"op":7,"d":{}})", 4006},
        {"eventSubscriptions that are text", true, R"({"op":3,"d":{"eventSubscriptions":"all"}})", 4004},
    };
    start();
    for (const auto& c : cases) {
        ObsWebSocketTestClient client(GetParam());
        ASSERT_TRUE(client.open(server->port())) << c.what;
        if (c.identifiedFirst) {
            ASSERT_TRUE(client.identify(kPassword)) << c.what;
        }
        client.sendJson(c.json);
        ASSERT_TRUE(client.waitClosed()) << c.what;
        EXPECT_EQ(client.closeCode(), c.closeCode) << c.what << ": " << client.closeReason();
        EXPECT_FALSE(client.closeReason().empty()) << c.what;
    }
}

TEST_P(ObsWebSocketServerTest, BytesThatAreNotTheSubprotocolsCloseTheConnection) {
    const bool json = GetParam() == Encoding::json;
    const struct {
        const char* what;
        bool binary;
        std::string bytes;
        int closeCode;
    } cases[] = {
        {"the other frame kind", json, "{}", 4002},
        {"bytes that do not decode", !json, json ? "{\"op\":" : "\xc1", 4002},
        {"a message over 64 KiB", !json, std::string(70 * 1024, json ? ' ' : '\xc0'),
         int(QWebSocketProtocol::CloseCodeTooMuchData)},
    };
    start();
    for (const auto& c : cases) {
        ObsWebSocketTestClient client(GetParam());
        ASSERT_TRUE(client.open(server->port())) << c.what;
        c.binary ? client.sendBinary(c.bytes) : client.sendText(c.bytes);
        ASSERT_TRUE(client.waitClosed()) << c.what;
        EXPECT_EQ(client.closeCode(), c.closeCode) << c.what << ": " << client.closeReason();
    }
}

TEST_P(ObsWebSocketServerTest, TheRightPasswordIdentifiesAndAnRpcVersionOtherThanOneIsRefused) {
    start();
    ObsWebSocketTestClient wrong(GetParam());
    ASSERT_TRUE(wrong.open(server->port()));
    EXPECT_FALSE(wrong.identify(std::string(64, 'b')));
    EXPECT_EQ(wrong.closeCode(), 4009);

    ObsWebSocketTestClient future(GetParam());
    ASSERT_TRUE(future.open(server->port()));
    future.sendJson(R"({"op":1,"d":{"rpcVersion":2,"authentication":)" +
                    json::quote(future.authentication(kPassword)) + "}}");
    ASSERT_TRUE(future.waitClosed());
    EXPECT_EQ(future.closeCode(), 4010);

    auto client = connect();
    EXPECT_EQ(statusCode(client->call("GetVersion")), 100);
}

TEST_P(ObsWebSocketServerTest, AFloodIsRefusedAndThenClosed) {
    ObsWebSocketServer::Options options;
    options.requestsPerSecond = 1e-9;  // no refill while the test runs: exactly the burst is served
    options.requestBurst = 3;
    start(options);
    ObsWebSocketTestClient client(GetParam());
    ASSERT_TRUE(client.open(server->port()));
    ASSERT_TRUE(client.identify(kPassword));  // the first of the three
    for (int i = 0; i < 250; ++i)
        client.sendJson(R"({"op":6,"d":{"requestType":"GetVersion","requestId":")" + std::to_string(i) +
                        "\"}}");
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.pending(op::requestResponse), 2) << "the rest of the burst, then nothing";
    EXPECT_EQ(client.closeCode(), 4000) << client.closeReason();
}

TEST_P(ObsWebSocketServerTest, ClientsWaitingConnectionsAndTheTimeToIdentifyAreBounded) {
    ObsWebSocketServer::Options options;
    options.maxClients = 2;
    options.maxWaiting = 2;
    start(options);
    auto a = connect();
    auto b = connect();
    ObsWebSocketTestClient third(GetParam());
    // Refused at once, or (when it got in before the count) at its Identify.
    if (third.open(server->port())) third.identify(kPassword);
    ASSERT_TRUE(third.waitClosed());
    EXPECT_EQ(third.closeCode(), int(QWebSocketProtocol::CloseCodePolicyViolated));

    a.reset();
    ASSERT_TRUE(
        testing::pumpUntil([&] { return server->clientCount() == 1; }, ObsWebSocketTestClient::kWaitMs));
    ObsWebSocketTestClient first(GetParam()), second(GetParam()), newest(GetParam());
    ASSERT_TRUE(first.open(server->port()));
    ASSERT_TRUE(second.open(server->port()));
    ASSERT_TRUE(newest.open(server->port()));
    ASSERT_TRUE(first.waitClosed()) << "the one that waited longest makes way";
    EXPECT_EQ(first.closeCode(), 4007);
    EXPECT_FALSE(second.closed());
    EXPECT_TRUE(newest.identify(kPassword));
}

TEST_P(ObsWebSocketServerTest, AClientThatNeverIdentifiesIsClosed) {
    ObsWebSocketServer::Options options;
    options.identifyDeadlineMs = 1;
    start(options);
    ObsWebSocketTestClient client(GetParam());
    client.open(server->port());
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.closeCode(), 4007);
    EXPECT_EQ(client.closeReason(), "no Identify in time");
}

TEST_P(ObsWebSocketServerTest, BrowserPagesAreRefused) {
    start();
    ObsWebSocketTestClient page(GetParam());
    EXPECT_FALSE(page.open(server->port(), QStringLiteral("https://example.com")));
    EXPECT_TRUE(page.closed());
}

TEST_P(ObsWebSocketServerTest, UnknownRequestsAndBadFieldsAreAnsweredWithTheirStatus) {
    const struct {
        const char* type;
        const char* data;
        int code;
    } cases[] = {
        {"CreateScene", R"({"sceneName":"x"})", 204},
        {"SetCurrentProgramScene", "{}", 300},
        {"SetCurrentProgramScene", R"({"sceneName":5})", 401},
        {"SetCurrentProgramScene", R"({"sceneName":"Nowhere"})", 600},
        {"SetCurrentProgramScene", R"({"sceneName":"Broken"})", 702},
        {"GetInputMute", R"({"inputName":"Desktop Audio"})", 600},
        {"GetInputMute", "{}", 300},
        {"SetInputMute", R"({"inputName":"Mic/Aux"})", 300},
        {"SetInputVolume", R"({"inputName":"Mic/Aux","inputVolumeDb":99})", 402},
        {"SetInputVolume", R"({"inputName":"Mic/Aux"})", 300},
        {"StopStream", "{}", 501},
        {"StopRecord", "{}", 501},
        {"GetCurrentPreviewScene", "{}", 506},
        {"GetSourceScreenshot", R"({"sourceName":"Cam 1 · Desk"})", 300},
        {"GetSourceScreenshot", R"({"sourceName":"Cam 1 · Desk","imageFormat":"gif"})", 400},
        {"GetSourceScreenshot", R"({"sourceName":"Cam 2 · Screen","imageFormat":"png"})", 604},
        {"GetSourceScreenshot", R"({"sourceName":"Nowhere","imageFormat":"png"})", 600},
        {"GetSourceScreenshot", R"({"sourceName":"Cam 1 · Desk","imageFormat":"png","imageWidth":2})", 402},
    };
    start();
    auto client = connect();
    for (const auto& c : cases) {
        const auto response = client->call(c.type, c.data);
        EXPECT_EQ(statusCode(response), c.code) << c.type << " " << c.data << ": " << comment(response);
        EXPECT_EQ(textOf(*response, "requestType"), c.type);
    }
    EXPECT_FALSE(client->closed()) << "a failed request leaves the connection open";
}

TEST_P(ObsWebSocketServerTest, ScenesAreTheShotsThenTheAnglesAndFollowEveryChange) {
    start();
    auto client = connect();
    auto list = responseOf(client->call("GetSceneList"));
    std::vector<std::string> names;
    for (const auto& scene : *json::member(list, "scenes")->array())
        names.push_back(textOf(*scene.object(), "sceneName"));
    EXPECT_EQ(names, (std::vector<std::string>{"Intro", "Close", "Broken", "Cam 1 · Desk", "Cam 2 · Screen",
                                               "Cam 3 · Host", "Cam 4 · Crane"}));
    EXPECT_EQ(textOf(list, "currentProgramSceneName"), "Cam 1 · Desk");

    // A client recalls a shot: the shot is the program scene while its look stays.
    EXPECT_EQ(statusCode(client->call("SetCurrentProgramScene", R"({"sceneName":"Close"})")), 100);
    EXPECT_EQ(shots.recalled, std::vector<int>{1});
    EXPECT_EQ(textOf(*client->event("CurrentProgramSceneChanged"), "sceneName"), "Close");
    EXPECT_EQ(textOf(responseOf(client->call("GetCurrentProgramScene")), "currentProgramSceneName"), "Close");

    // The window changes a gain: the picture is no longer the shot, the angle is the scene.
    studio.setGains(2.0f, std::nullopt, std::nullopt);
    EXPECT_EQ(textOf(*client->event("CurrentProgramSceneChanged"), "sceneName"), "Cam 2 · Screen");
    EXPECT_EQ(textOf(responseOf(client->call("GetSceneList")), "currentProgramSceneName"), "Cam 2 · Screen");

    // A recall in the window (or the other protocol) is heard too.
    server->shotRecalled(0);
    EXPECT_EQ(textOf(*client->event("CurrentProgramSceneChanged"), "sceneName"), "Intro");

    // An angle by its title.
    EXPECT_EQ(statusCode(client->call("SetCurrentProgramScene", R"({"sceneName":"Cam 4 · Crane"})")), 100);
    EXPECT_EQ(studio.angleId, 3);
    EXPECT_EQ(textOf(*client->event("CurrentProgramSceneChanged"), "sceneName"), "Cam 4 · Crane");

    // A shot saved or renamed changes the list.
    shots.names[0] = "Opening";
    server->shotsChanged();
    const auto changed = client->event("SceneListChanged");
    ASSERT_TRUE(changed);
    EXPECT_EQ(textOf(*json::member(*changed, "scenes")->array()->front().object(), "sceneName"), "Opening");
}

TEST_P(ObsWebSocketServerTest, TheStreamUsesGoLivesSettingsAndReportsTheOutputStates) {
    start();
    auto client = connect();
    const auto refused = client->call("StartStream");
    EXPECT_EQ(statusCode(refused), 702);
    EXPECT_EQ(comment(refused), "Enter the server URL") << "the section's status line";

    studio.url = "rtmp://127.0.0.1/live";
    studio.live = "idle";
    EXPECT_EQ(statusCode(client->call("StartStream")), 100);
    EXPECT_EQ(statusCode(client->call("StartStream")), 500);
    const auto states = [&](std::vector<std::string> expected) {
        for (const std::string& state : expected) {
            const auto e = client->event("StreamStateChanged");
            ASSERT_TRUE(e);
            EXPECT_EQ(textOf(*e, "outputState"), "OBS_WEBSOCKET_OUTPUT_" + state);
        }
    };
    states({"STARTING"});
    studio.moveStream("live");
    states({"STARTED"});
    EXPECT_TRUE(flagOf(responseOf(client->call("GetStreamStatus")), "outputActive"));
    studio.moveStream("reconnecting");
    states({"RECONNECTING"});
    EXPECT_TRUE(flagOf(responseOf(client->call("GetStreamStatus")), "outputReconnecting"));
    studio.moveStream("live");
    states({"RECONNECTED"});
    const auto toggled = client->call("ToggleStream");
    EXPECT_FALSE(flagOf(responseOf(toggled), "outputActive"));
    states({"STOPPING", "STOPPED"});
    const auto status = responseOf(client->call("GetStreamStatus"));
    for (const char* key : {"outputActive", "outputReconnecting", "outputTimecode", "outputDuration",
                            "outputCongestion", "outputBytes", "outputSkippedFrames", "outputTotalFrames"})
        EXPECT_TRUE(json::member(status, key)) << key;
}

TEST_P(ObsWebSocketServerTest, RecordingIsAnsweredWhenTheRecorderHasDoneIt) {
    start();
    auto client = connect();
    studio.holdRecordingAnswers = true;
    client->sendJson(R"({"op":6,"d":{"requestType":"StartRecord","requestId":"start"}})");
    ASSERT_TRUE(
        testing::pumpUntil([&] { return !studio.heldAnswers.empty(); }, ObsWebSocketTestClient::kWaitMs));
    EXPECT_EQ(client->pending(op::requestResponse), 0) << "no answer before the recorder's";
    studio.releaseRecordingAnswers();
    EXPECT_EQ(statusCode(client->nextWith(op::requestResponse, "requestId", "start")), 100);
    EXPECT_EQ(textOf(*client->event("RecordStateChanged"), "outputState"), "OBS_WEBSOCKET_OUTPUT_STARTED");
    EXPECT_TRUE(flagOf(responseOf(client->call("GetRecordStatus")), "outputActive"));
    EXPECT_EQ(statusCode(client->call("StartRecord")), 500);

    studio.holdRecordingAnswers = false;
    EXPECT_EQ(textOf(responseOf(client->call("StopRecord")), "outputPath"), "/clips/rec.mp4");
    const auto stopped = client->event("RecordStateChanged");
    EXPECT_EQ(textOf(*stopped, "outputState"), "OBS_WEBSOCKET_OUTPUT_STOPPED");
    EXPECT_EQ(textOf(*stopped, "outputPath"), "/clips/rec.mp4");
    EXPECT_TRUE(flagOf(responseOf(client->call("ToggleRecord")), "outputActive"));

    studio.recorder = false;
    studio.recording = false;
    EXPECT_EQ(statusCode(client->call("StartRecord")), 207) << "nothing records while Vision Cutout is off";
}

TEST_P(ObsWebSocketServerTest, BatchesRunInOrderAndHaltOnTheFirstFailureWhenAsked) {
    start();
    auto client = connect();
    const std::string requests =
        R"([{"requestType":"SetCurrentProgramScene","requestData":{"sceneName":"Cam 2 · Screen"}},)"
        R"({"requestType":"NoSuchRequest","requestId":"two"},{"requestType":"StartRecord"},)"
        R"({"requestType":"GetCurrentProgramScene"}])";
    const auto results = [&](const std::string& id, bool halt) {
        client->sendJson(R"({"op":8,"d":{"requestId":")" + id + R"(","haltOnFailure":)" +
                         (halt ? "true" : "false") + R"(,"requests":)" + requests + "}}");
        const auto d = client->nextWith(op::requestBatchResponse, "requestId", id);
        std::vector<std::pair<std::string, int>> out;
        for (const auto& r : *json::member(*d, "results")->array())
            out.emplace_back(textOf(*r.object(), "requestType"), statusCode(*r.object()));
        return out;
    };
    using Results = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(results("halting", true), (Results{{"SetCurrentProgramScene", 100}, {"NoSuchRequest", 204}}));
    EXPECT_EQ(studio.angleId, 1);
    EXPECT_FALSE(studio.recording) << "nothing after the failure ran";

    // The recorder answers later: the batch goes on from its answer, in order.
    studio.holdRecordingAnswers = true;
    client->sendJson(R"({"op":8,"d":{"requestId":"all","requests":)" + requests + "}}");
    ASSERT_TRUE(
        testing::pumpUntil([&] { return !studio.heldAnswers.empty(); }, ObsWebSocketTestClient::kWaitMs));
    EXPECT_EQ(client->pending(op::requestBatchResponse), 0);
    studio.releaseRecordingAnswers();
    const auto d = client->nextWith(op::requestBatchResponse, "requestId", "all");
    ASSERT_TRUE(d);
    const auto& all = *json::member(*d, "results")->array();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(textOf(*all[1].object(), "requestId"), "two");
    EXPECT_EQ(statusCode(*all[2].object()), 100);
    EXPECT_EQ(textOf(responseOf(*all[3].object()), "currentProgramSceneName"), "Cam 2 · Screen");
}

TEST_P(ObsWebSocketServerTest, TheMicrophoneMutesSetsItsVolumeAndMetersWhoAsks) {
    start();
    auto client = connect();
    auto deaf = connect(0);
    EXPECT_FALSE(
        flagOf(responseOf(client->call("GetInputMute", R"({"inputName":"Mic/Aux"})")), "inputMuted"));
    EXPECT_EQ(statusCode(client->call("SetInputMute", R"({"inputName":"Mic/Aux","inputMuted":true})")), 100);
    EXPECT_TRUE(studio.muted);
    EXPECT_TRUE(flagOf(*client->event("InputMuteStateChanged"), "inputMuted"));
    // Events go out together: the unsubscribed client's answer after them proves it heard none.
    ASSERT_TRUE(deaf->call("GetVersion"));
    EXPECT_EQ(deaf->pending(op::event), 0);

    // The window switches the microphone back on.
    studio.setMicMuted(false);
    EXPECT_FALSE(flagOf(*client->event("InputMuteStateChanged"), "inputMuted"));
    EXPECT_TRUE(
        flagOf(responseOf(client->call("ToggleInputMute", R"({"inputName":"Mic/Aux"})")), "inputMuted"));

    EXPECT_EQ(statusCode(client->call("SetInputVolume", R"({"inputName":"Mic/Aux","inputVolumeDb":-20})")),
              100);
    const auto volume = responseOf(client->call("GetInputVolume", R"({"inputName":"Mic/Aux"})"));
    EXPECT_NEAR(*json::numberMember(volume, "inputVolumeMul"), 0.1, 1e-9);
    EXPECT_NEAR(*json::numberMember(volume, "inputVolumeDb"), -20, 1e-9);
    EXPECT_TRUE(client->event("InputVolumeChanged"));

    // Meters only for who subscribes to them.
    EXPECT_EQ(client->pendingEvents("InputVolumeMeters"), 0);
    client->sendJson(R"({"op":3,"d":{"eventSubscriptions":)" +
                     std::to_string(obs::subscription::all | obs::subscription::inputVolumeMeters) + "}}");
    ASSERT_TRUE(client->next(op::identified));
    const auto meters = client->event("InputVolumeMeters");
    ASSERT_TRUE(meters);
    const auto& input = *json::member(*meters, "inputs")->array()->front().object();
    EXPECT_EQ(textOf(input, "inputName"), "Mic/Aux");
    EXPECT_EQ(json::member(input, "inputLevelsMul")->array()->size(), 2u);

    studio.recorder = false;
    EXPECT_EQ(statusCode(client->call("SetInputMute", R"({"inputName":"Mic/Aux","inputMuted":false})")), 604);
}

// With a programme mix, its sources are the inputs: mute and volume are the mix's, the volume
// clamped to the mix's gain range, and the meters are its peak and RMS.
TEST_P(ObsWebSocketServerTest, TheMixsSourcesAreTheInputsWithTheirMuteGainAndMeters) {
    studio.mix = {{"mic", false, 0, ""}, {"desktop", false, 0, ""}, {"wallVideo", false, 0, ""}};
    studio.meters = {
        {"mic", -6.0206, -20}, {"desktop", -120, -120}, {"wallVideo", -120, -120}, {"mix", -6, -20}};
    start();
    auto client = connect();

    const auto list = responseOf(client->call("GetInputList"));
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const json::Value& v : *json::member(list, "inputs")->array())
        inputs.emplace_back(textOf(*v.object(), "inputName"), textOf(*v.object(), "inputKind"));
    EXPECT_EQ(inputs,
              (std::vector<std::pair<std::string, std::string>>{{"Mic/Aux", "pulse_input_capture"},
                                                                {"Desktop Audio", "pulse_output_capture"},
                                                                {"Wall Video", "ffmpeg_source"}}));

    const struct {
        const char* input;
        std::size_t source;
    } cases[] = {{"Mic/Aux", 0}, {"Desktop Audio", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string name = std::string(R"({"inputName":")") + c.input + "\"";
        ASSERT_EQ(statusCode(client->call("SetInputMute", name + R"(,"inputMuted":true})")), 100);
        EXPECT_TRUE(studio.mix[c.source].muted);
        const auto muted = client->event("InputMuteStateChanged");
        ASSERT_TRUE(muted);
        EXPECT_EQ(textOf(*muted, "inputName"), c.input);
        EXPECT_TRUE(flagOf(*muted, "inputMuted"));
        EXPECT_TRUE(flagOf(responseOf(client->call("GetInputMute", name + "}")), "inputMuted"));
        EXPECT_FALSE(flagOf(responseOf(client->call("ToggleInputMute", name + "}")), "inputMuted"));
        EXPECT_FALSE(studio.mix[c.source].muted);
        EXPECT_FALSE(flagOf(*client->event("InputMuteStateChanged"), "inputMuted"));

        // The volume is the mix's gain, held to -30..+20 dB.
        const struct {
            std::string field;
            double gainDb;
        } volumes[] = {{R"("inputVolumeDb":-6)", -6},
                       {R"("inputVolumeMul":20)", 20},
                       {R"("inputVolumeDb":-100)", -30},
                       {R"("inputVolumeMul":0.1)", -20}};
        for (const auto& v : volumes) {
            SCOPED_TRACE(v.field);
            ASSERT_EQ(statusCode(client->call("SetInputVolume", name + "," + v.field + "}")), 100);
            EXPECT_NEAR(studio.mix[c.source].gainDb, v.gainDb, 1e-9);
            const auto changed = client->event("InputVolumeChanged");
            ASSERT_TRUE(changed);
            EXPECT_EQ(textOf(*changed, "inputName"), c.input);
            EXPECT_NEAR(*json::numberMember(*changed, "inputVolumeDb"), v.gainDb, 1e-9);
            const auto volume = responseOf(client->call("GetInputVolume", name + "}"));
            EXPECT_NEAR(*json::numberMember(volume, "inputVolumeDb"), v.gainDb, 1e-9);
        }
    }
    EXPECT_FALSE(studio.muted) << "the recorder's switch follows only the microphone, and it is back on";

    // The meters: RMS, peak and the peak before the gain (-20 dB here), as multipliers.
    client->sendJson(R"({"op":3,"d":{"eventSubscriptions":)" +
                     std::to_string(obs::subscription::all | obs::subscription::inputVolumeMeters) + "}}");
    ASSERT_TRUE(client->next(op::identified));
    const auto meters = client->event("InputVolumeMeters");
    ASSERT_TRUE(meters);
    const json::Array& metered = *json::member(*meters, "inputs")->array();
    ASSERT_EQ(metered.size(), 3u);
    EXPECT_EQ(textOf(*metered[0].object(), "inputName"), "Mic/Aux");
    const json::Array& channel =
        *json::member(*metered[0].object(), "inputLevelsMul")->array()->front().array();
    ASSERT_EQ(channel.size(), 3u);
    EXPECT_NEAR(std::stod(channel[0].number()->text), 0.1, 1e-6);
    EXPECT_NEAR(std::stod(channel[1].number()->text), 0.5, 1e-4);
    EXPECT_NEAR(std::stod(channel[2].number()->text), 5.0, 1e-3);
    EXPECT_EQ(statusCode(client->call("GetInputMute", R"({"inputName":"Aux 2"})")), 600);
}

// Whoever changes the mix, the native endpoint's clients or the window, obs clients hear it.
TEST(ObsWebSocketControl, TheMixChangedOnTheNativeEndpointIsAnInputEventHere) {
    ensureApplication();
    QTemporaryDir dir;
    const std::filesystem::path file = dir.filePath("remote-secret").toStdString();
    testing::FakeRemoteStudio studio;
    studio.mix = {{"mic", false, 0, ""}, {"desktop", false, 0, ""}};
    FakeShots shots;
    shots.studio = &studio;
    RemoteControl control(studio, &shots, QStringLiteral("127.0.0.1"), 0, file);
    control.setControllerAddress(QStringLiteral("127.0.0.1"), 0);
    control.setOn(true);
    ASSERT_TRUE(control.server() && control.controller()) << control.statusLine().toStdString();

    ObsWebSocketTestClient obsClient;
    ASSERT_TRUE(obsClient.open(control.controller()->port()));
    ASSERT_TRUE(obsClient.identify(readSecret(file)));
    RemoteClient native;
    std::string error;
    ASSERT_TRUE(native.connectTo(QStringLiteral("127.0.0.1"), control.server()->port(), readSecret(file),
                                 5000, &error))
        << error;

    const struct {
        const char* request;
        const char* params;
        const char* event;
        const char* input;
    } cases[] = {{"setMute", R"({"source":"desktop","on":true})", "InputMuteStateChanged", "Desktop Audio"},
                 {"setGain", R"({"source":"mic","db":-12})", "InputVolumeChanged", "Mic/Aux"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        ASSERT_TRUE(native.call(c.request, c.params, 5000, &error)) << error;
        const auto heard = obsClient.event(c.event);
        ASSERT_TRUE(heard);
        EXPECT_EQ(textOf(*heard, "inputName"), c.input);
    }
    EXPECT_TRUE(studio.mix[1].muted);
    // The window's own change.
    studio.setAudioGain("desktop", 6);
    const auto window = obsClient.event("InputVolumeChanged");
    ASSERT_TRUE(window);
    EXPECT_EQ(textOf(*window, "inputName"), "Desktop Audio");
    EXPECT_NEAR(*json::numberMember(*window, "inputVolumeMul"), std::pow(10.0, 6.0 / 20.0), 1e-9);
}

TEST_P(ObsWebSocketServerTest, ScreenshotsAreTheProgramPictureAtTheSizeAskedAndRationed) {
    ObsWebSocketServer::Options options;
    options.screenshotsPerSecond = 1e-9;  // one, then none while the test runs
    start(options);
    auto client = connect();
    const auto shot = client->call("GetSourceScreenshot",
                                   R"({"sourceName":"Cam 1 · Desk","imageFormat":"png","imageWidth":64})");
    ASSERT_EQ(statusCode(shot), 100) << comment(shot);
    const std::string url = textOf(responseOf(shot), "imageData");
    const std::string prefix = "data:image/png;base64,";
    ASSERT_EQ(url.rfind(prefix, 0), 0u) << url.substr(0, 40);
    const QImage picture =
        QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(url.substr(prefix.size()))));
    EXPECT_EQ(picture.size(), QSize(64, 36)) << "the program's 16:9 kept";
    EXPECT_EQ(studio.pictureSizes, (std::vector<std::pair<int, int>>{{64, 36}}));
    const auto again =
        client->call("GetSourceScreenshot", R"({"sourceName":"Cam 1 · Desk","imageFormat":"jpg"})");
    EXPECT_EQ(statusCode(again), 702);
    EXPECT_EQ(studio.pictureSizes.size(), 1u);
}

// The window's switch: the endpoint listens beside the native one, with the secret as its
// password, and hears what the native endpoint's clients and the shots list do.
TEST(ObsWebSocketControl, TheSwitchOpensTheEndpointWithTheSecretAndSaysWhereOrWhyNot) {
    ensureApplication();
    QTemporaryDir dir;
    const std::filesystem::path file = dir.filePath("remote-secret").toStdString();
    testing::FakeRemoteStudio studio;
    FakeShots shots;
    shots.studio = &studio;
    const auto port = quint16(testing::freePort());
    RemoteControl control(studio, &shots, QStringLiteral("127.0.0.1"), 0, file);
    control.setControllerAddress(QStringLiteral("127.0.0.1"), port);
    control.setOn(true);
    ASSERT_TRUE(control.controller()) << control.statusLine().toStdString();
    EXPECT_TRUE(control.statusLine().endsWith(QStringLiteral(" · obs-websocket on 127.0.0.1:%1").arg(port)))
        << control.statusLine().toStdString();

    ObsWebSocketTestClient client;
    ASSERT_TRUE(client.open(port));
    ASSERT_TRUE(client.identify(readSecret(file))) << "the password is the secret's 64 hex digits";
    control.shotRecalled(1);
    EXPECT_EQ(textOf(*client.event("CurrentProgramSceneChanged"), "sceneName"), "Close");

    // The port is taken: the native endpoint still runs, and the line says why the other does not.
    RemoteControl busy(studio, &shots, QStringLiteral("127.0.0.1"), 0, file);
    busy.setControllerAddress(QStringLiteral("127.0.0.1"), port);
    busy.setOn(true);
    EXPECT_TRUE(busy.isOn());
    EXPECT_FALSE(busy.controller());
    EXPECT_TRUE(busy.statusLine().contains(
        QStringLiteral(" · obs-websocket cannot listen on 127.0.0.1:%1: ").arg(port)))
        << busy.statusLine().toStdString();

    control.setOn(false);
    ASSERT_TRUE(client.waitClosed());
    EXPECT_FALSE(control.controller());
}

}  // namespace
}  // namespace vantry::remote
