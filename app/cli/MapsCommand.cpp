// "vantry-cli maps": the community raid maps: list them, publish a map file, run the vault self-test.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "creator/ugc/OruCloudKitUGCBrowserStoreV1175.h"
#include "creator/ugc/OruUGCRaidMapRecordV1175.h"
#include "creator/ugc/OruUGCVaultStorageV1175.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/files/RegularFile.h"

namespace {

using vantry::creator::OruCloudKitUGCBrowserStoreV1175;
using vantry::creator::OruUGCVaultStorageV1175;
namespace fs = std::filesystem;

// Map files bigger than this are refused before reading.
constexpr std::uintmax_t kMaxMapFileBytes = 16 * 1024 * 1024;

// The shared store, or a private one over --vault DIR.
OruCloudKitUGCBrowserStoreV1175& storeFor(const vantry::app::cli::Args& args,
                                          std::unique_ptr<OruCloudKitUGCBrowserStoreV1175>& owned) {
    if (auto dir = args.value("vault")) {
        owned = std::make_unique<OruCloudKitUGCBrowserStoreV1175>(nullptr, fs::path(*dir));
        return *owned;
    }
    return OruCloudKitUGCBrowserStoreV1175::shared();
}

int runList(const vantry::app::cli::Args& args) {
    if (args.positional().size() > 1)
        throw vantry::app::cli::UsageError("unexpected argument '" + args.positional()[1] + "'");
    std::unique_ptr<OruCloudKitUGCBrowserStoreV1175> owned;
    auto& store = storeFor(args, owned);
    for (const auto& m : store.maps()) {
        std::printf("%s\n  id %s · %s · %zu props · %lld likes%s\n", m.title.c_str(), m.id.c_str(),
                    m.district.c_str(), m.placements.size(), static_cast<long long>(m.likes),
                    m.syncedToCloudKit ? " · CloudKit" : "");
    }
    return 0;
}

int runPublish(const vantry::app::cli::Args& args) {
    if (args.positional().size() != 2)
        throw vantry::app::cli::UsageError("publish needs exactly one FILE.json");
    const fs::path file = args.positional()[1];
    const auto contents = vantry::platform::readRegularFile(file, kMaxMapFileBytes);
    if (!contents.ok() && contents.error.rfind("it is larger than", 0) == 0)
        throw vantry::app::cli::CommandError(file.string() + " is too large for a map file");
    if (!contents.ok())
        throw vantry::app::cli::CommandError("cannot read " + file.string() + ": " + contents.error);
    const auto map = vantry::creator::decodeRaidMap(contents.bytes);
    if (!map) throw vantry::app::cli::CommandError(file.string() + " is not a valid raid map record");

    std::unique_ptr<OruCloudKitUGCBrowserStoreV1175> owned;
    auto& store = storeFor(args, owned);
    store.publishRaidMap(*map);
    // A signed-in cloud database answers later, through the main-thread queue.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (store.statusMessage().endsWith(QStringLiteral("Syncing CloudKit…")) &&
           std::chrono::steady_clock::now() < deadline) {
        if (vantry::platform::drainMainQueue() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const QString status = store.statusMessage();
    std::printf("%s\n", status.toStdString().c_str());
    return status.startsWith(QStringLiteral("Save error: ")) ? 1 : 0;
}

int runSelftest(const vantry::app::cli::Args& args) {
    if (args.positional().size() > 1)
        throw vantry::app::cli::UsageError("unexpected argument '" + args.positional()[1] + "'");
    fs::path dir;
    bool temporary = false;
    if (auto given = args.value("dir")) {
        dir = *given;
    } else {
        std::string pattern = (fs::temp_directory_path() / "vantry-maps-selftest-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw vantry::app::cli::CommandError("cannot create a temporary folder");
        dir = pattern;
        temporary = true;
    }
    const auto result = OruUGCVaultStorageV1175::verifyPublishAndReloadRoundTrip(dir);
    if (temporary) {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::printf("ok %s, byteSize %lld, propCount %lld\n", result.ok ? "true" : "false",
                static_cast<long long>(result.byteSize), static_cast<long long>(result.propCount));
    return result.ok ? 0 : 1;
}

int runMaps(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"vault", "dir"});
    if (parsed.positional().empty())
        throw vantry::app::cli::UsageError("missing sub-command (list, publish or selftest)");
    const std::string& sub = parsed.positional()[0];
    if (sub != "selftest" && parsed.has("dir"))
        throw vantry::app::cli::UsageError("--dir is only for selftest");
    if (sub == "selftest" && parsed.has("vault"))
        throw vantry::app::cli::UsageError("--vault is not for selftest");
    if (sub == "list") return runList(parsed);
    if (sub == "publish") return runPublish(parsed);
    if (sub == "selftest") return runSelftest(parsed);
    throw vantry::app::cli::UsageError("unknown sub-command '" + sub + "' (list, publish or selftest)");
}

const vantry::app::cli::CommandRegistrar kMaps(
    {"maps", "List, publish and self-test the community raid maps",
     "Usage: vantry-cli maps list [--vault DIR]\n"
     "       vantry-cli maps publish FILE.json [--vault DIR]\n"
     "       vantry-cli maps selftest [--dir DIR]\n\n"
     "list      prints every map of the store (local vault, then the flagship maps), newest first:\n"
     "          title, id, district, number of props and likes.\n"
     "publish   checks that FILE.json is a raid map record, saves it to the vault, publishes it and\n"
     "          prints the final status line (exit 1 on a save error).\n"
     "selftest  saves the first flagship map into an empty folder (a temporary one unless --dir),\n"
     "          reads it back and prints ok, byteSize and propCount.\n\n"
     "--vault DIR  use DIR instead of the vault in the user's data folder",
     runMaps});

}  // namespace
