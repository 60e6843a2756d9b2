#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "creator/ugc/OruUGCVaultStorageV1175.h"
#include "tests/creator/ugc/TempHome.h"

using namespace vantry::creator;
namespace fs = std::filesystem;
using vantry::testing::freshFolder;
using vantry::testing::tempHome;

namespace {

OruUGCRaidMapRecordV1175 userMap(std::string id, std::string createdISO = "2026-12-07T02:08:50Z") {
    OruUGCRaidMapRecordV1175 m;
    m.id = std::move(id);
    m.title = "User Map";
    m.authorCallsign = "ME";
    m.district = "Midtown";
    m.summary = "Mine.";
    m.placements = {{"b1", "Barrel", "barrel", 1.5f, 0.0f, -20.0f, 0.3f, 1.0f}};
    m.likes = 3;
    m.createdISO = std::move(createdISO);
    return m;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every path under root, relative, to spot files written where they should not be.
std::set<std::string> treeOf(const fs::path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out.insert(fs::relative(e.path(), root).string());
    return out;
}

}  // namespace

TEST(VaultStorage, DefaultFolderIsUnderTheDataHome) {
    EXPECT_EQ(OruUGCVaultStorageV1175::localVaultDirectory(),
              tempHome() / "share" / "CorvellaOru" / "UGCBlueprints");
    EXPECT_EQ(OruUGCVaultStorageV1175::recordType, "OruUGCStageBlueprint");
}

TEST(VaultStorage, FlagshipPacksHaveTheirFixedContent) {
    const auto packs = OruUGCVaultStorageV1175::flagshipRaidPacks();
    ASSERT_EQ(packs.size(), 3u);
    EXPECT_EQ(packs[0].id, "flagship_6th_ave_mercy_siege");
    EXPECT_EQ(packs[1].id, "flagship_coned_blackout_gauntlet");
    EXPECT_EQ(packs[2].id, "flagship_squall_killbox");
    EXPECT_EQ(packs[0].likes, 412);
    EXPECT_EQ(packs[1].likes, 289);
    EXPECT_EQ(packs[2].likes, 344);
    EXPECT_EQ(packs[0].placements.size(), 4u);
    EXPECT_EQ(packs[1].placements.size(), 3u);
    EXPECT_EQ(packs[2].placements.size(), 4u);
    EXPECT_EQ(packs[1].placements[2], (OruUGCPropPlacementV1175{"g3", "Substation Sandbag Crate", "crate",
                                                                6.5f, 0.0f, -43.5f, 0.15f, 1.35f}));
    for (const auto& p : packs) {
        EXPECT_TRUE(p.syncedToCloudKit);
        EXPECT_EQ(p.createdISO, packs[0].createdISO);
        EXPECT_TRUE(OruUGCVaultStorageV1175::isValidMapId(p.id));
    }
}

TEST(VaultStorage, MissingFolderLoadsEmptyAndFirstSaveCreatesIt) {
    const fs::path dir = freshFolder("vault") / "a" / "b";
    EXPECT_TRUE(OruUGCVaultStorageV1175::loadLocalVault(dir).empty());
    const auto file = OruUGCVaultStorageV1175::saveLocally(userMap("mine"), dir);
    EXPECT_EQ(file, dir / "mine.json");
    const auto loaded = OruUGCVaultStorageV1175::loadLocalVault(dir);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], userMap("mine"));
    // The atomic write leaves no temporary file behind.
    EXPECT_EQ(treeOf(dir), (std::set<std::string>{"mine.json"}));
}

TEST(VaultStorage, SavingTheSameIdReplacesTheFile) {
    const fs::path dir = freshFolder("vault");
    OruUGCVaultStorageV1175::saveLocally(userMap("same"), dir);
    auto second = userMap("same");
    second.title = "Second";
    second.placements.clear();
    OruUGCVaultStorageV1175::saveLocally(second, dir);
    const auto loaded = OruUGCVaultStorageV1175::loadLocalVault(dir);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], second);
    EXPECT_EQ(treeOf(dir).size(), 1u);
}

