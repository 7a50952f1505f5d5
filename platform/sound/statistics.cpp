#include "platform/sound/statistics.h"
#include "platform/sound/bass_stats.h"

#include <atomic>

namespace sound {

namespace {

std::atomic<uint64_t> gMixPasses;
std::atomic<uint64_t> gMixNanoseconds;
std::atomic<uint64_t> gLongestMixNanoseconds;
std::atomic<uint64_t> gDecodedFrames;
std::atomic<uint64_t> gDecodeNanoseconds;

} // namespace

void RecordMixPass(uint64_t nanoseconds) {
    gMixPasses.fetch_add(1, std::memory_order_relaxed);
    gMixNanoseconds.fetch_add(nanoseconds, std::memory_order_relaxed);
    uint64_t longest = gLongestMixNanoseconds.load(std::memory_order_relaxed);
    while (nanoseconds > longest && !gLongestMixNanoseconds.compare_exchange_weak(
                                        longest, nanoseconds, std::memory_order_relaxed)) {
    }
}

void RecordDecode(uint64_t frames, uint64_t nanoseconds) {
    gDecodedFrames.fetch_add(frames, std::memory_order_relaxed);
    gDecodeNanoseconds.fetch_add(nanoseconds, std::memory_order_relaxed);
}

} // namespace sound

void GetSoundStatistics(SoundStatistics* statistics) {
    using namespace sound;
    statistics->mixPasses = gMixPasses.load(std::memory_order_relaxed);
    statistics->mixNanoseconds = gMixNanoseconds.load(std::memory_order_relaxed);
    statistics->longestMixNanoseconds = gLongestMixNanoseconds.load(std::memory_order_relaxed);
    statistics->decodedFrames = gDecodedFrames.load(std::memory_order_relaxed);
    statistics->decodeNanoseconds = gDecodeNanoseconds.load(std::memory_order_relaxed);
}

void ResetSoundStatistics() {
    using namespace sound;
    for (auto* counter : {&gMixPasses, &gMixNanoseconds, &gLongestMixNanoseconds, &gDecodedFrames,
                          &gDecodeNanoseconds})
        counter->store(0, std::memory_order_relaxed);
}
