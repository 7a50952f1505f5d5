#include "support/compositor.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr const char* kConfig = "[core]\nidle-time=0\n"
                                "[shell]\npanel-position=none\nbackground-color=0xffff00ff\n";

} // namespace

Compositor::Compositor() {
    static int count = 0;
    const std::string name =
        "vormel-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    // Wayland wants its runtime folder private to the user (weston refuses a shared one).
    folder_ = (fs::temp_directory_path() / name).string();
    fs::create_directories(folder_);
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace);
    socket_ = "wayland-" + name;
    const std::string config = folder_ + "/weston.ini";
    std::ofstream(config) << kConfig;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        const int quiet = open((folder_ + "/weston.log").c_str(), O_WRONLY | O_CREAT, 0600);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
        const std::string socket = "--socket=" + socket_;
        const std::string configFlag = "--config=" + config;
        const std::string width = "--width=" + std::to_string(kOutputWidth);
        const std::string height = "--height=" + std::to_string(kOutputHeight);
        execlp("weston", "weston", "--backend=x11-backend.so", socket.c_str(), width.c_str(),
               height.c_str(), configFlag.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) return;
    pid_ = pid;
    // Ready once its socket exists and its window has drawn the desktop.
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            break;
        }
        if (fs::exists(folder_ + "/" + socket_)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "tests: weston did not come up (scripts/setup.sh installs it)\n");
    Kill();
}

Compositor::~Compositor() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void Compositor::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
}
