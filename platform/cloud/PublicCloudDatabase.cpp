#include "platform/cloud/PublicCloudDatabase.h"

#include <mutex>
#include <utility>

namespace vantry::platform {
namespace {

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::shared_ptr<PublicCloudDatabase>& installed() {
    static std::shared_ptr<PublicCloudDatabase> db;
    return db;
}

}  // namespace

void LocalOnlyCloudDatabase::saveRecord(CloudRecord, SaveCompletion completion) {
    if (completion) completion(std::string("No cloud account is signed in on this computer."));
}

std::shared_ptr<PublicCloudDatabase> defaultPublicCloudDatabase() {
    std::lock_guard<std::mutex> guard(lock());
    if (!installed()) installed() = std::make_shared<LocalOnlyCloudDatabase>();
    return installed();
}

void setDefaultPublicCloudDatabase(std::shared_ptr<PublicCloudDatabase> database) {
    std::lock_guard<std::mutex> guard(lock());
    installed() = std::move(database);
}

}  // namespace vantry::platform
