// In step with what is heard: how long after a sound is heard the first frame that shows it is
// presented. A private sound server (the tests' own, with a null sink) plays bursts of a tone, each
// at its own loudness so that every burst can be told apart; the benchmark captures the sink's
// monitor and reads, with the server's own timing of that capture (where the output's play position
// is at a moment), when each burst is heard. The program runs on a private X server and writes its
// level trace (VORMEL_LEVEL_TRACE: when each frame read the level, when it was presented, what it
// read); the first frame that reads a burst's loudness is the one that shows it.
//
// Cases: the program listening while paplay plays the bursts into an output that holds them 371 ms
// before they are heard (a large sink latency, as Bluetooth's), with its default buffering into a
// null sink, and with --latency-msec=20 (a small one); the program playing the bursts itself, into
// the null sink and into the slow output; and listening with a small latency and VORMEL_DELAY=100
// (what --delay 100 says, given in the environment so that a build without the option measures
// the same case).
//
//   build/bench/bench_sync [SECONDS] [pulseaudio|pipewire]
//
// Prints, for each case, the median offset (frame shown - sound heard), its spread and how many
// bursts were matched.
#include "support/sound_fixtures.h"
#include "support/sound_server.h"
#include "support/xvfb.h"

#include <pulse/pulseaudio.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kRate = 44100;
constexpr int kBursts = 8;           // loudnesses before they repeat
constexpr double kSpacing = 0.613;   // seconds between bursts: no whole number of frames
constexpr double kBurstLength = 0.06;
// Burst k has amplitude 0.2 + 0.1 k, so the levels read are 0.1 * 32768 apart.
double Amplitude(int k) {
    return 0.2 + 0.1 * k;
}

double MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double RealtimeMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The bursts, as a float WAV of the given length.
bool WriteBursts(const std::string& path, double seconds) {
    const auto frames = static_cast<size_t>(seconds * kRate);
    std::vector<float> samples(2 * frames, 0.0f);
    for (int n = 0; (n + 1) * kSpacing < seconds; ++n) {
        const auto start = static_cast<size_t>((n + 0.5) * kSpacing * kRate);
        const double amplitude = Amplitude(n % kBursts);
        for (size_t i = 0; i < static_cast<size_t>(kBurstLength * kRate); ++i)
            samples[2 * (start + i)] = samples[2 * (start + i) + 1] =
                static_cast<float>(amplitude * std::sin(2 * M_PI * 441.0 * i / kRate));
    }
    return WriteSamples(path, samples);
}

// A burst as the output plays it: when it is heard, on the monotonic clock, and how loud.
struct Heard {
    double ms;
    double amplitude;
};

// Captures the sink's monitor and tells when each burst is heard: the capture's position heard at a
// moment comes from the server's timing of the stream (what it has captured, less the sink's own
// latency), asked for ten times a second. Nothing is asked of the server's latency settings.
class Listener {
  public:
    explicit Listener(const std::string& monitor) : monitor_(monitor) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Listener() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Heard> Bursts() {
        std::lock_guard<std::mutex> guard(lock_);
        return heard_;
    }
    bool ready() const { return ready_.load(); }

