// What the program will make of a sound's loudness: the peak of each channel over 20 ms windows,
// as the audio library reports it (0 to 32768), and the energy the scene derives from the two
// peaks. The default sound is judged on these numbers after it has been decoded.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace music {

inline constexpr int kMinEnergy = 10;
inline constexpr int kMaxEnergy = 36;

// The library's level for a peak |sample| (full scale 1.0): 0 to 32768.
int LevelOf(double peak);

// The scene's energy for a left and right level: the left scaled by 100/128 and divided by 700,
// the right by 768, each rounded half to even; the larger step gives 10 + 10 * step / 14.
int EnergyOf(int leftLevel, int rightLevel);

struct Window {
    double left;  // peak |sample| of the left channel
    double right; // of the right (the left again for a mono sound)
    int energy;
};

// Cuts interleaved samples into 20 ms windows (the last may be shorter) and measures each.
std::vector<Window> MeasureWindows(const std::vector<float>& samples, int channels, int rate);

struct LevelSummary {
    double maxLeft = 0.0;
    double maxRight = 0.0;
    int minEnergy = kMaxEnergy;
    int maxEnergy = kMinEnergy;
    size_t loudLeft = 0;  // windows whose left peak reaches kLoudPeak
    size_t loudRight = 0; // windows whose right peak reaches kLoudPeak
    size_t overFull = 0;  // windows with a sample beyond full scale
    // The longest run of windows, in seconds, whose energy stays within the quiet band while
    // something is heard (energy above the floor at least once in the run).
    double longestQuiet = 0.0;
    std::array<size_t, kMaxEnergy + 1> histogram{}; // windows per energy
};

inline constexpr double kLoudPeak = 0.97;
inline constexpr int kQuietEnergy = 14;

LevelSummary Summarise(const std::vector<Window>& windows, double windowSeconds);

} // namespace music
