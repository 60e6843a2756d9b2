#include "platform/haptics/SdlControllerRumble.h"

#include <SDL.h>

#include <algorithm>

namespace vantry::platform::haptics {

std::unique_ptr<SdlControllerRumble> SdlControllerRumble::openFirst() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) return nullptr;
    std::unique_ptr<SdlControllerRumble> engine(new SdlControllerRumble());  // owns the subsystem reference
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        if (!SDL_IsGameController(i)) continue;
        SDL_GameController* controller = SDL_GameControllerOpen(i);
        if (controller == nullptr) continue;
        if (SDL_GameControllerHasRumble(controller) == SDL_TRUE) {
            engine->controller_ = controller;
            const char* name = SDL_GameControllerName(controller);
            engine->name_ = name ? name : "game controller";
            return engine;
        }
        SDL_GameControllerClose(controller);
    }
    return nullptr;
}

SdlControllerRumble::~SdlControllerRumble() {
    if (controller_ != nullptr) SDL_GameControllerClose(controller_);
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

bool SdlControllerRumble::playEvent(const OruHapticEvent& event) {
    if (controller_ == nullptr) return false;
    lastPulse_ = rumblePulseFor(event);
    return SDL_GameControllerRumble(controller_, lastPulse_.lowFrequency, lastPulse_.highFrequency,
                                    lastPulse_.durationMs) == 0;
}

void SdlControllerRumble::pumpFor(double seconds) {
    const Uint64 end = SDL_GetTicks64() + static_cast<Uint64>(std::max(seconds, 0.0) * 1000.0);
    do {
        SDL_GameControllerUpdate();
        SDL_Delay(5);
    } while (SDL_GetTicks64() < end);
}

}  // namespace vantry::platform::haptics
