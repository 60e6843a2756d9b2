// The studio's shots list as the remote control sees it: shots read as JSON, recalled as the
// window recalls them, and the list's changes passed on to whichever server is running.
#pragma once

#include "app/remote/RemoteShots.h"

namespace vantry::app::shots {
class ShotsModel;
}

namespace vantry::remote {

class RemoteControl;

class ShotsModelRemote : public RemoteShots {
  public:
    explicit ShotsModelRemote(app::shots::ShotsModel& model) : model_(model) {}

    int shotCount() const override;
    std::string shotJson(int index) const override;
    // A shot recalled in part (its wall image is gone) counts as recalled; the window says why.
    bool recallShot(int index, std::string* error) override;

    // Passes the model's list changes and recalls on to `control`'s server.
    void forwardChanges(RemoteControl& control);

  private:
    app::shots::ShotsModel& model_;
};

}  // namespace vantry::remote
