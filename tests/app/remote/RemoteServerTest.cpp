// The remote control end to end: real clients over 127.0.0.1 drive a real view model (over a
// recording renderer) and hear its changes; hostile clients are refused without harm; and
// vantry-cli remote talks to the same server.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "app/remote/RemoteClient.h"
#include "app/remote/RemoteControl.h"
#include "app/remote/RemoteProtocol.h"
#include "app/remote/RemoteSecret.h"
#include "app/remote/RemoteServer.h"
#include "app/remote/ShotsModelRemote.h"
#include "app/remote/ViewModelRemoteStudio.h"
#include "app/shots/ShotsModel.h"
#include "app/studio-app/StudioText.h"
#include "app/studio-app/VantryViewModel.h"
#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/app/studio/FakeStudioRenderer.h"
#include "tests/support/EventPump.h"
#include "tests/support/FakeWallFeeds.h"
#include "tests/support/MadeUpPdf.h"
#include "tests/support/StudioControllerFakes.h"

namespace vantry::remote {
namespace {

constexpr int kWaitMs = 15000;  // a hang guard, never a measure

void ensureApplication() {
    static int argc = 1;
    static char name[] = "remote_server_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
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
        if (names[std::size_t(i)] == "No wall")
            *error = "Recalled 4 · No wall, but its wall image is missing";
        return true;
    }
    std::vector<std::string> names{"Intro", "Close", "Broken"};
    std::vector<int> recalled;
};

// The overlay's controller as the server sees it: a recording switch and its state, published in
// its snapshots.
class FakePresenter : public creator::PresenterSource, public creator::RecordingRequests {
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
  public:
    bool isRecording() const { return recording; }
    void requestRecording(bool start, const QString& title, Answer answer) override {
        using Kind = creator::RecordingOutcome::Kind;
        if (start == recording) {
            answer({start ? Kind::alreadyRunning : Kind::notRunning, {}, "as it is", {}});
            return;
        }
        toggleRecording(title);
        answer({start ? Kind::started : Kind::saved, {}, {}, "/clips/rec.mp4"});
    }
    Q_INVOKABLE void toggleRecording(const QString& title) {
        titles.push_back(title);
        recording = !recording;
        creator::PresenterSnapshot snapshot = presenterSnapshot();
        snapshot.recording = recording;
        publishPresenterSnapshot(snapshot);
        emit isRecordingChanged();
    }
    bool recording = false;
    QStringList titles;
  signals:
    void isRecordingChanged();
};

json::Object objectOf(const std::string& text) {
    const auto doc = json::parse(text);
    return doc && doc->object() ? *doc->object() : json::Object{};
}
const json::Object& child(const json::Object& o, std::string_view key) {
    static const json::Object none;
    const json::Value* v = json::member(o, key);
    return v && v->object() ? *v->object() : none;
}
bool ok(const std::string& answer) {
    const bool* b = json::boolMember(objectOf(answer), "ok");
    return b && *b;
}
std::string codeOf(const std::string& answer) {
    const json::Object object = objectOf(answer);
    const std::string* code = json::stringMember(child(object, "error"), "code");
    return code ? *code : "";
}

class RemoteServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        ::setenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8().constData(), 1);
        vm = std::make_unique<app::VantryViewModel>(renderer, &panels);
        studio = std::make_unique<ViewModelRemoteStudio>(*vm);
    }
    void TearDown() override {
        server.reset();
        studio.reset();
        renderer->releaseExports();
        vm.reset();
        platform::drainMainQueue();
    }

    void start(RemoteServer::Options options = {}, RemoteShots* withShots = nullptr) {
        options.port = 0;
        options.secretHex = secret;
        options.exportFolder = dir.filePath("movies").toStdString();
        server = std::make_unique<RemoteServer>(*studio, withShots ? withShots : &shots, options);
        QString error;
        ASSERT_TRUE(server->listen(&error)) << error.toStdString();
    }
    std::unique_ptr<RemoteClient> connect() {
        auto client = std::make_unique<RemoteClient>();
        std::string error;
        EXPECT_TRUE(client->connectTo(QStringLiteral("127.0.0.1"), server->port(), secret, kWaitMs, &error))
            << error;
        return client;
    }
    static std::string call(RemoteClient& client, std::string_view request, std::string_view params = {}) {
        std::string error;
        const auto answer = client.call(request, params, kWaitMs, &error);
        EXPECT_TRUE(answer) << request << ": " << error;
        return answer.value_or("");
    }
    // The next event called `name`; other messages are passed over.
    static json::Object nextEvent(RemoteClient& client, std::string_view name) {
        while (auto message = client.nextMessage(kWaitMs)) {
            const json::Object object = objectOf(*message);
            const std::string* event = json::stringMember(object, "event");
            if (event && *event == name) return object;
        }
        ADD_FAILURE() << "no " << name << " event";
        return {};
    }
    static std::vector<std::string> changed(const json::Object& event) {
        std::vector<std::string> out;
        const json::Value* list = json::member(event, "changed");
        for (const json::Value& v : list && list->array() ? *list->array() : json::Array{})
            out.push_back(v.string() ? *v.string() : "");
        return out;
    }

    QTemporaryDir dir;
    std::string secret = randomHex(32);
    std::shared_ptr<testing::FakeStudioRenderer> renderer = std::make_shared<testing::FakeStudioRenderer>();
    testing::ScriptedPanels panels;
    std::unique_ptr<app::VantryViewModel> vm;
    std::unique_ptr<ViewModelRemoteStudio> studio;
    FakeShots shots;
    std::unique_ptr<RemoteServer> server;
};

