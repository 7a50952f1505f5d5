#include "platform/sound/decoder.h"

#include "platform/sound/statistics.h"

#include <chrono>

namespace sound {

namespace {

// A pass every 10 ms tops up what the mixer took since; the rings hold far more than that.
constexpr auto kPassInterval = std::chrono::milliseconds(10);

} // namespace

size_t DecodeAhead(Channel& channel) {
    if (channel.drained.load(std::memory_order_relaxed)) return 0;
    auto start = std::chrono::steady_clock::now();
    size_t added = 0;
    for (;;) {
        size_t space = 0;
        float* span = channel.ring.WriteSpan(&space);
        if (space == 0) break;
        size_t got = channel.source->Read(span, space);
        if (got == 0) {
            channel.drained.store(true, std::memory_order_release);
            break;
        }
        channel.ring.CommitWrite(got);
        added += got;
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    RecordDecode(added, static_cast<uint64_t>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
    return added;
}

void Decoder::Start() {
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void Decoder::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void Decoder::Add(int slot, Channel* channel) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        channels_[slot] = channel;
    }
    wake_.notify_one();
}

void Decoder::Remove(int slot) {
    std::lock_guard<std::mutex> guard(lock_);
    channels_[slot] = nullptr;
}

void Decoder::Run() {
    std::unique_lock<std::mutex> lock(lock_);
    while (!stop_) {
        bool decoding = false;
        for (Channel* channel : channels_) {
            if (!channel || channel->drained.load(std::memory_order_relaxed)) continue;
            DecodeAhead(*channel);
            decoding = true;
        }
        // With nothing left to decode, sleep until Add or Stop.
        if (decoding)
            wake_.wait_for(lock, kPassInterval);
        else
            wake_.wait(lock);
    }
}

} // namespace sound
