// The shared effects of the mix: a ping-pong echo, a small hall and the master clean-up.
#pragma once

#include "music/synth.h"

namespace music {

// Echoes of the send, bouncing left, right, left… every `delay` seconds, each `feedback` times
// the last and duller by a low pass at `damping` Hz. Returns the echoes alone.
Stereo Echo(const Stereo& send, double delay, double feedback, double damping);

// A hall made of parallel damped combs and series all-passes per channel, the right channel's
// lengths slightly longer so the tail is wide. Returns the reverberation alone.
Stereo Reverb(const Stereo& send, double feedback, double damping);

// Removes DC and rumble below about 20 Hz that would waste headroom.
void RemoveRumble(Stereo& signal);

// Multiplies both channels by a ramp from 0 over the first `in` seconds and down to 0 over the
// last `out` seconds, so the loop restarts from silence.
void FadeEnds(Stereo& signal, double in, double out);

} // namespace music
