// The frame clock's own state, for the clock itself and for tests that look inside it.
#pragma once

#include <cstdint>

extern float gClockElapsed;      // the last step measured; 0 after a restart
extern int32_t gClockHasCounter; // non-zero: the high-resolution counter is read
extern float gClockTickSeconds;  // 1 / the counter's frequency
extern int64_t gClockCounter;
extern int64_t gClockPrevCounter;
extern uint32_t gClockMs;
extern uint32_t gClockPrevMs;
