// The level trace, asked for with VORMEL_LEVEL_TRACE=FILE (the platform's options): one line per
// frame drawn, appended to FILE, "read_ms shown_ms left right": the CLOCK_MONOTONIC times in
// milliseconds at which the frame read the sound's level and at which its picture was presented,
// and the two halves of the level it read (0 to 32768; 0 0 when it read none). It measures how
// well the scene keeps time with the sound heard. A trace that cannot be written is said once on
// stderr and stops; the program goes on.
#pragma once

#include <cstdint>

// The frame read this level word now (0 when there was nothing to read).
void TraceLevelRead(uint32_t reading);
// The frame that read last has been presented: its line is written.
void TraceFrameShown();
