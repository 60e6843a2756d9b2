// The obs-websocket endpoint over the window's own view model: a recalled shot from the window's
// shots list is the program scene until the window changes the picture, and the microphone is the
// overlay controller's (muting it leaves it out of the recording).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "app/remote/ObsWebSocketServer.h"
#include "app/remote/ShotsModelRemote.h"
#include "app/remote/ViewModelRemoteStudio.h"
#include "app/shots/ShotsModel.h"
#include "app/studio-app/VantryViewModel.h"
#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/app/studio/FakeStudioRenderer.h"
#include "tests/support/ObsWebSocketTestClient.h"
#include "tests/support/StudioControllerFakes.h"

namespace vantry::remote {
namespace {

using testing::ObsWebSocketTestClient;

const std::string kPassword(64, 'd');

std::string textOf(const std::optional<json::Object>& o, std::string_view key) {
    const std::string* s = o ? json::stringMember(*o, key) : nullptr;
    return s ? *s : "<none>";
}

class ObsWebSocketWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "obs_websocket_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) static QCoreApplication app(argc, argv);
        ::setenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8().constData(), 1);
        vm = std::make_unique<app::VantryViewModel>(renderer, &panels);
        studio = std::make_unique<ViewModelRemoteStudio>(*vm);
        remoteShots = std::make_unique<ShotsModelRemote>(vm->shots());
        ObsWebSocketServer::Options options;
        options.port = 0;
        options.password = kPassword;
        server = std::make_unique<ObsWebSocketServer>(*studio, remoteShots.get(), options);
        ASSERT_TRUE(server->listen(nullptr));
        // The window's shots list tells the endpoint, as the switch's control passes it on.
        QObject::connect(&vm->shots(), &app::shots::ShotsModel::shotRecalled, server.get(),
                         [this](int index, const QString&) { server->shotRecalled(index); });
        client = std::make_unique<ObsWebSocketTestClient>();
        ASSERT_TRUE(client->open(server->port()));
        ASSERT_TRUE(client->identify(kPassword));
    }
    void TearDown() override {
        client.reset();
        server.reset();
        vm->setPresenter(nullptr);
        overlay.reset();
        remoteShots.reset();
        studio.reset();
        renderer->releaseExports();
        vm.reset();
        platform::drainMainQueue();
    }

    QTemporaryDir dir;
    std::shared_ptr<vantry::testing::FakeStudioRenderer> renderer =
        std::make_shared<vantry::testing::FakeStudioRenderer>();
    vantry::testing::ScriptedPanels panels;
    std::unique_ptr<app::VantryViewModel> vm;
    std::unique_ptr<ViewModelRemoteStudio> studio;
    std::unique_ptr<ShotsModelRemote> remoteShots;
    std::unique_ptr<ObsWebSocketServer> server;
    std::unique_ptr<ObsWebSocketTestClient> client;
    std::unique_ptr<creator::OruCreatorStudioControllerV1045> overlay;
};

TEST_F(ObsWebSocketWindowTest, AShotRecalledInTheWindowIsTheProgramSceneUntilThePictureChanges) {
    vm->setCameraAngleId(1);
    ASSERT_TRUE(vm->shots().saveCurrent(QStringLiteral("Wide")));
    vm->setCameraAngleId(2);
    server->shotsChanged();
    const auto list = client->event("SceneListChanged");
    ASSERT_TRUE(list);
    EXPECT_EQ(textOf(*json::member(*list, "scenes")->array()->front().object(), "sceneName"), "Wide");
    EXPECT_EQ(textOf(client->event("CurrentProgramSceneChanged"), "sceneName"), "Cam 3 · Host");

    ASSERT_TRUE(vm->shots().recallShot(0));
    EXPECT_EQ(textOf(client->event("CurrentProgramSceneChanged"), "sceneName"), "Wide");
    EXPECT_EQ(vm->cameraAngleId(), 1);
    vm->setNeonGain(2.0f);
    EXPECT_EQ(textOf(client->event("CurrentProgramSceneChanged"), "sceneName"), "Cam 2 · Screen");

    // Through the endpoint: the window's list recalls it, and the scene comes back.
    ASSERT_TRUE(client->call("SetCurrentProgramScene", R"({"sceneName":"Wide"})"));
    EXPECT_EQ(textOf(client->event("CurrentProgramSceneChanged"), "sceneName"), "Wide");
    const auto current = client->call("GetCurrentProgramScene");
    const json::Value* data = current ? json::member(*current, "responseData") : nullptr;
    ASSERT_TRUE(data && data->object());
    EXPECT_EQ(textOf(*data->object(), "currentProgramSceneName"), "Wide");
    EXPECT_NE(vm->neonGain(), 2.0f) << "the shot's gains are back";
}

