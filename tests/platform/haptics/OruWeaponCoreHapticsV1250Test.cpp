#include <gtest/gtest.h>

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "creator/replay-raids/OruWeaponCoreHapticsV1250.h"
#include "platform/haptics/SdlControllerRumble.h"

namespace vantry {
namespace {

using creator::OruHapticEngine;
using creator::OruHapticEvent;
using creator::OruHapticEventType;
using creator::OruWeaponCoreHapticsV1250;
using Sig = creator::OruWeaponHapticSignatureV1250;

struct SignatureCase {
    Sig signature;
    const char* raw;
    OruHapticEvent event;
    platform::haptics::RumblePulse pulse;  // equal-power split of intensity over sharpness
};

const SignatureCase kSignatures[] = {
    {Sig::mk18CrispSear,
     "mk18CrispSear",
     {OruHapticEventType::transient, 0.65f, 0.85f, 0.04},
     {16498, 39273, 40}},
    {Sig::benelliM4HeavyThump,
     "benelliM4HeavyThump",
     {OruHapticEventType::continuous, 1.0f, 0.35f, 0.11},
     {52836, 38771, 110}},
    {Sig::magnum50HandCannon,
     "magnum50HandCannon",
     {OruHapticEventType::transient, 0.92f, 0.60f, 0.08},
     {38132, 46702, 80}},
    {Sig::headshotSkullPopCrunch,
     "headshotSkullPopCrunch",
     {OruHapticEventType::transient, 0.95f, 0.95f, 0.06},
     {13921, 60682, 60}},
    {Sig::conEdCoreElectricHum,
     "conEdCoreElectricHum",
     {OruHapticEventType::continuous, 0.32f, 0.72f, 0.18},
     {11097, 17795, 180}},
    {Sig::substationPowerSurge,
     "substationPowerSurge",
     {OruHapticEventType::continuous, 1.0f, 0.80f, 0.35},
     {29308, 58616, 350}},
};

TEST(WeaponHapticSignature, TableRawValuesAndOrder) {
    ASSERT_EQ(std::size(kSignatures), creator::kAllWeaponHapticSignatures.size());
    for (std::size_t i = 0; i < std::size(kSignatures); ++i) {
        const SignatureCase& c = kSignatures[i];
        EXPECT_EQ(creator::kAllWeaponHapticSignatures[i], c.signature);
        EXPECT_EQ(creator::rawValue(c.signature), c.raw);
        EXPECT_EQ(creator::weaponHapticSignatureFromRawValue(c.raw), c.signature);
        EXPECT_EQ(creator::hapticEvent(c.signature), c.event) << c.raw;
        EXPECT_EQ(platform::haptics::rumblePulseFor(c.event), c.pulse) << c.raw;
    }
    for (const char* bad :
         {"Mk18CrispSear", "", "mk18CrispSear ", "mk18crispsear", "substationPowerSurge\n"}) {
        EXPECT_FALSE(creator::weaponHapticSignatureFromRawValue(bad).has_value()) << bad;
    }
}

TEST(RumbleMapping, ClampsOutOfRangeAndNonFiniteValues) {
    using platform::haptics::RumblePulse;
    EXPECT_EQ(platform::haptics::rumblePulseFor({OruHapticEventType::continuous, 2.0f, -1.0f, 1e9}),
              (RumblePulse{65535, 0, platform::haptics::kMaxRumbleMs}));
    EXPECT_EQ(platform::haptics::rumblePulseFor({OruHapticEventType::transient, NAN, 0.5f, -3}),
              (RumblePulse{0, 0, 0}));
}

class RecordingEngine : public OruHapticEngine {
  public:
    explicit RecordingEngine(bool startSucceeds) : startSucceeds_(startSucceeds) {}
    bool start() override {
        ++starts;
        return startSucceeds_;
    }
    bool playEvent(const OruHapticEvent& event) override {
        played.push_back(event);
        return false;  // a refusal is dropped by the player
    }
    int starts = 0;
    std::vector<OruHapticEvent> played;

