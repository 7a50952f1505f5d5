// Output through the sound server (PulseAudio, or PipeWire's pulse server) with libpulse, on a
// thread of ours. SDL 2.26 plays through the same servers but does not pass on how long a sample
// takes to be heard; the server tells that for our own stream (its buffer, the output's latency and
// the latency offset of the output's port), so the levels can be those of the sound being heard.
//
// The thread runs the mixer whenever the server asks for sound, telling it when the first frame of
// each pass will be heard. While no server answers, or after it went away, it keeps the channels
// going at the pace of real time, as the no-sound device does, says so once, and tries again after
// 1 s, 2 s, ... up to 30 s. The stream follows the default output when it changes.
#pragma once

#include "platform/sound/mixer.h"
#include "platform/sound/paced_mixing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct pa_stream;
struct pa_timing_info;

namespace sound {

class ServerOutput {
  public:
    enum class Verdict { Playing, NoServer, Waiting };

    ~ServerOutput() { Stop(); }
    // Starts the thread and waits at most patience for the server's first answer: Playing when it
    // answered, NoServer when none did (the thread has ended; another output is wanted), Waiting
    // when it has not answered yet (the thread goes on trying). delay is added to the latency the
    // server tells, in nanoseconds.
    Verdict Start(Mixer* mixer, int64_t delay, std::chrono::milliseconds patience);
    // On return the mixer is not running and will not run again from here.
    void Stop();

    // The server's stream: its write callback and its timing's answer.
    void Write(pa_stream* stream, size_t bytes);
    void TakeTiming(const pa_timing_info* timing);

  private:
    void Run();
    // One connection, until the server goes or the output stops; false when none was made.
    bool Session();
    void Tell(Verdict verdict);
    // When frame (counted as written) will be heard: the last timing, moved on at the pace of the
    // sound, plus the delay; never before now.
    int64_t WhenHeard(int64_t frame, int64_t now) const;

    Mixer* mixer_ = nullptr;
    int64_t delay_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    PacedMixing paced_;

    std::mutex lock_; // guards what follows
    std::condition_variable told_;
    Verdict verdict_ = Verdict::Waiting;
    bool answered_ = false;
    class PulseClient* client_ = nullptr; // the connection being used, to wake it

    // The output thread's own: frames written to the stream, and the server's timing of it (the
    // frame being heard at a moment, and whether the stream plays).
    int64_t written_ = 0;
    bool timed_ = false;
    int64_t timedAt_ = 0;
    double heardFrame_ = 0;
    bool playing_ = false;
};

} // namespace sound
