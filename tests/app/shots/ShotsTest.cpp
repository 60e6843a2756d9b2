// The shots file: its JSON round trip, what the decoder refuses, a damaged file kept aside and
// reported, and the new file started after it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/shots/ShotCodec.h"
#include "app/shots/ShotStore.h"
#include "app/shots/ShotsModel.h"
#include "tests/support/AwkwardFiles.h"

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

TEST(ShotCodec, EachWallSourceIsKeptAndOldFilesStillRead) {
    const struct {
        WallKind kind;
        const char* file;
        int page;
    } kinds[] = {
        {WallKind::builtIn, "", 1},
        {WallKind::picture, "/slides/a.png", 1},
        {WallKind::pdf, "/slides/talk.pdf", 7},
        {WallKind::video, "/clips/loop.webm", 1},
        {WallKind::screen, "", 1},
    };
    std::vector<Shot> shots;
    for (const auto& k : kinds) {
        Shot shot = named(wallKindName(k.kind));
        shot.wallKind = k.kind;
        shot.wallImage = k.file;
        shot.slidePage = k.page;
        shots.push_back(shot);
        EXPECT_EQ(wallShows(shot), k.kind);
    }
    const std::string text = encodeShots(shots);
    std::string why;
    const auto decoded = decodeShots(text, &why);
    ASSERT_TRUE(decoded.has_value()) << why << "\n" << text;
    EXPECT_EQ(*decoded, shots) << text;

    // A file of earlier versions: the wall picture by its path alone, no kind and no page.
    const std::string old = R"({
  "shots" : [
    { "angle" : 2, "keyGain" : 0.85, "ledBrightness" : 1.6, "moveSeconds" : 2.25, "name" : "Old",
      "neonGain" : 2.1, "presenterInSet" : true, "presenterPlace" : { "height" : 1.9, "x" : 1.25, "z" : -0.5 },
      "set" : "timber-podcast", "transition" : "cut", "visionCutout" : true,
      "wallImage" : "/home/ana/Pictures/Tafel \"Q3\".png" },
    { "angle" : 0, "keyGain" : 1.35, "ledBrightness" : 1.15, "moveSeconds" : 1, "name" : "Own",
      "neonGain" : 1.25, "presenterInSet" : false, "presenterPlace" : { "height" : 1.75, "x" : -0.35, "z" : -0.45 },
      "set" : "manhattan-loft", "transition" : "cut", "visionCutout" : false, "wallImage" : "" }
  ],
  "version" : 1
})";
    const auto read = decodeShots(old, &why);
    ASSERT_TRUE(read.has_value()) << why << "\n" << old;
    ASSERT_EQ(read->size(), 2u);
    EXPECT_EQ(wallShows((*read)[0]), WallKind::picture);
    EXPECT_EQ((*read)[0].wallImage, "/home/ana/Pictures/Tafel \"Q3\".png");
    EXPECT_EQ(wallShows((*read)[1]), WallKind::builtIn);
    EXPECT_EQ((*read)[1].slidePage, 1);
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
        {"unknown wall kind", with("\"wallKind\" : \"builtIn\"", "\"wallKind\" : \"hologram\"")},
        {"wall kind a number", with("\"wallKind\" : \"builtIn\"", "\"wallKind\" : 2")},
        {"page 0", with("\"slidePage\" : 1", "\"slidePage\" : 0")},
        {"page a fraction", with("\"slidePage\" : 1", "\"slidePage\" : 1.5")},
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

TEST(ShotNames, ControlCharactersAndDirectionMarksAreDropped) {
    const struct {
        std::string name, shown;
    } cases[] = {
        {"\u202eevil", "evil"},
        {"a\u202ab\u202bc\u202cd\u202de", "abcde"},
        {"\u2066x\u2067y\u2068z\u2069", "xyz"},
        {"left\u200eright\u200f", "leftright"},
        {"tab\there\nnew\x7f\u0085line", "tabherenewline"},
        {"\u6f14\u8b1b \u00b7 ok", "\u6f14\u8b1b \u00b7 ok"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cleanShotName(c.name), c.shown) << c.shown;
        ShotsModel model({{}, {}, {}});
        ASSERT_TRUE(model.saveCurrent(QString::fromStdString(c.name)));
        EXPECT_EQ(model.shots().back().name, c.shown);
        ASSERT_TRUE(model.rename(0, QString::fromStdString("x" + c.name)));
        EXPECT_EQ(model.shots().back().name, "x" + c.shown);
        const auto decoded = decodeShots(encodeShots({named(c.name)}));
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->front().name, c.shown) << "names read from the file are cleaned too";
    }
    EXPECT_FALSE(decodeShots(encodeShots({named("\u202e")})).has_value()) << "nothing left of the name";
}

