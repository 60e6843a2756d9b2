// Life size for the presenter standing in the set, whatever the camera's framing: the head is
// found in the cut-out's coverage (the silhouette's top and its width there), followed over
// about a second, and the picture placed so that the head is a real head's size at a natural
// height behind the desk. Pure: no Qt, no GL.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>

#include "common/Vector.h"
#include "studio/PresenterPlace.h"

namespace vantry::studio {

// The head in a picture, in units of the picture's height (so the same framing at another
// resolution measures the same): the silhouette's top row, the head's width and its centre
// column, all from the picture's top-left corner.
struct HeadMeasure {
    float top = 0;
    float width = 0;
    float centreX = 0;
    friend bool operator==(const HeadMeasure&, const HeadMeasure&) = default;
};

// A pixel counts as the person from this coverage on (0..255).
inline constexpr std::uint8_t kHeadCoverage = 128;

// Finds the head in a picture's coverage: `alpha` points at the first pixel's coverage byte,
// pixels `pixelStep` bytes apart, rows `rowBytes` apart. The top is the first row of a run of
// rows that each hold a stretch of the person at least 1 % of the picture's width wide (specks
// and single rows of noise above the head do not count). The width is the widest stretch,
// through the column the top was found at, in the rows down to 0.7 head widths below the top
// (a head is about 1.4 widths tall, so the search ends before the neck and the shoulders).
// None when no such run exists (an empty mask).
std::optional<HeadMeasure> measureHead(const std::uint8_t* alpha, int width, int height, int pixelStep,
                                       int rowBytes);

// The head's size and height in the set, in metres (the desk top is at 0.88): a head ~0.155 m
// wide whose top is at 1.34 m, which puts the eyes (about half the 0.23 m head's height below its
// top) at ~1.23 m, a presenter seated at or standing just behind the desk.
inline constexpr float kHeadWidthMetres = 0.155f;
inline constexpr float kHeadTopMetres = 1.34f;
// The presenter's size factor is place.height over the default place's height.
inline constexpr float kPresenterDefaultHeight = 1.75f;

// Follows the head over time: the median of the measures of the last `window` seconds, so a
// lean or a gesture does not pump the size. A measure well above the followed head and much
// narrower than it (a raised hand) is left out, unless such measures go on for `outlierHold`
// seconds (the framing has changed). With no measure in the window (the mask briefly empty) the
// last head is held.
class HeadTracker {
  public:
    static constexpr double kWindowSeconds = 1.0;
    static constexpr double kOutlierHoldSeconds = 2.0;

    // A picture's measure (none: nobody in it) at time t in seconds, times not decreasing.
    void add(std::optional<HeadMeasure> measure, double t);
    // The followed head; none until the first measure.
    std::optional<HeadMeasure> head() const { return head_; }
    void reset();

  private:
    struct Sample {
        HeadMeasure measure;
        double t = 0;
    };
    std::deque<Sample> samples_;
    std::optional<double> outliersSince_;
    std::optional<HeadMeasure> head_;
};

// The quad of a presenter whose picture (pictureAspect = width / height) shows `head`: the
// picture is scaled so that the head is kHeadWidthMetres wide with its top at kHeadTopMetres,
// both times the size factor (so the size step scales about the feet), and the head's centre
// stands above (place.x, place.z). The quad reaches down to the floor at least: `bottomV` is
// the texture row at its bottom edge (1 at the picture's bottom row; more where the picture ends
// above the floor, whose last row then carries on to the floor). Corners as presenterQuad's.
struct FramedQuad {
    std::array<Float3, 4> corners{};
    float bottomV = 1;
};
FramedQuad framedPresenterQuad(PresenterPlace place, float pictureAspect, Float3 eye,
                               const HeadMeasure& head);

// The quad for a picture with or without a found head (without: presenterQuad's card).
FramedQuad presenterQuadFor(PresenterPlace place, float pictureAspect, Float3 eye,
                            const std::optional<HeadMeasure>& head);

}  // namespace vantry::studio
