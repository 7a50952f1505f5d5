// Window timers: WM_TIMER every interval milliseconds, delivered by the loop when nothing else
// waits, never faster than the frame-rate cap, on an even pace that neither drifts nor catches
// up in a burst after a stall.
//
// The cap stands in for the coarse timer of the desktop the program was designed for, whose 1 ms
// timer really ticked once a display refresh or so: without it a 1 ms timer draws frames as fast
// as the machine can, which where the swap does not wait for the display burns cores and turns
// the field (whose spin is applied once a frame) faster than designed.
#include "platform/os/window_tree.h"

#include <algorithm>
#include <climits>

namespace {

struct Timer {
    OsWindow* window;
    uint32_t id;
    uint32_t intervalMs;
    uint64_t period; // in counter ticks: the interval, or the cap's period if that is longer
    uint64_t deadline;
};

std::vector<Timer> gTimers;
int gFrameRateCap = kFrameRateOfDisplay;

uint64_t Now() {
    return SDL_GetPerformanceCounter();
}

// Frames a second the timers of this top-level window may tick at; 0 for no limit.
int CapFor(OsWindow* top) {
    if (gFrameRateCap != kFrameRateOfDisplay) return std::max(0, gFrameRateCap);
    SDL_DisplayMode mode{};
    const int display = top && top->sdl ? SDL_GetWindowDisplayIndex(top->sdl.get()) : 0;
    if (SDL_GetCurrentDisplayMode(std::max(0, display), &mode) == 0 && mode.refresh_rate > 0)
        return mode.refresh_rate;
    return kUnknownRefreshRate;
}

uint64_t PeriodOf(OsWindow* window, uint32_t intervalMs) {
    const uint64_t frequency = SDL_GetPerformanceFrequency();
    const uint64_t interval = frequency * intervalMs / 1000;
    const int cap = CapFor(TopLevelOf(window));
    return std::max<uint64_t>({1, interval, cap > 0 ? frequency / static_cast<uint64_t>(cap) : 0});
}

// The window's frames would not be seen now: its timers wait for the compositor.
bool Waits(const Timer& t) {
    return AwaitsFrame(TopLevelOf(t.window));
}

} // namespace

bool TakeTimerTick(uint64_t* deadline, uint64_t period, uint64_t now) {
    if (now < *deadline) return false;
    // The next tick keeps its place in the even pace; after a stall longer than a period the
    // pace starts again from now, so the ticks missed are not made up in a burst.
    const uint64_t next = *deadline + period;
    *deadline = next > now ? next : now + period;
    return true;
}

void SetFrameRateCap(int framesPerSecond) {
    gFrameRateCap = framesPerSecond;
    for (Timer& t : gTimers)
        t.period = PeriodOf(t.window, t.intervalMs);
}

bool StartTimer(WindowHandle window, uint32_t timerId, uint32_t intervalMs) {
    OsWindow* w = Live(window);
    if (!w) return false;
    const uint32_t interval = std::max<uint32_t>(1, intervalMs);
    const uint64_t period = PeriodOf(w, interval);
    const uint64_t deadline = Now() + period;
    for (Timer& t : gTimers) {
        if (t.window == w && t.id == timerId) {
            t.intervalMs = interval;
            t.period = period;
            t.deadline = deadline;
            return true;
        }
    }
    gTimers.push_back({w, timerId, interval, period, deadline});
    return true;
}

void StopTimer(WindowHandle window, uint32_t timerId) {
    std::erase_if(gTimers, [&](const Timer& t) { return t.window == window && t.id == timerId; });
}

void RemoveTimersOf(const OsWindow* window) {
    std::erase_if(gTimers, [window](const Timer& t) { return t.window == window; });
}

void TopLevelMovedDisplay(OsWindow* top) {
    for (Timer& t : gTimers)
        if (TopLevelOf(t.window) == top) t.period = PeriodOf(t.window, t.intervalMs);
}

// The most overdue timer ticks, unless nobody would see what it draws.
bool DeliverTimer() {
    const uint64_t now = Now();
    Timer* due = nullptr;
    for (Timer& t : gTimers)
        if (t.deadline <= now && (!due || t.deadline < due->deadline) && !Waits(t)) due = &t;
    if (!due || !TakeTimerTick(&due->deadline, due->period, now)) return false;
    OsWindow* window = due->window;
    Message tick;
    tick.id = WM_TIMER;
    tick.timerId = due->id;
    Send(window, tick);
    return true;
}

// Rounded up to whole milliseconds, so the loop wakes at the deadline or just after, never
// before it to spin.
int WaitTimeout() {
    if (gTimers.empty()) return -1;
    const uint64_t now = Now();
    uint64_t nearest = UINT64_MAX;
    for (const Timer& t : gTimers)
        if (!Waits(t)) nearest = std::min(nearest, t.deadline);
    if (nearest == UINT64_MAX) return -1; // until the compositor asks for a frame
    if (nearest <= now) return 0;
    const uint64_t frequency = SDL_GetPerformanceFrequency();
    const uint64_t ms = ((nearest - now) * 1000 + frequency - 1) / frequency;
    return static_cast<int>(std::min<uint64_t>(ms, INT_MAX));
}
