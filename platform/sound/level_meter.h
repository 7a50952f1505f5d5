// The peak level of one channel over the last 20 ms that the mixer consumed. The mixer cuts what it
// consumes into slices of 147 frames (six make 20 ms at 44.1 kHz) and publishes each slice's peaks;
// a reader takes the largest of the last six. Readers on any thread see whole slices only, and the
// mixer never waits for them.
//
// A render reads the level at any sample position, not only at slice ends, so a meter can keep the
// last 20 ms frame by frame instead; its mixing and its readings must then never overlap.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sound {

class LevelMeter {
  public:
    // Mixer: takes the peaks of count consumed stereo frames; frames null counts them as silence
    // (the ring ran dry, so silence is what was heard).
    void Take(const float* frames, size_t count);
    // Any thread: left peak in the low word, right peak in the high word, each 0 to 32768.
    uint32_t Peak() const;
    // From now on Peak is the peak of exactly the last 20 ms taken (silence before the first).
    void KeepExactWindow();

  private:
    static constexpr size_t kSliceFrames = 147;
    static constexpr size_t kWindowFrames = 882;
    static constexpr uint32_t kWindowSlices = 6;
    // Two spare slices, so the mixer never rewrites a slice of the window a reader is scanning.
    static constexpr uint32_t kSlices = 8;

    void Publish();
    uint32_t ExactPeak() const;

    std::array<std::atomic<uint32_t>, kSlices> slices_{};
    std::atomic<uint32_t> published_{0};
    // The slice being filled; the mixer's alone.
    float left_ = 0.0f;
    float right_ = 0.0f;
    size_t sliceFrames_ = 0;
    // The exact window: the magnitudes of the last kWindowFrames frames, left and right, as a
    // ring whose next frame goes to exactNext_.
    std::unique_ptr<float[]> exact_;
    size_t exactNext_ = 0;
};

} // namespace sound
