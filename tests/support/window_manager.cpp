#include "support/window_manager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

pid_t gManager = 0;

void StopManager() {
    if (gManager <= 0) return;
    kill(gManager, SIGTERM);
    waitpid(gManager, nullptr, 0);
    gManager = 0;
}

// A window manager announces itself with _NET_SUPPORTING_WM_CHECK on the root window.
bool Managed(Display* d) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False),
                       0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data);
    if (data) XFree(data);
    return count == 1;
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
    gManager = pid;
    std::atexit(StopManager);
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    bool managed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(managed = Managed(d)) && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            gManager = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XCloseDisplay(d);
    if (!managed)
        std::fprintf(stderr, "tests: openbox did not start (scripts/setup.sh installs it)\n");
    return managed;
}
