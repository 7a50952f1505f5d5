#include "support/message_log.h"

#include "platform/os/clock.h"

std::vector<LoggedMessage> gMessageLog;

namespace {

constexpr uint32_t kWatchTimer = 0x5EE5;
WindowHandle gWatchWindow = nullptr;
std::function<bool()> gDone;
uint32_t gGiveUpAt = 0;

bool Finished() {
    return gDone && (gDone() || MillisecondTicks() >= gGiveUpAt);
}

} // namespace

intptr_t RecordingProc(WindowHandle window, const Message& message) {
    if (message.id == WM_TIMER && message.timerId == kWatchTimer) {
        if (Finished()) PostQuitMessage(0);
        return 0;
    }
    gMessageLog.push_back({window, message.id, message.x, message.y, message.timerId});
    if (Finished() || (message.id == WM_DESTROY && window == gWatchWindow)) PostQuitMessage(0);
    return DefWindowProc(window, message);
}

bool RunLoopUntil(WindowHandle watchWindow, const std::function<bool()>& done, uint32_t timeoutMs) {
    gWatchWindow = watchWindow;
    gDone = done;
    gGiveUpAt = MillisecondTicks() + timeoutMs;
    StartTimer(watchWindow, kWatchTimer, 5);
    RunMessageLoop();
    StopTimer(watchWindow, kWatchTimer);
    gDone = nullptr;
    gWatchWindow = nullptr;
    return done();
}

size_t CountLogged(WindowHandle window, uint32_t id) {
    size_t n = 0;
    for (const LoggedMessage& m : gMessageLog)
        n += (m.id == id && (!window || m.window == window)) ? 1 : 0;
    return n;
}
