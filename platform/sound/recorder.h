// One recording: a thread of its own connects to the sound server, captures the chosen source (or
// the monitor of the default output, following it when the default changes) and measures it with
// the same level meter a playing channel has, so the same loudness reads the same level whether it
// is played or heard. When the server or the chosen source is missing, or goes away, it says so
// once on stderr, reads silence, and tries again after 1 s, doubling the wait up to 30 s, until it
// is back; a source that appears meanwhile is captured at once. Nothing here waits on the server
// but the capture thread.
#pragma once

#include "platform/sound/audio_log.h"
#include "platform/sound/bass.h"
#include "platform/sound/level_meter.h"
#include "platform/sound/retry_waits.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct pa_stream;
struct pa_timing_info;

namespace sound {

class PulseClient;

// What a recording hears: the level of what was captured, as the sound reaches the ears (the
// capture of an output's monitor comes before the output plays it, by the output's latency), and
// silence once the source has sent nothing for a while (an output that went idle stops sending;
// what it sent last is not what is heard now). Times are steady-clock nanoseconds.
class HeardLevel {
  public:
    // Capture thread: stereo frames delivered at now; null frames are a gap, heard as silence.
    void Take(const float* stereo, size_t frames, int64_t now);
    // Capture thread: the frames taken so far, and when one of them is heard (as the server
    // said last; until it says, what is taken is heard at once).
    int64_t Taken() const { return meter_.Taken(); }
    void HeardAt(int64_t frame, int64_t heardAt) { meter_.HeardAt(frame, heardAt); }
    // Capture thread: when the last frame taken is heard.
    int64_t LastHeard() const { return lastHeard_.load(); }
    // Capture thread: what was measured before a trouble is not what is heard after it.
    void Forget();
    // Any thread: the level word of the last 20 ms heard at now.
    uint32_t PeakAt(int64_t now) const;

  private:
    LevelMeter meter_;
    std::atomic<int64_t> lastHeard_{0};
};

class Recorder {
  public:
    struct Settings {
        std::string source; // the server's name for it; empty: the default output's monitor
        int channels = 2;   // 1 or 2
        RECORDPROC* proc = nullptr;
        void* user = nullptr;
        HRECORD handle = 0;
    };

    explicit Recorder(Settings settings);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Any thread. The level word of the last 20 ms captured; silence when nothing arrives.
    uint32_t Peak() const;
    // Capturing now (connected, the source found), or waiting for the server or the source.
    bool Capturing() const { return capturing_.load(); }
    // The recording's proc asked it to end.
    bool Ended() const { return ended_.load(); }
    // The source being captured; false when none is.
    bool Source(std::string* name, std::string* description) const;
    bool OnCaptureThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Capture thread: what the server delivered (data null: a gap, heard as silence), and its
    // answer to where the stream is.
    void Take(const void* data, size_t bytes);
    void TakeTiming(pa_stream* stream, const pa_timing_info* timing);

  private:
    void Run();
    // One connection to the server, until it fails or the recording stops; true when it captured.
    bool Session(std::string* why);
    // Captures source, unless it is the one being captured.
    void Follow(PulseClient& client, const std::string& source);
    // The wait before the next try: 1 s after a success, doubling up to 30 s.
    std::chrono::seconds NextWait();
    void DropStream();
    void LogFragment() const;
    void Silence();
    void WaitBeforeRetry(std::chrono::seconds wait);
    void SetSource(const std::string& name, const std::string& description);

    const Settings settings_;
    HeardLevel level_;
    std::atomic<bool> capturing_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> serverChanged_{false};
    // Capture thread only: the stream and the source it captures, the next wait, and whether the
    // present trouble has been told on stderr.
    pa_stream* stream_ = nullptr;
    std::string streamSource_;
    RetryWaits waits_;
    bool told_ = false;
    // The frames taken before the stream began (its positions count from its own start), and the
    // user's correction of the latency, in nanoseconds.
    int64_t streamStart_ = 0;
    const int64_t delay_;
    LatencyLog latencyLog_;

    mutable std::mutex lock_; // guards what follows
    std::condition_variable wake_;
    PulseClient* client_ = nullptr; // the connection being used, to wake it
    std::string name_;
    std::string description_;

    std::thread thread_;
};

} // namespace sound