// The inputs are the AUDIO section's sources: muting "Mic/Aux" mutes the mix's microphone and,
// while the overlay's recorder takes it, leaves it out of the recording too; what the window's
// section changes reaches the endpoint's clients.
TEST_F(ObsWebSocketWindowTest, TheMicrophoneIsTheMixsAndMutingItLeavesItOutOfTheRecording) {
    const auto withoutOverlay = client->call("SetInputMute", R"({"inputName":"Mic/Aux","inputMuted":true})");
    ASSERT_TRUE(withoutOverlay);
    const json::Value* status = json::member(*withoutOverlay, "requestStatus");
    EXPECT_EQ(json::numberMember(*status->object(), "code"), 100.0) << "the mix has a microphone of its own";
    EXPECT_FALSE(studio->micAvailable());
    EXPECT_TRUE(vm->audio().sound().mixer().settings(audio::MixSource::mic).muted);
    const auto mixMuted = client->event("InputMuteStateChanged");
    ASSERT_TRUE(mixMuted);
    EXPECT_TRUE(*json::boolMember(*mixMuted, "inputMuted"));
    client->call("SetInputMute", R"({"inputName":"Mic/Aux","inputMuted":false})");
    ASSERT_TRUE(client->event("InputMuteStateChanged"));

    creator::CreatorStudioServices services;
    services.feed =
        std::make_unique<vantry::testing::FakeFeed>(std::make_shared<vantry::testing::FeedRecord>());
    services.now = [] { return 1765000000.5; };
    services.clipsDirectory = [this] { return std::filesystem::path(dir.filePath("clips").toStdString()); };
    services.revealFile = [](const std::filesystem::path&, std::function<void(const std::string&)>) {};
    overlay = std::make_unique<creator::OruCreatorStudioControllerV1045>(std::move(services));
    vm->setPresenter(overlay.get());
    ASSERT_TRUE(studio->micAvailable());
    ASSERT_TRUE(overlay->isMicIncluded());

    client->call("SetInputMute", R"({"inputName":"Mic/Aux","inputMuted":true})");
    EXPECT_FALSE(overlay->isMicIncluded());
    const auto muted = client->event("InputMuteStateChanged");
    ASSERT_TRUE(muted);
    EXPECT_TRUE(*json::boolMember(*muted, "inputMuted"));
    // The window's AUDIO section unmutes it.
    ASSERT_TRUE(vm->audio().setMuted(QStringLiteral("mic"), false));
    const auto back = client->event("InputMuteStateChanged");
    ASSERT_TRUE(back);
    EXPECT_FALSE(*json::boolMember(*back, "inputMuted"));
    ASSERT_TRUE(vm->audio().setGainDb(QStringLiteral("desktop"), -10));
    const auto volume = client->event("InputVolumeChanged");
    ASSERT_TRUE(volume);
    EXPECT_EQ(textOf(volume, "inputName"), "Desktop Audio");
    EXPECT_NEAR(*json::numberMember(*volume, "inputVolumeDb"), -10, 1e-4);
}

// The renderer makes the picture on a thread of its own; one it cannot make is a failed request,
// answered from the main thread.
TEST_F(ObsWebSocketWindowTest, AProgramPictureTheRendererCannotMakeIsAFailedRequest) {
    const auto shot = client->call("GetSourceScreenshot",
                                   R"({"sourceName":"Cam 1 · Desk","imageFormat":"png","imageHeight":90})");
    ASSERT_TRUE(shot);
    const json::Value* status = json::member(*shot, "requestStatus");
    EXPECT_EQ(json::numberMember(*status->object(), "code"), 702.0);
    EXPECT_EQ(textOf(*status->object(), "comment"), "The program picture could not be rendered.");
}

}  // namespace
}  // namespace vantry::remote
