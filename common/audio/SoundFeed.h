// A source of planar stereo sound at kSampleRate that the mix pulls from block by block (the
// wall video's sound). read() fills every frame asked for, silence where there is no sound,
// and is called from the mixing thread while the source's owner may be on another.
#pragma once

namespace vantry::audio {

class SoundFeed {
  public:
    virtual ~SoundFeed() = default;
    // Fills `frames` samples per channel; returns how many are real sound.
    virtual int read(float* left, float* right, int frames) = 0;
};

}  // namespace vantry::audio
