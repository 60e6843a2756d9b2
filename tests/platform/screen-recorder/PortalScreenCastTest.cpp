// The desktop portal path against a portal of the test's own on a private session bus: the
// user cancelling the desktop's dialog, the portal failing, the choice of path, and the kept
// restore token.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "platform/screen-recorder/CaptureSource.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"
#include "platform/screen-recorder/PortalScreenCast.h"
#include "platform/video/VideoFileReader.h"
#include "platform/wall-feed/WallFeed.h"
#include "tests/platform/screen-recorder/RecorderTestSupport.h"
#include "tests/platform/screen-recorder/TestVideoProducer.h"
#include "tests/support/EventPump.h"

using namespace vantry::platform;
namespace wall = vantry::platform::wall;
namespace fs = std::filesystem;

// One stream of a Start answer: its PipeWire node and properties, (ua{sv}).
struct PortalStreamEntry {
    uint node = 0;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(PortalStreamEntry)

QDBusArgument& operator<<(QDBusArgument& out, const PortalStreamEntry& s) {
    out.beginStructure();
    out << s.node << s.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalStreamEntry& s) {
    in.beginStructure();
    in >> s.node >> s.properties;
    in.endStructure();
    return in;
}

namespace {

const char* kSessionPath = "/org/freedesktop/portal/desktop/session/test/1";

// A session object: records that the recorder closed it.
class FakeSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
  public:
    int closes = 0;
  public slots:
    void Close() { ++closes; }
};

// org.freedesktop.portal.ScreenCast with scripted answers to SelectSources and Start.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
    Q_PROPERTY(uint version READ version)
    Q_PROPERTY(uint AvailableSourceTypes READ sourceTypes)
    Q_PROPERTY(uint AvailableCursorModes READ cursorModes)

  public:
    explicit FakePortal(QDBusConnection bus) : bus_(bus) {}
    uint version() const { return 4; }
    uint sourceTypes() const { return 3; }
    uint cursorModes() const { return 7; }

    uint selectAnswer = 0;
    uint startAnswer = 0;
    // Where a started cast is read from: a PipeWire node and its daemon's socket.
    uint node = 0;
    std::string pipeWireSocket;
    QString restoreToken;
    QVariantMap selectOptions;
    int starts = 0;

  public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& call) {
        return answer(call, options, 0,
                      {{QStringLiteral("session_handle"), QString::fromLatin1(kSessionPath)}});
    }
    QDBusObjectPath SelectSources(const QDBusObjectPath&, const QVariantMap& options,
                                  const QDBusMessage& call) {
        selectOptions = options;
        return answer(call, options, selectAnswer, {});
    }
    QDBusObjectPath Start(const QDBusObjectPath&, const QString&, const QVariantMap& options,
                          const QDBusMessage& call) {
        ++starts;
        QVariantMap results;
        if (node != 0) {
            const PortalStreamEntry stream{node, {}};
            results.insert(QStringLiteral("streams"), QVariant::fromValue(QList<PortalStreamEntry>{stream}));
            results.insert(QStringLiteral("restore_token"), restoreToken);
        }
        return answer(call, options, startAnswer, results);
    }
    QDBusUnixFileDescriptor OpenPipeWireRemote(const QDBusObjectPath&, const QVariantMap&) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, pipeWireSocket.c_str(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return {};
        }
        QDBusUnixFileDescriptor remote(fd);
        ::close(fd);
        return remote;
    }

  private:
    // The answer comes as the Response signal of the request object the caller named.
    QDBusObjectPath answer(const QDBusMessage& call, const QVariantMap& options, uint code,
                           const QVariantMap& results) {
        QString sender = call.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender +
                             QLatin1Char('/') + options.value(QStringLiteral("handle_token")).toString();
        QDBusMessage response = QDBusMessage::createTargetedSignal(
            call.service(), path, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"));
        response << code << results;
        bus_.send(response);
        return QDBusObjectPath(path);
    }

    QDBusConnection bus_;
};

