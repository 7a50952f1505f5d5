#include "platform/sound/paced_mixing.h"

#include "platform/sound/level_meter.h"

#include <algorithm>
#include <array>

namespace sound {

namespace {

constexpr size_t kBlockFrames = kOutputRate / 100; // 10 ms

} // namespace

bool PacedMixing::Run(Mixer* mixer, std::chrono::steady_clock::time_point until, int64_t delay) {
    using Clock = std::chrono::steady_clock;
    std::array<float, kBlockFrames * kSamplesPerFrame> discard{};
    const auto start = Clock::now();
    uint64_t blocks = 0;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        const auto due = start + std::chrono::microseconds(blocks * 10000);
        if (due >= until) return true;
        if (wake_.wait_until(lock, due, [this] { return stop_; })) return false;
        lock.unlock();
        mixer->Mix(discard.data(), kBlockFrames, SteadyNow() + std::max<int64_t>(delay, 0));
        ++blocks;
        lock.lock();
    }
}

void PacedMixing::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
}

void PacedMixing::Rearm() {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = false;
}

} // namespace sound
