// Watching a window's messages in tests: a procedure that logs what it receives, and a way to run
// the real message loop until the log shows what the test waits for.
#pragma once

#include "platform/os/window.h"

#include <cstdint>
#include <functional>
#include <vector>

struct LoggedMessage {
    WindowHandle window;
    uint32_t id;
    int x;
    int y;
    uint32_t timerId;
};

// Every message a window running RecordingProc received, in order. The ticks RunLoopUntil uses
// for itself are left out.
extern std::vector<LoggedMessage> gMessageLog;

// Logs the message, then does the default handling (WM_CLOSE destroys the window). A test's own
// procedure ends by calling it, so that RunLoopUntil keeps working.
intptr_t RecordingProc(WindowHandle window, const Message& message);

// Runs the message loop until done() holds or timeoutMs pass, and returns done(). The condition is
// checked after every logged message and on a timer of watchWindow, a RecordingProc window; the
// loop also ends if that window is destroyed.
bool RunLoopUntil(WindowHandle watchWindow, const std::function<bool()>& done,
                  uint32_t timeoutMs = 10000);

// Messages with this id that this window received (any window when window is null).
size_t CountLogged(WindowHandle window, uint32_t id);