TEST(VaultStorage, LoadsOnlyExactJsonFilesSkipsBrokenOnesAndSortsNewestFirst) {
    const fs::path dir = freshFolder("vault");
    OruUGCVaultStorageV1175::saveLocally(userMap("old", "2026-01-01T00:00:00Z"), dir);
    OruUGCVaultStorageV1175::saveLocally(userMap("new", "2026-12-31T23:59:59Z"), dir);
    OruUGCVaultStorageV1175::saveLocally(userMap("mid", "2026-06-01T12:00:00Z"), dir);
    const std::string valid = readText(dir / "old.json");
    writeText(dir / "MAP.JSON", valid);
    writeText(dir / "x.json.bak", valid);
    writeText(dir / "broken.json", "{\"id\": \"broken\", ");
    writeText(dir / "empty.json", "");
    writeText(dir / ".json", valid);
    fs::create_directory(dir / "folder.json");
    // A record inside the vault whose id could never be saved back is not taken in.
    std::string escaping = valid;
    escaping.replace(escaping.find("\"old\""), 5, "\"../escape\"");
    writeText(dir / "escape.json", escaping);
    // Nor is a link pointing out of the vault.
    const fs::path outside = freshFolder("outside") / "elsewhere.json";
    writeText(outside, readText(dir / "new.json"));
    fs::create_symlink(outside, dir / "linked.json");

    const auto loaded = OruUGCVaultStorageV1175::loadLocalVault(dir);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].id, "new");
    EXPECT_EQ(loaded[1].id, "mid");
    EXPECT_EQ(loaded[2].id, "old");
}

TEST(VaultStorage, RoundTripSelfTestOnAnEmptyFolder) {
    const fs::path dir = freshFolder("selftest");
    const auto result = OruUGCVaultStorageV1175::verifyPublishAndReloadRoundTrip(dir);
    EXPECT_TRUE(result.ok);
    EXPECT_GT(result.byteSize, 0);
    EXPECT_LT(result.byteSize, 4096);
    EXPECT_EQ(result.byteSize,
              static_cast<std::int64_t>(fs::file_size(dir / "flagship_6th_ave_mercy_siege.json")));
    EXPECT_EQ(result.propCount, 4);

    // A folder that cannot be created gives the failed triple.
    const fs::path blocker = freshFolder("selftest") / "file";
    writeText(blocker, "x");
    EXPECT_EQ(OruUGCVaultStorageV1175::verifyPublishAndReloadRoundTrip(blocker / "sub"),
              (OruUGCRoundTripResultV1175{false, 0, 0}));
}

TEST(VaultStorage, UnsafeMapIdsAreRefusedAndNothingIsWrittenOutside) {
    const fs::path root = freshFolder("unsafe");
    const fs::path dir = root / "deep" / "vault";
    const std::string tooLong(OruUGCVaultStorageV1175::maxMapIdBytes + 1, 'a');
    for (const std::string& id :
         {std::string(), std::string("."), std::string(".."), std::string("../../.bashrc"),
          std::string("a/b"), std::string("/etc/passwd"), std::string("evil\0id", 7), tooLong}) {
        try {
            OruUGCVaultStorageV1175::saveLocally(userMap(id), dir);
            ADD_FAILURE() << "saved id '" << id << "'";
        } catch (const VaultError& e) {
            EXPECT_NE(std::string(e.what()).find("is not a valid file name"), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find('\0'), std::string::npos);
        }
    }
    EXPECT_TRUE(treeOf(root).empty());

    // Ordinary ids, including the longest that fits and ones with dots and spaces, still work.
    const std::string longest(OruUGCVaultStorageV1175::maxMapIdBytes, 'a');
    for (const std::string& id : {longest, std::string("my map v1.2"), std::string(".hidden"),
                                  std::string("..dots.."), std::string("карта-1")}) {
        EXPECT_EQ(OruUGCVaultStorageV1175::saveLocally(userMap(id), dir), dir / (id + ".json"));
    }
    EXPECT_EQ(OruUGCVaultStorageV1175::loadLocalVault(dir).size(), 5u);
    for (const auto& entry : treeOf(root)) {
        EXPECT_TRUE(entry == "deep" || entry.rfind("deep/vault", 0) == 0) << entry;
    }
}

TEST(VaultStorage, UnwritableFolderThrowsAReadableError) {
    const fs::path root = freshFolder("unwritable");
    writeText(root / "plainfile", "x");
    try {
        OruUGCVaultStorageV1175::saveLocally(userMap("m"), root / "plainfile" / "vault");
        ADD_FAILURE() << "saved under a plain file";
    } catch (const VaultError& e) {
        EXPECT_NE(std::string(e.what()).find("could not be created"), std::string::npos) << e.what();
    }
    // A folder in the way of the file itself.
    fs::create_directories(root / "vault" / "m.json" / "inner");
    EXPECT_THROW(OruUGCVaultStorageV1175::saveLocally(userMap("m"), root / "vault"), VaultError);
    EXPECT_EQ(treeOf(root / "vault"), (std::set<std::string>{"m.json", "m.json/inner"}));
}
