// Settings files: what Qt's INI settings wrote still reads, values round-trip, and the file is
// written the safe way (a link at its name is replaced, a folder is refused).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files/IniFile.h"

namespace {

namespace fs = std::filesystem;
using vantry::platform::IniFile;

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-ini-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string read(const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir_;
};

TEST_F(IniFileTest, ReadsWhatQtSettingsWroteAndRoundTripsAwkwardValues) {
    std::ofstream(dir_ / "studio.ini")
        << "[General]\nflag=true\n\n[panels]\nopen\\lastFolder=/home/u/Pictures\n"
           "save\\lastFolder=\"/home/u/a, b\"\n[presenter]\nrefineEdges=false\n";
    IniFile ini = IniFile::load(dir_ / "studio.ini");
    EXPECT_EQ(ini.value("flag"), "true");
    EXPECT_EQ(ini.value("panels/open/lastFolder"), "/home/u/Pictures");
    EXPECT_EQ(ini.value("panels/save/lastFolder"), "/home/u/a, b");
    EXPECT_EQ(ini.value("presenter/refineEdges"), "false");
    EXPECT_FALSE(ini.value("presenter/missing"));

    for (const std::string v : {"plain", "with \"quotes\" and \\ slash", " padded ", "a;b=c", "\"q\"", ""}) {
        ini.setValue("odd/value", v);
        ini.save(dir_ / "studio.ini");
        EXPECT_EQ(IniFile::load(dir_ / "studio.ini").value("odd/value"), v) << v;
    }
    EXPECT_EQ(IniFile::load(dir_ / "studio.ini").value("panels/open/lastFolder"), "/home/u/Pictures");
}

TEST_F(IniFileTest, SavingReplacesALinkAndRefusesAFolder) {
    const fs::path target = dir_ / "elsewhere.txt";
    std::ofstream(target) << "keep me";
    fs::create_symlink(target, dir_ / "linked.ini");
    IniFile ini;
    ini.setValue("a/b", "c");
    ini.save(dir_ / "linked.ini");
    EXPECT_EQ(read(target), "keep me");
    EXPECT_FALSE(fs::is_symlink(dir_ / "linked.ini"));
    EXPECT_EQ(IniFile::load(dir_ / "linked.ini").value("a/b"), "c");

    fs::create_directories(dir_ / "folder.ini");
    EXPECT_THROW(ini.save(dir_ / "folder.ini"), fs::filesystem_error);
    EXPECT_FALSE(IniFile::load(dir_ / "folder.ini").value("a/b")) << "a folder reads as an empty file";
}

}  // namespace
