// obs-websocket-js, the client button decks and automation scripts use, driving the studio's
// obs-websocket endpoint under node over both subprotocols (tests/app/remote/
// obs-websocket-js-session.cjs). scripts/install-deps installs the package
// (scripts/fetch-obs-websocket-js); nothing is fetched here.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include "app/remote/ObsWebSocketServer.h"
#include "tests/support/EventPump.h"
#include "tests/support/FakeRemoteStudio.h"

namespace vantry::remote {
namespace {

constexpr int kWaitMs = 60000;  // a hang guard, never a measure

void ensureApplication() {
    static int argc = 1;
    static char name[] = "obs_websocket_js_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) static QCoreApplication app(argc, argv);
}

class TwoShots : public RemoteShots {
  public:
    int shotCount() const override { return 2; }
    std::string shotJson(int i) const override {
        return i == 0 ? R"({"name":"Intro"})" : R"({"name":"Close"})";
    }
    bool recallShot(int i, std::string*) override {
        recalled.push_back(i);
        return true;
    }
    std::vector<int> recalled;
};

class ObsWebSocketJs : public ::testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(BothSubprotocols, ObsWebSocketJs, ::testing::Values("json", "msgpack"),
                         [](const auto& info) { return std::string(info.param); });

TEST_P(ObsWebSocketJs, ARealClientIdentifiesReadsAndDrivesTheStudio) {
    ensureApplication();
    ASSERT_TRUE(
        QFileInfo::exists(QStringLiteral(VANTRY_OBS_WEBSOCKET_JS_MODULES "/obs-websocket-js/package.json")))
        << "obs-websocket-js is missing from " VANTRY_OBS_WEBSOCKET_JS_MODULES ": run scripts/install-deps";
    testing::FakeRemoteStudio studio;
    TwoShots shots;
    ObsWebSocketServer::Options options;
    options.port = 0;
    options.password = std::string(64, 'c');
    ObsWebSocketServer server(studio, &shots, options);
    ASSERT_TRUE(server.listen(nullptr));

    QProcess node;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NODE_PATH"), QStringLiteral(VANTRY_OBS_WEBSOCKET_JS_MODULES));
    node.setProcessEnvironment(env);
    node.setProcessChannelMode(QProcess::MergedChannels);
    node.start(QStringLiteral(VANTRY_NODE),
               {QStringLiteral(VANTRY_OBS_WEBSOCKET_JS_SESSION),
                QStringLiteral("ws://127.0.0.1:%1").arg(server.port()),
                QString::fromStdString(options.password), QString::fromUtf8(GetParam())});
    ASSERT_TRUE(node.waitForStarted(kWaitMs));
    // The server answers on this thread: the loop runs while node does.
    ASSERT_TRUE(testing::pumpUntil([&] { return node.state() == QProcess::NotRunning; }, kWaitMs));
    const std::string output = node.readAll().toStdString();
    EXPECT_EQ(node.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(node.exitCode(), 0) << output;
    EXPECT_NE(output.find("step: done"), std::string::npos) << output;

    // What the client did reached the studio.
    EXPECT_EQ(shots.recalled, std::vector<int>{1});
    EXPECT_EQ(studio.angleId, 1);
    EXPECT_FALSE(studio.recording);
    EXPECT_TRUE(studio.muted);
    EXPECT_EQ(studio.goLiveCalls, 1);
    EXPECT_EQ(studio.pictureSizes, (std::vector<std::pair<int, int>>{{160, 90}}));
}

}  // namespace
}  // namespace vantry::remote
