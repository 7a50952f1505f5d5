// A private PulseAudio for one test process: Debian's pulseaudio in a runtime folder of its own,
// with null sinks to play into (float, 44.1 kHz stereo, so what is played is heard sample for
// sample), reached through PULSE_SERVER, which Start sets for this process and the programs it
// starts. It can be killed as a crash would end it, and started again at the same address.
#pragma once

#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

class SoundServer {
  public:
    // The sinks, by name; the first is the default output. Each is described as "<name> output",
    // its monitor as "Monitor of <name> output".
    explicit SoundServer(std::vector<std::string> sinks = {"speakers", "headphones"});
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Starts the server and waits until it answers; false, with the reason on stderr, when it
    // cannot (pulseaudio missing, say).
    bool Start();
    // Ends it abruptly (SIGKILL), leaving its socket behind as a crash does.
    void Kill();
    bool running() const { return pid_ > 0; }
    // "unix:<folder>/native": the value of PULSE_SERVER.
    std::string address() const;

    // pactl, with this server; its exit code.
    int Control(const std::vector<std::string>& arguments) const;
    bool SetDefaultSink(const std::string& sink) const;
    // A null sink that comes and goes, as a USB headset plugged in and pulled out.
    bool AddSink(const std::string& sink) const;
    bool RemoveSink(const std::string& sink) const;
    // paplay FILE into sink, in the background; the player's process id, or -1.
    pid_t Play(const std::string& file, const std::string& sink) const;
    static void StopPlaying(pid_t player);

  private:
    std::vector<std::string> sinks_;
    std::string folder_;
    pid_t pid_ = -1;
};

// A sound server that is wedged: a socket that accepts every connection and never says a word,
// as a hung server or an unreachable host does. Reached as PULSE_SERVER=address().
class SilentServer {
  public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    bool running() const { return listener_ >= 0; }
    std::string address() const { return "unix:" + folder_ + "/native"; }
    // Connections accepted so far.
    int accepted() const;

  private:
    std::string folder_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::vector<int> held_; // accepted and never answered
    mutable std::mutex lock_;
    std::thread thread_;
};

// Runs argv (a program found on PATH) with extra "NAME=value" settings in its environment;
// its exit code, or -1 when it could not run or was killed.
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& settings = {});
