// The voices of the default sound. Each renders one note or hit from its start, tail included, at
// a velocity from 0 to 1; the arrangement places it in time and in the stereo field.
#pragma once

#include <vector>

#include "music/synth.h"

namespace music {

using Mono = std::vector<double>;

// Drums. Noise-based voices take the arrangement's generator so every hit sounds a little apart
// while the whole piece stays repeatable.
Mono Kick(double velocity);
Mono Clap(double velocity, Noise& noise);
Mono Hat(double velocity, bool open, Noise& noise);
Mono Crash(double velocity, Noise& noise);

// Pitched voices; note is a MIDI note number, held the seconds the key is down.
Mono Bass(int note, double held, double velocity);
// brightness 0..1 opens the filter that gives the pluck its attack.
Mono Pluck(int note, double velocity, double brightness);
Mono Lead(int note, double held, double velocity);
Mono Bell(int note, double held, double velocity);

// A sustained chord whose low pass opens (or closes) from cutoffFrom to cutoffTo while held;
// its detuned voices spread between the channels.
Stereo Pad(const std::vector<int>& notes, double held, double cutoffFrom, double cutoffTo);
// Filtered noise that rises in pitch and loudness over `seconds`, swirling across the field.
Stereo Riser(double seconds, Noise& noise);

} // namespace music
