#include "creator/ugc/OruUGCVaultStorageV1175.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#include "common/Json.h"
#include "platform/files/SafeOutput.h"
#include "platform/files/UserFolders.h"

namespace vantry::creator {
namespace fs = std::filesystem;

namespace {

// Vault files larger than this are not maps anyone made; they are skipped unread.
constexpr off_t kMaxVaultFileBytes = 16 * 1024 * 1024;

OruUGCPropPlacementV1175 prop(const char* id, const char* label, const char* mesh, float x, float z,
                              float yaw, float scale) {
    return OruUGCPropPlacementV1175{id, label, mesh, x, 0.0f, z, yaw, scale};
}

// The id as it appears inside an error message: control bytes escaped, long ids shortened.
std::string displayId(std::string_view id) {
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (shown >= 64) {
            // Do not cut a UTF-8 sequence in half.
            while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
            if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
            out += "…";
            break;
        }
        const auto c = static_cast<unsigned char>(id[i]);
        if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
        ++shown;
    }
    return out;
}

std::string reason(int err) {
    return std::generic_category().message(err);
}

// Reads a regular file directly inside the vault; symbolic links, devices and pipes are not followed.
std::optional<std::string> readVaultFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxVaultFileBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() >= static_cast<std::size_t>(kMaxVaultFileBytes)) break;
            bytes.resize(std::min<std::size_t>(bytes.size() * 2 + 4096, kMaxVaultFileBytes));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

fs::path resolve(const std::optional<fs::path>& directory) {
    return directory ? *directory : OruUGCVaultStorageV1175::localVaultDirectory();
}

}  // namespace

fs::path OruUGCVaultStorageV1175::localVaultDirectory() {
    return platform::UserFolders::dataHome() / "CorvellaOru" / "UGCBlueprints";
}

std::vector<OruUGCRaidMapRecordV1175> OruUGCVaultStorageV1175::flagshipRaidPacks() {
    const std::string now = currentISOTimestamp();
    std::vector<OruUGCRaidMapRecordV1175> packs;
    packs.push_back(
        {"flagship_6th_ave_mercy_siege",
         "6th Ave Mercy Hospital Siege",
         "CORVELLA-HQ",
         "Midtown 6th Ave",
         "Walk-in Mercy Hospital sniper defense with fortified ConEd relay barricades and explosive "
         "barrel chokepoints.",
         {prop("b1", "East Chokepoint Barrel", "barrel", -8.5f, -56.0f, 0.4f, 1.0f),
          prop("b2", "Mercy Doorway Barrel", "barrel", -12.0f, -63.0f, 1.1f, 1.0f),
          prop("c1", "Substation Cover Crate", "crate", 4.2f, -44.0f, 0.25f, 1.25f),
          prop("c2", "6th Ave Ambush Crate", "crate", -5.4f, -38.5f, -0.35f, 1.25f)},
         412,
         true,
         now});
    packs.push_back(
        {"flagship_coned_blackout_gauntlet",
         "ConEd Blackout Convoy Gauntlet",
         "TARIN-M6",
         "6th Ave Power Corridor",
         "High-speed 4P Warthog escort corridor with dual explosive traps around the sparking ConEd "
         "Power Core.",
         {prop("g1", "Core Flanking Barrel L", "barrel", -4.2f, -26.0f, 0.0f, 1.0f),
          prop("g2", "Core Flanking Barrel R", "barrel", 4.2f, -26.0f, 0.5f, 1.0f),
          prop("g3", "Substation Sandbag Crate", "crate", 6.5f, -43.5f, 0.15f, 1.35f)},
         289,
         true,
         now});
    packs.push_back(
        {"flagship_squall_killbox",
         "Cat-4 Grimfall Killbox",
         "CORVELLA-ORU",
         "Times Square South",
         "Built for 3x Scrap Cat-4 Squalls — chained barrel dominoes designed to bait Screamers and "
         "Acid Spitters.",
         {prop("s1", "Domino Barrel 1", "barrel", 0.0f, -33.0f, 0.2f, 1.0f),
          prop("s2", "Domino Barrel 2", "barrel", 2.2f, -36.5f, 0.8f, 1.0f),
          prop("s3", "Domino Barrel 3", "barrel", -2.5f, -39.5f, 1.4f, 1.0f),
          prop("s4", "Overwatch Crate", "crate", -6.0f, -29.0f, 0.45f, 1.2f)},
         344,
         true,
         now});
    return packs;
}

