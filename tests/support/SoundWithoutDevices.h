// A programme sound that opens no capture device: its mix runs (silence, the wall video's sound
// when one plays) without the sound server, and no device is opened unless a test chooses one.
#pragma once

#include <memory>

#include "platform/audio-mix/ProgrammeSound.h"

namespace vantry::testing {

inline std::shared_ptr<platform::ProgrammeSound> soundWithoutDevices() {
    platform::ProgrammeSoundOptions options;
    options.micSource.clear();
    options.desktopSource.clear();
    return std::make_shared<platform::ProgrammeSound>(std::move(options));
}

}  // namespace vantry::testing
