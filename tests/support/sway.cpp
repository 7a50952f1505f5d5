#include "support/sway.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr const char* kConfig = "xwayland disable\ndefault_border none\n";

std::vector<char*> Pointers(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& w : words)
        pointers.push_back(w.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

Sway::Sway() {
    const bool root = geteuid() == 0;
    folder_ = (fs::temp_directory_path() / ("vormel-sway-" + std::to_string(getpid()))).string();
    fs::create_directories(folder_);
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace);
    const std::string config = folder_ + "/config";
    std::ofstream(config) << kConfig;
    if (root && (chown(folder_.c_str(), kNobody, kNobody) != 0 ||
                 chown(config.c_str(), kNobody, kNobody) != 0))
        return;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(126);
        // Set after the change of user, which clears it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        const int quiet = open((folder_ + "/sway.log").c_str(), O_WRONLY | O_CREAT, 0600);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        clearenv();
        setenv("PATH", "/usr/bin:/bin", 1);
        setenv("HOME", folder_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        setenv("WLR_BACKENDS", "headless", 1);
        setenv("WLR_RENDERER", "pixman", 1);
        setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
        setenv("WLR_HEADLESS_OUTPUTS", "2", 1);
        execlp("sway", "sway", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) return;
    pid_ = pid;
    // Ready once both its sockets exist: the clients' and its commands'.
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            break;
        }
        std::string wayland, ipc;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos)
                wayland = name;
            if (name.rfind("sway-ipc.", 0) == 0) ipc = entry.path().string();
        }
        if (!wayland.empty() && !ipc.empty()) {
            socket_ = wayland;
            setenv("SWAYSOCK", ipc.c_str(), 1);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "tests: sway did not come up (scripts/setup.sh installs it)\n");
    if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

Sway::~Sway() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::vector<std::string> Sway::Environment() const {
    return {"WAYLAND_DISPLAY=" + socket_, "XDG_RUNTIME_DIR=" + folder_, "SDL_VIDEODRIVER=wayland"};
}

bool Sway::Run(const std::vector<std::string>& words) const {
    std::vector<std::string> argv = words;
    const pid_t pid = fork();
    if (pid == 0) {
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        setenv("WAYLAND_DISPLAY", socket_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        execvp(argv[0].c_str(), Pointers(argv).data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool Sway::Command(const std::string& command) const {
    return Run({"swaymsg", command});
}

bool Sway::Screenshot(const char* output, int* width, int* height,
                      std::vector<uint8_t>* rgb) const {
    const std::string path = folder_ + "/shot.ppm";
    if (!Run({"grim", "-t", "ppm", "-o", output, path})) return false;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maximum = 0;
    in >> magic >> *width >> *height >> maximum;
    in.get(); // the one white-space character before the pixels
    if (magic != "P6" || maximum != 255 || *width <= 0 || *height <= 0) return false;
    rgb->resize(static_cast<size_t>(*width) * static_cast<size_t>(*height) * 3);
    in.read(reinterpret_cast<char*>(rgb->data()), static_cast<std::streamsize>(rgb->size()));
    return static_cast<bool>(in);
}