  private:
    bool startSucceeds_;
};

TEST(WeaponCoreHaptics, WithoutEngineEveryPlayOnlyCounts) {
    for (const auto& factory : {creator::OruHapticEngineFactory{}, creator::OruHapticEngineFactory{[] {
                                    return std::unique_ptr<OruHapticEngine>();
                                }}}) {
        OruWeaponCoreHapticsV1250 haptics(factory);
        EXPECT_EQ(haptics.engine(), nullptr);
        for (const auto& c : kSignatures) haptics.play(c.signature);
        EXPECT_EQ(haptics.triggeredCount(), 6);
    }
}

TEST(WeaponCoreHaptics, EngineIsStartedOnceKeptAfterFailedStartAndGetsEachEvent) {
    for (bool startSucceeds : {true, false}) {
        RecordingEngine* engine = nullptr;
        OruWeaponCoreHapticsV1250 haptics([&]() -> std::unique_ptr<OruHapticEngine> {
            auto e = std::make_unique<RecordingEngine>(startSucceeds);
            engine = e.get();
            return e;
        });
        ASSERT_EQ(haptics.engine(), engine);
        EXPECT_EQ(engine->starts, 1);
        for (const auto& c : kSignatures) haptics.play(c.signature);
        EXPECT_EQ(haptics.triggeredCount(), 6);
        ASSERT_EQ(engine->played.size(), 6u);
        for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(engine->played[i], kSignatures[i].event);
    }
}

TEST(WeaponCoreHaptics, SharedIsCreatedOnceUnderConcurrentFirstAccess) {
    std::atomic<int> factoryCalls{0};
    OruWeaponCoreHapticsV1250::installEngineFactory([&factoryCalls]() -> std::unique_ptr<OruHapticEngine> {
        ++factoryCalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // widen the window for a second creation
        return nullptr;
    });
    std::vector<std::thread> threads;
    std::vector<OruWeaponCoreHapticsV1250*> seen(8, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &OruWeaponCoreHapticsV1250::shared(); });
    }
    for (auto& t : threads) t.join();
    OruWeaponCoreHapticsV1250::installEngineFactory({});
    EXPECT_EQ(factoryCalls.load(), 1);
    for (auto* p : seen) EXPECT_EQ(p, seen[0]);
    EXPECT_EQ(seen[0]->engine(), nullptr);
}

// A virtual game controller whose rumble callback records what SDL sends to the motors.
class VirtualController : public ::testing::Test {
  protected:
    struct Rumble {
        Uint16 low, high;
        Uint64 atMs;
    };

    void SetUp() override {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        physical_ = SDL_NumJoysticks();
    }
    void TearDown() override {
        if (index_ >= 0) SDL_JoystickDetachVirtual(index_);
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    void attach(bool withRumble) {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.name = "Vantry Test Pad";
        desc.userdata = this;
        if (withRumble) desc.Rumble = &VirtualController::onRumble;
        index_ = SDL_JoystickAttachVirtualEx(&desc);
        ASSERT_GE(index_, 0) << SDL_GetError();
    }

    static int SDLCALL onRumble(void* self, Uint16 low, Uint16 high) {
        auto* me = static_cast<VirtualController*>(self);
        std::lock_guard lock(me->mutex_);
        me->rumbles_.push_back({low, high, SDL_GetTicks64()});
        return 0;
    }

    std::vector<Rumble> rumbles() {
        std::lock_guard lock(mutex_);
        return rumbles_;
    }

    int physical_ = 0;
    int index_ = -1;
    std::mutex mutex_;
    std::vector<Rumble> rumbles_;
};

TEST_F(VirtualController, EachSignatureReachesTheMotorsForItsDuration) {
    if (physical_ > 0) GTEST_SKIP() << "a physical joystick is attached";
    attach(true);
    platform::haptics::SdlControllerRumble* rumble = nullptr;
    OruWeaponCoreHapticsV1250 haptics([&]() -> std::unique_ptr<OruHapticEngine> {
        auto e = platform::haptics::SdlControllerRumble::openFirst();
        rumble = e.get();
        return e;
    });
    ASSERT_NE(haptics.engine(), nullptr);
    EXPECT_EQ(rumble->name(), "Vantry Test Pad");
    for (const auto& c : kSignatures) {
        const std::size_t before = rumbles().size();
        const Uint64 startMs = SDL_GetTicks64();
        haptics.play(c.signature);
        EXPECT_EQ(rumble->lastPulse(), c.pulse) << c.raw;
        // Run SDL's updates until it stops the motors again (with a generous cap).
        const Uint64 giveUp = startMs + c.pulse.durationMs + 5000;
        while (rumbles().size() < before + 2 && SDL_GetTicks64() < giveUp) rumble->pumpFor(0.005);
        const auto got = rumbles();
        ASSERT_GE(got.size(), before + 2) << c.raw;
        EXPECT_EQ(got[before].low, c.pulse.lowFrequency) << c.raw;
        EXPECT_EQ(got[before].high, c.pulse.highFrequency) << c.raw;
        EXPECT_EQ(got[before + 1].low, 0) << c.raw;
        EXPECT_EQ(got[before + 1].high, 0) << c.raw;
        // The motors are not stopped before the pulse's duration has passed.
        EXPECT_GE(got[before + 1].atMs - startMs, c.pulse.durationMs) << c.raw;
    }
    EXPECT_EQ(haptics.triggeredCount(), 6);
}

TEST_F(VirtualController, NoControllerOrOneWithoutRumbleMeansNoEngine) {
    if (physical_ > 0) GTEST_SKIP() << "a physical joystick is attached";
    EXPECT_EQ(platform::haptics::SdlControllerRumble::openFirst(), nullptr);
    attach(false);
    OruWeaponCoreHapticsV1250 haptics([]() -> std::unique_ptr<OruHapticEngine> {
        return platform::haptics::SdlControllerRumble::openFirst();
    });
    EXPECT_EQ(haptics.engine(), nullptr);
    for (const auto& c : kSignatures) haptics.play(c.signature);
    EXPECT_EQ(haptics.triggeredCount(), 6);
    EXPECT_TRUE(rumbles().empty());
}

}  // namespace
}  // namespace vantry