TEST_F(RemoteServerTest, AClientDrivesTheStudioAndSubscribersHearEveryChange) {
    start();
    auto watcher = connect();
    const std::string subscribed = call(*watcher, "subscribe");
    ASSERT_TRUE(ok(subscribed)) << subscribed;
    EXPECT_EQ(*json::stringMember(child(child(objectOf(subscribed), "result"), "state"), "set"),
              vm->selectedSetId().toStdString());
    auto driver = connect();

    const std::string wall = dir.filePath("wall.png").toStdString();
    std::ofstream(wall) << "picture";
    const std::string otherSet(BroadcastStudioSet::allCases()[2].id());
    const struct {
        std::string request;
        std::string params;
        std::function<bool()> applied;
        std::string field;
    } cases[] = {
        {"setAngle", R"({"angle":2})", [&] { return vm->cameraAngleId() == 2 && renderer->angle.id() == 2; },
         "angle"},
        {"setGains", R"({"key":2,"led":0.9})",
         [&] { return vm->keyGain() == 2.f && renderer->keyLightGain == 2.f; }, "keyGain"},
        {"setSet", R"({"set":")" + otherSet + "\"}",
         [&] { return vm->selectedSetId().toStdString() == otherSet; }, "set"},
        {"setVisionCutout", R"({"on":true})", [&] { return vm->showVisionPresenter(); }, "visionCutout"},
        {"setPresenterMode", R"({"mode":"inSet"})", [&] { return vm->presenterInSet(); }, "presenterMode"},
        {"setWallImage", "{\"path\":" + json::quote(wall) + "}",
         [&] { return vm->slideName() == "wall.png"; }, "wallImage"},
        {"setMute", R"({"source":"desktop","on":true})",
         [&] { return vm->audio().sound().mixer().settings(audio::MixSource::desktop).muted; }, "audio"},
        {"setGain", R"({"source":"mic","db":-6})",
         [&] { return vm->audio().sound().mixer().settings(audio::MixSource::mic).gainDb == -6.0f; },
         "audio"},
    };
    for (const auto& c : cases) {
        const std::string answer = call(*driver, c.request, c.params);
        EXPECT_TRUE(ok(answer)) << c.request << ": " << answer;
        EXPECT_TRUE(c.applied()) << c.request;
        const auto got = changed(nextEvent(*watcher, "state"));
        EXPECT_NE(std::find(got.begin(), got.end(), c.field), got.end()) << c.request;
    }
    // A change made in the window reaches the client as well.
    vm->setNeonGain(2.0f);
    const json::Object event = nextEvent(*watcher, "state");
    EXPECT_EQ(changed(event), std::vector<std::string>{"neonGain"});
    EXPECT_EQ(json::numberMember(child(event, "state"), "neonGain"), 2.0);
    // Each server's picture, as the GO LIVE section chose it.
    vm->goLive().setDestinationCanvas(1, "vertical");
    const json::Object canvasEvent = nextEvent(*watcher, "state");
    EXPECT_EQ(changed(canvasEvent), std::vector<std::string>{"canvases"});
    const json::Array* canvases = json::member(child(canvasEvent, "state"), "canvases")->array();
    ASSERT_TRUE(canvases && canvases->size() == 4u);
    const char* expected[] = {"landscape", "vertical", "landscape", "landscape"};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(*(*canvases)[i].string(), expected[i]) << i;
    const std::string state = call(*driver, "state");
    EXPECT_EQ(json::numberMember(child(child(objectOf(state), "result"), "state"), "angle"), 2.0);
}

TEST_F(RemoteServerTest, RefusedRequestsAreAnsweredAndTheConnectionStays) {
    start();
    auto client = connect();
    const std::string folder = dir.path().toStdString();
    const struct {
        const char* request;
        std::string params;
        const char* code;
    } cases[] = {
        {"setAngle", R"({"angle":7})", "bad-params"},
        {"setGains", R"({"key":9})", "bad-params"},
        {"setSet", R"({"set":"nowhere"})", "bad-params"},
        {"setWallImage", R"({"path":"/no/such/picture.png"})", "failed"},
        {"setWallImage", "{\"path\":" + json::quote(folder) + "}", "failed"},
        {"startRecording", "", "unavailable"},
        {"recallShot", R"({"index":9})", "bad-params"},
        {"recallShot", R"({"index":2})", "failed"},
        {"goLive", "", "failed"},  // no server URL in the window's settings
        {"setGain", R"({"source":"mic","db":21})", "bad-params"},
        {"setMute", R"({"source":"Mic","on":true})", "bad-params"},
        {"reboot", "", "unknown-request"},
    };
    for (const auto& c : cases) {
        const std::string answer = call(*client, c.request, c.params);
        EXPECT_EQ(codeOf(answer), c.code) << c.request << " " << answer;
    }
    EXPECT_TRUE(renderer->imageLoads.empty()) << "nothing but a file reaches the picture loader";
    EXPECT_EQ(vm->cameraAngleId(), 0);
    EXPECT_TRUE(ok(call(*client, "state")));
}

