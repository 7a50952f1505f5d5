// The loudness of the sound as the scene sees it: the level factor f and the energy, from the
// playing channel's peak levels once per frame.
#pragma once

#include <cstdint>

// The last reading's peak levels, scaled by 100 / 128: 0 to 25600 over the library's level range.
extern uint16_t gLeftLevel;
extern uint16_t gRightLevel;
// Energy of the scene: 8 after InitScene, then 10 to 36, recomputed every frame.
extern int32_t gEnergy;

// (100 * part) / whole, truncated toward zero; 0 when whole is 0.
int32_t PercentOf(int32_t part, int32_t whole);
// Reads the levels of gChannel, or of gRecording while listening; sets gLeftLevel, gRightLevel and
// gEnergy; returns the level factor f, 0 to 37 / 14.
float UpdateAudioLevel();

// The two halves of UpdateAudioLevel. LevelFactorOf stores the levels of one reading (left in the
// low word, right in the high word) and returns f; a failed reading (all bits set) gives 0 and
// keeps the stored levels. EnergyOf turns f into the energy, 10 to 36.
float LevelFactorOf(uint32_t reading);
int32_t EnergyOf(float levelFactor);
