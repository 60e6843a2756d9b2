// Hands work to the main (UI) thread without tying the caller to a UI toolkit.
//
// The application installs a poster that queues onto Qt's GUI thread. Without one
// (command line, unit tests) tasks wait in a process-wide queue until the owner of
// the "main" thread calls drainMainQueue().
#pragma once

#include <cstddef>
#include <functional>

namespace vantry::platform {

using MainTask = std::function<void()>;
using MainPoster = std::function<void(MainTask)>;

// Queues task for the main thread. Safe from any thread.
void postToMain(MainTask task);

// Installs (or, with an empty function, removes) the poster used by postToMain.
void setMainPoster(MainPoster poster);

// Runs the tasks queued while no poster was installed; returns how many ran.
std::size_t drainMainQueue();

}  // namespace vantry::platform
