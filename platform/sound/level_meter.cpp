#include "platform/sound/level_meter.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace sound {

namespace {

constexpr double kFullScale = 32768.0;
constexpr double kRate = 44100.0;

// A peak as a level word: full scale (1.0) is 32768; louder float samples are held at full scale.
uint32_t LevelOf(float peak) {
    double level = std::min(static_cast<double>(peak), 1.0) * kFullScale;
    return static_cast<uint32_t>(std::lrint(level));
}

uint64_t SlotOf(int64_t slice, uint32_t level) {
    return static_cast<uint64_t>(static_cast<uint32_t>(slice)) << 32 | level;
}

} // namespace

int64_t SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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
        ++taken_;
        if (++sliceFrames_ == kSliceFrames) Publish();
    }
}

void LevelMeter::HeardAt(int64_t frame, int64_t heardAt) {
    anchoredFrame_ = frame;
    anchoredAt_ = heardAt;
    anchored_ = true;
    // Released, so that a reader who sees a copy being rewritten sees the version that tells it
    // to read again.
    const uint32_t version = anchorVersion_.load(std::memory_order_relaxed) + 1;
    anchorFrame_[version % 2].store(frame, std::memory_order_release);
    anchorTime_[version % 2].store(heardAt, std::memory_order_release);
    anchorVersion_.store(version, std::memory_order_release);
}

int64_t LevelMeter::WhenHeard(int64_t frame) const {
    if (!anchored_) return 0;
    return anchoredAt_ + static_cast<int64_t>(std::llround(
                             static_cast<double>(frame - anchoredFrame_) * 1e9 / kRate));
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
    const int64_t slice = published_.load(std::memory_order_relaxed);
    slices_[slice % kSlices].store(SlotOf(slice, LevelOf(left_) | LevelOf(right_) << 16),
                                   std::memory_order_relaxed);
    published_.store(slice + 1, std::memory_order_release);
    left_ = 0.0f;
    right_ = 0.0f;
    sliceFrames_ = 0;
}

int64_t LevelMeter::SlicesHeard(int64_t now) const {
    uint32_t version = anchorVersion_.load(std::memory_order_acquire);
    for (;;) {
        if (version == 0) return -1;
        const int64_t frame = anchorFrame_[version % 2].load(std::memory_order_acquire);
        const int64_t at = anchorTime_[version % 2].load(std::memory_order_acquire);
        const uint32_t again = anchorVersion_.load(std::memory_order_relaxed);
        if (again == version) {
            const double heard = static_cast<double>(frame) +
                                 static_cast<double>(now - at) * kRate / 1e9;
            return heard <= 0 ? 0 : static_cast<int64_t>(heard) / kSliceFrames;
        }
        version = again;
    }
}

uint32_t LevelMeter::PeakAt(int64_t now) const {
    if (exact_) return ExactPeak();
    const int64_t published = published_.load(std::memory_order_acquire);
    const int64_t heard = SlicesHeard(now);
    // Sound not taken yet cannot be heard: at most the newest slice; and no older than the
    // history keeps.
    const int64_t last =
        std::max(heard < 0 ? published : std::min(heard, published), published - kSlices + kSpareSlices);
    uint32_t left = 0;
    uint32_t right = 0;
    for (int64_t slice = std::max<int64_t>(last - kWindowSlices, 0); slice < last; ++slice) {
        const uint64_t slot = slices_[slice % kSlices].load(std::memory_order_relaxed);
        if (slot >> 32 != static_cast<uint32_t>(slice)) continue;
        left = std::max(left, static_cast<uint32_t>(slot & 0xFFFF));
        right = std::max(right, static_cast<uint32_t>(slot >> 16 & 0xFFFF));
    }
    return left | right << 16;
}

uint32_t LevelMeter::Peak() const {
    return PeakAt(SteadyNow());
}

} // namespace sound
