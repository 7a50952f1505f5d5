// The platform's clocks, as the frame clock reads them: a high-resolution counter with its
// frequency, a millisecond tick count that wraps after 2^32 ms, and a sleep. By default they come
// from SDL; tests install a scripted set with SetClockFunctions.
#pragma once

#include <cstdint>

struct ClockFunctions {
    // Writes the counter's frequency in ticks per second; returns non-zero when a counter exists.
    int (*counterFrequency)(int64_t* frequency);
    // Writes the counter's current reading; returns non-zero on success.
    int (*counterReading)(int64_t* count);
    // Milliseconds since some fixed moment, wrapping at 2^32.
    uint32_t (*millisecondTicks)();
    // Pauses the calling thread.
    void (*sleepMilliseconds)(uint32_t ms);
};

// Replaces the clocks; null puts the platform's own back.
void SetClockFunctions(const ClockFunctions* functions);

int QueryCounterFrequency(int64_t* frequency);
int QueryCounter(int64_t* count);
uint32_t MillisecondTicks();
void SleepMilliseconds(uint32_t ms);
