// Measurements of the audio library for benchmarks: how long the device callback's mixing takes
// and what decoding costs. Counted from the last reset, over every channel.
#pragma once

#include <cstdint>

struct SoundStatistics {
    uint64_t mixPasses;             // device callbacks (or no-sound clock ticks) mixed
    uint64_t mixNanoseconds;        // time spent mixing, all passes together
    uint64_t longestMixNanoseconds; // the longest single pass
    uint64_t decodedFrames;         // 44.1 kHz stereo frames decoded
    uint64_t decodeNanoseconds;     // time spent decoding them
};

void GetSoundStatistics(SoundStatistics* statistics);
void ResetSoundStatistics();
