// A lock-free ring of stereo float frames between one producer (whoever decodes the channel) and
// one consumer (the mixer). Each side owns one counter and only reads the other's; the counters
// only grow and wrap by masking, so the capacity is a power of two. Both sides work in place on
// contiguous spans, so neither needs a scratch buffer.
#pragma once

#include "platform/sound/source.h"

#include <atomic>
#include <cstddef>
#include <memory>

namespace sound {

class FrameRing {
  public:
    // capacityFrames must be a power of two.
    explicit FrameRing(size_t capacityFrames)
        : samples_(new float[capacityFrames * kSamplesPerFrame]), mask_(capacityFrames - 1) {}

    // Producer: the free space that follows the write position without wrapping.
    float* WriteSpan(size_t* frames) {
        size_t written = written_.load(std::memory_order_relaxed);
        size_t free = mask_ + 1 - (written - read_.load(std::memory_order_acquire));
        *frames = Contiguous(written, free);
        return &samples_[(written & mask_) * kSamplesPerFrame];
    }
    // Producer: publishes frames written into the last span.
    void CommitWrite(size_t frames) {
        written_.store(written_.load(std::memory_order_relaxed) + frames,
                       std::memory_order_release);
    }
    // Producer: frames that can still be written.
    size_t Writable() const {
        return mask_ + 1 -
               (written_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire));
    }

    // Consumer: the frames that follow the read position without wrapping.
    const float* ReadSpan(size_t* frames) const {
        size_t read = read_.load(std::memory_order_relaxed);
        *frames = Contiguous(read, written_.load(std::memory_order_acquire) - read);
        return &samples_[(read & mask_) * kSamplesPerFrame];
    }
    // Consumer: releases frames taken from the last span.
    void CommitRead(size_t frames) {
        read_.store(read_.load(std::memory_order_relaxed) + frames, std::memory_order_release);
    }

  private:
    size_t Contiguous(size_t position, size_t frames) const {
        size_t untilWrap = mask_ + 1 - (position & mask_);
        return frames < untilWrap ? frames : untilWrap;
    }

    std::unique_ptr<float[]> samples_;
    const size_t mask_;
    alignas(64) std::atomic<size_t> written_{0};
    alignas(64) std::atomic<size_t> read_{0};
};

} // namespace sound
