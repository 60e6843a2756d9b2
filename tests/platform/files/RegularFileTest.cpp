// Reading input files: a named pipe, a device, a folder or an oversized file is refused at once
// with its reason, by every reader in platform/files; private files follow the secret's rules;
// the settings live in one folder, the window's studio.ini moved there from the old one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "platform/files/IniFile.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SettingsFolder.h"
#include "tests/support/AwkwardFiles.h"

namespace {

namespace fs = std::filesystem;
using namespace vantry::platform;

class RegularFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-regular-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path write(const std::string& name, const std::string& text, unsigned mode = 0600) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << text;
        ::chmod(p.c_str(), mode);
        return p;
    }
    fs::path dir_;
};

TEST_F(RegularFileTest, EveryReaderRefusesPipesDevicesFoldersAndOversizedFiles) {
    constexpr std::uintmax_t limit = 4096;
    struct Reader {
        const char* name;
        std::function<std::string(const fs::path&)> problem;  // empty: read
        std::uintmax_t limit = 4096;
    };
    const Reader readers[] = {
        {"readRegularFile", [](const fs::path& p) { return readRegularFile(p, limit).error; }},
        {"readRegularFile (private)",
         [](const fs::path& p) { return readRegularFile(p, limit, FileRules::privateToUser).error; }},
        {"whyNotReadable", [](const fs::path& p) { return whyNotReadable(p, limit).value_or(""); }},
        {"IniFile::load",
         [](const fs::path& p) {
             std::string problem;
             (void)IniFile::load(p, &problem);
             return problem;
         },
         kMaxSettingsFileBytes},
    };
    for (const Reader& reader : readers) {
        for (const auto& file :
             vantry::testing::makeAwkwardFiles(dir_ / reader.name, "input", reader.limit)) {
            SCOPED_TRACE(std::string(reader.name) + ", " + file.what);
            const std::string problem = reader.problem(file.path);
            const bool privateLink = std::string(reader.name).find("private") != std::string::npos &&
                                     file.what.find("link") != std::string::npos;
            EXPECT_NE(problem.find(privateLink ? "symbolic link" : file.reason), std::string::npos)
                << problem;
            EXPECT_EQ(problem.rfind("it ", 0), 0u) << problem;
        }
    }
    EXPECT_TRUE(IniFile::load(dir_ / "none.ini").text().empty());
}

TEST_F(RegularFileTest, ReadsARegularFileWithinTheLimitAndSaysWhenNothingIsThere) {
    const fs::path file = write("plain.txt", "four");
    const FileContents read = readRegularFile(file, 4);
    EXPECT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.bytes, "four");
    EXPECT_NE(readRegularFile(file, 3).error.find("larger than 3 bytes"), std::string::npos);
    const FileContents missing = readRegularFile(dir_ / "absent", 10);
    EXPECT_TRUE(missing.missing);
    EXPECT_FALSE(missing.ok());
    EXPECT_FALSE(whyNotReadable(file, 4));
}

TEST_F(RegularFileTest, PrivateFilesAreTheUsersOwnUnlinkedAndClosedToOthers) {
    const fs::path own = write("key", "secret\n", 0600);
    EXPECT_EQ(readRegularFile(own, 64, FileRules::privateToUser).bytes, "secret\n");
    const fs::path open = write("open-key", "secret\n", 0644);
    EXPECT_EQ(readRegularFile(open, 64, FileRules::privateToUser).error,
              "it is open to other users (chmod 600 it)");
    EXPECT_TRUE(readRegularFile(open, 64).ok()) << "an ordinary reader takes it";
    fs::create_symlink(own, dir_ / "linked-key");
    EXPECT_EQ(readRegularFile(dir_ / "linked-key", 64, FileRules::privateToUser).error,
              "it is a symbolic link, not a regular file");
}

TEST_F(RegularFileTest, IniValuesWithCommasAndEqualsSignsAreWrittenAsTheyAre) {
    IniFile ini;
    ini.setValue("place", "1.5000,-2.0000,2.0000");
    ini.setValue("url", "rtmp://a/live?x=1");
    EXPECT_EQ(ini.text(), "place=1.5000,-2.0000,2.0000\nurl=rtmp://a/live?x=1\n");
    EXPECT_EQ(IniFile::parse(ini.text()).value("url"), "rtmp://a/live?x=1");
}

class SettingsFolderTest : public RegularFileTest {
  protected:
    void SetUp() override {
        RegularFileTest::SetUp();
        if (const char* before = std::getenv("XDG_CONFIG_HOME")) saved_ = before;
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        RegularFileTest::TearDown();
    }
    std::optional<std::string> saved_;
};

TEST_F(SettingsFolderTest, TheOldStudioSettingsMoveIntoTheOneFolderOnce) {
    EXPECT_EQ(settingsFolder(), dir_ / "vantry-pro");
    fs::create_directories(dir_ / "vantry");
    write("vantry/studio.ini",
          "[presenter]\nrefineEdges=false\n[panels]\nopen\\lastFolder=/home/u/Pictures\n", 0644);

    const fs::path file = studioSettingsFile();
    EXPECT_EQ(file, dir_ / "vantry-pro" / "studio.ini");
    EXPECT_FALSE(fs::exists(dir_ / "vantry")) << "the old folder is left empty and removed";
    const IniFile moved = IniFile::load(file);
    EXPECT_EQ(moved.value("presenter/refineEdges"), "false");
    EXPECT_EQ(moved.value("panels/open/lastFolder"), "/home/u/Pictures");

    // A later old file (an earlier version run again) never overrides the settings kept since.
    fs::create_directories(dir_ / "vantry");
    write("vantry/studio.ini", "[presenter]\nrefineEdges=true\n", 0644);
    EXPECT_EQ(IniFile::load(studioSettingsFile()).value("presenter/refineEdges"), "false");
    EXPECT_TRUE(fs::exists(dir_ / "vantry" / "studio.ini")) << "nothing is written to the old folder";
}

}  // namespace
