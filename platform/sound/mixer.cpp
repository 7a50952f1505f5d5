#include "platform/sound/mixer.h"

#include "platform/sound/statistics.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace sound {

void Mixer::Mix(float* out, size_t frames, int64_t heardAt) {
    auto start = std::chrono::steady_clock::now();
    passes_.fetch_add(1);
    std::fill(out, out + frames * kSamplesPerFrame, 0.0f);
    for (auto& slot : playing_) {
        // Sequentially consistent, paired with Remove: either this pass sees the slot emptied, or
        // Remove sees this pass running and waits for it.
        Channel* channel = slot.load();
        if (!channel || !MixChannel(*channel, out, frames, heardAt)) continue;
        slot.compare_exchange_strong(channel, nullptr);
        channel->ended.store(true, std::memory_order_release);
        endings_.release();
    }
    // Several loud channels may add up beyond full scale; the device takes -1 to 1.
    for (size_t i = 0; i < frames * kSamplesPerFrame; ++i)
        out[i] = std::clamp(out[i], -1.0f, 1.0f);
    passes_.fetch_add(1);
    auto elapsed = std::chrono::steady_clock::now() - start;
    RecordMixPass(static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
}

bool Mixer::MixChannel(Channel& channel, float* out, size_t frames, int64_t heardAt) {
    // Read before the ring: once drained is seen, whatever the ring lacks will never come.
    bool drained = channel.drained.load(std::memory_order_acquire);
    channel.meter.HeardAt(channel.meter.Taken(), heardAt);
    size_t mixed = 0;
    while (mixed < frames) {
        size_t available = 0;
        const float* span = channel.ring.ReadSpan(&available);
        size_t count = std::min(available, frames - mixed);
        if (count == 0) break;
        float* target = out + mixed * kSamplesPerFrame;
        for (size_t i = 0; i < count * kSamplesPerFrame; ++i)
            target[i] += span[i];
        channel.meter.Take(span, count);
        channel.ring.CommitRead(count);
        mixed += count;
    }
    if (mixed == frames) return false;
    if (drained) return true;
    // The decoder fell behind: the listener hears silence, and so does the meter.
    channel.meter.Take(nullptr, frames - mixed);
    return false;
}

void Mixer::Add(int slot, Channel* channel) {
    playing_[slot].store(channel);
}

void Mixer::Remove(int slot) {
    playing_[slot].store(nullptr);
    uint64_t pass = passes_.load();
    if (pass % 2 == 0) return;
    while (passes_.load() == pass)
        std::this_thread::yield();
}

} // namespace sound
