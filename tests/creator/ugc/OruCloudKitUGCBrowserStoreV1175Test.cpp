#include <gtest/gtest.h>

#include <QStringList>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "creator/ugc/OruCloudKitUGCBrowserStoreV1175.h"
#include "creator/ugc/OruUGCVaultStorageV1175.h"
#include "platform/cloud/PublicCloudDatabase.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/creator/ugc/TempHome.h"

using namespace vantry::creator;
using vantry::platform::CloudRecord;
using vantry::platform::PublicCloudDatabase;
namespace fs = std::filesystem;

namespace {

// A signed-in cloud database that completes every save on another thread.
class FakeCloud : public PublicCloudDatabase {
  public:
    explicit FakeCloud(bool succeed) : succeed_(succeed) {}
    bool hasSignedInAccount() const override { return true; }
    void saveRecord(CloudRecord record, SaveCompletion completion) override {
        saved.push_back(std::move(record));
        std::thread([this, completion] {
            completion(succeed_ ? std::nullopt : std::optional<std::string>("quota exceeded"));
        }).join();
    }
    std::vector<CloudRecord> saved;

  private:
    bool succeed_;
};

OruUGCRaidMapRecordV1175 userMap(std::string id, std::string createdISO = "2999-01-01T00:00:00Z") {
    OruUGCRaidMapRecordV1175 m;
    m.id = std::move(id);
    m.title = "Rooftop Run";
    m.authorCallsign = "ME";
    m.district = "Chelsea";
    m.summary = "Roofs.";
    m.placements = {{"b1", "Barrel", "barrel", 1.0f, 0.0f, -10.0f, 0.0f, 1.0f},
                    {"c1", "Crate", "crate", 2.0f, 0.0f, -12.0f, 0.5f, 1.2f}};
    m.createdISO = std::move(createdISO);
    return m;
}

std::vector<std::string> ids(const OruCloudKitUGCBrowserStoreV1175& store) {
    std::vector<std::string> out;
    for (const auto& m : store.maps()) out.push_back(m.id);
    return out;
}

const std::vector<std::string> kFlagshipIds = {"flagship_6th_ave_mercy_siege",
                                               "flagship_coned_blackout_gauntlet", "flagship_squall_killbox"};

// Every status text the store announces, in order.
struct StatusLog {
    explicit StatusLog(OruCloudKitUGCBrowserStoreV1175& store) {
        QObject::connect(&store, &OruCloudKitUGCBrowserStoreV1175::statusMessageChanged,
                         [this](const QString& s) { lines.push_back(s); });
    }
    QStringList lines;
};

class UGCBrowserStore : public ::testing::Test {
  protected:
    void SetUp() override { vantry::platform::drainMainQueue(); }
    fs::path vault = vantry::testing::freshFolder("store-vault");
};

}  // namespace

TEST_F(UGCBrowserStore, FreshVaultListsTheFlagshipsInOrder) {
    OruCloudKitUGCBrowserStoreV1175 store(nullptr, vault);
    EXPECT_EQ(ids(store), kFlagshipIds);
    EXPECT_EQ(store.statusMessage(), "Flagship + Local Vault Ready");
    EXPECT_FALSE(store.activeDeployedMapID());
    EXPECT_TRUE(store.activeDeployedMapIDVariant().isNull());
    EXPECT_EQ(store.mapsVariant().size(), 3);
    EXPECT_EQ(store.mapsVariant()[0].toMap()["likes"].toLongLong(), 412);
}

