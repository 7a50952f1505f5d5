#include "support/program.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;

Program::Program(const std::string& executable, const std::vector<std::string>& displayEnv,
                 const std::vector<std::string>& args, const std::vector<std::string>& env) {
    const bool keepDisplay = displayEnv.size() == 1 && displayEnv[0].empty();
    errors_ =
        std::filesystem::temp_directory_path() /
        ("vormel-stderr-" + std::to_string(getpid()) + "-" + std::to_string(++count_) + ".txt");
    std::vector<std::string> entries = env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const bool isDisplay = entry.rfind("DISPLAY=", 0) == 0 ||
                               entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                               entry.rfind("SDL_VIDEODRIVER=", 0) == 0;
        if (!keepDisplay && isDisplay) continue;
        entries.push_back(entry);
    }
    if (!keepDisplay) entries.insert(entries.end(), displayEnv.begin(), displayEnv.end());
    entries.push_back("SDL_AUDIODRIVER=dummy");
    std::vector<char*> envp;
    for (std::string& e : entries)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = {executable};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    outputs_ = errors_.string() + ".out";
    posix_spawn_file_actions_addopen(&actions, 1, outputs_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    // A group of its own, so that whatever it started ends with it: a child that outlived it
    // would hold what it inherited, the single-instance name among them, into later tests.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    if (posix_spawn(&pid_, executable.c_str(), &actions, &attributes, argv.data(), envp.data()) !=
        0)
        pid_ = 0;
    group_ = pid_;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
}

Program::~Program() {
    if (group_ > 0) kill(-group_, SIGKILL);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    std::filesystem::remove(errors_);
    std::filesystem::remove(outputs_);
}

void Program::Signal(int signal) const {
    kill(pid_, signal);
}

int Program::WaitForExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(20ms);
    }
    return -1;
}

std::string Program::Errors() const {
    std::ifstream in(errors_);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Program::Output() const {
    std::ifstream in(outputs_);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The lines the program wrote on standard error.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

double HeardFrequency(const std::string& recording) {
    std::ifstream in(recording, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    const size_t frames = bytes.size() / 8;
    if (frames < 44100) return 0;
    const float* samples = reinterpret_cast<const float*>(bytes.data());
    int crossings = 0;
    for (size_t i = frames - 44100 + 1; i < frames; ++i)
        crossings += (samples[2 * (i - 1)] < 0) != (samples[2 * i] < 0);
    return crossings / 2.0;
}
