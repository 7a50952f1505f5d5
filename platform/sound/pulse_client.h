// One connection to the sound server through libpulse, used from one thread: its own main loop,
// and the few questions the recording side asks (the default output's monitor, a source's
// description, the list of sources), each answered by running the loop until the answer comes.
// PulseAudio and PipeWire's pulse server both speak it.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace sound {

// Tests only: runs at the start of every wait of Spin, on the waiting thread, before the loop
// prepares the wait. A stop requested from here is one that lands just before the wait begins.
inline void (*gBeforeSpinWait)() = nullptr;

// How often a stream's timing is asked of the server: often enough to follow a change of output
// or of its latency within a frame or so, at the cost of one small message.
constexpr std::chrono::milliseconds kTimingEvery{100};

// The steady clock's reading, in nanoseconds, when a timing of the server (stamped on the wall
// clock, as libpulse stamps its pa_timing_info) was current.
int64_t SteadyTimeOf(const timeval& stamp);

struct SourceEntry {
    std::string name;
    std::string description;
    bool monitor = false; // the monitor of an output: what that output plays
};

class PulseClient {
  public:
    // stop, when not null, ends every wait as soon as it is set (and Wake is called).
    explicit PulseClient(const std::atomic<bool>* stop = nullptr);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Connects to the server the environment names (PULSE_SERVER, or the user's own) without
    // starting one. False, with the reason in *why, when none answers within the patience.
    bool Connect(std::string* why);
    bool Connected() const;
    // Why the connection failed or ended, in libpulse's words.
    std::string Error() const;
    pa_context* context() const { return context_; }

    // Runs the loop once: waits at most timeout for something to happen, then handles it.
    void Spin(std::chrono::microseconds timeout);
    // Any thread: ends the wait of the Spin under way.
    void Wake();

    // From now on changes of the server (its default output, say) and sources that come or go
    // set *changed.
    void WatchServer(std::atomic<bool>* changed);
    // The source that plays back what the default output plays; false when there is no default
    // output or the connection fails.
    bool DefaultMonitor(std::string* monitor);
    // False when there is no such source.
    bool Describe(const std::string& source, std::string* description);
    bool ListSources(std::vector<SourceEntry>* sources);

  private:
    // Spins until done() holds; false when the connection fails, stop is set or an answer is
    // overdue.
    template <typename Done> bool RunUntil(Done done);
    // Waits for the operation's answer and lets it go.
    bool Await(pa_operation* operation);

    const std::atomic<bool>* stop_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

} // namespace sound