TEST_F(UGCBrowserStore, PublishingWithoutAnAccountStaysLocalAndListsTheMapFirstOnce) {
    OruCloudKitUGCBrowserStoreV1175 store(nullptr, vault);
    StatusLog log(store);
    store.publishRaidMap(userMap("rooftop"));
    EXPECT_EQ(log.lines, (QStringList{"Saved 'Rooftop Run' to Vault · Syncing CloudKit…",
                                      "Published 'Rooftop Run' to Local Oru Vault (Ready for Grimfall)"}));
    auto expected = kFlagshipIds;
    expected.insert(expected.begin(), "rooftop");
    EXPECT_EQ(ids(store), expected);
    EXPECT_FALSE(store.maps()[0].syncedToCloudKit);

    // Publishing an entry of the list itself, a second time: still one entry, one file.
    auto again = store.maps()[0];
    again.title = "Rooftop Run II";
    store.publishRaidMap(store.maps()[0]);
    store.publishRaidMap(again);
    EXPECT_EQ(ids(store), expected);
    EXPECT_EQ(store.maps()[0].title, "Rooftop Run II");
    EXPECT_EQ(log.lines.back(), "Published 'Rooftop Run II' to Local Oru Vault (Ready for Grimfall)");
    EXPECT_EQ(vantry::platform::drainMainQueue(), 0u);
}

TEST_F(UGCBrowserStore, FlagshipSavedIntoTheVaultIsListedOnceWithTheVaultContent) {
    auto flagship = OruUGCVaultStorageV1175::flagshipRaidPacks()[1];
    flagship.likes = 9000;
    flagship.createdISO = "2000-01-01T00:00:00Z";
    OruUGCVaultStorageV1175::saveLocally(flagship, vault);
    OruUGCVaultStorageV1175::saveLocally(userMap("newer"), vault);
    OruCloudKitUGCBrowserStoreV1175 store(nullptr, vault);
    EXPECT_EQ(ids(store),
              (std::vector<std::string>{"newer", "flagship_coned_blackout_gauntlet",
                                        "flagship_6th_ave_mercy_siege", "flagship_squall_killbox"}));
    EXPECT_EQ(store.maps()[1].likes, 9000);
}

TEST_F(UGCBrowserStore, DeployAndClear) {
    OruCloudKitUGCBrowserStoreV1175 store(nullptr, vault);
    store.deployMapLive(store.maps()[0]);
    EXPECT_EQ(store.activeDeployedMapID(), "flagship_6th_ave_mercy_siege");
    EXPECT_EQ(store.activePlacements().size(), 4u);
    EXPECT_EQ(store.statusMessage(), "Deployed '6th Ave Mercy Hospital Siege' (4 live props on 6th Ave)");

    auto empty = userMap("bare");
    empty.title = "Bare";
    empty.placements.clear();
    store.deployMapLive(empty);
    EXPECT_EQ(store.activeDeployedMapID(), "bare");
    EXPECT_TRUE(store.activePlacements().empty());
    EXPECT_EQ(store.statusMessage(), "Deployed 'Bare' (0 live props on 6th Ave)");

    EXPECT_TRUE(store.deployMapLiveByID("flagship_squall_killbox"));
    EXPECT_EQ(store.activePlacementsVariant().size(), 4);
    EXPECT_FALSE(store.deployMapLiveByID("no-such-map"));

    store.clearDeployedMap();
    EXPECT_FALSE(store.activeDeployedMapID());
    EXPECT_TRUE(store.activePlacements().empty());
    EXPECT_EQ(store.statusMessage(), "Cleared custom UGC props");
}

TEST_F(UGCBrowserStore, SaveErrorsAreShownAndNothingIsPublished) {
    const fs::path blocked = vantry::testing::freshFolder("store-blocked");
    std::ofstream(blocked / "file") << "x";
    auto cloud = std::make_shared<FakeCloud>(true);
    OruCloudKitUGCBrowserStoreV1175 store(cloud, blocked / "file" / "vault");
    StatusLog log(store);
    store.publishRaidMap(userMap("m"));
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines[0].startsWith("Save error: The vault folder")) << log.lines[0].toStdString();
    EXPECT_TRUE(cloud->saved.empty());

    OruCloudKitUGCBrowserStoreV1175 good(cloud, vault);
    good.publishRaidMap(userMap("../../.bashrc"));
    EXPECT_EQ(good.statusMessage(), "Save error: The map id \"../../.bashrc\" is not a valid file name.");
    EXPECT_TRUE(cloud->saved.empty());
    EXPECT_FALSE(fs::exists(vault.parent_path().parent_path() / ".bashrc"));
    EXPECT_EQ(ids(good), kFlagshipIds);
}