TEST_F(RemoteServerTest, TheStateCarriesTheSoundAndOnlyAMetersSubscriberHearsTheMeters) {
    start();
    auto meters = connect();
    auto plain = connect();
    const std::string subscribed = call(*meters, "subscribe", R"({"meters":true})");
    ASSERT_TRUE(ok(subscribed)) << subscribed;
    const json::Object audio = child(child(child(objectOf(subscribed), "result"), "state"), "audio");
    for (const char* source : {"mic", "desktop", "wallVideo"}) {
        const json::Object s = child(audio, source);
        EXPECT_TRUE(json::boolMember(s, "muted")) << source;
        EXPECT_TRUE(json::numberMember(s, "gainDb")) << source;
        EXPECT_TRUE(json::stringMember(s, "device")) << source;
    }
    ASSERT_TRUE(ok(call(*plain, "subscribe")));
    // Two meters events in a row, each with every source and the mix.
    for (int i = 0; i < 2; ++i) {
        const json::Object event = nextEvent(*meters, "meters");
        const json::Object levels = child(event, "meters");
        for (const char* source : {"mic", "desktop", "wallVideo", "mix"}) {
            const json::Object level = child(levels, source);
            EXPECT_TRUE(json::numberMember(level, "peakDb")) << source;
            EXPECT_TRUE(json::numberMember(level, "rmsDb")) << source;
        }
    }
    // The plain subscriber's next message is the change, not a meter.
    ASSERT_TRUE(ok(call(*meters, "setMute", R"({"source":"mic","on":true})")));
    const auto message = plain->nextMessage(kWaitMs);
    ASSERT_TRUE(message);
    EXPECT_EQ(*json::stringMember(objectOf(*message), "event"), "state") << *message;
    ASSERT_TRUE(ok(call(*meters, "unsubscribe")));
}

TEST_F(RemoteServerTest, RecordingStartsAndStopsThroughTheOverlaysController) {
    start();
    auto client = connect();
    ASSERT_TRUE(ok(call(*client, "subscribe")));
    FakePresenter presenter;
    vm->setPresenter(&presenter);
    for (const auto& [request, recording] :
         {std::pair{"startRecording", true}, std::pair{"startRecording", true},
          std::pair{"stopRecording", false}}) {
        EXPECT_TRUE(ok(call(*client, request)));
        EXPECT_EQ(presenter.recording, recording) << request;
    }
    EXPECT_EQ(presenter.titles.size(), 2) << "asking for what already is changes nothing";
    std::vector<std::string> got;
    do {
        got = changed(nextEvent(*client, "state"));
    } while (!got.empty() && std::find(got.begin(), got.end(), "recording") == got.end());
    EXPECT_FALSE(got.empty()) << "the recorder's changes are announced";
    vm->setPresenter(nullptr);
}

// The studio's recording behind a real overlay controller, over a fake recorder whose starts and
// stops the test answers from the recorder's side.
class RemoteRecordingTest : public RemoteServerTest {
  protected:
    using Kind = creator::RecordingOutcome::Kind;
    static constexpr double kNow = 1765000000.5;

