// Clip drawing needs a QGuiApplication (fonts); clips go to a private home folder.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    const auto home =
        std::filesystem::temp_directory_path() / ("vantry-clipper-home-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::unsetenv("XDG_VIDEOS_DIR");
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return rc;
}
