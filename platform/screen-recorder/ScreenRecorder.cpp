#include "platform/screen-recorder/ScreenRecorder.h"

#include <mutex>

#include "platform/screen-recorder/LinuxScreenRecorder.h"

namespace vantry::platform {

std::shared_ptr<ScreenRecorder> ScreenRecorder::shared() {
    static std::once_flag once;
    static std::shared_ptr<ScreenRecorder> recorder;
    std::call_once(once, [] { recorder = std::make_shared<LinuxScreenRecorder>(); });
    return recorder;
}

}  // namespace vantry::platform