    void SetUp() override {
        RemoteServerTest::SetUp();
        owner = std::make_shared<creator::CreatorRecorder>(
            creator::CreatorRecorder::Services{recorder, [] { return kNow; }, [this] { return clips; }});
        vm->setScreenRecording(owner);
        start();
        client = connect();
        ASSERT_TRUE(ok(call(*client, "setVisionCutout", R"({"on":true})")));
        showOverlay();
    }
    void TearDown() override {
        hideOverlay();
        client.reset();
        RemoteServerTest::TearDown();
    }
    // What the window's Loader does with the switch.
    void showOverlay() {
        creator::CreatorStudioServices services;
        services.feed = std::make_unique<testing::FakeFeed>(std::make_shared<testing::FeedRecord>());
        services.recording = owner;
        services.now = [] { return kNow; };
        services.clipsDirectory = [this] { return clips; };
        services.revealFile = [](const std::filesystem::path&, std::function<void(const std::string&)>) {};
        overlay = std::make_unique<creator::OruCreatorStudioControllerV1045>(std::move(services));
        vm->setPresenter(overlay.get());
    }
    void hideOverlay() {
        if (vm) vm->setPresenter(nullptr);
        overlay.reset();
    }
    // Sends a request under a name of its own; its answer is read with answerTo().
    void send(const std::string& id, std::string_view request) {
        client->sendRaw(
            QString::fromStdString("{\"id\":\"" + id + "\",\"request\":\"" + std::string(request) + "\"}"));
    }
    std::string answerTo(const std::string& id) {
        while (auto message = client->nextMessage(kWaitMs)) {
            const std::string* got = json::stringMember(objectOf(*message), "id");
            if (got && *got == id) return *message;
        }
        ADD_FAILURE() << "no answer to " << id;
        return {};
    }
    // Answers the recorder's start or stop from the recorder's thread; the main thread applies it.
    template <typename Handler>
    void recorderAnswers(Handler handler, std::optional<platform::ScreenRecorderError> error = std::nullopt) {
        testing::fromOtherThread([&] { handler(error); });
        platform::drainMainQueue();
    }
    bool stateSaysRecording() {
        const std::string state = call(*client, "state");
        const bool* recording =
            json::boolMember(child(child(objectOf(state), "result"), "state"), "recording");
        return recording && *recording;
    }
    void startRecordingThroughTheRemote() {
        send("start", "startRecording");
        ASSERT_TRUE(testing::pumpUntil([&] { return recorder->starts.size() == 1; }, kWaitMs));
        recorderAnswers(recorder->starts[0]);
        const std::string answer = answerTo("start");
        ASSERT_TRUE(ok(answer)) << answer;
    }

    std::filesystem::path clips = dir.filePath("clips").toStdString();
    std::shared_ptr<testing::FakeRecorder> recorder = std::make_shared<testing::FakeRecorder>();
    std::shared_ptr<creator::CreatorRecorder> owner;
    std::unique_ptr<creator::OruCreatorStudioControllerV1045> overlay;
    std::unique_ptr<RemoteClient> client;
};

TEST_F(RemoteRecordingTest, SwitchingVisionCutoutOffStopsAndSavesTheRecording) {
    startRecordingThroughTheRemote();
    ASSERT_TRUE(ok(call(*client, "setVisionCutout", R"({"on":false})")));
    hideOverlay();
    ASSERT_EQ(recorder->stops.size(), 1u) << "the screen is not recorded once the switch is off";
    EXPECT_EQ(recorder->stops[0].first, clips / "Vantry_Pro_CreatorRec_1765000000.mp4");
    EXPECT_TRUE(stateSaysRecording()) << "until its file is finished";
    recorderAnswers(recorder->stops[0].second);
    EXPECT_FALSE(stateSaysRecording());
    EXPECT_EQ(vm->statusBannerText(), "Saved Vantry_Pro_CreatorRec_1765000000.mp4");
    EXPECT_EQ(recorder->starts.size(), 1u);
}

TEST_F(RemoteRecordingTest, StartsAndStopsAreAnsweredWithWhatTheRecorderDid) {
    const std::string idle = call(*client, "stopRecording");
    EXPECT_EQ(codeOf(idle), "unavailable") << idle;
    startRecordingThroughTheRemote();
    const std::string again = call(*client, "startRecording");
    ASSERT_TRUE(ok(again)) << again;
    EXPECT_NE(again.find("\"alreadyRecording\":true"), std::string::npos) << again;

    send("stop", "stopRecording");
    ASSERT_TRUE(testing::pumpUntil([&] { return recorder->stops.size() == 1; }, kWaitMs));
    // A start straight after the stop, while the file is being finished.
    const std::string early = call(*client, "startRecording");
    EXPECT_EQ(codeOf(early), "unavailable") << early;
    EXPECT_EQ(recorder->starts.size(), 1u);
    recorderAnswers(recorder->stops[0].second);
    const std::string saved = answerTo("stop");
    ASSERT_TRUE(ok(saved)) << saved;
    const std::string* file = json::stringMember(child(objectOf(saved), "result"), "file");
    ASSERT_NE(file, nullptr) << saved;
    EXPECT_EQ(*file, (clips / "Vantry_Pro_CreatorRec_1765000000.mp4").string());
    const std::string after = call(*client, "stopRecording");
    EXPECT_EQ(codeOf(after), "unavailable") << "nothing runs any more: " << after;
    EXPECT_FALSE(stateSaysRecording());
}

TEST_F(RemoteRecordingTest, AFailedStartIsAnsweredAsAFailure) {
    send("start", "startRecording");
    ASSERT_TRUE(testing::pumpUntil([&] { return recorder->starts.size() == 1; }, kWaitMs));
    recorderAnswers(recorder->starts[0], platform::ScreenRecorderError{"There is no X display to record."});
    const std::string answer = answerTo("start");
    EXPECT_EQ(codeOf(answer), "failed") << answer;
    EXPECT_NE(answer.find("There is no X display to record."), std::string::npos) << answer;
}

