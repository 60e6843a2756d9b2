// The community raid-map store: the local vault merged with the flagship maps, the map
// deployed live, and publishing to the vault and the public cloud database.
//
// Every method is called on the main thread and every property changes there; cloud
// completions are handed back through the main-thread dispatcher.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "creator/ugc/OruUGCRaidMapRecordV1175.h"

namespace vantry::platform {
class PublicCloudDatabase;
}

namespace vantry::creator {

class OruCloudKitUGCBrowserStoreV1175 : public QObject {
    Q_OBJECT
    // Each map as an object with the record's field names; placements likewise.
    Q_PROPERTY(QVariantList maps READ mapsVariant NOTIFY mapsChanged)
    // The deployed map's id, or null when none is deployed.
    Q_PROPERTY(QVariant activeDeployedMapID READ activeDeployedMapIDVariant NOTIFY activeDeployedMapIDChanged)
    Q_PROPERTY(QVariantList activePlacements READ activePlacementsVariant NOTIFY activePlacementsChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)

  public:
    // The process-wide store over the default vault and cloud database; created on first
    // use (on the main thread) and never released.
    static OruCloudKitUGCBrowserStoreV1175& shared();

    // A store over database (the process default when null) and vaultDirectory (the user's
    // vault when absent). Runs reloadAll() once.
    explicit OruCloudKitUGCBrowserStoreV1175(
        std::shared_ptr<platform::PublicCloudDatabase> database = nullptr,
        std::optional<std::filesystem::path> vaultDirectory = std::nullopt, QObject* parent = nullptr);
    ~OruCloudKitUGCBrowserStoreV1175() override;

    const std::vector<OruUGCRaidMapRecordV1175>& maps() const { return maps_; }
    const std::optional<std::string>& activeDeployedMapID() const { return activeDeployedMapID_; }
    const std::vector<OruUGCPropPlacementV1175>& activePlacements() const { return activePlacements_; }
    QString statusMessage() const { return statusMessage_; }

    // Rebuilds maps: the vault (newest first), then each flagship map whose id is not listed yet.
    Q_INVOKABLE void reloadAll();
    // Makes map the active one and reports its number of props.
    void deployMapLive(const OruUGCRaidMapRecordV1175& map);
    // Deploys the listed map with this id; false when there is none.
    Q_INVOKABLE bool deployMapLiveByID(const QString& mapID);
    Q_INVOKABLE void clearDeployedMap();
    // Saves map into the vault, then publishes it to the cloud database when an account is signed in.
    void publishRaidMap(OruUGCRaidMapRecordV1175 map);

    QVariantList mapsVariant() const;
    QVariant activeDeployedMapIDVariant() const;
    QVariantList activePlacementsVariant() const;

  signals:
    void mapsChanged();
    void activeDeployedMapIDChanged();
    void activePlacementsChanged();
    void statusMessageChanged(const QString& statusMessage);

  private:
    void setStatusMessage(const QString& text);
    void setMaps(std::vector<OruUGCRaidMapRecordV1175> maps);

    std::shared_ptr<platform::PublicCloudDatabase> database_;
    std::optional<std::filesystem::path> vaultDirectory_;
    std::vector<OruUGCRaidMapRecordV1175> maps_;
    std::optional<std::string> activeDeployedMapID_;
    std::vector<OruUGCPropPlacementV1175> activePlacements_;
    QString statusMessage_;
};

}  // namespace vantry::creator
