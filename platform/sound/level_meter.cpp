#include "platform/sound/level_meter.h"

#include <algorithm>
#include <cmath>

namespace sound {

namespace {

constexpr double kFullScale = 32768.0;

// A peak as a level word: full scale (1.0) is 32768; louder float samples are held at full scale.
uint32_t LevelOf(float peak) {
    double level = std::min(static_cast<double>(peak), 1.0) * kFullScale;
    return static_cast<uint32_t>(std::lrint(level));
}

} // namespace

void LevelMeter::Take(const float* frames, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float left = frames ? std::fabs(frames[2 * i]) : 0.0f;
        const float right = frames ? std::fabs(frames[2 * i + 1]) : 0.0f;
        left_ = std::max(left_, left);
        right_ = std::max(right_, right);
        if (exact_) {
            exact_[2 * exactNext_] = left;
            exact_[2 * exactNext_ + 1] = right;
            exactNext_ = (exactNext_ + 1) % kWindowFrames;
        }
        if (++sliceFrames_ == kSliceFrames) Publish();
    }
}

void LevelMeter::KeepExactWindow() {
    exact_ = std::make_unique<float[]>(2 * kWindowFrames);
    exactNext_ = 0;
}

uint32_t LevelMeter::ExactPeak() const {
    float left = 0.0f;
    float right = 0.0f;
    for (size_t i = 0; i < kWindowFrames; ++i) {
        left = std::max(left, exact_[2 * i]);
        right = std::max(right, exact_[2 * i + 1]);
    }
    return LevelOf(left) | LevelOf(right) << 16;
}

void LevelMeter::Publish() {
    uint32_t slice = published_.load(std::memory_order_relaxed);
    slices_[slice % kSlices].store(LevelOf(left_) | LevelOf(right_) << 16,
                                   std::memory_order_relaxed);
    published_.store(slice + 1, std::memory_order_release);
    left_ = 0.0f;
    right_ = 0.0f;
    sliceFrames_ = 0;
}

uint32_t LevelMeter::Peak() const {
    if (exact_) return ExactPeak();
    uint32_t published = published_.load(std::memory_order_acquire);
    uint32_t left = 0;
    uint32_t right = 0;
    for (uint32_t back = 1; back <= std::min(published, kWindowSlices); ++back) {
        uint32_t slice = slices_[(published - back) % kSlices].load(std::memory_order_relaxed);
        left = std::max(left, slice & 0xFFFF);
        right = std::max(right, slice >> 16);
    }
    return left | right << 16;
}

} // namespace sound
