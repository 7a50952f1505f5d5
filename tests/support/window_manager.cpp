#include "support/window_manager.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

pid_t gWindowManager = 0;

// The property's 32-bit items, read on a connection of the test's own.
std::vector<long> Property(Window window, const char* name, Atom type,
                           std::vector<std::string>* atomNames = nullptr) {
    std::vector<long> values;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return values;
    if (!window) window = DefaultRootWindow(d);
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, window, XInternAtom(d, name, False), 0, 64, False, type, &actual,
                           &format, &count, &after, &data) == Success &&
        data && format == 32)
        values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
    if (data) XFree(data);
    for (long atom : values) {
        if (!atomNames) break;
        char* atomName = XGetAtomName(d, static_cast<Atom>(atom));
        atomNames->emplace_back(atomName ? atomName : "");
        if (atomName) XFree(atomName);
    }
    XCloseDisplay(d);
    return values;
}

Window XWindowOf(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    return SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11
               ? info.info.x11.window
               : 0;
}

} // namespace

bool StartWindowManager() {
    const pid_t parent = getpid();
    gWindowManager = fork();
    if (gWindowManager == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; gWindowManager > 0 && i < 1000; ++i) {
        if (!Property(0, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty()) return true;
        if (waitpid(gWindowManager, nullptr, WNOHANG) == gWindowManager) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "tests: openbox did not come up (scripts/setup.sh installs it)\n");
    StopWindowManager();
    return false;
}

void StopWindowManager() {
    if (gWindowManager > 0) {
        kill(gWindowManager, SIGTERM);
        waitpid(gWindowManager, nullptr, 0);
    }
    gWindowManager = 0;
}

std::vector<std::string> WindowManagerState(SDL_Window* window) {
    std::vector<std::string> names;
    if (const Window w = XWindowOf(window)) Property(w, "_NET_WM_STATE", XA_ATOM, &names);
    return names;
}

std::vector<long> FrameExtents(SDL_Window* window) {
    const Window w = XWindowOf(window);
    return w ? Property(w, "_NET_FRAME_EXTENTS", XA_CARDINAL) : std::vector<long>();
}
