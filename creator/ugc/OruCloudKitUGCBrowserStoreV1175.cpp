#include "creator/ugc/OruCloudKitUGCBrowserStoreV1175.h"

#include <QPointer>
#include <QUuid>
#include <QVariantMap>
#include <algorithm>
#include <utility>

#include "common/Json.h"
#include "creator/ugc/OruUGCVaultStorageV1175.h"
#include "platform/cloud/PublicCloudDatabase.h"
#include "platform/dispatch/MainThreadDispatcher.h"

namespace vantry::creator {
namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QVariantMap placementVariant(const OruUGCPropPlacementV1175& p) {
    return QVariantMap{{"id", text(p.id)},
                       {"label", text(p.label)},
                       {"meshKind", text(p.meshKind)},
                       {"x", p.x},
                       {"y", p.y},
                       {"z", p.z},
                       {"yawRad", p.yawRad},
                       {"scale", p.scale}};
}

QVariantList placementsVariant(const std::vector<OruUGCPropPlacementV1175>& placements) {
    QVariantList list;
    list.reserve(static_cast<qsizetype>(placements.size()));
    for (const auto& p : placements) list.push_back(placementVariant(p));
    return list;
}

QVariantMap mapVariant(const OruUGCRaidMapRecordV1175& m) {
    return QVariantMap{{"id", text(m.id)},
                       {"title", text(m.title)},
                       {"authorCallsign", text(m.authorCallsign)},
                       {"district", text(m.district)},
                       {"summary", text(m.summary)},
                       {"placements", placementsVariant(m.placements)},
                       {"likes", QVariant::fromValue<qint64>(m.likes)},
                       {"syncedToCloudKit", m.syncedToCloudKit},
                       {"createdISO", text(m.createdISO)}};
}

}  // namespace

OruCloudKitUGCBrowserStoreV1175& OruCloudKitUGCBrowserStoreV1175::shared() {
    static auto* store = new OruCloudKitUGCBrowserStoreV1175();
    return *store;
}

OruCloudKitUGCBrowserStoreV1175::OruCloudKitUGCBrowserStoreV1175(
    std::shared_ptr<platform::PublicCloudDatabase> database,
    std::optional<std::filesystem::path> vaultDirectory, QObject* parent)
    : QObject(parent),
      database_(database ? std::move(database) : platform::defaultPublicCloudDatabase()),
      vaultDirectory_(std::move(vaultDirectory)),
      statusMessage_(QStringLiteral("Flagship + Local Vault Ready")) {
    reloadAll();
}

OruCloudKitUGCBrowserStoreV1175::~OruCloudKitUGCBrowserStoreV1175() = default;

void OruCloudKitUGCBrowserStoreV1175::setStatusMessage(const QString& message) {
    statusMessage_ = message;
    emit statusMessageChanged(statusMessage_);
}

void OruCloudKitUGCBrowserStoreV1175::setMaps(std::vector<OruUGCRaidMapRecordV1175> maps) {
    maps_ = std::move(maps);
    emit mapsChanged();
}

void OruCloudKitUGCBrowserStoreV1175::reloadAll() {
    auto merged = OruUGCVaultStorageV1175::loadLocalVault(vaultDirectory_);
    for (auto& flagship : OruUGCVaultStorageV1175::flagshipRaidPacks()) {
        const bool listed =
            std::any_of(merged.begin(), merged.end(), [&](const auto& m) { return m.id == flagship.id; });
        if (!listed) merged.push_back(std::move(flagship));
    }
    setMaps(std::move(merged));
}

void OruCloudKitUGCBrowserStoreV1175::deployMapLive(const OruUGCRaidMapRecordV1175& map) {
    activeDeployedMapID_ = map.id;
    emit activeDeployedMapIDChanged();
    activePlacements_ = map.placements;
    emit activePlacementsChanged();
    setStatusMessage(QStringLiteral("Deployed '") + text(map.title) + QStringLiteral("' (") +
                     QString::number(map.placements.size()) + QStringLiteral(" live props on 6th Ave)"));
}

