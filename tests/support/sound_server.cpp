#include "support/sound_server.h"

#include <algorithm>
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

bool OnPath(const char* program) {
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

pid_t StartProgram(const std::vector<std::string>& argv, const std::vector<std::string>& settings,
                   const std::string& log, bool ownGroup) {
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
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

void EndProgram(pid_t pid, int signal, bool ownGroup) {
    if (pid <= 0) return;
    kill(ownGroup ? -pid : pid, signal);
    waitpid(pid, nullptr, 0);
}

int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& settings) {
    const pid_t pid = StartProgram(argv, settings);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SoundServer::SoundServer(std::vector<std::string> sinks, Kind kind)
    : sinks_(std::move(sinks)), kind_(kind) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vormel-pulse-XXXXXX").string();
    if (mkdtemp(pattern.data())) folder_ = pattern; // mkdtemp makes it 0700
}

SoundServer::~SoundServer() {
    stopReaders_ = true;
    for (std::thread& reader : readers_)
        reader.join();
    // The whole group: PipeWire's programs and their bus go with the session.
    EndProgram(pid_, SIGTERM, true);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

bool SoundServer::Available(Kind kind) {
    if (kind == Kind::PulseAudio) return OnPath("pulseaudio");
    return OnPath("pipewire") && OnPath("wireplumber") && OnPath("pipewire-pulse") &&
           OnPath("dbus-run-session");
}

const char* SoundServer::Name(Kind kind) {
    return kind == Kind::PulseAudio ? "PulseAudio" : "PipeWire";
}

std::string SoundServer::SocketPath() const {
    return folder_ + (kind_ == Kind::PulseAudio ? "/native" : "/pulse/native");
}

std::string SoundServer::address() const {
    return "unix:" + SocketPath();
}

bool SoundServer::Start() {
    if (pid_ > 0) return true;
    if (!(kind_ == Kind::PulseAudio ? StartPulseAudio() : StartPipeWire())) return false;
    setenv("PULSE_SERVER", address().c_str(), 1);
    for (int i = 0; i < 1000; ++i) {
        if (Answers(SocketPath())) break;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) i = 1000;
        std::this_thread::sleep_for(10ms);
    }
    bool ready = Answers(SocketPath());
    // PipeWire's sinks are made once its pulse server answers, as a user's own would be.
    if (ready && kind_ == Kind::PipeWire) {
        for (const std::string& sink : sinks_)
            ready = ready && AddSink(sink);
        ready = ready && !sinks_.empty() && SetDefaultSink(sinks_.front());
    }
    if (ready) return true;
    std::fprintf(stderr, "sound server: %s did not answer; its log is %s/server.log\n",
                 Name(kind_), folder_.c_str());
    Kill();
    return false;
}

bool SoundServer::StartPulseAudio() {
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
    pid_ = StartProgram(argv,
                        {"XDG_RUNTIME_DIR=" + folder_, "HOME=" + folder_, "DISPLAY=",
                         "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=disabled:"},
                        folder_ + "/server.log", true);
    if (pid_ < 0) std::fprintf(stderr, "sound server: pulseaudio could not be started\n");
    return pid_ > 0;
}

// As a user's services start them: the graph, its session manager and the pulse server, on a bus
// of their own, every folder they keep things in inside ours.
bool SoundServer::StartPipeWire() {
    // The graph at the sinks' own rate: played and heard sample for sample, as with pulseaudio.
    const std::string drop = folder_ + "/config/pipewire/pipewire.conf.d";
    std::error_code error;
    std::filesystem::create_directories(drop, error);
    if (FILE* conf = std::fopen((drop + "/rate.conf").c_str(), "w")) {
        std::fputs("context.properties = { default.clock.rate = 44100 }\n", conf);
        std::fclose(conf);
    }
    const std::string script = "pipewire & sleep 0.2; wireplumber & pipewire-pulse & wait";
    pid_ = StartProgram({"dbus-run-session", "--", "sh", "-c", script},
                        {"XDG_RUNTIME_DIR=" + folder_, "HOME=" + folder_,
                         "XDG_CONFIG_HOME=" + folder_ + "/config",
                         "XDG_STATE_HOME=" + folder_ + "/state",
                         "XDG_DATA_HOME=" + folder_ + "/data", "DISPLAY=", "WAYLAND_DISPLAY=",
                         "PULSE_SERVER=", "PIPEWIRE_REMOTE=", "DBUS_SESSION_BUS_ADDRESS="},
                        folder_ + "/server.log", true);
    if (pid_ < 0) std::fprintf(stderr, "sound server: PipeWire could not be started\n");
    return pid_ > 0;
}

void SoundServer::Kill() {
    if (pid_ <= 0) return;
    EndProgram(pid_, SIGKILL, true);
    pid_ = -1;
}

int SoundServer::Control(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const pid_t pid = StartProgram(argv, {"PULSE_SERVER=" + address()}, "/dev/null");
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool SoundServer::SetDefaultSink(const std::string& sink) const {
    return Control({"set-default-sink", sink}) == 0;
}

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

bool SoundServer::AddSlowSink(const std::string& sink) {
    if (kind_ != Kind::PulseAudio) return false;
    if (OutputOf("PULSE_SERVER=" + address() + " pactl list short sinks").find("\t" + sink + "\t") !=
        std::string::npos)
        return true;
    const std::string fifo = folder_ + "/" + sink + ".pipe";
    if (Control({"load-module", "module-pipe-sink", "sink_name=" + sink, "file=" + fifo,
                 "format=s16le", "rate=44100", "channels=2",
                 "sink_properties='device.description=\"" + sink + " output\"'"}) != 0)
        return false;
    const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    unlink(fifo.c_str()); // the sink and the reader share the pipe; a restarted server makes its own
    readers_.emplace_back([this, fd] {
        constexpr int64_t kBytesPerSecond = 44100 * 4;
        std::vector<char> drain(kBytesPerSecond / 10);
        const auto start = std::chrono::steady_clock::now();
        int64_t taken = 0;
        while (!stopReaders_) {
            std::this_thread::sleep_for(2ms);
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            const auto due = static_cast<int64_t>(elapsed.count() * kBytesPerSecond) / 4 * 4;
            while (taken < due) {
                const auto want = static_cast<size_t>(
                    std::min<int64_t>(due - taken, static_cast<int64_t>(drain.size())));
                const ssize_t got = read(fd, drain.data(), want);
                if (got <= 0) {
                    taken = due; // an empty pipe is a card playing silence
                    break;
                }
                taken += got;
            }
        }
        close(fd);
    });
    return true;
}

pid_t SoundServer::Play(const std::string& file, const std::string& sink,
                        const std::vector<std::string>& options) const {
    std::vector<std::string> argv = {"paplay", "--device=" + sink};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(file);
    return StartProgram(argv, {"PULSE_SERVER=" + address()}, folder_ + "/player.log");
}

void SoundServer::StopPlaying(pid_t player) {
    EndProgram(player, SIGKILL);
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