TEST_F(RemoteRecordingTest, ClosingTheWindowStopsSavesAndWaitsForTheRecording) {
    startRecordingThroughTheRemote();
    recorder->answerStops = true;
    hideOverlay();
    server.reset();
    client.reset();
    studio.reset();
    vm.reset();  // the window closes
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_EQ(recorder->stops[0].first, clips / "Vantry_Pro_CreatorRec_1765000000.mp4");
    EXPECT_EQ(owner->state(), creator::CreatorRecorder::State::idle) << "the file was finished before";
}

TEST_F(RemoteServerTest, TheWindowsSwitchShowsANewSecretOnceAndSaysWhyItCannotListen) {
    const std::filesystem::path file = dir.filePath("config/vantry-pro/remote-secret").toStdString();
    RemoteControl control(*studio, nullptr, QStringLiteral("127.0.0.1"), 0, file);
    control.setOn(true);
    ASSERT_TRUE(control.isOn()) << control.statusLine().toStdString();
    EXPECT_EQ(control.shownSecret().toStdString(), readSecret(file));
    control.setOn(false);
    control.setOn(true);
    EXPECT_TRUE(control.isOn());
    EXPECT_TRUE(control.shownSecret().isEmpty()) << "an existing secret is not shown again";

    RemoteControl busy(*studio, nullptr, QStringLiteral("127.0.0.1"), control.server()->port(), file);
    busy.setOn(true);
    EXPECT_FALSE(busy.isOn());
    EXPECT_TRUE(busy.statusLine().startsWith(QStringLiteral("Cannot listen")))
        << busy.statusLine().toStdString();
}

TEST_F(RemoteServerTest, ShotsAreListedRecalledAndAnnounced) {
    start();
    auto client = connect();
    ASSERT_TRUE(ok(call(*client, "subscribe")));
    const std::string list = call(*client, "listShots");
    const json::Value* array = json::member(child(objectOf(list), "result"), "shots");
    ASSERT_TRUE(array && array->array()) << list;
    EXPECT_EQ(array->array()->size(), 3u);
    EXPECT_TRUE(ok(call(*client, "recallShot", R"({"index":1})")));
    EXPECT_EQ(shots.recalled, std::vector<int>{1});

    server->shotRecalled(1);
    EXPECT_EQ(*json::stringMember(child(nextEvent(*client, "shotRecalled"), "shot"), "name"), "Close");
    shots.names.push_back("Outro");
    server->shotsChanged();
    const json::Value* now = json::member(nextEvent(*client, "shots"), "shots");
    EXPECT_EQ(now && now->array() ? now->array()->size() : 0u, 4u);
    EXPECT_EQ(changed(nextEvent(*client, "state")), std::vector<std::string>{"shotCount"});

    // Recalled but for its wall picture: answered ok, saying what did not apply.
    shots.names.push_back("No wall");
    const std::string partly = call(*client, "recallShot", R"({"index":4})");
    EXPECT_TRUE(ok(partly));
    EXPECT_EQ(json::stringMember(child(objectOf(partly), "result"), "warning") != nullptr, true) << partly;
    // No shot saved: nothing to recall.
    shots.names.clear();
    EXPECT_EQ(codeOf(call(*client, "recallShot", R"({"index":0})")), "unavailable");

    RemoteServer::Options options;
    options.port = 0;
    options.secretHex = secret;
    RemoteServer bare(*studio, nullptr, options);
    ASSERT_TRUE(bare.listen(nullptr));
    RemoteClient other;
    ASSERT_TRUE(other.connectTo(QStringLiteral("127.0.0.1"), bare.port(), secret, kWaitMs, nullptr));
    EXPECT_EQ(codeOf(call(other, "listShots")), "unavailable");
}

