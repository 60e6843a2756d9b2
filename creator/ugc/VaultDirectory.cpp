// Where the vault lives: the user's XDG data home (usually ~/.local/share).
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include "creator/ugc/VaultStorage.h"

namespace vantry::creator {

std::filesystem::path OruUGCVaultStorageV1175::localVaultDirectory() {
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    std::filesystem::path base;
    if (home.isEmpty()) {
        std::error_code ec;
        base = std::filesystem::temp_directory_path(ec);
        if (ec) base = "/tmp";
    } else {
        base = std::filesystem::path(QFile::encodeName(home).toStdString());
    }
    return base / "CorvellaOru" / "UGCBlueprints";
}

}  // namespace vantry::creator
