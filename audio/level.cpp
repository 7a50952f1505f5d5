#include "audio/level.h"

#include "audio/listening.h"
#include "audio/playback.h"
#include "platform/sound/bass.h"
#include "platform/sound/level_trace.h"

#include <algorithm>
#include <cmath>

uint16_t gLeftLevel;
uint16_t gRightLevel;
int32_t gEnergy;

namespace {

// What BASS_ChannelGetLevel returns when the channel is not playing (it has just ended, or its
// handle has just been freed by the end callback).
constexpr uint32_t kFailedReading = 0xFFFFFFFF;

} // namespace

int32_t PercentOf(int32_t part, int32_t whole) {
    if (whole == 0) return 0;
    // 64 bits, so 100 * part cannot overflow.
    return static_cast<int32_t>(int64_t{100} * part / whole);
}

// A failed reading is no reading: taken as levels it would be 65535 a side, a one-frame burst to
// the scene's highest energy whenever a sound ends.
float LevelFactorOf(uint32_t reading) {
    if (reading == kFailedReading) return 0.0f;
    gLeftLevel = static_cast<uint16_t>(PercentOf(static_cast<int32_t>(reading & 0xFFFF), 128));
    gRightLevel = static_cast<uint16_t>(PercentOf(static_cast<int32_t>(reading >> 16), 128));
    long leftStep = std::lrint(gLeftLevel / 700.0);
    long rightStep = std::lrint(gRightLevel / 768.0);
    long peak = std::max(leftStep, rightStep);
    return static_cast<float>(peak / 14.0);
}

int32_t EnergyOf(float levelFactor) {
    return static_cast<int32_t>(std::lrint(10.0 * levelFactor + 10.0));
}

// While listening, the recording stands in for the channel: the same peak on the same scale.
float UpdateAudioLevel() {
    float levelFactor = 0.0f;
    DWORD reading = 0;
    DWORD channel = gRecording != 0 ? gRecording : gChannel.load();
    if (channel != 0) {
        reading = BASS_ChannelGetLevel(channel);
        levelFactor = LevelFactorOf(reading);
    }
    TraceLevelRead(reading);
    gEnergy = EnergyOf(levelFactor);
    return levelFactor;
}
