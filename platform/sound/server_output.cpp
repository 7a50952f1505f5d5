#include "platform/sound/server_output.h"

#include "platform/sound/audio_log.h"
#include "platform/sound/level_meter.h"
#include "platform/sound/pulse_client.h"
#include "platform/sound/retry_waits.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr size_t kFrameBytes = kSamplesPerFrame * sizeof(float);
// What the stream keeps queued at the server: enough that a busy machine never starves it. The
// level is delayed by whatever the server holds, so a longer buffer costs the picture nothing.
constexpr uint32_t kTargetFrames = kOutputRate * 40 / 1000;

void OnWritable(pa_stream* stream, size_t bytes, void* user) {
    static_cast<ServerOutput*>(user)->Write(stream, bytes);
}

void OnTiming(pa_stream* stream, int success, void* user) {
    if (success) static_cast<ServerOutput*>(user)->TakeTiming(pa_stream_get_timing_info(stream));
}

} // namespace

ServerOutput::Verdict ServerOutput::Start(Mixer* mixer, int64_t delay,
                                          std::chrono::milliseconds patience) {
    Stop();
    mixer_ = mixer;
    delay_ = delay;
    stopping_.store(false);
    paced_.Rearm();
    {
        std::lock_guard<std::mutex> guard(lock_);
        verdict_ = Verdict::Waiting;
        answered_ = false;
    }
    thread_ = std::thread([this] { Run(); });
    std::unique_lock<std::mutex> guard(lock_);
    told_.wait_for(guard, patience, [this] { return answered_; });
    // Nobody waits for a later answer: from now on the thread carries on whatever it finds.
    answered_ = true;
    const Verdict verdict = verdict_;
    guard.unlock();
    if (verdict == Verdict::NoServer) thread_.join();
    return verdict;
}

void ServerOutput::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_.store(true);
        if (client_) client_->Wake();
    }
    paced_.Stop();
    thread_.join();
}

void ServerOutput::Tell(Verdict verdict) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (answered_) return;
        verdict_ = verdict;
        answered_ = true;
    }
    told_.notify_all();
}

// Sessions one after the other; between them, the channels go on at the pace of real time.
void ServerOutput::Run() {
    RetryWaits waits;
    bool told = false;
    while (!stopping_.load()) {
        const bool played = Session();
        if (played) {
            waits.Reset();
            told = false;
        }
        if (stopping_.load()) return;
        // No server at the first try, while someone waits for the answer: that is the answer.
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!answered_) {
                verdict_ = Verdict::NoServer;
                answered_ = true;
                told_.notify_all();
                return;
            }
        }
        if (!told)
            std::fprintf(stderr, "vormel: no sound: the sound server %s; trying again\n",
                         played ? "went away" : "does not answer");
        told = true;
        paced_.Run(mixer_, Clock::now() + waits.Next(), delay_);
    }
}

bool ServerOutput::Session() {
    PulseClient client(&stopping_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_.load()) return false;
        client_ = &client;
    }
    std::string why;
    const bool connected = client.Connect(&why);
    if (connected) Tell(Verdict::Playing);
    pa_stream* stream = nullptr;
    if (connected) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(kOutputRate),
                                  static_cast<uint8_t>(kSamplesPerFrame)};
        stream = pa_stream_new(client.context(), "Vormel", &spec, nullptr);
    }
    if (stream) {
        written_ = 0;
        timed_ = false;
        pa_stream_set_write_callback(stream, OnWritable, this);
        pa_buffer_attr attr{};
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
        attr.tlength = kTargetFrames * kFrameBytes;
        if (pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                       nullptr) < 0) {
            pa_stream_unref(stream);
            stream = nullptr;
        }
    }
    auto nextTiming = Clock::now();
    LatencyLog log;
    while (stream && !stopping_.load() && client.Connected() &&
           PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        const auto now = Clock::now();
        if (pa_stream_get_state(stream) == PA_STREAM_READY && now >= nextTiming) {
            if (pa_operation* o = pa_stream_update_timing_info(stream, OnTiming, this))
                pa_operation_unref(o);
            nextTiming = now + kTimingEvery;
            if (timed_ && playing_) {
                const int64_t steady = SteadyNow();
                log.Note(WhenHeard(written_, steady) - steady, steady);
            }
        }
        client.Spin(std::chrono::duration_cast<std::chrono::microseconds>(kTimingEvery));
    }
    if (stream) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
    std::lock_guard<std::mutex> guard(lock_);
    client_ = nullptr;
    return connected;
}

// The server's request for more: mixed straight into its own buffer.
void ServerOutput::Write(pa_stream* stream, size_t bytes) {
    while (bytes >= kFrameBytes) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || !data || size < kFrameBytes) return;
        const size_t frames = size / kFrameBytes;
        mixer_->Mix(static_cast<float*>(data), frames, WhenHeard(written_, SteadyNow()));
        if (pa_stream_write(stream, data, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        written_ += static_cast<int64_t>(frames);
        bytes -= std::min(bytes, frames * kFrameBytes);
    }
}

// Where the stream's sound is heard, as the server said at a moment: what it has played from the
// stream, less what the output still holds (its own latency and its port's offset), plus the
// time the answer took to come.
void ServerOutput::TakeTiming(const pa_timing_info* timing) {
    if (!timing || timing->read_index_corrupt) return;
    const double usec = static_cast<double>(timing->transport_usec) -
                        static_cast<double>(timing->sink_usec);
    heardFrame_ = static_cast<double>(timing->read_index) / kFrameBytes + usec * kOutputRate / 1e6;
    timedAt_ = SteadyTimeOf(timing->timestamp);
    playing_ = timing->playing != 0;
    timed_ = true;
}

int64_t ServerOutput::WhenHeard(int64_t frame, int64_t now) const {
    int64_t heard = now;
    if (timed_) {
        // While the stream does not play (it fills up first), its sound waits where it is.
        const double heardNow =
            heardFrame_ + (playing_ ? static_cast<double>(now - timedAt_) * kOutputRate / 1e9 : 0);
        heard = now + std::llround((static_cast<double>(frame) - heardNow) * 1e9 / kOutputRate);
    }
    return std::max(heard + delay_, now);
}

} // namespace sound
