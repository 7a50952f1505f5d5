// The master limiter: keeps every sample within a ceiling without clipping the waveform.
#pragma once

#include <vector>

#include "music/synth.h"

namespace music {

// The gain each frame needs on its own so that neither channel passes `ceiling`: 1 where both
// are within it.
std::vector<double> NeededGain(const Stereo& signal, double ceiling);

// Scales both channels together (so the stereo image holds) by a smooth gain that is never above
// `needed` at any frame. The gain starts to fall `lookahead` seconds ahead of a dip and takes
// twice that to reach its floor, so a kick is turned down rather than flattened; it recovers over
// about `release` seconds. Far from any dip the signal passes at unity gain.
void ApplyGain(Stereo& signal, const std::vector<double>& needed, double lookahead, double release);

// ApplyGain with the gain the signal itself needs to stay within `ceiling`.
void Limit(Stereo& signal, double ceiling, double lookahead, double release);

} // namespace music