// A client steps the deck on the wall and stops a share; it never starts one, not even by
// recalling a shot of one.
TEST_F(RemoteServerTest, ADeckIsSteppedAndAShareStoppedButNeverStartedFromAfar) {
    testing::FakeWallFeeds feeds;
    feeds.portal = true;
    feeds.restoreToken = "token-1";
    studio.reset();
    vm = std::make_unique<app::VantryViewModel>(renderer, &panels, feeds.feeds());
    studio = std::make_unique<ViewModelRemoteStudio>(*vm);
    ShotsModelRemote remoteShots(vm->shots());
    start({}, &remoteShots);
    auto client = connect();
    const auto stateOf = [&] { return child(child(objectOf(call(*client, "state")), "result"), "state"); };

    EXPECT_EQ(codeOf(call(*client, "nextSlide")), "unavailable");
    const std::string deck = dir.filePath("talk.pdf").toStdString();
    testing::writeBytes(deck, testing::blankPagesPdf(3));
    ASSERT_TRUE(ok(call(*client, "setWallImage", "{\"path\":" + json::quote(deck) + "}")));
    json::Object state = stateOf();
    EXPECT_EQ(*json::stringMember(state, "wallKind"), "pdf");
    EXPECT_EQ(*json::stringMember(state, "wallImage"), "talk.pdf");
    EXPECT_EQ(json::numberMember(state, "slidePage"), 1.0);
    EXPECT_EQ(json::numberMember(state, "slideCount"), 3.0);

    const struct {
        const char* request;
        const char* params;
        const char* code;  // "" for ok
        int page;          // the page afterwards
    } steps[] = {
        {"nextSlide", "", "", 2},
        {"setSlidePage", R"({"page":3})", "", 3},
        {"nextSlide", "", "failed", 3},
        {"setSlidePage", R"({"page":4})", "bad-params", 3},
        {"setSlidePage", R"({"page":1})", "", 1},
        {"previousSlide", "", "failed", 1},
        {"nextSlide", "", "", 2},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(std::string(s.request) + " " + s.params);
        const std::string answer = call(*client, s.request, s.params);
        EXPECT_EQ(codeOf(answer), s.code) << answer;
        if (*s.code == '\0') {
            EXPECT_EQ(json::numberMember(child(objectOf(answer), "result"), "slidePage"), double(s.page))
                << answer;
        }
        EXPECT_EQ(vm->slidePage(), s.page);
    }

    EXPECT_EQ(codeOf(call(*client, "stopScreenShare")), "unavailable");
    ASSERT_TRUE(vm->shareScreen());  // at the window
    ASSERT_TRUE(vm->shots().saveCurrent(QStringLiteral("Shared")));
    EXPECT_EQ(*json::stringMember(stateOf(), "wallKind"), "screen");
    EXPECT_TRUE(ok(call(*client, "stopScreenShare")));
    EXPECT_FALSE(feeds.running());
    EXPECT_EQ(vm->wallKindName(), "builtIn");

    const std::size_t shares = feeds.shareTargets.size();
    const std::string recalled = call(*client, "recallShot", R"({"index":0})");
    EXPECT_TRUE(ok(recalled)) << recalled;
    const std::string* warning = json::stringMember(child(objectOf(recalled), "result"), "warning");
    ASSERT_NE(warning, nullptr) << recalled;
    EXPECT_NE(warning->find("can only be started at the window"), std::string::npos) << *warning;
    EXPECT_EQ(feeds.shareTargets.size(), shares);
    EXPECT_FALSE(feeds.running());
    // The same shot recalled at the window starts the share again through the portal's token.
    ASSERT_TRUE(vm->shots().recallShot(0));
    EXPECT_TRUE(vm->screenSharing());
    EXPECT_EQ(feeds.shareTargets.back().restoreToken, "token-1");
}

// The window's own shots list behind the switch: what a client recalls is what the window shows,
// and a shot saved in the window reaches subscribers.
TEST_F(RemoteServerTest, TheWindowsShotsAreRecalledAndTheirChangesHeard) {
    vm->setCameraAngleId(1);
    ASSERT_TRUE(vm->shots().saveCurrent(QStringLiteral("Wide")));
    vm->setCameraAngleId(2);

    ShotsModelRemote remoteShots(vm->shots());
    const std::filesystem::path file = dir.filePath("config/vantry-pro/remote-secret").toStdString();
    RemoteControl control(*studio, &remoteShots, QStringLiteral("127.0.0.1"), 0, file);
    remoteShots.forwardChanges(control);
    control.setOn(true);
    ASSERT_TRUE(control.isOn()) << control.statusLine().toStdString();
    RemoteClient client;
    ASSERT_TRUE(client.connectTo(QStringLiteral("127.0.0.1"), control.server()->port(), readSecret(file),
                                 kWaitMs, nullptr));
    ASSERT_TRUE(ok(call(client, "subscribe")));

    const std::string list = call(client, "listShots");
    EXPECT_NE(list.find("\"Wide\""), std::string::npos) << list;
    EXPECT_TRUE(ok(call(client, "recallShot", R"({"index":0})")));
    EXPECT_EQ(vm->cameraAngleId(), 1);
    EXPECT_EQ(*json::stringMember(child(nextEvent(client, "shotRecalled"), "shot"), "name"), "Wide");
    EXPECT_EQ(codeOf(call(client, "recallShot", R"({"index":5})")).empty(), false);

    ASSERT_TRUE(vm->shots().saveCurrent(QStringLiteral("Close")));
    const json::Value* now = json::member(nextEvent(client, "shots"), "shots");
    EXPECT_EQ(now && now->array() ? now->array()->size() : 0u, 2u);
}

TEST_F(RemoteServerTest, ExportClipWritesTheWindowsNameIntoTheStudiosFolderOnly) {
    start();
    renderer->holdExports = true;
    const std::filesystem::path folder = dir.filePath("movies").toStdString();
    std::filesystem::create_directories(folder);
    const std::string name = app::proposedExportName(vm->selectedSet());
    std::ofstream(folder / name) << "an earlier export";
    auto client = connect();
    const std::string answer = call(*client, "exportClip");
    ASSERT_TRUE(ok(answer)) << answer;
    ASSERT_TRUE(renderer->waitUntilRunning(1));
    const std::filesystem::path expected = folder / (std::filesystem::path(name).stem().string() + " 2.mp4");
    EXPECT_EQ(renderer->exports.at(0).destination, expected);
    EXPECT_EQ(*json::stringMember(child(objectOf(answer), "result"), "file"), expected.string());
    EXPECT_EQ(codeOf(call(*client, "exportClip")), "unavailable");
}

