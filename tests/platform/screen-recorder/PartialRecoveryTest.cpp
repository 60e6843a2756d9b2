// What a killed recording or export leaves in the Videos folder, dealt with at the next start.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/screen-recorder/FragmentTrim.h"
#include "platform/screen-recorder/PartialRecovery.h"

namespace fs = std::filesystem;
using vantry::platform::PartialFile;

namespace {

// A box of `size` bytes in all: its header and zeros.
std::string box(const char* type, std::uint32_t size) {
    std::string b(size, '\0');
    b[0] = char(size >> 24);
    b[1] = char(size >> 16);
    b[2] = char(size >> 8);
    b[3] = char(size);
    b.replace(4, 4, type);
    return b;
}

const std::string kHeader = box("ftyp", 24) + box("moov", 700);
const std::string kFragment = box("moof", 100) + box("mdat", 3000);

void write(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

class PartialRecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("vantry-partials-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

TEST_F(PartialRecoveryTest, WhatPlaysIsKeptUnderAPlayableNameAndWhatCannotPlayIsRemoved) {
    const std::string cut = kHeader + kFragment + kFragment + box("moof", 100) + std::string(500, 'x');
    write(folder / "CreatorRec_1765000000_4242.partial.mp4", cut);
    write(folder / "CreatorRec_1765000100_4242.partial.mp4",
          kHeader + box("moof", 100));  // no whole fragment
    write(folder / ".Vantry_manhattan-loft_1080p.mp4.0123456789abcdef.partial", box("ftyp", 24) + "mdat...");
    // Not ours, or not unfinished: left alone.
    write(folder / "holiday.mp4", "film");
    write(folder / "notes.partial.txt", "text");
    write(folder / "CreatorRec_x_1.partial.mp4", "odd");
    write(folder / ".settings.partial", "short");
    fs::create_directories(folder / "sub");
    write(folder / "sub" / "CreatorRec_1_2.partial.mp4", kHeader + kFragment);

    const auto results = vantry::platform::recoverPartialFiles(folder, [](const fs::path&) { return false; });
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].fate, PartialFile::Fate::recovered);
    EXPECT_EQ(results[0].fragments, 2u);
    EXPECT_EQ(results[0].recoveredAs, folder / "CreatorRec_1765000000_recovered.mp4");
    EXPECT_EQ(results[1].fate, PartialFile::Fate::removed);
    EXPECT_EQ(results[2].fate, PartialFile::Fate::removed);
    const std::set<std::string> left{
        "CreatorRec_1765000000_recovered.mp4", "holiday.mp4",       "notes.partial.txt",
        "CreatorRec_x_1.partial.mp4",          ".settings.partial", "sub"};
    EXPECT_EQ(namesIn(folder), left);
    const std::string kept = slurp(folder / "CreatorRec_1765000000_recovered.mp4");
    EXPECT_EQ(kept, kHeader + kFragment + kFragment) << "cut back to its last complete fragment";
    EXPECT_EQ(vantry::platform::completeFragments(kept).fragments, 2u);
    EXPECT_TRUE(fs::exists(folder / "sub" / "CreatorRec_1_2.partial.mp4"));

    EXPECT_EQ(
        vantry::platform::describePartialFiles(results),
        "Recovered an interrupted recording as CreatorRec_1765000000_recovered.mp4; removed 2 unfinished "
        "files that could not be played.");
}

TEST_F(PartialRecoveryTest, AFileStillBeingWrittenIsLeftAlone) {
    const fs::path writing = folder / "CreatorRec_1765000000_77.partial.mp4";
    write(writing, kHeader + kFragment + box("moof", 100));
    const fs::path exporting = folder / ".clip.mp4.00000000000000ff.partial";
    write(exporting, "mdat");
    write(folder / "CreatorRec_1765000000_recovered.mp4", "an earlier recovery");

    // Open in this process, as a running recorder or export has it.
    const int fd = ::open(writing.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(vantry::platform::fileOpenByAnyProcess(writing));
    EXPECT_FALSE(vantry::platform::fileOpenByAnyProcess(exporting));
    const auto whileOpen = vantry::platform::recoverPartialFiles(folder);
    ASSERT_EQ(whileOpen.size(), 1u) << "only the file nobody writes";
    EXPECT_EQ(whileOpen[0].found, exporting);
    EXPECT_EQ(slurp(writing).size(), kHeader.size() + kFragment.size() + 100) << "not cut while written";
    ::close(fd);

    const auto afterwards = vantry::platform::recoverPartialFiles(folder);
    ASSERT_EQ(afterwards.size(), 1u);
    EXPECT_EQ(afterwards[0].recoveredAs, folder / "CreatorRec_1765000000_recovered 2.mp4")
        << "an earlier file of that name stays";
    EXPECT_EQ(vantry::platform::describePartialFiles(afterwards),
              "Recovered an interrupted recording as CreatorRec_1765000000_recovered 2.mp4.");
    EXPECT_EQ(vantry::platform::describePartialFiles({}), "");
    EXPECT_TRUE(vantry::platform::recoverPartialFiles(folder / "absent").empty());
}

}  // namespace
