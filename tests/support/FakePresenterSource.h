// A stand-in for the overlay's controller as a presenter source: it publishes whatever
// snapshot the test makes, with the border by the controller's own rule.
#pragma once

#include <utility>

#include "creator/studio-overlay/PresenterSnapshot.h"

namespace vantry::testing {

class FakePresenterSource : public creator::PresenterSource {
  public:
    // Publishes the current snapshot as `change` leaves it.
    template <typename Change>
    void update(Change&& change) {
        creator::PresenterSnapshot next = presenterSnapshot();
        std::forward<Change>(change)(next);
        publishPresenterSnapshot(std::move(next));
    }
};

}  // namespace vantry::testing