bool OruCloudKitUGCBrowserStoreV1175::deployMapLiveByID(const QString& mapID) {
    const std::string id = mapID.toStdString();
    const auto it = std::find_if(maps_.begin(), maps_.end(), [&](const auto& m) { return m.id == id; });
    if (it == maps_.end()) return false;
    const OruUGCRaidMapRecordV1175 map = *it;  // a copy: deploying announces changes to observers
    deployMapLive(map);
    return true;
}

void OruCloudKitUGCBrowserStoreV1175::clearDeployedMap() {
    activeDeployedMapID_.reset();
    emit activeDeployedMapIDChanged();
    activePlacements_.clear();
    emit activePlacementsChanged();
    setStatusMessage(QStringLiteral("Cleared custom UGC props"));
}

void OruCloudKitUGCBrowserStoreV1175::publishRaidMap(OruUGCRaidMapRecordV1175 map) {
    try {
        OruUGCVaultStorageV1175::saveLocally(map, vaultDirectory_);
    } catch (const std::exception& e) {
        setStatusMessage(QStringLiteral("Save error: ") + QString::fromUtf8(e.what()));
        return;
    }
    reloadAll();
    const QString title = text(map.title);
    setStatusMessage(QStringLiteral("Saved '") + title + QStringLiteral("' to Vault · Syncing CloudKit…"));

    if (!database_ || !database_->hasSignedInAccount()) {
        setStatusMessage(QStringLiteral("Published '") + title +
                         QStringLiteral("' to Local Oru Vault (Ready for Grimfall)"));
        return;
    }

    platform::CloudRecord record;
    record.recordType = std::string(OruUGCVaultStorageV1175::recordType);
    record.recordName = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    record.fields["mapID"] = map.id;
    record.fields["title"] = map.title;
    record.fields["author"] = map.authorCallsign;
    record.fields["district"] = map.district;
    try {
        record.fields["payloadJSON"] = encodeRaidMapCompact(map);
    } catch (const json::EncodingError&) {
        // The payload is left out; the other fields still describe the map.
    }

    // The completion may run on any thread: it only schedules work on the main thread,
    // where the weak reference tells whether the store still exists.
    QPointer<OruCloudKitUGCBrowserStoreV1175> weakStore(this);
    database_->saveRecord(std::move(record), [weakStore, map, vaultDirectory = vaultDirectory_,
                                              title](std::optional<std::string> error) {
        platform::postToMain([weakStore, map, vaultDirectory, title, error]() mutable {
            if (error) {
                if (weakStore) {
                    weakStore->setStatusMessage(QStringLiteral("Saved '") + title +
                                                QStringLiteral("' locally (CloudKit container pending)"));
                }
                return;
            }
            map.syncedToCloudKit = true;
            try {
                OruUGCVaultStorageV1175::saveLocally(map, vaultDirectory);
            } catch (const std::exception&) {
                // The cloud copy is saved; a failed local refresh only leaves the flag unset on disk.
            }
            if (weakStore) weakStore->reloadAll();
            if (weakStore) {
                weakStore->setStatusMessage(QStringLiteral("Synced '") + title +
                                            QStringLiteral("' live to CloudKit Public Vault!"));
            }
        });
    });
}

QVariantList OruCloudKitUGCBrowserStoreV1175::mapsVariant() const {
    QVariantList list;
    list.reserve(static_cast<qsizetype>(maps_.size()));
    for (const auto& m : maps_) list.push_back(mapVariant(m));
    return list;
}

QVariant OruCloudKitUGCBrowserStoreV1175::activeDeployedMapIDVariant() const {
    if (!activeDeployedMapID_) return QVariant();
    return text(*activeDeployedMapID_);
}

QVariantList OruCloudKitUGCBrowserStoreV1175::activePlacementsVariant() const {
    return placementsVariant(activePlacements_);
}

}  // namespace vantry::creator
