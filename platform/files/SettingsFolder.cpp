#include "platform/files/SettingsFolder.h"

#include <system_error>

#include "platform/files/IniFile.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SafeOutput.h"
#include "platform/files/UserFolders.h"

namespace vantry::platform {
namespace fs = std::filesystem;

fs::path settingsFolder() {
    return UserFolders::configHome() / "vantry-pro";
}

fs::path studioSettingsFile() {
    const fs::path file = settingsFolder() / "studio.ini";
    const fs::path old = UserFolders::configHome() / "vantry" / "studio.ini";
    std::error_code ec;
    if (fs::symlink_status(file, ec).type() != fs::file_type::not_found) return file;
    if (fs::symlink_status(old, ec).type() == fs::file_type::not_found) return file;
    // Copied, not renamed: the new file is a fresh one of ours even when the old name was a link.
    const FileContents contents = readRegularFile(old, kMaxSettingsFileBytes);
    if (!contents.ok()) return file;
    try {
        SafeOutput::write(file, contents.bytes);
    } catch (const fs::filesystem_error&) {
        return file;  // the old file stays, to be moved by a later run
    }
    fs::remove(old, ec);
    fs::remove(old.parent_path(), ec);  // only when nothing else is left in it
    return file;
}

}  // namespace vantry::platform
