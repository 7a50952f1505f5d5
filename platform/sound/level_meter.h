// The peak level of one channel over the 20 ms being heard now. The producer (the mixer, or a
// recording's capture thread) cuts what it takes into slices of 147 frames (six make 20 ms at
// 44.1 kHz) and publishes each slice's peaks into a history of a few seconds; it also says when the
// frames it takes will be heard (the output's latency: what the sound server and the device still
// hold before them). A reader works out which frame is being heard at its moment and takes the
// largest of the six slices heard last. Readers on any thread see whole slices only, and the
// producer never waits for them.
//
// A render reads the level at any sample position, not only at slice ends, so a meter can keep the
// last 20 ms taken frame by frame instead, heard as soon as taken; its taking and its readings
// must then never overlap.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sound {

class LevelMeter {
  public:
    // Producer: takes the peaks of count stereo frames; frames null counts them as silence (the
    // ring ran dry, or the server left a gap, so silence is what is heard).
    void Take(const float* frames, size_t count);
    // Producer: the frames taken so far, counted from the first.
    int64_t Taken() const { return taken_; }
    // Producer: frame number frame (counted as Taken counts) is heard at heardAt, in steady-clock
    // nanoseconds; so are the frames around it, at the pace of the sound. Until the first call,
    // whatever is taken is heard at once.
    void HeardAt(int64_t frame, int64_t heardAt);
    // Producer: when frame is heard, by the last HeardAt.
    int64_t WhenHeard(int64_t frame) const;
    // Any thread: left peak in the low word, right peak in the high word, each 0 to 32768, of the
    // 20 ms heard last at now (steady-clock nanoseconds); 0 before anything taken is heard.
    uint32_t PeakAt(int64_t now) const;
    // Any thread: the same, now.
    uint32_t Peak() const;
    // From now on Peak is the peak of exactly the last 20 ms taken (silence before the first).
    void KeepExactWindow();

  private:
    static constexpr int64_t kSliceFrames = 147;
    static constexpr size_t kWindowFrames = 882;
    static constexpr int64_t kWindowSlices = 6;
    // About 3.4 s: the longest a sound server holds sound before it is heard (two seconds), a
    // correction of up to a second on top, and spare slices, so the producer never rewrites a
    // slice a reader may still be scanning.
    static constexpr int64_t kSlices = 1024;
    static constexpr int64_t kSpareSlices = 16;

    void Publish();
    uint32_t ExactPeak() const;
    // The last slice wholly heard at now, as a count of slices; -1 when no anchor was given.
    int64_t SlicesHeard(int64_t now) const;

    // Each slot: the slice's number (low 32 bits) above its level word, so a reader can tell the
    // slice it wants from one written over it since.
    std::array<std::atomic<uint64_t>, kSlices> slices_{};
    std::atomic<int64_t> published_{0};
    // The anchor, as a sequence lock over two copies: the producer writes the copy readers are not
    // told to read, then tells them.
    std::atomic<uint32_t> anchorVersion_{0};
    std::array<std::atomic<int64_t>, 2> anchorFrame_{};
    std::array<std::atomic<int64_t>, 2> anchorTime_{};
    // The producer's own: the slice being filled, the frames taken, its copy of the anchor.
    float left_ = 0.0f;
    float right_ = 0.0f;
    int64_t sliceFrames_ = 0;
    int64_t taken_ = 0;
    int64_t anchoredFrame_ = 0;
    int64_t anchoredAt_ = 0;
    bool anchored_ = false;
    // The exact window: the magnitudes of the last kWindowFrames frames, left and right, as a
    // ring whose next frame goes to exactNext_.
    std::unique_ptr<float[]> exact_;
    size_t exactNext_ = 0;
};

// Steady-clock nanoseconds now: the clock every "heard at" of the library is read on.
int64_t SteadyNow();

} // namespace sound
