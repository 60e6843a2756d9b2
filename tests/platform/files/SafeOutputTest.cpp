#include "platform/files/SafeOutput.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {
namespace fs = std::filesystem;
using vantry::platform::SafeOutput;

class SafeOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-safe-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::set<std::string> names(const fs::path& folder) const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
        return out;
    }

    fs::path dir_;
};

TEST_F(SafeOutputTest, WritesNewAndReplacesFilesAndLinksLeavingNoTemporaryFile) {
    std::ofstream(dir_ / "old.txt") << "old content";
    std::ofstream(dir_ / "pointee.txt") << "pointee";
    fs::create_symlink(dir_ / "pointee.txt", dir_ / "link.txt");
    fs::create_symlink(dir_ / "missing", dir_ / "dangling.txt");
    const std::string longName(255, 'n');
    for (const std::string name : {"new.txt", "old.txt", "link.txt", "dangling.txt", longName.c_str()}) {
        SafeOutput::write(dir_ / name, "fresh " + name);
        EXPECT_EQ(read(dir_ / name), "fresh " + name) << name;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / name))) << name;
    }
    EXPECT_EQ(read(dir_ / "pointee.txt"), "pointee");  // the link was replaced, not followed
    EXPECT_EQ(names(dir_), (std::set<std::string>{"new.txt", "old.txt", "link.txt", "dangling.txt", longName,
                                                  "pointee.txt"}));
}

TEST_F(SafeOutputTest, CreatesMissingFoldersAndWritesEmptyFiles) {
    const fs::path target = dir_ / "a" / "b" / "empty.bin";
    SafeOutput::write(target, "");
    EXPECT_TRUE(fs::is_regular_file(target));
    EXPECT_EQ(fs::file_size(target), 0u);
}

TEST_F(SafeOutputTest, RefusesWhatIsNotAFileAndKeepsItIntact) {
    fs::create_directories(dir_ / "folder.txt" / "inner");
    fs::create_directories(dir_ / "emptyfolder.txt");
    ASSERT_EQ(::mkfifo((dir_ / "pipe.txt").c_str(), 0600), 0);
    std::ofstream(dir_ / "blocker") << "x";
    for (const fs::path& target : {dir_ / "folder.txt", dir_ / "emptyfolder.txt", dir_ / "pipe.txt",
                                   dir_ / "blocker" / "sub" / "f.txt", dir_ / "", fs::path("/")}) {
        EXPECT_THROW(SafeOutput::write(target, "data"), fs::filesystem_error) << target;
    }
    EXPECT_TRUE(fs::is_directory(dir_ / "folder.txt" / "inner"));
    EXPECT_TRUE(fs::is_directory(dir_ / "emptyfolder.txt"));
    EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.txt"));
    EXPECT_EQ(read(dir_ / "blocker"), "x");
    EXPECT_EQ(names(dir_), (std::set<std::string>{"folder.txt", "emptyfolder.txt", "pipe.txt", "blocker"}));
}

TEST_F(SafeOutputTest, UncommittedOrDiscardedOutputLeavesTheTargetAlone) {
    const fs::path target = dir_ / "keep.txt";
    std::ofstream(target) << "original";
    {
        SafeOutput output(target);
        EXPECT_EQ(output.temporaryPath().parent_path(), dir_);
        EXPECT_TRUE(fs::is_regular_file(output.temporaryPath()));
        std::ofstream(output.temporaryPath()) << "half-written";
    }
    {
        SafeOutput output(target);
        std::ofstream(output.temporaryPath()) << "abandoned";
        output.discard();
        EXPECT_FALSE(fs::exists(output.temporaryPath()));
        EXPECT_THROW(output.commit(), fs::filesystem_error);
    }
    EXPECT_EQ(read(target), "original");
    EXPECT_EQ(names(dir_), std::set<std::string>{"keep.txt"});
}

TEST_F(SafeOutputTest, ATargetThatBecomesAFolderBeforeCommitIsNotReplaced) {
    const fs::path target = dir_ / "late.txt";
    SafeOutput output(target);
    std::ofstream(output.temporaryPath()) << "data";
    fs::create_directories(target);
    EXPECT_THROW(output.commit(), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(names(dir_), std::set<std::string>{"late.txt"});
}

}  // namespace
