#include "music/level_check.h"

#include <algorithm>
#include <cmath>

namespace music {

int LevelOf(double peak) {
    return static_cast<int>(std::min(std::lrint(std::fabs(peak) * 32768.0), 32768L));
}

int EnergyOf(int leftLevel, int rightLevel) {
    const int left = leftLevel * 100 / 128;
    const int right = rightLevel * 100 / 128;
    const long leftStep = std::lrint(left / 700.0);
    const long rightStep = std::lrint(right / 768.0);
    const float f = static_cast<float>(std::max(leftStep, rightStep) / 14.0);
    return static_cast<int>(std::lrint(10.0 * f + 10.0));
}

std::vector<Window> MeasureWindows(const std::vector<float>& samples, int channels, int rate) {
    std::vector<Window> windows;
    if (channels < 1 || rate < 1) return windows;
    const size_t width = static_cast<size_t>(rate) / 50 * static_cast<size_t>(channels);
    for (size_t start = 0; start < samples.size(); start += width) {
        const size_t end = std::min(samples.size(), start + width);
        Window w{0.0, 0.0, 0};
        for (size_t i = start; i < end; i += static_cast<size_t>(channels)) {
            w.left = std::max(w.left, std::fabs(static_cast<double>(samples[i])));
            const float right = channels > 1 ? samples[i + 1] : samples[i];
            w.right = std::max(w.right, std::fabs(static_cast<double>(right)));
        }
        w.energy = EnergyOf(LevelOf(w.left), LevelOf(w.right));
        windows.push_back(w);
    }
    return windows;
}

LevelSummary Summarise(const std::vector<Window>& windows, double windowSeconds) {
    LevelSummary s;
    size_t run = 0;
    bool heard = false;
    for (const Window& w : windows) {
        s.maxLeft = std::max(s.maxLeft, w.left);
        s.maxRight = std::max(s.maxRight, w.right);
        s.minEnergy = std::min(s.minEnergy, w.energy);
        s.maxEnergy = std::max(s.maxEnergy, w.energy);
        s.loudLeft += w.left >= kLoudPeak;
        s.loudRight += w.right >= kLoudPeak;
        s.overFull += w.left > 1.0 || w.right > 1.0;
        s.histogram[static_cast<size_t>(std::clamp(w.energy, 0, kMaxEnergy))]++;
        if (w.energy <= kQuietEnergy) {
            ++run;
            heard = heard || w.energy > kMinEnergy;
            if (heard) s.longestQuiet = std::max(s.longestQuiet, run * windowSeconds);
        } else {
            run = 0;
            heard = false;
        }
    }
    return s;
}

} // namespace music