TEST_F(RemoteServerTest, OnlyAClientThatAnswersItsOwnChallengeGetsIn) {
    start();
    std::string error;
    RemoteClient wrong;
    EXPECT_FALSE(
        wrong.connectTo(QStringLiteral("127.0.0.1"), server->port(), randomHex(32), kWaitMs, &error));
    EXPECT_TRUE(wrong.waitClosed(kWaitMs));

    RemoteClient impatient;
    ASSERT_TRUE(impatient.open(QStringLiteral("127.0.0.1"), server->port(), kWaitMs, &error));
    EXPECT_EQ(codeOf(call(impatient, "state")), "not-authenticated");
    EXPECT_TRUE(impatient.waitClosed(kWaitMs));

    // An answer overheard on one connection is worthless on the next.
    RemoteClient honest;
    ASSERT_TRUE(honest.open(QStringLiteral("127.0.0.1"), server->port(), kWaitMs, &error));
    const std::string overheard = challengeAnswer(secret, honest.nonce());
    ASSERT_TRUE(honest.authenticate(overheard, kWaitMs, &error)) << error;
    RemoteClient replay;
    ASSERT_TRUE(replay.open(QStringLiteral("127.0.0.1"), server->port(), kWaitMs, &error));
    EXPECT_NE(replay.nonce(), honest.nonce());
    EXPECT_FALSE(replay.authenticate(overheard, kWaitMs, &error));
    EXPECT_TRUE(replay.waitClosed(kWaitMs));
    EXPECT_TRUE(ok(call(honest, "state")));

    RemoteServer::Options options;
    options.port = 0;
    options.secretHex = secret;
    options.authDeadlineMs = 50;
    RemoteServer strict(*studio, nullptr, options);
    ASSERT_TRUE(strict.listen(nullptr));
    RemoteClient silent;
    ASSERT_TRUE(silent.open(QStringLiteral("127.0.0.1"), strict.port(), kWaitMs, &error));
    EXPECT_TRUE(silent.waitClosed(kWaitMs)) << "a client that never answers is closed";
}

// Connections that never answer their challenge cannot fill the client slots: the longest waiting
// makes way, saying why, and a client with the secret always gets in.
TEST_F(RemoteServerTest, ConnectionsThatNeverAuthenticateNeverKeepAClientOut) {
    start();
    std::vector<std::unique_ptr<RemoteClient>> silent;
    std::string error;
    for (int i = 0; i < 2 * kMaxClients; ++i) {
        silent.push_back(std::make_unique<RemoteClient>());
        ASSERT_TRUE(silent.back()->open(QStringLiteral("127.0.0.1"), server->port(), kWaitMs, &error))
            << error;
    }
    for (int round = 0; round < 3; ++round) {
        auto client = connect();
        ASSERT_TRUE(client->isOpen()) << "round " << round;
        EXPECT_TRUE(ok(call(*client, "state")));
    }
    ASSERT_TRUE(silent.front()->waitClosed(kWaitMs));
    EXPECT_EQ(silent.front()->closeReason(), "too many connections waiting to authenticate");
    EXPECT_TRUE(silent.back()->isOpen()) << "the newest waiting connection keeps its chance";
}

// A burst beyond the budget: every allowed request is answered before the connection closes,
// and the close says why.
TEST_F(RemoteServerTest, AFloodGetsItsAllowedAnswersAndAReasonBeforeItIsClosed) {
    start();
    auto flood = connect();
    for (int i = 0; i < 400; ++i) flood->sendRaw(QStringLiteral(R"({"id":1,"request":"state"})"));
    int answered = 0;
    int refused = 0;
    while (auto message = flood->nextMessage(kWaitMs)) {
        answered += ok(*message);
        refused += codeOf(*message) == "rate-limited";
    }
    EXPECT_TRUE(flood->waitClosed(kWaitMs));
    EXPECT_GE(answered, int(kRequestBurst) - 1);  // authenticating took one
    EXPECT_GE(refused, 200);
    EXPECT_EQ(flood->closeReason(), "too many requests; closing");
}

