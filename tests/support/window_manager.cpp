#include "support/window_manager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

pid_t gWindowManager = 0;

int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

bool HasTitle(Display* d, Window w, const char* title) {
    char* name = nullptr;
    if (!XFetchName(d, w, &name) || !name) return false;
    const bool same = std::strcmp(name, title) == 0;
    XFree(name);
    return same;
}

Window FindByTitle(Display* d, Window under, const char* title) {
    if (HasTitle(d, under, title)) return under;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, under, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = FindByTitle(d, children[i], title);
    if (children) XFree(children);
    return found;
}

// The property's items as 32-bit values (longs, as Xlib hands them out).
std::vector<long> Property(Display* d, Window w, const char* name, Atom type) {
    std::vector<long> values;
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 64, False, type, &actual, &format,
                           &count, &after, &data) == Success &&
        data && format == 32) {
        const long* items = reinterpret_cast<const long*>(data);
        values.assign(items, items + count);
    }
    if (data) XFree(data);
    return values;
}

// Runs f on a connection of its own, with errors about windows that vanished ignored.
template <typename F> auto WithDisplay(F f) {
    Display* d = XOpenDisplay(nullptr);
    auto previous = XSetErrorHandler(IgnoreXError);
    auto result = f(d);
    if (d) {
        XSync(d, False);
        XCloseDisplay(d);
    }
    XSetErrorHandler(previous);
    return result;
}

bool Managing() {
    return WithDisplay([](Display* d) {
        return d &&
               !Property(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty();
    });
}

} // namespace

bool StartWindowManager() {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
        _exit(127);
    }
    gWindowManager = pid;
    for (int i = 0; i < 1000; ++i) {
        if (Managing()) return true;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            gWindowManager = 0;
            std::fprintf(stderr, "tests: openbox %s\n",
                         WIFEXITED(status) && WEXITSTATUS(status) == 127
                             ? "is not installed (scripts/setup.sh installs it)"
                             : "ended at its start");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "tests: openbox did not come up\n");
    StopWindowManager();
    return false;
}

void StopWindowManager() {
    if (gWindowManager <= 0) return;
    kill(gWindowManager, SIGTERM);
    waitpid(gWindowManager, nullptr, 0);
    gWindowManager = 0;
}

std::vector<std::string> WindowManagerState(const char* title) {
    return WithDisplay([title](Display* d) {
        std::vector<std::string> names;
        if (!d) return names;
        const Window w = FindByTitle(d, DefaultRootWindow(d), title);
        if (!w) return names;
        for (long atom : Property(d, w, "_NET_WM_STATE", XA_ATOM)) {
            char* name = XGetAtomName(d, static_cast<Atom>(atom));
            if (name) names.emplace_back(name);
            if (name) XFree(name);
        }
        return names;
    });
}

std::vector<long> FrameExtents(const char* title) {
    return WithDisplay([title](Display* d) {
        if (!d) return std::vector<long>();
        const Window w = FindByTitle(d, DefaultRootWindow(d), title);
        return w ? Property(d, w, "_NET_FRAME_EXTENTS", XA_CARDINAL) : std::vector<long>();
    });
}
