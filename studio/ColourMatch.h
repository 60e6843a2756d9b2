// Colour match of the presenter standing in the set: per-channel gains on the camera picture
// that nudge its white balance and exposure towards the set's key light, slowly, so that the
// webcam's own auto-exposure is not fought frame by frame. Pure: no Qt, no GL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/Vector.h"

namespace vantry::studio {

// The rig's key light colour at gain 1, as the stage shader lights the set with it (every set
// has the same key; the Key Light gain scales it, and the presenter's shader already applies
// that gain to the camera picture, so only the colour steers the match).
inline constexpr Float3 kKeyLightColour{1.0f, 0.94f, 0.86f};

// Mean linear colour of the person in one camera picture and how many samples it is over.
struct PersonColour {
    Float3 meanLinear;
    std::size_t samples = 0;
};

// Measures a premultiplied B G R A picture (rows `stride` bytes apart) over the person: the
// pixels whose coverage is at least kPersonCoverage, on a grid of every kMeasureStep-th pixel
// and row, un-premultiplied and decoded with the shader's gamma (2.2).
inline constexpr int kPersonCoverage = 128;
inline constexpr int kMeasureStep = 4;
PersonColour measurePersonColour(const std::uint8_t* bgra, int width, int height, int stride);

// The gains quantised for the frame key and the shader: units of 1/kGainSteps.
inline constexpr int kGainSteps = 256;
using QuantisedGains = std::array<std::uint16_t, 3>;
inline constexpr QuantisedGains kUnitGains{kGainSteps, kGainSteps, kGainSteps};

class ColourMatch {
  public:
    // Time constant of the smoothing (seconds): about two thirds of the way in kTimeConstant,
    // 95 % in three times that.
    static constexpr float kTimeConstant = 2.0f;
    // The longest step one picture takes (a camera that stalls does not jump the gains).
    static constexpr float kMaxStep = 0.25f;
    // Bounds of every channel's gain.
    static constexpr float kMinGain = 0.6f;
    static constexpr float kMaxGain = 1.6f;
    // How much of the measured difference is corrected (in log terms): white balance only in
    // part (skin and clothes are not grey), exposure most of the way.
    static constexpr float kWhiteBalanceShare = 0.5f;
    static constexpr float kExposureShare = 0.8f;
    // The person's mean linear luminance the exposure aims at (about 0.49 gamma-encoded: a face
    // and clothes well exposed, as the shader takes the picture at the default key gain).
    static constexpr float kTargetLuminance = 0.2f;
    // Fewer samples than this over the person: the mask is empty, the gains hold.
    static constexpr std::size_t kMinSamples = 16;

    explicit ColourMatch(bool enabled = true) : enabled_(enabled) {}

    // Off: the gains are 1 at once. On again: they start from 1 and move as pictures come.
    void setEnabled(bool enabled);
    bool enabled() const { return enabled_; }

    // One camera picture's statistics, `seconds` after the previous one (clamped to
    // 0..kMaxStep), towards the key light `keyLight` (any scale: only its colour counts).
    void update(const PersonColour& person, Float3 keyLight, float seconds);

    // The gains the measured picture would settle at (bounded); 1 for too few samples.
    static Float3 settledGains(const PersonColour& person, Float3 keyLight);

    Float3 gains() const { return gains_; }
    // The gains in 1/kGainSteps; the shader draws with these (quantisedToGains), so a frame
    // key holding them tells equal pictures.
    QuantisedGains quantised() const;

  private:
    bool enabled_ = true;
    Float3 gains_{1.0f, 1.0f, 1.0f};
};

// The gains a quantised value stands for (exact: multiples of 1/256).
Float3 quantisedToGains(const QuantisedGains& q);

}  // namespace vantry::studio
