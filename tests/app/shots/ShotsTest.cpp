// Shots: the file's JSON round trip and what the decoder refuses, a damaged file kept aside and
// reported, and the list model's save, recall, rename, reorder and delete.
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

TEST(ShotCodec, ValuesOutsideTheirRangesAreClamped) {
    const std::string text = R"({"version": 1, "shots": [{"name": "Hot", "set": "manhattan-loft", "angle": 2,
        "keyGain": 99, "neonGain": -4, "ledBrightness": 1.0, "wallImage": "", "visionCutout": false,
        "presenterInSet": false, "presenterPlace": {"x": -40, "z": 0, "height": 9},
        "transition": "move", "moveSeconds": 12}]})";
    const auto shots = decodeShots(text);
    ASSERT_TRUE(shots.has_value());
    const Shot& s = shots->at(0);
    EXPECT_EQ(s.keyGain, kMaxKeyGain);
    EXPECT_EQ(s.neonGain, kMinNeonGain);
    EXPECT_EQ(s.presenterPlace.x, studio::kPresenterMinX);
    EXPECT_EQ(s.presenterPlace.height, studio::kPresenterMaxHeight);
    EXPECT_EQ(s.moveSeconds, 3.0f);
}

TEST(ShotCodec, DamagedTextsAreRefusedWhole) {
    std::string good = encodeShots({sample("A", BroadcastCameraAngle::tightHost, Transition::cut)});
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    std::vector<std::string> nine;
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "{\"version\": 1, \"shots\": [}"},
        {"a list", "[]"},
        {"no version", R"({"shots": []})"},
        {"another version", R"({"version": 2, "shots": []})"},
        {"shots not a list", R"({"version": 1, "shots": {}})"},
        {"a shot not an object", R"({"version": 1, "shots": [3]})"},
        {"unknown set", with("\"timber-podcast\"", "\"moon-base\"")},
        {"angle out of range", with("\"angle\" : 2", "\"angle\" : 4")},
        {"angle not whole", with("\"angle\" : 2", "\"angle\" : 1.5")},
        {"gain a string", with("\"keyGain\" : 0.85", "\"keyGain\" : \"0.85\"")},
        {"empty name", with("\"name\" : \"A\"", "\"name\" : \"\"")},
        {"name too long",
         with("\"name\" : \"A\"", "\"name\" : \"" + std::string(kMaxNameBytes + 1, 'n') + "\"")},
        {"flag a number", with("\"visionCutout\" : true", "\"visionCutout\" : 1")},
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

TEST_F(TempFolder, ShotsSurviveTheNextRunAndAFolderInTheWayIsNeverReplaced) {
    {
        ShotsModel model(
            {[] { return sample("", BroadcastCameraAngle::tightHost, Transition::move); }, {}, file_});
        EXPECT_TRUE(model.loadReport().isEmpty());
        model.saveCurrent("One");
        model.saveCurrent("Two");
    }
    ShotsModel again({{}, {}, file_});
    ASSERT_EQ(again.count(), 2);
    EXPECT_EQ(again.shots()[1].name, "Two");
    EXPECT_EQ(again.shots()[1].wallImage,
              sample("", BroadcastCameraAngle::tightHost, Transition::move).wallImage);

    fs::remove(file_);
    fs::create_directories(file_ / "inside");
    ShotsModel blocked({{}, {}, file_});
    EXPECT_FALSE(blocked.loadReport().isEmpty());
    QString said;
    QObject::connect(&blocked, &ShotsModel::message, [&](const QString& text) { said = text; });
    blocked.saveCurrent("X");
    EXPECT_NE(said.indexOf("not saved"), -1) << said.toStdString();
    EXPECT_TRUE(fs::is_directory(file_ / "inside"));
}

