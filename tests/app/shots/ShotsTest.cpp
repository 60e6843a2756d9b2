// The shots file: its JSON round trip, what the decoder refuses, a damaged file kept aside and
// reported, and the new file started after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/shots/ShotCodec.h"
#include "app/shots/ShotStore.h"
#include "app/shots/ShotsModel.h"

namespace vantry::app::shots {
namespace {

namespace fs = std::filesystem;

Shot named(std::string name) {
    Shot shot;
    shot.name = std::move(name);
    return shot;
}

Shot sample(std::string name, BroadcastCameraAngle angle, Transition transition) {
    Shot shot;
    shot.name = std::move(name);
    shot.set = BroadcastStudioSet::allCases()[1];
    shot.angle = angle;
    shot.keyGain = 0.85f;
    shot.neonGain = 2.1f;
    shot.ledBrightness = 1.6f;
    shot.wallImage = "/home/ana/Pictures/Tafel \"Q3\".png";
    shot.visionCutout = true;
    shot.presenterInSet = true;
    shot.presenterPlace = {1.25f, -0.5f, 1.9f};
    shot.transition = transition;
    shot.moveSeconds = 2.25f;
    return shot;
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("shots-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        file_ = folder_ / "vantry-pro" / "shots.json";
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
    fs::path file_;
};

TEST(ShotCodec, RoundTripKeepsEveryField) {
    const std::vector<std::vector<Shot>> lists = {
        {},
        {sample("Wide \u00b7 Intro", BroadcastCameraAngle::wideDesk, Transition::move)},
        {sample("Crane", BroadcastCameraAngle::sweepingCrane, Transition::cut), named("Plain"),
         sample("\u6f14\u8b1b", BroadcastCameraAngle::tightHost, Transition::move)},
    };
    for (const auto& shots : lists) {
        const std::string text = encodeShots(shots);
        std::string why;
        const auto decoded = decodeShots(text, &why);
        ASSERT_TRUE(decoded.has_value()) << why << "\n" << text;
        EXPECT_EQ(*decoded, shots) << text;
    }
}

TEST(ShotCodec, DamagedTextsAreRefusedWhole) {
    std::string good = encodeShots({sample("A", BroadcastCameraAngle::tightHost, Transition::cut)});
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "{\"version\": 1, \"shots\": [}"},
        {"no version", R"({"shots": []})"},
        {"another version", R"({"version": 2, "shots": []})"},
        {"a shot not an object", R"({"version": 1, "shots": [3]})"},
        {"unknown set", with("\"timber-podcast\"", "\"moon-base\"")},
        {"angle out of range", with("\"angle\" : 2", "\"angle\" : 4")},
        {"gain a string", with("\"keyGain\" : 0.85", "\"keyGain\" : \"0.85\"")},
        {"empty name", with("\"name\" : \"A\"", "\"name\" : \"\"")},
        {"name too long",
         with("\"name\" : \"A\"", "\"name\" : \"" + std::string(kMaxNameBytes + 1, 'n') + "\"")},
        {"unknown transition", with("\"transition\" : \"cut\"", "\"transition\" : \"wipe\"")},
        {"place missing", with("\"presenterPlace\"", "\"elsewhere\"")},
        {"ten shots",
         [] {
             std::vector<Shot> ten(kMaxShots + 1, named("x"));
             return encodeShots(ten);
         }()},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(decodeShots(c.text, &why).has_value()) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST_F(TempFolder, ADamagedFileIsKeptAsideAndReported) {
    const std::vector<std::string> damaged = {"{\"version\": 1, \"shots\": [", "\x01\x02 binary",
                                              R"({"version": 1, "shots": [{"name": 5}]})"};
    for (const std::string& bytes : damaged) {
        fs::remove_all(folder_);
        fs::create_directories(file_.parent_path());
        std::ofstream(file_, std::ios::binary) << bytes;
        ShotsModel model({{}, {}, file_});
        EXPECT_EQ(model.count(), 0);
        EXPECT_NE(model.loadReport().indexOf("damaged"), -1) << model.loadReport().toStdString();
        EXPECT_FALSE(fs::exists(file_));
        std::vector<fs::path> aside;
        for (const auto& entry : fs::directory_iterator(file_.parent_path())) aside.push_back(entry.path());
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(aside[0].filename().string().rfind("shots.json.damaged-", 0), 0u) << aside[0];
        EXPECT_NE(model.loadReport().indexOf(QString::fromStdString(aside[0].filename().string())), -1);
        EXPECT_EQ(readAll(aside[0]), bytes);
        // A new shot starts a new file; the damaged one stays where it was put.
        EXPECT_TRUE(model.saveCurrent("Fresh"));
        EXPECT_EQ(loadShots(file_).shots.size(), 1u);
        EXPECT_EQ(readAll(aside[0]), bytes);
    }
}

}  // namespace
}  // namespace vantry::app::shots