  private:
    static void OnRead(pa_stream* stream, size_t, void* user) {
        auto* self = static_cast<Listener*>(user);
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
            self->Take(static_cast<const float*>(data), bytes / 8);
            pa_stream_drop(stream);
        }
    }
    static void OnTiming(pa_stream* stream, int success, void* user) {
        auto* self = static_cast<Listener*>(user);
        const pa_timing_info* info = success ? pa_stream_get_timing_info(stream) : nullptr;
        if (!info || info->write_index_corrupt) return;
        const double age = RealtimeMs() - (static_cast<double>(info->timestamp.tv_sec) * 1e3 +
                                           static_cast<double>(info->timestamp.tv_usec) / 1e3);
        self->snapMs_ = MonotonicMs() - age;
        const double usec = static_cast<double>(info->source_usec) +
                            static_cast<double>(info->transport_usec) -
                            static_cast<double>(info->sink_usec);
        self->snapFrame_ = static_cast<double>(info->write_index) / 8 + usec * kRate / 1e6;
    }
    void Take(const float* frames, size_t count) {
        for (size_t i = 0; i < count; ++i, ++position_) {
            const float value = frames ? std::fabs(frames[2 * i]) : 0.0f;
            if (onset_ >= 0 && position_ - onset_ < static_cast<int64_t>(0.02 * kRate)) {
                peak_ = std::max(peak_, value);
                if (position_ - onset_ == static_cast<int64_t>(0.02 * kRate) - 1) Record();
            } else if (value > 0.05f && quiet_ > kRate / 10 && snapMs_ > 0) {
                onset_ = position_;
                peak_ = value;
            }
            quiet_ = value > 0.05f ? 0 : quiet_ + 1;
        }
    }
    void Record() {
        const double ms = snapMs_ + (static_cast<double>(onset_) - snapFrame_) * 1000.0 / kRate;
        std::lock_guard<std::mutex> guard(lock_);
        heard_.push_back({ms, peak_});
        onset_ = -1;
    }
    void Run() {
        pa_mainloop* loop = pa_mainloop_new();
        pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "bench_sync");
        pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        pa_stream* stream = nullptr;
        double nextTiming = 0;
        while (!stop_) {
            pa_mainloop_iterate(loop, 0, nullptr);
            if (!stream && pa_context_get_state(context) == PA_CONTEXT_READY) {
                const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 2};
                stream = pa_stream_new(context, "bench_sync monitor", &spec, nullptr);
                pa_stream_set_read_callback(stream, OnRead, this);
                pa_buffer_attr attr{};
                std::memset(&attr, 0xFF, sizeof attr);
                attr.fragsize = 256 * 8;
                pa_stream_connect_record(stream, monitor_.c_str(), &attr, PA_STREAM_DONT_MOVE);
            }
            if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
                ready_ = true;
                if (MonotonicMs() >= nextTiming) {
                    if (pa_operation* o = pa_stream_update_timing_info(stream, OnTiming, this))
                        pa_operation_unref(o);
                    nextTiming = MonotonicMs() + 100;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
        if (stream) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        pa_context_disconnect(context);
        pa_context_unref(context);
        pa_mainloop_free(loop);
    }

    std::string monitor_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ready_{false};
    std::thread thread_;
    // Capture thread only.
    int64_t position_ = 0;
    int64_t onset_ = -1;
    int64_t quiet_ = 0;
    float peak_ = 0;
    double snapMs_ = 0;
    double snapFrame_ = 0;
    std::mutex lock_;
    std::vector<Heard> heard_;
};

std::string ProgramPath() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/')) + "/../vormel";
}

struct TraceLine {
    double readMs, shownMs;
    int left;
};

std::vector<TraceLine> ReadTrace(const std::string& path) {
    std::vector<TraceLine> lines;
    std::ifstream in(path);
    TraceLine line{};
    int right = 0;
    while (in >> line.readMs >> line.shownMs >> line.left >> right)
        lines.push_back(line);
    return lines;
}

struct Result {
    double median = 0, low = 0, high = 0;
    size_t matched = 0, bursts = 0;
};

// Each burst heard after the first two seconds, matched with the first frame that reads its
// loudness (within a twentieth of full scale) no earlier than 3 s before and no later than 1 s
// after it is heard; the offsets' median and middle half.
Result Offsets(const std::vector<Heard>& heard, const std::vector<TraceLine>& trace) {
    Result result;
    std::vector<double> offsets;
    const double start = heard.empty() ? 0 : heard.front().ms + 2000;
    for (const Heard& burst : heard) {
        if (burst.ms < start) continue;
        ++result.bursts;
        const int level = static_cast<int>(std::lrint(burst.amplitude * 32768));
        for (const TraceLine& frame : trace) {
            if (frame.readMs < burst.ms - 3000) continue;
            if (frame.readMs > burst.ms + 1000) break;
            if (std::abs(frame.left - level) < 32768 / 20) {
                offsets.push_back(frame.shownMs - burst.ms);
                break;
            }
        }
    }
    result.matched = offsets.size();
    if (offsets.empty()) return result;
    std::sort(offsets.begin(), offsets.end());
    result.median = offsets[offsets.size() / 2];
    result.low = offsets[offsets.size() / 4];
    result.high = offsets[offsets.size() * 3 / 4];
    return result;
}

