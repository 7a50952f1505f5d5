#include "support/sound_server.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// pid of argv started with its output sent to log (or left alone when log is empty), -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& settings,
            const std::string& log) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& s : settings)
            replaced |= entry.compare(0, s.find('=') + 1, s, 0, s.find('=') + 1) == 0;
        if (!replaced) environment.push_back(entry);
    }
    for (const std::string& s : settings)
        if (s.back() != '=') environment.push_back(s); // "NAME=" removes NAME
    std::vector<char*> args, env;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (std::string& e : environment)
        env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!log.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

bool Answers(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

} // namespace

int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& settings) {
    const pid_t pid = Spawn(argv, settings, "");
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SoundServer::SoundServer(std::vector<std::string> sinks) : sinks_(std::move(sinks)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vormel-pulse-XXXXXX").string();
    if (mkdtemp(pattern.data())) folder_ = pattern; // mkdtemp makes it 0700
}

SoundServer::~SoundServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

std::string SoundServer::address() const {
    return "unix:" + folder_ + "/native";
}

namespace {

// The arguments of a null sink: float, 44.1 kHz stereo, so what is played is heard sample for
// sample; described as "<name> output".
std::string NullSinkArguments(const std::string& sink) {
    return "sink_name=" + sink +
           " format=float32le rate=44100 channels=2"
           " sink_properties='device.description=\"" +
           sink + " output\"'";
}

// What a command prints, or "" when it fails.
std::string OutputOf(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, n);
        if (pclose(pipe) != 0) output.clear();
    }
    return output;
}

} // namespace

bool SoundServer::AddSink(const std::string& sink) const {
    return Control({"load-module", "module-null-sink", NullSinkArguments(sink)}) == 0;
}

bool SoundServer::RemoveSink(const std::string& sink) const {
    // pactl's short list: index, name, arguments, separated by tabs.
    const std::string modules =
        OutputOf("PULSE_SERVER=" + address() + " pactl list short modules");
    for (size_t at = 0; at < modules.size();) {
        const size_t end = std::min(modules.find('\n', at), modules.size());
        const std::string line = modules.substr(at, end - at);
        at = end + 1;
        if (line.find("\tmodule-null-sink\t") == std::string::npos ||
            line.find("sink_name=" + sink + " ") == std::string::npos)
            continue;
        return Control({"unload-module", line.substr(0, line.find('\t'))}) == 0;
    }
    return false;
}

bool SoundServer::Start() {
    if (pid_ > 0) return true;
    std::vector<std::string> argv = {"pulseaudio",        "-n",
                                     "--daemonize=no",    "--exit-idle-time=-1",
                                     "--use-pid-file=no", "--system=no"};
    // The sinks first: once the socket answers, they are there.
    for (const std::string& sink : sinks_)
        argv.push_back("--load=module-null-sink " + NullSinkArguments(sink));
    argv.push_back("--load=module-native-protocol-unix auth-anonymous=1 socket=" + folder_ +
                   "/native");
    // Its own folders, and no display: as root under a test's X server it would try to start a
    // session bus there.
    pid_ = Spawn(argv,
                 {"XDG_RUNTIME_DIR=" + folder_, "HOME=" + folder_,
                  "DISPLAY=", "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=disabled:"},
                 folder_ + "/server.log");
    if (pid_ < 0) {
        std::fprintf(stderr, "sound server: pulseaudio could not be started\n");
        return false;
    }
    setenv("PULSE_SERVER", address().c_str(), 1);
    for (int i = 0; i < 1000; ++i) {
        if (Answers(folder_ + "/native")) return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) break;
        std::this_thread::sleep_for(10ms);
    }
    std::fprintf(stderr, "sound server: pulseaudio did not answer; its log is %s/server.log\n",
                 folder_.c_str());
    Kill();
    return false;
}

void SoundServer::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

int SoundServer::Control(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(argv, {"PULSE_SERVER=" + address()});
}

bool SoundServer::SetDefaultSink(const std::string& sink) const {
    return Control({"set-default-sink", sink}) == 0;
}

pid_t SoundServer::Play(const std::string& file, const std::string& sink) const {
    return Spawn({"paplay", "--device=" + sink, file}, {"PULSE_SERVER=" + address()},
                 folder_ + "/player.log");
}

void SoundServer::StopPlaying(pid_t player) {
    if (player <= 0) return;
    kill(player, SIGKILL);
    waitpid(player, nullptr, 0);
}

SilentServer::SilentServer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vormel-silent-XXXXXX").string();
    if (!mkdtemp(pattern.data()) || pipe2(wake_, O_CLOEXEC) != 0) return;
    folder_ = pattern;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    (folder_ + "/native").copy(address.sun_path, sizeof address.sun_path - 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0) {
        if (listener_ >= 0) close(listener_);
        listener_ = -1;
        return;
    }
    thread_ = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents) return;
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard<std::mutex> guard(lock_);
            if (connection >= 0) held_.push_back(connection);
        }
    });
}

SilentServer::~SilentServer() {
    if (thread_.joinable()) {
        const char byte = 0;
        (void)!write(wake_[1], &byte, 1);
        thread_.join();
    }
    for (int fd : held_)
        close(fd);
    for (int fd : {listener_, wake_[0], wake_[1]})
        if (fd >= 0) close(fd);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

int SilentServer::accepted() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(held_.size());
}
