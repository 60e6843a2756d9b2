// The local vault: one pretty-printed JSON file per raid map in a folder of the user's data home.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "creator/ugc/OruUGCRaidMapRecordV1175.h"

namespace vantry::creator {

// A failed vault save; what() is the readable description shown after "Save error: ".
class VaultError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Result of the publish-and-reload self-test.
struct OruUGCRoundTripResultV1175 {
    bool ok = false;
    std::int64_t byteSize = 0;
    std::int64_t propCount = 0;

    bool operator==(const OruUGCRoundTripResultV1175&) const = default;
};

struct OruUGCVaultStorageV1175 {
    OruUGCVaultStorageV1175() = delete;

    // Record type of published maps in the cloud database.
    static constexpr std::string_view recordType = "OruUGCStageBlueprint";

    // Longest map id that still makes a file name ("<id>.json" within 255 bytes).
    static constexpr std::size_t maxMapIdBytes = 255 - 5;

    // <XDG data home>/CorvellaOru/UGCBlueprints.
    // No side effects; the folder need not exist.
    static std::filesystem::path localVaultDirectory();

    // The three built-in maps, built afresh (with the current time) on every call.
    static std::vector<OruUGCRaidMapRecordV1175> flagshipRaidPacks();

    // True when id can name a vault file: not empty, not "." or "..", no '/' or NUL byte,
    // and short enough for "<id>.json" to be a file name.
    static bool isValidMapId(std::string_view id);

    // Writes "<id>.json" into directory (the vault when absent), creating the folder first,
    // and replaces an older file atomically. Returns the file's path; throws VaultError.
    static std::filesystem::path saveLocally(
        const OruUGCRaidMapRecordV1175& map,
        const std::optional<std::filesystem::path>& directory = std::nullopt);

    // Every readable, decodable "*.json" file of directory (the vault when absent),
    // newest createdISO first. Never fails: problems give fewer records.
    static std::vector<OruUGCRaidMapRecordV1175> loadLocalVault(
        const std::optional<std::filesystem::path>& directory = std::nullopt);

    // Saves the first flagship map into tempDirectory, reads it back and compares.
    static OruUGCRoundTripResultV1175 verifyPublishAndReloadRoundTrip(
        const std::filesystem::path& tempDirectory);
};

}  // namespace vantry::creator
