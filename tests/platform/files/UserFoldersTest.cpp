#include "platform/files/UserFolders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {
namespace fs = std::filesystem;
using vantry::platform::UserFolders;

// Sets the XDG variables for one case and restores the process environment afterwards.
class UserFoldersTest : public ::testing::Test {
  protected:
    static constexpr const char* kNames[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_VIDEOS_DIR"};

    void SetUp() override {
        for (const char* name : kNames) {
            const char* v = std::getenv(name);
            saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
        }
        home_ = fs::temp_directory_path() / ("vantry-folders-" + std::to_string(::getpid()));
        fs::create_directories(home_);
        set("HOME", home_.string());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_VIDEOS_DIR"})
            set(name, std::nullopt);
    }
    void TearDown() override {
        for (std::size_t i = 0; i < saved_.size(); ++i) set(kNames[i], saved_[i]);
        fs::remove_all(home_);
    }
    static void set(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    void writeUserDirs(const std::string& text) {
        fs::create_directories(home_ / ".config");
        std::ofstream(home_ / ".config" / "user-dirs.dirs") << text;
    }

    fs::path home_;
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(UserFoldersTest, DataAndConfigHomeTakeOnlyAbsoluteVariables) {
    const struct {
        std::optional<std::string> value;
        fs::path data, config;
    } cases[] = {
        {std::nullopt, ".local/share", ".config"},
        {"", ".local/share", ".config"},
        {"relative/dir", ".local/share", ".config"},
        {"/srv/xdg", "/srv/xdg", "/srv/xdg"},
    };
    for (const auto& c : cases) {
        set("XDG_DATA_HOME", c.value);
        set("XDG_CONFIG_HOME", c.value);
        EXPECT_EQ(UserFolders::dataHome(), home_ / c.data) << c.value.value_or("(unset)");
        EXPECT_EQ(UserFolders::configHome(), home_ / c.config) << c.value.value_or("(unset)");
    }
}

TEST_F(UserFoldersTest, RelativeHomeFallsBackToTheAccountsHome) {
    set("HOME", "not/absolute");
    EXPECT_TRUE(UserFolders::home().is_absolute());
    EXPECT_NE(UserFolders::home(), fs::path("not/absolute"));
}

TEST_F(UserFoldersTest, VideosComesFromUserDirsThenEnvironmentThenHome) {
    const struct {
        const char* file;  // null: no user-dirs.dirs
        std::optional<std::string> env;
        fs::path expected;  // relative: below home
    } cases[] = {
        {nullptr, std::nullopt, "Videos"},
        {nullptr, "/media/films", "/media/films"},
        {nullptr, "films", "Videos"},
        {"XDG_VIDEOS_DIR=\"$HOME/Filme\"\n", "/media/films", "Filme"},
        {"# comment\n  XDG_VIDEOS_DIR=\"/data/My Videos\"  \n", std::nullopt, "/data/My Videos"},
        {"XDG_VIDEOS_DIR=\"$HOME/a\"\nXDG_VIDEOS_DIR=\"$HOME/b\"\n", std::nullopt, "b"},
        {"XDG_VIDEOS_DIR=\"relative\"\n", std::nullopt, "Videos"},
        {"XDG_VIDEOS_DIR=$HOME/unquoted\n", std::nullopt, "Videos"},
        {"XDG_VIDEOS_DIRX=\"/wrong/key\"\nXDG_MUSIC_DIR=\"/music\"\n", std::nullopt, "Videos"},
        {"XDG_VIDEOS_DIR=\"$HOMEx/y\"\n", std::nullopt, "Videos"},
    };
    for (const auto& c : cases) {
        fs::remove(home_ / ".config" / "user-dirs.dirs");
        if (c.file) writeUserDirs(c.file);
        set("XDG_VIDEOS_DIR", c.env);
        EXPECT_EQ(UserFolders::videos(), home_ / c.expected) << (c.file ? c.file : "(no file)");
    }
}

}  // namespace