struct Case {
    const char* name;
    const char* sink;    // the default output while the case runs
    const char* player;  // paplay's latency option, "" for its default, null: the program plays
    const char* delay;   // VORMEL_DELAY, or null
    const char* goal;
};

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 15;
    const bool pipewire = argc > 2 && std::string(argv[2]) == "pipewire";
    ScratchFolder folder;
    const std::string bursts = folder.Path("bursts.wav");
    if (!WriteBursts(bursts, seconds + 3)) return 1;
    SoundServer server({"speakers"}, pipewire ? SoundServer::Kind::PipeWire
                                              : SoundServer::Kind::PulseAudio);
    if (!server.Start()) return 1;
    XServer display;
    if (!display.running()) return 1;

    // The first case plays on an output that keeps its latency however it is listened to, as
    // Bluetooth headphones do; a null sink shortens its own to suit the quickest reader of its
    // monitor, so on it the next case's default buffering leaves little latency to make up.
    const bool slow = !pipewire && server.AddSlowSink("bluetooth");
    const Case cases[] = {
        {"listening, an output 371 ms behind, paplay", "bluetooth", "", nullptr,
         "-10 to +35 ms"},
        {"listening, paplay with its default buffering", "speakers", "", nullptr,
         "-10 to +35 ms"},
        {"listening, paplay --latency-msec=20", "speakers", "--latency-msec=20", nullptr,
         "-10 to +35 ms"},
        {"playing the bursts itself", "speakers", nullptr, nullptr, "-10 to +35 ms"},
        {"playing them into the output 371 ms behind", "bluetooth", nullptr, nullptr,
         "-10 to +35 ms"},
        {"listening, --latency-msec=20, VORMEL_DELAY=100", "speakers", "--latency-msec=20",
         "100", "90 to 135 ms"},
    };
    std::printf("frame shown - sound heard, %.0f s of bursts a case, %s:\n", seconds,
                pipewire ? "PipeWire's pulse server" : "PulseAudio");
    for (const Case& c : cases) {
        if (std::string(c.sink) == "bluetooth" && !slow) {
            std::printf("  %-48s (no output that keeps its latency on this server)\n", c.name);
            continue;
        }
        server.SetDefaultSink(c.sink);
        const std::string trace = folder.Path(std::string("trace-") + std::to_string(&c - cases));
        std::vector<std::string> settings = {
            "DISPLAY=" + std::string(display.display()), "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=",
            "SDL_AUDIODRIVER=", "PULSE_SERVER=" + server.address(),
            "VORMEL_LEVEL_TRACE=" + trace, std::string("VORMEL_DELAY=") + (c.delay ? c.delay : "")};
        std::vector<std::string> args = {ProgramPath()};
        if (c.player) args.push_back("--listen");
        else args.push_back(bursts);
        Listener listener(std::string(c.sink) + ".monitor");
        while (!listener.ready())
            std::this_thread::sleep_for(10ms);
        const pid_t program = StartProgram(args, settings, "/dev/null", true);
        std::this_thread::sleep_for(2s); // the window up and drawing
        pid_t player = -1;
        if (c.player)
            player = server.Play(bursts, c.sink,
                                 *c.player ? std::vector<std::string>{c.player}
                                           : std::vector<std::string>{});
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
        SoundServer::StopPlaying(player);
        EndProgram(program, SIGTERM, true);
        const Result r = Offsets(listener.Bursts(), ReadTrace(trace));
        std::printf("  %-48s median %+7.1f ms  (middle half %+.1f to %+.1f; %zu of %zu bursts)"
                    "  goal %s\n",
                    c.name, r.median, r.low, r.high, r.matched, r.bursts, c.goal);
        std::fflush(stdout);
    }
    return 0;
}