TEST_F(UGCBrowserStore, CloudSuccessMarksTheMapSyncedOnTheMainThread) {
    auto cloud = std::make_shared<FakeCloud>(true);
    OruCloudKitUGCBrowserStoreV1175 store(cloud, vault);
    StatusLog log(store);
    store.publishRaidMap(userMap("rooftop"));

    ASSERT_EQ(cloud->saved.size(), 1u);
    const CloudRecord& record = cloud->saved[0];
    EXPECT_EQ(record.recordType, "OruUGCStageBlueprint");
    EXPECT_EQ(record.recordName.size(), 36u);
    EXPECT_EQ(record.fields.at("mapID"), "rooftop");
    EXPECT_EQ(record.fields.at("title"), "Rooftop Run");
    EXPECT_EQ(record.fields.at("author"), "ME");
    EXPECT_EQ(record.fields.at("district"), "Chelsea");
    EXPECT_EQ(decodeRaidMap(record.fields.at("payloadJSON")), userMap("rooftop"));

    // Nothing changes until the main thread runs the completion.
    EXPECT_EQ(log.lines.size(), 1);
    EXPECT_FALSE(store.maps()[0].syncedToCloudKit);
    EXPECT_EQ(vantry::platform::drainMainQueue(), 1u);
    EXPECT_EQ(log.lines, (QStringList{"Saved 'Rooftop Run' to Vault · Syncing CloudKit…",
                                      "Synced 'Rooftop Run' live to CloudKit Public Vault!"}));
    EXPECT_TRUE(store.maps()[0].syncedToCloudKit);
    EXPECT_TRUE(OruUGCVaultStorageV1175::loadLocalVault(vault)[0].syncedToCloudKit);
}

TEST_F(UGCBrowserStore, CloudFailureKeepsTheLocalCopyUnsynced) {
    auto cloud = std::make_shared<FakeCloud>(false);
    OruCloudKitUGCBrowserStoreV1175 store(cloud, vault);
    store.publishRaidMap(userMap("rooftop"));
    EXPECT_EQ(vantry::platform::drainMainQueue(), 1u);
    EXPECT_EQ(store.statusMessage(), "Saved 'Rooftop Run' locally (CloudKit container pending)");
    EXPECT_FALSE(store.maps()[0].syncedToCloudKit);
    EXPECT_FALSE(OruUGCVaultStorageV1175::loadLocalVault(vault)[0].syncedToCloudKit);
}

TEST_F(UGCBrowserStore, CompletionAfterTheStoreIsGoneStillSavesButTouchesNothing) {
    auto cloud = std::make_shared<FakeCloud>(true);
    {
        OruCloudKitUGCBrowserStoreV1175 store(cloud, vault);
        store.publishRaidMap(userMap("rooftop"));
    }
    EXPECT_EQ(vantry::platform::drainMainQueue(), 1u);
    EXPECT_TRUE(OruUGCVaultStorageV1175::loadLocalVault(vault)[0].syncedToCloudKit);
}

TEST_F(UGCBrowserStore, SharedStoreUsesTheUserVaultAndTheLocalOnlyDatabase) {
    auto& store = OruCloudKitUGCBrowserStoreV1175::shared();
    EXPECT_EQ(&store, &OruCloudKitUGCBrowserStoreV1175::shared());
    store.publishRaidMap(userMap("shared-map"));
    EXPECT_EQ(store.statusMessage(), "Published 'Rooftop Run' to Local Oru Vault (Ready for Grimfall)");
    EXPECT_TRUE(fs::exists(vantry::testing::tempHome() / "share/CorvellaOru/UGCBlueprints/shared-map.json"));
    EXPECT_EQ(store.maps()[0].id, "shared-map");
    EXPECT_EQ(store.maps().size(), 4u);
}
