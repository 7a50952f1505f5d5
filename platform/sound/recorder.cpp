#include "platform/sound/recorder.h"

#include "platform/os/options.h"
#include "platform/sound/audio_log.h"
#include "platform/sound/pulse_client.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t kRate = 44100;
// Asked of the server for each delivery: about 5.8 ms, so a level is at most a frame or two behind
// what the output plays. The server may round it up.
constexpr uint32_t kFragmentFrames = 256;
// Longer than any gap between deliveries: no sound for this long is silence (the output went idle
// and the server stopped sending).
constexpr auto kQuietAfter = 100ms;
// While capturing, the loop wakes at least this often to see whether it is asked to stop.
constexpr auto kLongestSpin = 1s;

// Says, with the log on, how long the next wait is: a listener who wonders why nothing is heard
// learns when the next try comes.
void LogWait(std::chrono::seconds wait) {
    if (AudioLog())
        std::fprintf(stderr, "vormel: trying to listen again in %lld s\n",
                     static_cast<long long>(wait.count()));
}

void OnTiming(pa_stream* stream, int success, void* user) {
    if (success) static_cast<Recorder*>(user)->TakeTiming(stream, pa_stream_get_timing_info(stream));
}

void OnReadable(pa_stream* stream, size_t, void* user) {
    auto* recorder = static_cast<Recorder*>(user);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
        recorder->Take(data, bytes);
        pa_stream_drop(stream);
    }
}

} // namespace

void HeardLevel::Take(const float* stereo, size_t frames, int64_t now) {
    meter_.Take(stereo, frames);
    lastHeard_.store(std::max(now, meter_.WhenHeard(meter_.Taken())));
}

void HeardLevel::Forget() {
    lastHeard_.store(0);
}

// Quiet once the last sound taken has been heard for a while with nothing after it.
uint32_t HeardLevel::PeakAt(int64_t now) const {
    if (now - lastHeard_.load() > std::chrono::nanoseconds(kQuietAfter).count()) return 0;
    return meter_.PeakAt(now);
}

Recorder::Recorder(Settings settings)
    : settings_(std::move(settings)),
      delay_(int64_t{GetPlatformOptions().delayMs} * 1000000) {
    thread_ = std::thread([this] { Run(); });
}

Recorder::~Recorder() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_.store(true);
        if (client_) client_->Wake();
    }
    wake_.notify_all();
    thread_.join();
}

uint32_t Recorder::Peak() const {
    return level_.PeakAt(SteadyNow());
}

bool Recorder::Source(std::string* name, std::string* description) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (name_.empty()) return false;
    *name = name_;
    *description = description_;
    return true;
}

void Recorder::SetSource(const std::string& name, const std::string& description) {
    std::lock_guard<std::mutex> guard(lock_);
    name_ = name;
    description_ = description;
}

void Recorder::Take(const void* data, size_t bytes) {
    const size_t frameBytes = sizeof(float) * static_cast<size_t>(settings_.channels);
    const size_t frames = bytes / frameBytes;
    const auto* samples = static_cast<const float*>(data);
    const int64_t now = SteadyNow();
    if (settings_.channels == 2 || !samples) {
        level_.Take(samples, frames, now);
    } else {
        // The meter takes stereo: a mono source is heard the same on both sides.
        std::array<float, 2 * kFragmentFrames> stereo;
        for (size_t done = 0; done < frames;) {
            const size_t block = std::min<size_t>(frames - done, kFragmentFrames);
            for (size_t i = 0; i < block; ++i)
                stereo[2 * i] = stereo[2 * i + 1] = samples[done + i];
            level_.Take(stereo.data(), block, now);
            done += block;
        }
    }
    latencyLog_.Note(level_.LastHeard() - now, now);
    if (settings_.proc && samples && !ended_.load() &&
        !settings_.proc(settings_.handle, data, static_cast<DWORD>(frames * frameBytes),
                        settings_.user))
        ended_.store(true);
}

// What was measured before the trouble is not what is heard now.
void Recorder::Silence() {
    capturing_.store(false);
    level_.Forget();
}

std::chrono::seconds Recorder::NextWait() {
    const std::chrono::seconds wait = waits_.Next();
    LogWait(wait);
    return wait;
}

void Recorder::Run() {
    while (!stopping_.load() && !ended_.load()) {
        std::string why;
        const bool captured = Session(&why);
        Silence();
        SetSource("", "");
        if (stopping_.load() || ended_.load()) break;
        if (captured) {
            waits_.Reset();
            told_ = false;
        }
        if (!told_) std::fprintf(stderr, "vormel: cannot listen: %s; trying again\n", why.c_str());
        told_ = true;
        WaitBeforeRetry(NextWait());
    }
}

void Recorder::WaitBeforeRetry(std::chrono::seconds wait) {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait_for(guard, wait, [this] { return stopping_.load(); });
}

