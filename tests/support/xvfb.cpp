#include "support/xvfb.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t gXvfb = 0;

void StopXvfb() {
    if (gXvfb <= 0) return;
    kill(gXvfb, SIGTERM);
    waitpid(gXvfb, nullptr, 0);
    gXvfb = 0;
}

[[noreturn]] void ExecXvfb(int displayFd, const char* screen, pid_t parent) {
    // Goes with the test process however that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    // Xvfb chats about fonts and keymaps; only its failure matters, and that shows as no display.
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) {
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
    }
    const std::string fd = std::to_string(displayFd);
    // -noreset: without it the server resets whenever its last client leaves, and a client that
    // connects during that moment (the next test's) is refused.
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
}

// Xvfb writes its display number and a newline once it accepts clients.
std::string ReadDisplayNumber(int fd) {
    std::string number;
    char c = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) return std::string();
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') return number;
        number += c;
    }
}

// Forks an Xvfb and waits until it accepts clients; its display number, or empty when it failed
// (and then it is gone again).
std::string LaunchXvfb(const char* screen, pid_t* pid) {
    int fds[2];
    if (pipe(fds) != 0) return std::string();
    const pid_t parent = getpid();
    *pid = fork();
    if (*pid < 0) return std::string();
    if (*pid == 0) {
        close(fds[0]);
        ExecXvfb(fds[1], screen, parent);
    }
    close(fds[1]);
    const std::string number = ReadDisplayNumber(fds[0]);
    close(fds[0]);
    if (number.empty()) {
        int status = 0;
        kill(*pid, SIGTERM);
        waitpid(*pid, &status, 0);
        const bool missing = WIFEXITED(status) && WEXITSTATUS(status) == 127;
        std::fprintf(stderr, "%s\n",
                     missing ? "tests: Xvfb is not installed (scripts/setup.sh installs it)"
                             : "tests: Xvfb did not start");
        *pid = 0;
    }
    return number;
}

} // namespace

XServer::XServer() {
    pid_t pid = 0;
    const std::string number = LaunchXvfb(kDefaultTestScreen, &pid);
    if (number.empty()) return;
    pid_ = pid;
    std::snprintf(display_, sizeof display_, ":%s", number.c_str());
}

XServer::~XServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

void XServer::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

bool StartPrivateXvfb(const char* screen) {
    pid_t pid = 0;
    std::atexit(StopXvfb);
    const std::string number = LaunchXvfb(screen, &pid);
    if (number.empty()) return false;
    gXvfb = pid;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

bool PrepareGlTestEnvironment() {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    unsetenv("WAYLAND_DISPLAY"); // the tests look at an X server of their own
    const char* screen = std::getenv("VORMEL_TEST_SCREEN");
    if (screen && std::strcmp(screen, "none") == 0) {
        unsetenv("DISPLAY");
        return true;
    }
    return StartPrivateXvfb(screen && *screen ? screen : kDefaultTestScreen);
}
