// The public cloud database that published raid maps go to.
//
// Linux has no platform cloud account, so the default database is a stand-in that
// reports no signed-in account; callers then keep their data local. The interface is
// what a real service (or a test fake) implements.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vantry::platform {

// One record to save: its type, its unique name and its text fields.
struct CloudRecord {
    std::string recordType;
    std::string recordName;
    std::map<std::string, std::string> fields;
};

class PublicCloudDatabase {
  public:
    // Absent on success, otherwise a readable description of the failure.
    using SaveCompletion = std::function<void(std::optional<std::string> error)>;

    virtual ~PublicCloudDatabase() = default;

    // True when a cloud account is signed in on this machine.
    virtual bool hasSignedInAccount() const = 0;

    // Saves the record in the public database. The completion runs exactly once, on any
    // thread; callers hand its result to their own thread before touching their state.
    virtual void saveRecord(CloudRecord record, SaveCompletion completion) = 0;
};

// A database for machines without a cloud account: never signed in, and every save
// completes at once with an error.
class LocalOnlyCloudDatabase final : public PublicCloudDatabase {
  public:
    bool hasSignedInAccount() const override { return false; }
    void saveRecord(CloudRecord record, SaveCompletion completion) override;
};

// The process's database (the local-only stand-in unless one was installed).
std::shared_ptr<PublicCloudDatabase> defaultPublicCloudDatabase();
// Replaces the process's database, e.g. with a real service; an empty pointer restores the stand-in.
void setDefaultPublicCloudDatabase(std::shared_ptr<PublicCloudDatabase> database);

}  // namespace vantry::platform
