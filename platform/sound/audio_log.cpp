#include "platform/sound/audio_log.h"

#include "platform/os/options.h"

#include <atomic>
#include <chrono>
#include <cstdio>

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

} // namespace sound