TEST_F(TempFolder, AnAwkwardShotsFileIsNotWaitedOnAndNotSavedOver) {
    for (const auto& file :
         vantry::testing::makeAwkwardFiles(folder_ / "awkward", "shots.json", kMaxFileBytes,
                                           /*folderPerCase=*/true)) {
        SCOPED_TRACE(file.what);
        ShotsModel model({{}, {}, file.path});
        EXPECT_EQ(model.count(), 0);
        const bool oversized = file.reason == "larger than";
        EXPECT_NE(model.loadReport().indexOf(oversized ? "damaged" : "cannot be used"), -1)
            << model.loadReport().toStdString();
        EXPECT_EQ(model.notice(), model.loadReport());
    }
}

// Saving never replaces what it must not: a read-only file, a link, a file changed outside.
TEST_F(TempFolder, SavingRefusesReadOnlyFilesLinksAndOutsideChangesAndSaysSo) {
    const std::string kept = encodeShots({named("Theirs")});
    const struct {
        const char* what;
        std::function<void(const fs::path&)> before;  // before the model loads
        std::function<void(const fs::path&)> after;   // after it loaded, before it saves
        const char* said;
    } cases[] = {
        {"read-only", [](const fs::path& f) { ::chmod(f.c_str(), 0444); }, {}, "is read-only"},
        {"a link",
         [](const fs::path& f) {
             fs::rename(f, f.string() + ".real");
             fs::create_symlink(f.string() + ".real", f);
         },
         {},
         "is a symbolic link"},
        {"changed outside",
         {},
         [&](const fs::path& f) { std::ofstream(f, std::ios::binary) << kept; },
         "was changed by another program"},
        {"made outside", [](const fs::path& f) { fs::remove(f); },
         [&](const fs::path& f) { std::ofstream(f, std::ios::binary) << kept; },
         "was changed by another program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder_);
        fs::create_directories(file_.parent_path());
        saveShots(file_, {named("Mine")});
        if (c.before) c.before(file_);
        const std::string onDisk = fs::exists(file_) ? readAll(file_) : std::string();
        ShotsModel model({{}, {}, file_});
        QStringList said;
        QObject::connect(&model, &ShotsModel::message, [&](const QString& text) { said << text; });
        if (c.after) c.after(file_);
        const std::string expected = c.after ? kept : onDisk;
        ASSERT_TRUE(model.saveCurrent("Another"));
        EXPECT_EQ(readAll(file_), expected) << "the file on disk is kept";
        EXPECT_NE(said.join("\n").indexOf(c.said), -1) << said.join("\n").toStdString();
        EXPECT_NE(model.notice().indexOf(c.said), -1) << model.notice().toStdString();
        // Later actions say other things; the notice stays until dismissed.
        model.recallShot(0);
        EXPECT_NE(model.notice().indexOf(c.said), -1);
        model.dismissNotice();
        EXPECT_TRUE(model.notice().isEmpty());
        if (std::string(c.what) == "a link") {
            EXPECT_TRUE(fs::is_symlink(file_));
            EXPECT_EQ(readAll(file_.string() + ".real"), onDisk);
        }
        ::chmod(file_.c_str(), 0644);
    }
}

TEST_F(TempFolder, ADamagedFileSetAsideIsNoticedUntilDismissed) {
    fs::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << "{ not json";
    ShotsModel model({{}, {}, file_});
    EXPECT_NE(model.notice().indexOf("damaged"), -1);
    int changes = 0;
    QObject::connect(&model, &ShotsModel::noticeChanged, [&] { ++changes; });
    EXPECT_TRUE(model.saveCurrent("Fresh"));
    EXPECT_TRUE(model.recallShot(0));
    EXPECT_NE(model.notice().indexOf("damaged"), -1) << "other messages do not replace it";
    model.dismissNotice();
    EXPECT_TRUE(model.notice().isEmpty());
    EXPECT_EQ(changes, 1);
    // Saving after our own save is not an outside change.
    EXPECT_TRUE(model.saveCurrent("Second"));
    EXPECT_TRUE(model.notice().isEmpty());
    EXPECT_EQ(loadShots(file_).shots.size(), 2u);
}

}  // namespace
}  // namespace vantry::app::shots
