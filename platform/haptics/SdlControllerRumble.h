// Weapon haptics on a game controller's rumble motors through SDL2's game-controller subsystem (no
// window, no video). One instance owns one opened controller.
#pragma once

#include <memory>
#include <string>

#include "platform/haptics/RumbleMapping.h"

struct _SDL_GameController;

namespace vantry::platform::haptics {

class SdlControllerRumble final : public OruHapticEngine {
  public:
    // The first attached game controller that has rumble, or null when SDL's game-controller subsystem
    // cannot start or no controller with rumble is attached.
    static std::unique_ptr<SdlControllerRumble> openFirst();
    ~SdlControllerRumble() override;
    SdlControllerRumble(const SdlControllerRumble&) = delete;
    SdlControllerRumble& operator=(const SdlControllerRumble&) = delete;

    bool start() override { return true; }
    bool playEvent(const OruHapticEvent& event) override;

    // The controller's name as SDL reports it.
    const std::string& name() const { return name_; }
    // What the last playEvent sent to the motors.
    const RumblePulse& lastPulse() const { return lastPulse_; }
    // Lets SDL run its joystick updates (which end a rumble when its time is up) for this long.
    void pumpFor(double seconds);

  private:
    SdlControllerRumble() = default;
    _SDL_GameController* controller_ = nullptr;
    std::string name_;
    RumblePulse lastPulse_;
};

}  // namespace vantry::platform::haptics
