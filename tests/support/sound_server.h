// A private sound server for one test process, in a runtime folder of its own: Debian's
// pulseaudio, or PipeWire as a desktop runs it (pipewire, wireplumber and pipewire-pulse in a
// session bus of their own), with null sinks to play into (float, 44.1 kHz stereo, so what is
// played is heard sample for sample). Either is reached through its pulse socket, which Start
// puts in PULSE_SERVER for this process and the programs it starts. It can be killed as a crash
// would end it, and started again at the same address.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

class SoundServer {
  public:
    enum class Kind { PulseAudio, PipeWire };

    // The sinks, by name; the first is the default output. Each is described as "<name> output",
    // its monitor as "Monitor of <name> output".
    explicit SoundServer(std::vector<std::string> sinks = {"speakers", "headphones"},
                         Kind kind = Kind::PulseAudio);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Whether this machine has what the kind needs (PipeWire's three programs and a session bus).
    static bool Available(Kind kind);
    static const char* Name(Kind kind);

    // Starts the server and waits until it answers and has its sinks; false, with the reason on
    // stderr, when it cannot.
    bool Start();
    // Ends it abruptly (SIGKILL), leaving its socket behind as a crash does.
    void Kill();
    bool running() const { return pid_ > 0; }
    Kind kind() const { return kind_; }
    // "unix:<folder>/..." : the value of PULSE_SERVER.
    std::string address() const;

    // pactl, with this server; its exit code.
    int Control(const std::vector<std::string>& arguments) const;
    bool SetDefaultSink(const std::string& sink) const;
    // A null sink that comes and goes, as a USB headset plugged in and pulled out.
    bool AddSink(const std::string& sink) const;
    bool RemoveSink(const std::string& sink) const;
    // An output that holds its sound a fixed time before it is heard, as Bluetooth headphones or
    // an HDMI receiver do, and which no listener can hurry (a null sink shortens its latency to
    // suit the quickest reader of its monitor): a pipe sink of 16-bit frames, whose full pipe
    // (64 KiB) is 371 ms, read at a sound card's pace by a thread of this object. PulseAudio only;
    // true when the server has it, already or now.
    static constexpr int kSlowSinkMs = 371;
    bool AddSlowSink(const std::string& sink);
    // paplay FILE into sink, in the background, with paplay's options; the player's process id,
    // or -1.
    pid_t Play(const std::string& file, const std::string& sink,
               const std::vector<std::string>& options = {}) const;
    static void StopPlaying(pid_t player);

  private:
    bool StartPulseAudio();
    bool StartPipeWire();
    std::string SocketPath() const;

    std::vector<std::string> sinks_;
    Kind kind_;
    std::string folder_;
    pid_t pid_ = -1;
    std::atomic<bool> stopReaders_{false};
    std::vector<std::thread> readers_; // of the slow sinks' pipes
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

// Starts argv (a program found on PATH) with extra "NAME=value" settings in its environment
// ("NAME=" removes NAME), its output sent to log ("" leaves it alone, "/dev/null" drops it); with
// ownGroup in a process group of its own, which EndProgram ends whole. Its process id, or -1.
pid_t StartProgram(const std::vector<std::string>& argv,
                   const std::vector<std::string>& settings = {}, const std::string& log = "",
                   bool ownGroup = false);
// Sends signal to what StartProgram started (its whole group when it has one) and waits for it.
void EndProgram(pid_t pid, int signal, bool ownGroup = false);
// Runs argv as StartProgram does and waits; its exit code, or -1 when it could not run or was
// killed.
int RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& settings = {});