bool OruUGCVaultStorageV1175::isValidMapId(std::string_view id) {
    if (id.empty() || id == "." || id == "..") return false;
    if (id.size() > maxMapIdBytes) return false;
    return id.find('/') == std::string_view::npos && id.find('\0') == std::string_view::npos;
}

fs::path OruUGCVaultStorageV1175::saveLocally(const OruUGCRaidMapRecordV1175& map,
                                              const std::optional<fs::path>& directory) {
    // The id becomes a file name: refuse anything that would leave the folder or is no name at all.
    if (!isValidMapId(map.id)) {
        throw VaultError("The map id \"" + displayId(map.id) + "\" is not a valid file name.");
    }
    const fs::path dir = resolve(directory);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec)) {
        const int err = ec ? ec.value() : ENOTDIR;
        throw VaultError("The vault folder \"" + dir.string() + "\" could not be created: " + reason(err) +
                         ".");
    }
    const std::string name = map.id + ".json";
    const fs::path file = dir / name;
    std::string bytes;
    try {
        bytes = encodeRaidMapPretty(map);
    } catch (const json::EncodingError& e) {
        throw VaultError("The map \"" + displayId(map.id) + "\" could not be encoded: " + e.what() + ".");
    }
    try {
        platform::SafeOutput::write(file, bytes);
    } catch (const fs::filesystem_error& e) {
        throw VaultError("The file \"" + name + "\" could not be saved in the folder \"" + dir.string() +
                         "\": " + reason(e.code().value()) + ".");
    }
    return file;
}

std::vector<OruUGCRaidMapRecordV1175> OruUGCVaultStorageV1175::loadLocalVault(
    const std::optional<fs::path>& directory) {
    const fs::path dir = resolve(directory);
    std::vector<fs::path> files;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return {};
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const fs::path& path = it->path();
        if (path.extension() != ".json") continue;
        if (!isValidMapId(path.stem().native())) continue;
        files.push_back(path);
    }
    std::sort(files.begin(), files.end());

    std::vector<OruUGCRaidMapRecordV1175> maps;
    for (const auto& path : files) {
        auto bytes = readVaultFile(path);
        if (!bytes) continue;
        auto map = decodeRaidMap(*bytes);
        // A record whose id could not be saved back is not taken in either.
        if (!map || !isValidMapId(map->id)) continue;
        maps.push_back(std::move(*map));
    }
    std::stable_sort(maps.begin(), maps.end(),
                     [](const auto& a, const auto& b) { return a.createdISO > b.createdISO; });
    return maps;
}

OruUGCRoundTripResultV1175 OruUGCVaultStorageV1175::verifyPublishAndReloadRoundTrip(
    const fs::path& tempDirectory) {
    const OruUGCRaidMapRecordV1175 saved = flagshipRaidPacks().front();
    fs::path file;
    try {
        file = saveLocally(saved, tempDirectory);
    } catch (const VaultError&) {
        return {};
    }
    auto bytes = readVaultFile(file);
    if (!bytes) return {};
    const auto loaded = loadLocalVault(tempDirectory);
    const auto it =
        std::find_if(loaded.begin(), loaded.end(), [&](const auto& m) { return m.id == saved.id; });
    if (it == loaded.end()) return {};
    const auto size = static_cast<std::int64_t>(bytes->size());
    return {*it == saved && size < 4096, size, static_cast<std::int64_t>(it->placements.size())};
}

}  // namespace vantry::creator