TEST_F(RemoteServerTest, HostileClientsAreCutOffWhileOthersAreServed) {
    RemoteServer::Options options;
    options.maxClients = 4;
    start(options);
    auto good = connect();

    auto big = connect();
    big->sendRaw(QString(int(kMaxMessageBytes) + 1, QLatin1Char(' ')));
    EXPECT_TRUE(big->waitClosed(kWaitMs)) << "an oversized message closes the connection";

    auto garbled = connect();
    for (int i = 1; i <= kMaxMalformed; ++i) {
        garbled->sendRaw(QStringLiteral("not json"));
        const auto answer = garbled->nextMessage(kWaitMs);
        ASSERT_TRUE(answer) << "message " << i;
        EXPECT_EQ(codeOf(*answer), "bad-json");
    }
    EXPECT_TRUE(garbled->waitClosed(kWaitMs)) << "repeated malformed messages close the connection";

    ASSERT_TRUE(testing::pumpUntil([&] { return server->clientCount() == 1; }, kWaitMs));
    std::vector<std::unique_ptr<RemoteClient>> crowd;
    for (int i = 0; i < 3; ++i) crowd.push_back(connect());
    RemoteClient oneTooMany;
    std::string error;
    EXPECT_FALSE(oneTooMany.open(QStringLiteral("127.0.0.1"), server->port(), kWaitMs, &error));
    EXPECT_NE(error.find("clients"), std::string::npos) << error;

    // A flood is refused and finally closed; the well-behaved client is answered correctly meanwhile.
    RemoteClient& flood = *crowd[0];
    for (int i = 0; i < 1000; ++i) flood.sendRaw(QStringLiteral(R"({"id":1,"request":"state"})"));
    for (int angle : {1, 3, 2}) {
        ASSERT_TRUE(ok(call(*good, "setAngle", "{\"angle\":" + std::to_string(angle) + "}")));
        const std::string state = call(*good, "state");
        EXPECT_EQ(json::numberMember(child(child(objectOf(state), "result"), "state"), "angle"),
                  double(angle));
    }
    bool refused = false;
    while (auto message = flood.nextMessage(kWaitMs)) refused = refused || codeOf(*message) == "rate-limited";
    EXPECT_TRUE(refused);
    EXPECT_TRUE(flood.waitClosed(kWaitMs));
    EXPECT_TRUE(ok(call(*good, "state")));
}

TEST_F(RemoteServerTest, TheCommandLineSendsOneRequestOrWatches) {
    start();
    const QString secretFile = dir.filePath("secret");
    { std::ofstream(secretFile.toStdString()) << secret << "\n"; }
    ::chmod(secretFile.toUtf8().constData(), 0600);
    const QStringList common{QStringLiteral("remote"), QStringLiteral("--address"),
                             QStringLiteral("127.0.0.1:%1").arg(server->port()),
                             QStringLiteral("--secret-file"), secretFile};
    const auto run = [&](QStringList args, int* exitCode) {
        QProcess cli;
        cli.start(QStringLiteral(VANTRY_CLI), common + args);
        EXPECT_TRUE(testing::pumpUntil([&] { return cli.state() == QProcess::NotRunning; }, kWaitMs));
        *exitCode = cli.exitCode();
        return cli.readAllStandardOutput().toStdString();
    };
    const struct {
        QStringList args;
        int exitCode;
        bool answeredOk;
    } cases[] = {
        {{QStringLiteral("setAngle"), QStringLiteral(R"({"angle":3})")}, 0, true},
        {{QStringLiteral("setAngle"), QStringLiteral(R"({"angle":9})")}, 1, false},
        {{QStringLiteral("state")}, 0, true},
    };
    for (const auto& c : cases) {
        int exitCode = -1;
        const std::string out = run(c.args, &exitCode);
        EXPECT_EQ(exitCode, c.exitCode) << c.args.join(' ').toStdString() << ": " << out;
        EXPECT_EQ(ok(out), c.answeredOk) << out;
    }
    EXPECT_EQ(vm->cameraAngleId(), 3);
    int exitCode = -1;
    EXPECT_NE(run({QStringLiteral("state")}, &exitCode).find("\"angle\":3"), std::string::npos);

    QProcess watch;
    watch.start(QStringLiteral(VANTRY_CLI), common + QStringList{QStringLiteral("--watch")});
    std::string seen;
    ASSERT_TRUE(testing::pumpUntil(
        [&] {
            seen += watch.readAllStandardOutput().toStdString();
            return seen.find("\"ok\":true") != std::string::npos;
        },
        kWaitMs));
    vm->setLedBrightness(1.5f);
    EXPECT_TRUE(testing::pumpUntil(
        [&] {
            seen += watch.readAllStandardOutput().toStdString();
            return seen.find("\"changed\":[\"ledBrightness\"]") != std::string::npos;
        },
        kWaitMs))
        << seen;
    watch.kill();
    watch.waitForFinished();
}

// The command's help names every request the studio takes (authenticate is the command's own).
TEST(RemoteCommandHelp, NamesEveryRequest) {
    ensureApplication();
    QProcess cli;
    cli.start(QStringLiteral(VANTRY_CLI), {QStringLiteral("remote"), QStringLiteral("--help")});
    ASSERT_TRUE(cli.waitForFinished(kWaitMs));
    EXPECT_EQ(cli.exitCode(), 0);
    std::set<std::string> words;
    std::string word;
    for (const char c : cli.readAllStandardOutput().toStdString() + "\n") {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += c;
        } else if (!word.empty()) {
            words.insert(word);
            word.clear();
        }
    }
    for (const std::string_view request : requestNames()) {
        if (request == "authenticate") continue;
        EXPECT_TRUE(words.count(std::string(request))) << request;
    }
}

}  // namespace
}  // namespace vantry::remote

#include "RemoteServerTest.moc"
