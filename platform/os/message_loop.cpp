// The message loop: SDL's events become the program's messages; paints and timer ticks are
// delivered when no event waits, so neither piles up.
#include "platform/os/window_tree.h"

namespace {

bool gQuitPosted = false;
int gQuitCode = 0;

// The event type of work posted to the loop from other threads (SDL_RegisterEvents).
Uint32 PostedEventType() {
    static const Uint32 type = SDL_RegisterEvents(1);
    return type;
}

// Several pointer moves waiting in a row become the last of them: a frame is drawn per move, and
// drawing one per stale position would let input queue up behind the display.
void TakeLatestMove(SDL_Event* event) {
    SDL_Event next;
    while (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1 &&
           next.type == SDL_MOUSEMOTION && next.motion.windowID == event->motion.windowID) {
        SDL_PeepEvents(event, 1, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION);
    }
}

uint32_t HeldButtons(uint32_t sdlState) {
    return ((sdlState & SDL_BUTTON_LMASK) ? MK_LBUTTON : 0u) |
           ((sdlState & SDL_BUTTON_RMASK) ? MK_RBUTTON : 0u);
}

// The buttons held once this press or release has happened.
uint32_t HeldAfter(const SDL_MouseButtonEvent& button) {
    uint32_t state = SDL_GetMouseState(nullptr, nullptr) & ~SDL_BUTTON(button.button);
    if (button.type == SDL_MOUSEBUTTONDOWN) state |= SDL_BUTTON(button.button);
    return HeldButtons(state);
}

uint32_t ButtonMessage(const SDL_MouseButtonEvent& button) {
    const bool down = button.type == SDL_MOUSEBUTTONDOWN;
    if (button.button == SDL_BUTTON_LEFT) return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    if (button.button == SDL_BUTTON_RIGHT) return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    return 0;
}

void SendClose(OsWindow* window) {
    if (!window) return;
    Message close;
    close.id = WM_CLOSE;
    Send(window, close);
}

void HandleWindowEvent(const SDL_WindowEvent& event) {
    OsWindow* top = TopLevelBySdlId(event.windowID);
    if (!top) return;
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    switch (event.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        WindowSizeChanged(top);
        SDL_GetWindowSize(top->sdl.get(), &width, &height);
        SdlWindowResized(top, width, height, false);
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED:
        WindowModeChanged(top);
        if (Live(top)) SdlWindowResized(top, width, height, true);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        InvalidateTree(top);
        break;
    case SDL_WINDOWEVENT_DISPLAY_CHANGED:
        TopLevelMovedDisplay(top);
        break;
    case SDL_WINDOWEVENT_LEAVE:
        PointerLeft(event.windowID);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        InputFocusLost(event.windowID);
        break;
    case SDL_WINDOWEVENT_HIT_TEST:
        FramePressed(top);
        break;
    case SDL_WINDOWEVENT_CLOSE:
        SendClose(top);
        break;
    default:
        break;
    }
}

// A quit request (SIGTERM, SIGINT, the session ending) asks every top-level window to close, as
// the close button would.
void HandleQuit() {
    EndIfDisplayLost();
    std::vector<OsWindow*> tops;
    for (auto& w : AllWindows())
        if (!w->parent) tops.push_back(w.get());
    for (OsWindow* top : tops)
        if (Live(top)) SendClose(top);
}

void Dispatch(SDL_Event* event) {
    switch (event->type) {
    case SDL_QUIT:
        HandleQuit();
        break;
    case SDL_WINDOWEVENT:
        HandleWindowEvent(event->window);
        break;
    case SDL_DISPLAYEVENT:
        DisplaysChanged();
        break;
    case SDL_MOUSEMOTION:
        TakeLatestMove(event);
        RouteMouse(event->motion.windowID, WM_MOUSEMOVE, event->motion.x, event->motion.y,
                   HeldButtons(event->motion.state));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        RouteMouse(event->button.windowID, ButtonMessage(event->button), event->button.x,
                   event->button.y, HeldAfter(event->button));
        break;
    case SDL_KEYDOWN:
        KeyPressed(event->key.windowID, event->key.keysym.sym,
                   (event->key.keysym.mod & KMOD_ALT) != 0, event->key.repeat != 0);
        break;
    case SDL_DROPBEGIN:
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
    case SDL_DROPCOMPLETE:
        HandleDrop(event->drop);
        break;
    default:
        if (event->type == PostedEventType()) {
            auto fn = reinterpret_cast<void (*)(void*)>(event->user.data1);
            fn(event->user.data2);
        }
        break;
    }
}

OsWindow* FirstPendingPaint(OsWindow* window) {
    if (window->paintPending) return window;
    for (OsWindow* child : window->children)
        if (OsWindow* found = FirstPendingPaint(child)) return found;
    return nullptr;
}

// One WM_PAINT per call: a top-level window before its children, in creation order.
bool DeliverPaint() {
    for (auto& w : AllWindows()) {
        if (w->parent) continue;
        if (OsWindow* target = FirstPendingPaint(w.get())) {
            target->paintPending = false;
            Message paint;
            paint.id = WM_PAINT;
            Send(target, paint);
            return true;
        }
    }
    return false;
}

} // namespace

bool PostToLoop(void (*fn)(void* data), void* data) {
    if (!fn || !SDL_WasInit(SDL_INIT_EVENTS) || PostedEventType() == static_cast<Uint32>(-1))
        return false;
    SDL_Event event{};
    event.type = PostedEventType();
    event.user.data1 = reinterpret_cast<void*>(fn);
    event.user.data2 = data;
    return SDL_PushEvent(&event) == 1;
}

bool IsClosing(WindowHandle window) {
    OsWindow* w = Live(window);
    if (!w || w->destroying || gQuitPosted) return true;
    while (w->parent)
        w = w->parent;
    if (w->destroying) return true;
    // A signal's quit, or a close from the window manager, reaches the queue only when it is
    // pumped.
    SDL_PumpEvents();
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT) > 0) return true;
    SDL_Event events[64];
    const int count = SDL_PeepEvents(events, 64, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
    for (int i = 0; i < count; ++i)
        if (events[i].window.event == SDL_WINDOWEVENT_CLOSE &&
            events[i].window.windowID == w->sdlId)
            return true;
    return false;
}

void PostQuitMessage(int exitCode) {
    gQuitPosted = true;
    gQuitCode = exitCode;
}

int RunMessageLoop() {
    if (!SDL_WasInit(SDL_INIT_EVENTS) && SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return 0;
    SDL_Event event;
    while (!gQuitPosted) {
        // Input and window events first; then paints; a timer ticks only when nothing else waits.
        // Frames that take longer than their period keep a timer always due, so the resting
        // pointer is looked after on every turn.
        HideIdlePointer();
        TakeCaptionPresses();
        if (SDL_PollEvent(&event)) {
            Dispatch(&event);
        } else if (!DeliverPaint() && !DeliverTimer()) {
            int timeout = WaitTimeout();
            const int idle = PointerIdleTimeout();
            if (idle >= 0 && (timeout < 0 || idle < timeout)) timeout = idle;
            if (SDL_WaitEventTimeout(&event, timeout)) Dispatch(&event);
        }
    }
    gQuitPosted = false;
    return gQuitCode;
}
