#include "platform/screen-recorder/ScreenRecorder.h"

#include <mutex>

#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"

namespace vantry::platform {

std::shared_ptr<ScreenRecorder> ScreenRecorder::shared() {
    static std::once_flag once;
    static std::shared_ptr<ScreenRecorder> recorder;
    // The studio's recording carries the studio's one programme mix.
    std::call_once(once, [] {
        LinuxScreenRecorderOptions options;
        options.sound = ProgrammeSound::shared();
        recorder = std::make_shared<LinuxScreenRecorder>(options);
    });
    return recorder;
}

}  // namespace vantry::platform
