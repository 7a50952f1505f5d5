#include "music/limiter.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace music {

std::vector<double> NeededGain(const Stereo& signal, double ceiling) {
    std::vector<double> gain(signal.Frames(), 1.0);
    for (size_t i = 0; i < gain.size(); ++i) {
        const double peak = std::max(std::fabs(signal.left[i]), std::fabs(signal.right[i]));
        if (peak > ceiling) gain[i] = ceiling / peak;
    }
    return gain;
}

// The smallest value within `reach` frames on either side (a sliding minimum).
static std::vector<double> HoldMinimum(const std::vector<double>& values, size_t reach) {
    std::vector<double> held(values.size());
    std::deque<size_t> candidates;
    size_t next = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        for (; next < values.size() && next <= i + reach; ++next) {
            while (!candidates.empty() && values[candidates.back()] >= values[next])
                candidates.pop_back();
            candidates.push_back(next);
        }
        while (candidates.front() + reach < i)
            candidates.pop_front();
        held[i] = values[candidates.front()];
    }
    return held;
}

// Lets the gain come back up slowly; it may always fall at once, since the averaging that
// follows is what softens the fall.
static void SlowRecovery(std::vector<double>& gain, double release) {
    const double rate = 1.0 - std::exp(-1.0 / (release * kSampleRate));
    for (size_t i = 1; i < gain.size(); ++i)
        gain[i] = std::min(gain[i], gain[i - 1] + (gain[i] - gain[i - 1]) * rate);
}

// The mean over `reach` frames on either side. Every value averaged around a frame came from a
// minimum that already covered that frame, so the mean never rises above what the frame needs.
static std::vector<double> Average(const std::vector<double>& values, size_t reach) {
    std::vector<double> out(values.size());
    double sum = 0.0;
    size_t first = 0;
    size_t last = 0; // one past the newest value in the sum
    for (size_t i = 0; i < values.size(); ++i) {
        for (; last < values.size() && last <= i + reach; ++last)
            sum += values[last];
        for (; first + reach < i; ++first)
            sum -= values[first];
        out[i] = sum / static_cast<double>(last - first);
    }
    return out;
}

void ApplyGain(Stereo& signal, const std::vector<double>& needed, double lookahead,
               double release) {
    const size_t reach = static_cast<size_t>(std::max(FrameAt(lookahead), 1L));
    std::vector<double> gain = HoldMinimum(needed, reach);
    SlowRecovery(gain, release);
    gain = Average(gain, reach);
    const size_t frames = std::min(gain.size(), signal.Frames());
    for (size_t i = 0; i < frames; ++i) {
        signal.left[i] *= gain[i];
        signal.right[i] *= gain[i];
    }
}

void Limit(Stereo& signal, double ceiling, double lookahead, double release) {
    ApplyGain(signal, NeededGain(signal, ceiling), lookahead, release);
    // The running mean can land a rounding error above its bound; never let that through.
    for (size_t i = 0; i < signal.Frames(); ++i) {
        signal.left[i] = std::clamp(signal.left[i], -ceiling, ceiling);
        signal.right[i] = std::clamp(signal.right[i], -ceiling, ceiling);
    }
}

} // namespace music
