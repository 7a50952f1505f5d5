#include "platform/sound/audio_log.h"

#include "platform/os/options.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace sound {

bool AudioLog() {
    return GetPlatformOptions().audioLog;
}

void LogLevel(uint32_t level) {
    if (!AudioLog()) return;
    static std::atomic<int64_t> nextLine{0};
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    int64_t due = nextLine.load();
    if (now < due || !nextLine.compare_exchange_strong(due, now + 1000)) return;
    std::fprintf(stderr, "vormel: level %u %u\n", level & 0xFFFF, level >> 16);
}

void LatencyLog::Note(int64_t latency, int64_t now) {
    if (count_ == 0) secondStart_ = now;
    sum_ += latency;
    ++count_;
    if (now - secondStart_ < 1000000000) return;
    const int64_t mean = sum_ / count_;
    sum_ = 0;
    count_ = 0;
    constexpr int64_t kNews = 5;
    const int64_t ms = std::max<int64_t>(mean, 0) / 1000000;
    if (told_ >= 0 && std::abs(ms - told_) < kNews) return;
    Tell(mean);
}

void LatencyLog::Tell(int64_t latency) {
    const int64_t ms = (std::max<int64_t>(latency, 0) + 500000) / 1000000;
    if (ms == told_) return;
    told_ = ms;
    if (AudioLog())
        std::fprintf(stderr, "vormel: compensating %lld ms of output latency\n",
                     static_cast<long long>(ms));
}

} // namespace sound
