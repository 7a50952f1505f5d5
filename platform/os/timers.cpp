// Window timers: WM_TIMER every interval milliseconds, delivered by the loop when nothing else
// waits, and never piling up behind a stall.
#include "platform/os/window_tree.h"

#include <algorithm>
#include <climits>

namespace {

struct Timer {
    OsWindow* window;
    uint32_t id;
    uint32_t interval;
    uint64_t deadline;
};

std::vector<Timer> gTimers;

} // namespace

bool StartTimer(WindowHandle window, uint32_t timerId, uint32_t intervalMs) {
    OsWindow* w = Live(window);
    if (!w) return false;
    const uint32_t interval = std::max<uint32_t>(1, intervalMs);
    const uint64_t deadline = SDL_GetTicks64() + interval;
    for (Timer& t : gTimers) {
        if (t.window == w && t.id == timerId) {
            t.interval = interval;
            t.deadline = deadline;
            return true;
        }
    }
    gTimers.push_back({w, timerId, interval, deadline});
    return true;
}

void StopTimer(WindowHandle window, uint32_t timerId) {
    std::erase_if(gTimers, [&](const Timer& t) { return t.window == window && t.id == timerId; });
}

void RemoveTimersOf(const OsWindow* window) {
    std::erase_if(gTimers, [window](const Timer& t) { return t.window == window; });
}

// The most overdue timer re-arms one interval after its deadline, or one interval from now if it
// is already that late, so ticks missed during a stall never queue up.
bool DeliverTimer() {
    const uint64_t now = SDL_GetTicks64();
    Timer* due = nullptr;
    for (Timer& t : gTimers)
        if (t.deadline <= now && (!due || t.deadline < due->deadline)) due = &t;
    if (!due) return false;
    const uint64_t next = due->deadline + due->interval;
    due->deadline = next > now ? next : now + due->interval;
    OsWindow* window = due->window;
    Message tick;
    tick.id = WM_TIMER;
    tick.timerId = due->id;
    Send(window, tick);
    return true;
}

int WaitTimeout() {
    if (gTimers.empty()) return -1;
    const uint64_t now = SDL_GetTicks64();
    uint64_t nearest = UINT64_MAX;
    for (const Timer& t : gTimers)
        nearest = std::min(nearest, t.deadline);
    if (nearest <= now) return 0;
    return static_cast<int>(std::min<uint64_t>(nearest - now, INT_MAX));
}
