#include "platform/os/clock.h"

#include <SDL.h>

namespace {

int SdlCounterFrequency(int64_t* frequency) {
    *frequency = static_cast<int64_t>(SDL_GetPerformanceFrequency());
    return *frequency != 0;
}

int SdlCounterReading(int64_t* count) {
    *count = static_cast<int64_t>(SDL_GetPerformanceCounter());
    return 1;
}

// SDL_GetTicks64 starts at SDL's initialisation; the low 32 bits wrap like the system tick count.
uint32_t SdlMillisecondTicks() { return static_cast<uint32_t>(SDL_GetTicks64()); }

void SdlSleep(uint32_t ms) { SDL_Delay(ms); }

const ClockFunctions kSdlClock = {SdlCounterFrequency, SdlCounterReading, SdlMillisecondTicks,
                                  SdlSleep};
const ClockFunctions* gClock = &kSdlClock;

} // namespace

void SetClockFunctions(const ClockFunctions* functions) {
    gClock = functions ? functions : &kSdlClock;
}

int QueryCounterFrequency(int64_t* frequency) { return gClock->counterFrequency(frequency); }
int QueryCounter(int64_t* count) { return gClock->counterReading(count); }
uint32_t MillisecondTicks() { return gClock->millisecondTicks(); }
void SleepMilliseconds(uint32_t ms) { gClock->sleepMilliseconds(ms); }
