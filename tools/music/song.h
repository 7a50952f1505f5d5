// The default sound: "Field Lines", an original piece in A minor at 120 beats a minute, 74 s
// long. Intro (pads), build (bass, kick, arpeggio, the theme on a bell), a full section (drums,
// bass, arpeggio, the lead theme and its answer), a quiet breakdown (pad and bell), a riser, the
// full section again with the lead doubled an octave up, and an ending on the home chord.
#pragma once

#include "music/synth.h"

namespace music {

inline constexpr double kSongSeconds = 74.0;
// The master ceiling. Encoding moves peaks by a percent or so; this leaves room for that
// while the loudest hits still read as full scale to the player.
inline constexpr double kCeiling = 0.985;

// Renders the whole piece, mixed, levelled and limited: both channels within kCeiling.
Stereo RenderSong();

} // namespace music
