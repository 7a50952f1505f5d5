#include "scene/frame_clock.h"
#include "scene/frame_clock_state.h"

#include "platform/os/clock.h"

float gFrameStep;

float gClockElapsed;
int32_t gClockHasCounter;
float gClockTickSeconds;
int64_t gClockCounter;
int64_t gClockPrevCounter;
uint32_t gClockMs;
uint32_t gClockPrevMs;

void FrameClockStart() {
    gClockElapsed = 0;
    int64_t frequency = 0;
    gClockHasCounter = QueryCounterFrequency(&frequency);
    gClockTickSeconds = static_cast<float>(1.0 / static_cast<double>(frequency));
    SleepMilliseconds(1);
    QueryCounter(&gClockCounter);
    gClockMs = MillisecondTicks();
}

float FrameClockElapsed() {
    if (gClockHasCounter != 0) {
        gClockPrevCounter = gClockCounter;
        QueryCounter(&gClockCounter);
        if (gClockCounter >= gClockPrevCounter) {
            const int64_t ticks = gClockCounter - gClockPrevCounter;
            gClockElapsed = static_cast<float>(gClockTickSeconds * static_cast<double>(ticks));
        }
    } else {
        gClockPrevMs = gClockMs;
        gClockMs = MillisecondTicks();
        // Across the 49.7-day wrap the new reading is smaller: keep the previous step.
        if (gClockMs >= gClockPrevMs) {
            gClockElapsed =
                static_cast<float>(0.001f * static_cast<double>(gClockMs - gClockPrevMs));
        }
    }
    return gClockElapsed;
}