bool Recorder::Session(std::string* why) {
    PulseClient client(&stopping_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_.load()) return false;
        client_ = &client;
    }
    bool captured = false;
    if (!client.Connect(why)) {
        *why = "no sound server (" + *why + ")";
    } else {
        serverChanged_.store(true); // the first look
        client.WatchServer(&serverChanged_);
        auto retryAt = Clock::now();
        auto nextTiming = Clock::now();
        while (!stopping_.load() && !ended_.load() && client.Connected()) {
            const bool lost = stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
            if (lost) {
                DropStream();
                retryAt = Clock::now() + NextWait();
            }
            // A source waited for is looked for at each retry, and between them whenever it may
            // have come; only a retry that finds nothing lengthens the wait.
            const bool due = !stream_ && Clock::now() >= retryAt;
            if (serverChanged_.exchange(false) || due) {
                std::string source = settings_.source;
                if (source.empty() && !client.DefaultMonitor(&source)) source.clear();
                Follow(client, source);
                if (!stream_ && due) retryAt = Clock::now() + NextWait();
            }
            if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY &&
                Clock::now() >= nextTiming) {
                if (pa_operation* o = pa_stream_update_timing_info(stream_, OnTiming, this))
                    pa_operation_unref(o);
                nextTiming = Clock::now() + kTimingEvery;
            }
            if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY && !capturing_.load()) {
                capturing_.store(true);
                captured = true;
                told_ = false;
                waits_.Reset();
                LogFragment();
            }
            auto spin = std::chrono::duration_cast<std::chrono::microseconds>(
                stream_ ? kTimingEvery : kLongestSpin);
            if (!stream_)
                spin = std::clamp(
                    std::chrono::duration_cast<std::chrono::microseconds>(retryAt - Clock::now()),
                    std::chrono::microseconds(0), spin);
            client.Spin(spin);
        }
        *why = stopping_.load() ? "" : "the sound server went away (" + client.Error() + ")";
    }
    DropStream();
    std::lock_guard<std::mutex> guard(lock_);
    client_ = nullptr;
    return captured;
}

void Recorder::Follow(PulseClient& client, const std::string& source) {
    if (stream_ && source == streamSource_) return;
    DropStream();
    std::string description;
    if (source.empty() || !client.Describe(source, &description)) {
        if (!told_)
            std::fprintf(stderr, "vormel: cannot listen: %s; trying again\n",
                         source.empty() ? "the sound server has no output to listen to"
                                        : ("no source named " + source).c_str());
        told_ = true;
        return;
    }
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, static_cast<uint8_t>(settings_.channels)};
    stream_ = pa_stream_new(client.context(), "Vormel listening", &spec, nullptr);
    if (!stream_) return;
    pa_stream_set_read_callback(stream_, OnReadable, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = kFragmentFrames * static_cast<uint32_t>(pa_frame_size(&spec));
    // Never moved to another source behind our back (a microphone, say): following the default
    // output is done here, and a source that goes is tried again.
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE | PA_STREAM_DONT_INHIBIT_AUTO_SUSPEND);
    if (pa_stream_connect_record(stream_, source.c_str(), &attr, flags) < 0) {
        DropStream();
        return;
    }
    streamSource_ = source;
    streamStart_ = level_.Taken();
    SetSource(source, description);
    if (AudioLog())
        std::fprintf(stderr, "vormel: listening to %s (%s)\n", source.c_str(), description.c_str());
}

// With the log on, what the server granted of the small deliveries asked for.
void Recorder::LogFragment() const {
    if (!AudioLog()) return;
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_);
    const size_t frame = pa_frame_size(pa_stream_get_sample_spec(stream_));
    if (attr && frame > 0)
        std::fprintf(stderr, "vormel: capturing %s in fragments of %zu frames (asked %u)\n",
                     streamSource_.c_str(), attr->fragsize / frame, kFragmentFrames);
}

// Where the output is heard, as the server said at a moment: the monitor has captured up to the
// stream's write position, and the output plays that much later (its latency, its port's offset)
// what the monitor captures now; the answer took its transport time to come.
void Recorder::TakeTiming(pa_stream* stream, const pa_timing_info* timing) {
    // An answer about a stream since dropped says nothing of the one captured now.
    if (stream != stream_ || !timing || timing->write_index_corrupt) return;
    const size_t frame = pa_frame_size(pa_stream_get_sample_spec(stream));
    const double usec = static_cast<double>(timing->source_usec) +
                        static_cast<double>(timing->transport_usec) -
                        static_cast<double>(timing->sink_usec);
    const double heard =
        static_cast<double>(timing->write_index) / static_cast<double>(frame) + usec * kRate / 1e6;
    level_.HeardAt(streamStart_ + std::llround(heard), SteadyTimeOf(timing->timestamp) + delay_);
}

void Recorder::DropStream() {
    if (!stream_) return;
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    streamSource_.clear();
    SetSource("", "");
    Silence();
}

} // namespace sound