// The model over a stage that records what it was asked to show.
class ShotsModelTest : public ::testing::Test {
  protected:
    ShotsModelTest()
        : model_({[this] {
                      Shot now = stage_;
                      now.name = "ignored";
                      return now;
                  },
                  [this](const Shot& shot) {
                      applied_.push_back(shot.name);
                      return shot.name == "Broken" ? std::string("its wall image is missing") : std::string();
                  },
                  {}}) {
        QObject::connect(&model_, &ShotsModel::shotsChanged, [this] { ++changes_; });
        QObject::connect(&model_, &ShotsModel::shotRecalled,
                         [this](int index, const QString&) { recalled_.push_back(index); });
    }
    std::vector<std::string> names() const {
        std::vector<std::string> list;
        for (int i = 0; i < model_.count(); ++i) {
            list.push_back(model_.shotJson(i).value("name").toString().toStdString());
            EXPECT_EQ(model_.shotJson(i).value("key").toInt(), i + 1);
        }
        return list;
    }
    Shot stage_ = sample("", BroadcastCameraAngle::screenShoulder, Transition::cut);
    ShotsModel model_;
    std::vector<std::string> applied_;
    std::vector<int> recalled_;
    int changes_ = 0;
};

TEST_F(ShotsModelTest, SaveRecallRenameReorderDelete) {
    for (const char* name : {"Wide", "", "  Close  "}) EXPECT_TRUE(model_.saveCurrent(name));
    EXPECT_EQ(names(), (std::vector<std::string>{"Wide", "Shot 2", "Close"}));
    EXPECT_EQ(model_.shots()[0].angle, BroadcastCameraAngle::screenShoulder);
    const QJsonObject json = model_.shotJson(0);
    EXPECT_EQ(json.value("set").toString().toStdString(), std::string(stage_.set.id()));
    EXPECT_EQ(json.value("angle").toInt(), stage_.angle.id());
    EXPECT_EQ(json.value("transition").toString(), "cut");
    EXPECT_TRUE(model_.shotJson(3).isEmpty());

    QString error;
    EXPECT_TRUE(model_.recall(2, &error));
    EXPECT_TRUE(error.isEmpty());
    EXPECT_FALSE(model_.recall(3, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(model_.recallKey(1));
    EXPECT_FALSE(model_.recallKey(4));
    EXPECT_FALSE(model_.recallKey(0));
    EXPECT_EQ(applied_, (std::vector<std::string>{"Close", "Wide"}));
    EXPECT_EQ(recalled_, (std::vector<int>{2, 0}));
    EXPECT_EQ(model_.lastRecalled(), 0);

    const int before = changes_;
    EXPECT_TRUE(model_.rename(1, " Host "));
    EXPECT_FALSE(model_.rename(1, "   "));
    EXPECT_FALSE(model_.rename(7, "Nobody"));
    EXPECT_TRUE(model_.moveShot(0, 2));
    EXPECT_EQ(names(), (std::vector<std::string>{"Host", "Close", "Wide"}));
    EXPECT_TRUE(model_.moveShot(2, 0));
    EXPECT_TRUE(model_.setTransition(0, "move", 7.0));
    EXPECT_FALSE(model_.setTransition(0, "wipe", 1.0));
    EXPECT_EQ(model_.shots()[0].transition, Transition::move);
    EXPECT_EQ(model_.shots()[0].moveSeconds, 3.0f);
    EXPECT_TRUE(model_.removeShot(1));
    EXPECT_FALSE(model_.removeShot(5));
    EXPECT_EQ(names(), (std::vector<std::string>{"Wide", "Close"}));
    EXPECT_EQ(changes_ - before, 5);
    EXPECT_EQ(model_.rowCount(), 2);
    EXPECT_EQ(model_.data(model_.index(1), ShotsModel::KeyRole).toInt(), 2);
}

TEST_F(ShotsModelTest, NineShotsAtMostAndAPartlyAppliedShotIsReported) {
    for (int i = 0; i < 9; ++i) EXPECT_TRUE(model_.saveCurrent(i == 4 ? "Broken" : ""));
    EXPECT_TRUE(model_.full());
    QString said;
    QObject::connect(&model_, &ShotsModel::message, [&](const QString& text) { said = text; });
    EXPECT_FALSE(model_.saveCurrent("Tenth"));
    EXPECT_EQ(model_.count(), 9);
    EXPECT_NE(said.indexOf("delete a shot"), -1);

    QString error;
    EXPECT_TRUE(model_.recall(4, &error));
    EXPECT_NE(error.indexOf("wall image is missing"), -1) << error.toStdString();
    EXPECT_EQ(said, error);
    EXPECT_TRUE(model_.recallKey(9));
}

}  // namespace
}  // namespace vantry::app::shots
