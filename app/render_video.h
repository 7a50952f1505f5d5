// `vormel --render FILE`: the scene for a sound drawn frame by frame into files, with no window on
// a screen and no sound device. Frame i is the scene at i / fps seconds: one virtual clock drives
// the frame clock and the sound, so the same input gives the same bytes, and a render that starts
// at
// --start S carries the scene there by running its frames without drawing them, so pieces rendered
// apart join into the whole.
#pragma once

#include "app/command_line.h"

// Renders file as options ask; returns the exit code: 0 when every file is written, 1 when the
// sound or an output failed (one line on stderr says why), 99 without OpenGL, 128 + the signal
// when a signal stopped it.
int RenderVideo(const std::string& file, const RenderOptions& options);
