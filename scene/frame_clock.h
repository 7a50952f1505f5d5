// The frame clock: the real time between two frames, which scales all motion so the scene runs
// at the same speed at any frame rate. It reads the high-resolution counter when the platform has
// one, and the millisecond tick count otherwise; the choice is made at each restart.
#pragma once

#include <cstdint>

// Seconds since the previous timer frame; written by the main window on every timer tick.
extern float gFrameStep;

// Restarts the clock; the next FrameClockElapsed measures from here.
void FrameClockStart();
// Seconds since the previous call (or the restart). A reading that goes backwards returns the
// previous step again.
float FrameClockElapsed();