struct PrivateBus {
    pid_t daemon = -1;
    fs::path dir;
    std::string address;
};

PrivateBus& privateBus() {
    static PrivateBus bus;
    return bus;
}

class PortalScreenCastTest : public ::testing::Test {
  protected:
    // The bus must exist before Qt first reaches for the session bus.
    static void SetUpTestSuite() {
        PrivateBus& bus = privateBus();
        if (bus.daemon > 0) return;
        bus.dir = fs::temp_directory_path() / ("vantry-portal-bus-" + std::to_string(::getpid()));
        fs::create_directories(bus.dir);
        bus.address = "unix:path=" + (bus.dir / "bus").string();
        // No service files: nothing of the machine is started on this bus.
        std::ofstream(bus.dir / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>"
            << bus.address
            << "</listen><policy context=\"default\"><allow send_destination=\"*\" "
               "eavesdrop=\"true\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
               "</policy></busconfig>\n";
        bus.daemon = vantry::testing::spawn(
            {"dbus-daemon", "--nofork", "--config-file=" + (bus.dir / "bus.conf").string()});
        ASSERT_GT(bus.daemon, 0);
        for (int i = 0; i < 500 && !fs::exists(bus.dir / "bus"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(bus.dir / "bus")) << "the private session bus did not start";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str(), 1);
        static int argc = 1;
        static char name[] = "platform_portal_tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        qDBusRegisterMetaType<PortalStreamEntry>();
        qDBusRegisterMetaType<QList<PortalStreamEntry>>();
    }
    static void TearDownTestSuite() {
        PrivateBus& bus = privateBus();
        if (bus.daemon > 0) vantry::testing::stopChild(bus.daemon, SIGTERM);
        bus.daemon = -1;
        std::error_code ignored;
        fs::remove_all(bus.dir, ignored);
    }

    void SetUp() override {
        // The socket appears a moment before the daemon takes connections on it.
        for (int i = 0; i < 500; ++i) {
            server =
                QDBusConnection::connectToBus(QString::fromStdString(privateBus().address), "fake-portal");
            if (server.isConnected()) break;
            QDBusConnection::disconnectFromBus("fake-portal");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(server.isConnected());
        portal = std::make_unique<FakePortal>(server);
        session = std::make_unique<FakeSession>();
        ASSERT_TRUE(
            server.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal.get(),
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(server.registerObject(QString::fromLatin1(kSessionPath), session.get(),
                                          QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        dir = fs::temp_directory_path() / ("vantry-portal-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        server.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        server.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        server.unregisterObject(QString::fromLatin1(kSessionPath));
        QDBusConnection::disconnectFromBus("fake-portal");
        fs::remove_all(dir);
    }

    LinuxScreenRecorderOptions portalOptions() const {
        LinuxScreenRecorderOptions options;
        options.source = CaptureSourceChoice::portal;
        options.captureAudio = false;
        options.portalSettingsFile = dir / "config" / "screencast.conf";
        options.portalDialogTimeoutMs = 20'000;
        options.log = [](const std::string&) {};
        return options;
    }

    // Runs `call` on another thread while this one serves the portal.
    template <typename Call>
    auto elsewhere(Call call) {
        auto result = std::async(std::launch::async, call);
        vantry::testing::pumpUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60'000);
        return result.get();
    }

    // Starts a recording, keeping this thread's events flowing until it completes.
    std::optional<ScreenRecorderError> start(LinuxScreenRecorder& recorder) {
        auto done = std::make_shared<std::promise<std::optional<ScreenRecorderError>>>();
        auto result = done->get_future();
        recorder.setScratchFolder(dir / "clips");
        recorder.startRecording(
            [done](std::optional<ScreenRecorderError> e) { done->set_value(std::move(e)); });
        const bool completed = vantry::testing::pumpUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60'000);
        if (!completed) return ScreenRecorderError{"<no completion>", false};
        return result.get();
    }

    // A PipeWire daemon and its session manager of this test alone, stopped however the test
    // ends; $PIPEWIRE_RUNTIME_DIR points at them meanwhile.
    struct PipeWireStack {
        std::vector<pid_t> pids;
        fs::path socket;
        ~PipeWireStack() {
            ::unsetenv("PIPEWIRE_RUNTIME_DIR");
            for (auto it = pids.rbegin(); it != pids.rend(); ++it) vantry::testing::stopChild(*it, SIGTERM);
        }
    };
    void startPipeWire(PipeWireStack& daemons) const {
        const fs::path run = dir / "run";
        fs::create_directories(run);
        fs::permissions(run, fs::perms::owner_all);
        const std::string runtime = "XDG_RUNTIME_DIR=" + run.string();
        const pid_t pipewire = vantry::testing::spawn({"env", runtime, "pipewire"});
        ASSERT_GT(pipewire, 0);
        daemons.pids.push_back(pipewire);
        for (int i = 0; i < 500 && !fs::exists(run / "pipewire-0"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(run / "pipewire-0")) << "the PipeWire daemon did not start";
        const pid_t wireplumber = vantry::testing::spawn({"env", runtime, "wireplumber"});
        ASSERT_GT(wireplumber, 0);
        daemons.pids.push_back(wireplumber);
        ::setenv("PIPEWIRE_RUNTIME_DIR", run.c_str(), 1);
        daemons.socket = run / "pipewire-0";
    }

    QDBusConnection server{QString()};
    std::unique_ptr<FakePortal> portal;
    std::unique_ptr<FakeSession> session;
    fs::path dir;
};

TEST_F(PortalScreenCastTest, ACancelledOrFailedDialogEndsTheStartWithoutAFile) {
    const struct {
        uint selectAnswer, startAnswer;
        bool cancelled;
        const char* says;
    } cases[] = {
        {0, 1, true, LinuxScreenRecorder::kCancelledText},
        {1, 0, true, LinuxScreenRecorder::kCancelledText},
        {0, 2, false,
         "Cannot capture the screen through the desktop portal: the desktop portal could not start the "
         "screen cast (answer 2)."},
        {2, 0, false,
         "Cannot capture the screen through the desktop portal: the desktop portal refused the source "
         "selection (answer 2)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.selectAnswer) + "/" + std::to_string(c.startAnswer));
        portal->selectAnswer = c.selectAnswer;
        portal->startAnswer = c.startAnswer;
        session->closes = 0;
        {
            LinuxScreenRecorder recorder(portalOptions());
            const auto error = start(recorder);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->cancelled, c.cancelled);
            EXPECT_EQ(error->localizedDescription, c.says);
        }
        EXPECT_EQ(session->closes, 1) << "the portal session is closed again";
        EXPECT_EQ(portal->selectOptions.value("cursor_mode").toUInt(), 2u) << "the cursor is drawn in";
        std::error_code ec;
        EXPECT_TRUE(!fs::exists(dir / "clips") || fs::is_empty(dir / "clips")) << "no file is left";
    }
}

TEST_F(PortalScreenCastTest, TheKeptRestoreTokenIsOfferedSoTheDesktopNeedNotAsk) {
    const fs::path settings = dir / "config" / "screencast.conf";
    EXPECT_EQ(loadScreenCastRestoreToken(settings), "");
    saveScreenCastRestoreToken(settings, "token-of-the-last-choice");
    EXPECT_EQ(loadScreenCastRestoreToken(settings), "token-of-the-last-choice");
    portal->startAnswer = 1;
    LinuxScreenRecorder recorder(portalOptions());
    ASSERT_TRUE(start(recorder));
    EXPECT_EQ(portal->selectOptions.value("restore_token").toString(), "token-of-the-last-choice");
    EXPECT_EQ(portal->selectOptions.value("persist_mode").toUInt(), 2u);
}

TEST_F(PortalScreenCastTest, ThePortalIsChosenOnAWaylandSessionWhereItAnswers) {
    EXPECT_EQ(elsewhere([] { return PortalScreenCast::version(); }), 4u);
    const LinuxScreenRecorderOptions options = portalOptions();
    EXPECT_EQ(elsewhere([&] { return LinuxScreenRecorder::capturePath(options); }), CapturePath::portal);
    server.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    std::string why;
    EXPECT_EQ(elsewhere([&] { return LinuxScreenRecorder::capturePath(options, &why); }), CapturePath::none);
    EXPECT_NE(why.find("no screen cast"), std::string::npos) << why;
}

// A PipeWire daemon (with its session manager) of this test alone, and a video source on it.
TEST_F(PortalScreenCastTest, RecordsThePortalsPipeWireStreamAtAConstantThirtyFramesPerSecond) {
    PipeWireStack daemons;
    ASSERT_NO_FATAL_FAILURE(startPipeWire(daemons));
    std::string why;
    auto producer = vantry::testing::TestVideoProducer::start(why);
    ASSERT_TRUE(producer) << why;

    portal->node = producer->nodeId();
    portal->pipeWireSocket = daemons.socket.string();
    portal->restoreToken = "token-of-this-choice";
    const fs::path out = dir / "clips" / "portal.mp4";
    std::optional<ScreenRecorderError> stopped;
    {
        LinuxScreenRecorder recorder(portalOptions());
        const auto beforeStart = std::chrono::steady_clock::now();
        const auto started = start(recorder);
        ASSERT_FALSE(started) << started->localizedDescription;
        const auto afterStart = std::chrono::steady_clock::now();
        EXPECT_EQ(recorder.lastStats().path, CapturePath::portal);
        vantry::testing::pumpUntil([] { return false; }, 2000);
        const auto beforeStop = std::chrono::steady_clock::now();
        auto done = std::make_shared<std::promise<std::optional<ScreenRecorderError>>>();
        recorder.stopRecording(
            out, [done](std::optional<ScreenRecorderError> e) { done->set_value(std::move(e)); });
        const auto afterStop = std::chrono::steady_clock::now();
        // The portal session is closed from the recorder's thread while this one serves it.
        auto result = done->get_future();
        vantry::testing::pumpUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60'000);
        stopped = result.get();
        ASSERT_FALSE(stopped) << stopped->localizedDescription;
        const double shortest = std::chrono::duration<double>(beforeStop - afterStart).count();
        const double longest = std::chrono::duration<double>(afterStop - beforeStart).count();

        const VideoFileInfo info = probeVideoFile(out);
        EXPECT_EQ(info.codecName, "h264");
        EXPECT_EQ(info.width, vantry::testing::TestVideoProducer::kWidth);
        EXPECT_EQ(info.height, vantry::testing::TestVideoProducer::kHeight);
        EXPECT_EQ(info.frameRateNum / std::max(info.frameRateDen, 1), 30);
        EXPECT_GE(double(info.packets.size()), shortest * 30 - 1.5);
        EXPECT_LE(double(info.packets.size()), longest * 30 + 1.5);
    }
    EXPECT_EQ(session->closes, 1) << "the portal session ends with the recording";
    EXPECT_EQ(loadScreenCastRestoreToken(dir / "config" / "screencast.conf"), "token-of-this-choice");

    std::set<std::vector<std::uint8_t>> pictures;
    const auto frames = decodeVideoFrames(out, [](std::int64_t i) { return i % 10 == 5; });
    EXPECT_GE(frames.size(), 3u);
    for (const auto& f : frames) {
        std::set<int> colours;
        std::vector<std::uint8_t> picture;
        for (int y = 0; y < f.height; y += 8)
            for (int x = 0; x < f.width; x += 8) {
                colours.insert(f.r(x, y) << 16 | f.g(x, y) << 8 | f.b(x, y));
                picture.push_back(f.g(x, y));
            }
        EXPECT_GT(colours.size(), 1u) << "frame " << f.index;
        pictures.insert(picture);
    }
    EXPECT_GT(pictures.size(), 1u) << "the moving picture shows in the recording";

    producer.reset();
}

// The LED wall shares the portal's stream through the same capture: live-size pictures, the
// desktop's restore token, and when the stream goes away the share ends by itself and says so.
TEST_F(PortalScreenCastTest, AWallShareOfThePortalsStreamEndsWhenTheStreamGoes) {
    PipeWireStack daemons;
    ASSERT_NO_FATAL_FAILURE(startPipeWire(daemons));
    std::string why;
    auto producer = vantry::testing::TestVideoProducer::start(why);
    ASSERT_TRUE(producer) << why;
    portal->node = producer->nodeId();
    portal->pipeWireSocket = daemons.socket.string();
    portal->restoreToken = "token-of-the-wall";

    struct Log {
        std::mutex mutex;
        int pictures = 0;
        bool liveSize = true;
        std::vector<std::string> endings;
    };
    auto log = std::make_shared<Log>();
    wall::FeedCallbacks callbacks;
    callbacks.picture = [log](const QImage& picture) {
        std::lock_guard lock(log->mutex);
        ++log->pictures;
        log->liveSize =
            log->liveSize && picture.size() == QSize(wall::kLivePictureWidth, wall::kLivePictureHeight);
    };
    callbacks.ended = [log](const std::string& message) {
        std::lock_guard lock(log->mutex);
        log->endings.push_back(message);
    };
    wall::ScreenShareTarget target;
    target.kind = wall::ScreenShareTarget::Kind::portal;
    target.restoreToken = "token-of-an-earlier-share";
    std::string error;
    // The portal is served on this thread: the share opens (and later closes) on another.
    auto feed = elsewhere([&] { return wall::openScreenWallFeed(target, callbacks, error); });
    ASSERT_TRUE(feed) << error;
    EXPECT_EQ(portal->selectOptions.value("restore_token").toString(), "token-of-an-earlier-share");
    EXPECT_EQ(feed->restoreToken(), "token-of-the-wall");
    ASSERT_TRUE(vantry::testing::pumpUntil(
        [&] {
            std::lock_guard lock(log->mutex);
            return log->pictures >= 3;
        },
        20'000));
    producer.reset();
    ASSERT_TRUE(vantry::testing::pumpUntil(
        [&] {
            std::lock_guard lock(log->mutex);
            return !log->endings.empty();
        },
        20'000))
        << "the share goes on after its stream went away";
    elsewhere([&] {
        feed.reset();
        return 0;
    });
    std::lock_guard lock(log->mutex);
    EXPECT_TRUE(log->liveSize);
    EXPECT_EQ(log->endings, std::vector<std::string>{"The shared screen or window went away."});
    EXPECT_EQ(session->closes, 1) << "the portal session ends with the share";
}

TEST(CaptureSource, ThePathFollowsTheChoiceAndTheSession) {
    using C = CaptureSourceChoice;
    using P = CapturePath;
    const struct {
        C choice;
        bool wayland, x, portal;
        P path;
    } cases[] = {
        {C::automatic, true, true, true, P::portal}, {C::automatic, true, true, false, P::none},
        {C::automatic, false, true, true, P::x11},   {C::automatic, true, false, false, P::none},
        {C::automatic, false, false, true, P::none}, {C::portal, false, true, true, P::portal},
        {C::portal, true, true, false, P::none},     {C::x11, true, true, true, P::x11},
        {C::x11, true, false, true, P::none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chooseCapturePath(c.choice, {c.wayland, c.x, c.portal}), c.path)
            << captureSourceChoiceName(c.choice) << c.wayland << c.x << c.portal;
    EXPECT_TRUE(isWaylandSession("wayland", nullptr));
    EXPECT_TRUE(isWaylandSession("x11", "wayland-0"));
    EXPECT_FALSE(isWaylandSession("x11", ""));
    EXPECT_FALSE(isWaylandSession(nullptr, nullptr));
    for (const char* name : {"auto", "portal", "x11"})
        EXPECT_STREQ(captureSourceChoiceName(*parseCaptureSourceChoice(name)), name);
    EXPECT_FALSE(parseCaptureSourceChoice("wayland"));
}

}  // namespace

#include "PortalScreenCastTest.moc"
