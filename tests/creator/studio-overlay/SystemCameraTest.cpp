// The Qt Multimedia camera behind the feed, on whatever machine runs the tests.
#include <chrono>
#include <future>
#include <memory>

#include <gtest/gtest.h>

#include <QCameraDevice>
#include <QGuiApplication>
#include <QMediaDevices>

#include "creator/studio-overlay/OruCreatorCameraFeedV1045.h"
#include "platform/camera/QtCameraBackend.h"

using namespace vantry;

TEST(SystemCamera, WithoutAnApplicationThereIsNoCameraToConfigure) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    platform::QtCameraBackend camera;
    camera.beginConfiguration();
    EXPECT_FALSE(camera.addCameraInput());
    camera.commitConfiguration();
}

TEST(SystemCamera, AMachineWithoutACameraFallsBackToTheStudioPreview) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "studio_overlay_camera_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    if (!QMediaDevices::videoInputs().isEmpty()) GTEST_SKIP() << "this machine has a camera";
    auto camera = std::make_shared<platform::QtCameraBackend>();
    EXPECT_EQ(camera->authorizationStatus(), platform::CameraAuthorization::authorized);
    creator::OruCreatorCameraFeedV1045 feed(camera, nullptr);
    std::promise<std::pair<bool, std::string>> done;
    feed.start([&](bool ok, const std::string& message) { done.set_value({ok, message}); });
    auto future = done.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const auto [ok, message] = future.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, "No front camera detected — using Studio Preview");
}
