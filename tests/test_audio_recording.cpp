// The audio library's recording side against a real sound server of the test's own: what it hears
// of tones played into null sinks, following the default output, losing and regaining the server,
// the list of sources, and handles that fail without harm.
#include "audio/level.h"
#include "audio/listening.h"
#include "audio/playback.h"
#include "platform/os/options.h"
#include "platform/sound/bass.h"
#include "platform/sound/level_meter.h"
#include "platform/sound/pulse_client.h"
#include "platform/sound/recorder.h"
#include "render/frame_render.h"
#include "support/sound_fixtures.h"
#include "support/sound_server.h"

#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Limits only turn a hang into a failure; nothing here measures speed. A server's return is seen
// after at most 1 + 2 + 4 + 8 s of waits.
constexpr auto kPatience = 30s;
constexpr DWORD kNoLevel = 0xFFFFFFFF;
// The sinks are float, at 100 %: a tone comes back sample for sample, and the level's rounding
// is all that may differ.
constexpr int kRounding = 2;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds patience = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

int Left(DWORD level) {
    return static_cast<int>(level & 0xFFFF);
}
int Right(DWORD level) {
    return static_cast<int>(level >> 16);
}
bool Near(DWORD level, int left, int right) {
    return level != kNoLevel && std::abs(Left(level) - left) <= kRounding &&
           std::abs(Right(level) - right) <= kRounding;
}
int Scaled(double amplitude) {
    return static_cast<int>(std::lrint(amplitude * 32768));
}
// The lines of text that begin with start.
std::vector<std::string> LinesStarting(const std::string& text, const std::string& start) {
    std::vector<std::string> lines;
    for (size_t at = 0; (at = text.find(start, at)) != std::string::npos; at += start.size())
        lines.push_back(text.substr(at, text.find('\n', at) - at));
    return lines;
}
// With the sound log on for one test.
class AudioLogOn {
  public:
    AudioLogOn() {
        PlatformOptions options = GetPlatformOptions();
        options.audioLog = true;
        SetPlatformOptions(options);
    }
    ~AudioLogOn() {
        PlatformOptions options = GetPlatformOptions();
        options.audioLog = false;
        SetPlatformOptions(options);
    }
};

// Each case runs against both sound servers a desktop may have: PulseAudio, and PipeWire's pulse
// server (which reports latencies its own way). A machine without PipeWire skips that half.
class Recording : public testing::TestWithParam<SoundServer::Kind> {
  protected:
    static void SetUpTestSuite() {
        UseDummyAudioDriver(); // the playback the program returns to needs no sound card
        folder_ = new ScratchFolder;
    }
    static void TearDownTestSuite() {
        for (SoundServer*& server : servers_) {
            delete server;
            server = nullptr;
        }
        delete folder_;
    }
    void SetUp() override {
        const SoundServer::Kind kind = GetParam();
        if (!SoundServer::Available(kind))
            GTEST_SKIP() << SoundServer::Name(kind) << " is not installed: its half is skipped";
        SoundServer*& server = servers_[static_cast<size_t>(kind)];
        if (!server) server = new SoundServer({"speakers", "headphones"}, kind);
        server_ = server;
        if (!server_->running()) {
            ASSERT_TRUE(server_->Start());
        }
        // Both servers run side by side; the library finds this one.
        setenv("PULSE_SERVER", server_->address().c_str(), 1);
        ASSERT_TRUE(server_->SetDefaultSink("speakers"));
    }
    void TearDown() override {
        SoundServer::StopPlaying(player_);
        BASS_RecordFree();
    }

    // A 441 Hz tone as long as any test listens, written once per pair of amplitudes.
    static std::string Tone(double left, double right) {
        const std::string path =
            folder_->Path("tone-" + std::to_string(left) + "-" + std::to_string(right) + ".wav");
        if (access(path.c_str(), F_OK) != 0) {
            Signal signal;
            signal.seconds = 40;
            signal.amplitudes = {left, right};
            EXPECT_TRUE(WriteSound(path, SoundFormat::WavFloat, signal));
        }
        return path;
    }
    void Play(const std::string& file, const std::string& sink) {
        SoundServer::StopPlaying(player_);
        player_ = server_->Play(file, sink);
        ASSERT_GT(player_, 0);
    }
    static HRECORD Listen(int device = -1, DWORD chans = 2) {
        EXPECT_TRUE(BASS_RecordInit(device));
        const HRECORD handle = BASS_RecordStart(44100, chans, BASS_SAMPLE_FLOAT, nullptr, nullptr);
        EXPECT_NE(handle, 0u);
        return handle;
    }
    // The suite's two null sinks, and "bluetooth", an output that holds its sound 371 ms and
    // cannot be hurried, where the server can have one (PulseAudio).
    static bool HasOutput(const std::string& sink) {
        return sink != "bluetooth" || server_->AddSlowSink(sink);
    }
    static std::string SourceName() {
        BASS_DEVICEINFO info{};
        return BASS_RecordGetSource(&info) ? info.name : "";
    }

    static inline std::array<SoundServer*, 2> servers_{};
    static inline SoundServer* server_ = nullptr;
    static inline ScratchFolder* folder_ = nullptr;
    pid_t player_ = -1;
};

INSTANTIATE_TEST_SUITE_P(Servers, Recording,
                         testing::Values(SoundServer::Kind::PulseAudio,
                                         SoundServer::Kind::PipeWire),
                         [](const testing::TestParamInfo<SoundServer::Kind>& info) {
                             return std::string(SoundServer::Name(info.param));
                         });

// Heard from the default output's monitor, a tone reads its peak on each side, as the same file
// played by the library does; a mono recording hears the two sides as the server mixes them;
// silence reads 0, and so does the end of the tone.
TEST_P(Recording, HearsTheDefaultOutputAsAPlayedFileReads) {
    // The server mixes the two sides down: PulseAudio takes their mean, PipeWire their sum at
    // -3 dB.
    const double mono = GetParam() == SoundServer::Kind::PulseAudio ? 0.375 : 0.75 / std::sqrt(2.0);
    struct Case {
        double left, right;
        DWORD chans;
        int heardLeft, heardRight;
    };
    const Case cases[] = {
        {0.5, 0.25, 2, Scaled(0.5), Scaled(0.25)},
        {1.0, 0.125, 2, 32768, Scaled(0.125)},
        {0.0, 0.0, 2, 0, 0},
        {0.5, 0.25, 1, Scaled(mono), Scaled(mono)},
    };
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << " " << c.right << " in " << c.chans << " ch");
        const std::string tone = Tone(c.left, c.right);
        const HRECORD recording = Listen(-1, c.chans);
        Play(tone, "speakers");
        EXPECT_TRUE(
            WaitFor([&] { return BASS_ChannelIsActive(recording) == BASS_ACTIVE_PLAYING; }));
        if (c.heardLeft == 0 && c.heardRight == 0) std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(WaitFor([&] {
            return Near(BASS_ChannelGetLevel(recording), c.heardLeft, c.heardRight);
        })) << std::hex
            << BASS_ChannelGetLevel(recording);
        EXPECT_EQ(SourceName(), "speakers.monitor");
        if (c.chans == 2) {
            const HSTREAM file = BASS_StreamCreateFile(FALSE, tone.c_str(), 0, 0, 0);
            ASSERT_TRUE(BASS_ChannelPlay(file, FALSE));
            std::this_thread::sleep_for(100ms); // past the first 20 ms of the file
            EXPECT_TRUE(Near(BASS_ChannelGetLevel(file), c.heardLeft, c.heardRight));
            BASS_StreamFree(file);
        }
        SoundServer::StopPlaying(player_);
        EXPECT_TRUE(WaitFor([&] { return BASS_ChannelGetLevel(recording) == 0; }));
        EXPECT_TRUE(BASS_RecordFree());
    }
    BASS_Free();
}

// Switching the default output moves the capture to the new output's monitor; a source chosen by
// number stays where it is.
TEST_P(Recording, FollowsTheDefaultOutputUnlessASourceWasChosen) {
    Play(Tone(0.5, 0.5), "headphones");
    const HRECORD following = Listen();
    ASSERT_TRUE(WaitFor([] { return SourceName() == "speakers.monitor"; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(BASS_ChannelGetLevel(following), 0u) << "the tone plays on the other output";

    ASSERT_TRUE(server_->SetDefaultSink("headphones"));
    EXPECT_TRUE(WaitFor([] { return SourceName() == "headphones.monitor"; }));
    EXPECT_TRUE(WaitFor([&] { return Near(BASS_ChannelGetLevel(following), 16384, 16384); }));
    BASS_DEVICEINFO info{};
    ASSERT_TRUE(BASS_RecordGetSource(&info));
    EXPECT_STREQ(info.description, "Monitor of headphones output");

    // The server may move streams that played on the old default along with it: the tone is
    // played again where it belongs before the next look.
    ASSERT_TRUE(server_->SetDefaultSink("speakers"));
    EXPECT_TRUE(WaitFor([] { return SourceName() == "speakers.monitor"; }));
    ASSERT_TRUE(BASS_RecordFree());
    Play(Tone(0.5, 0.5), "headphones");

    int headphones = -1;
    for (DWORD device = 0; BASS_RecordGetDeviceInfo(device, &info); ++device)
        if (std::string(info.name) == "headphones.monitor") headphones = static_cast<int>(device);
    ASSERT_GE(headphones, 0);
    const HRECORD fixed = Listen(headphones);
    EXPECT_TRUE(WaitFor([&] { return Near(BASS_ChannelGetLevel(fixed), 16384, 16384); }))
        << std::hex << BASS_ChannelGetLevel(fixed);
    EXPECT_EQ(SourceName(), "headphones.monitor");
}

// The list names every source with its description; the monitor of the default output is the
// default, and a server that has gone lists nothing.
TEST_P(Recording, ListsTheServersSources) {
    struct Expected {
        const char* name;
        const char* description;
        DWORD flags;
    };
    const Expected expected[] = {
        {"speakers.monitor", "Monitor of speakers output",
         BASS_DEVICE_ENABLED | BASS_DEVICE_LOOPBACK | BASS_DEVICE_DEFAULT},
        {"headphones.monitor", "Monitor of headphones output",
         BASS_DEVICE_ENABLED | BASS_DEVICE_LOOPBACK},
    };
    BASS_DEVICEINFO info{};
    DWORD count = 0;
    for (; BASS_RecordGetDeviceInfo(count, &info); ++count) {
        ASSERT_LT(count, std::size(expected));
        EXPECT_STREQ(info.name, expected[count].name);
        EXPECT_STREQ(info.description, expected[count].description);
        EXPECT_EQ(info.flags, expected[count].flags) << info.name;
    }
    EXPECT_EQ(count, std::size(expected));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);

    server_->Kill();
    EXPECT_FALSE(BASS_RecordGetDeviceInfo(0, &info));
    EXPECT_FALSE(BASS_RecordInit(0)) << "nothing listed, nothing to choose";
}

// The server killed while listening: one line on stderr, the level falls to 0 and never fails,
// the recording waits; the server back, listening resumes by itself. A recording started with no
// server at all waits the same way.
TEST_P(Recording, WaitsForTheServerAndResumes) {
    AudioLogOn log;
    testing::internal::CaptureStderr();
    const HRECORD recording = Listen();
    Play(Tone(0.5, 0.25), "speakers");
    EXPECT_TRUE(WaitFor([&] { return Near(BASS_ChannelGetLevel(recording), 16384, 8192); }));

    for (int outage = 0; outage < 2; ++outage) {
        SCOPED_TRACE(outage == 0 ? "lost while listening" : "lost again");
        server_->Kill();
        SoundServer::StopPlaying(player_);
        EXPECT_TRUE(
            WaitFor([&] { return BASS_ChannelIsActive(recording) == BASS_ACTIVE_STALLED; }));
        EXPECT_EQ(BASS_ChannelGetLevel(recording), 0u);
        EXPECT_EQ(SourceName(), "");
        std::this_thread::sleep_for(1500ms); // a retry or two fails meanwhile
        EXPECT_EQ(BASS_ChannelGetLevel(recording), 0u);
        ASSERT_TRUE(server_->Start());
        Play(Tone(0.5, 0.25), "speakers");
        EXPECT_TRUE(WaitFor([&] { return Near(BASS_ChannelGetLevel(recording), 16384, 8192); }));
        EXPECT_EQ(BASS_ChannelIsActive(recording), BASS_ACTIVE_PLAYING);
    }
    ASSERT_TRUE(BASS_RecordFree());

    server_->Kill();
    const HRECORD waiting = Listen();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(BASS_ChannelIsActive(waiting), BASS_ACTIVE_STALLED);
    EXPECT_EQ(BASS_ChannelGetLevel(waiting), 0u);
    ASSERT_TRUE(server_->Start());
    EXPECT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(waiting) == BASS_ACTIVE_PLAYING; }));
    ASSERT_TRUE(BASS_RecordFree());

    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LinesStarting(said, "vormel: cannot listen").size(), 3u)
        << "one line for each outage:\n"
        << said;
    // Each of the three outages starts its waits at a second, and each wait doubles the one
    // before: the server came back within the first two.
    std::vector<long> waits;
    for (const std::string& line : LinesStarting(said, "vormel: trying to listen again in "))
        waits.push_back(std::stol(line.substr(line.rfind(' ', line.size() - 3) + 1)));
    EXPECT_EQ(waits, (std::vector<long>{1, 2, 1, 2, 1})) << said;
}

// A source chosen by name is the one captured, whatever happens meanwhile: asked for before its
// server starts, it is captured once the server is up; unplugged while heard, the recording waits
// for it (saying so once) instead of falling back to the default output, and captures it again
// the moment it is back. The default output plays the same tone all along, to be ignored.
TEST_P(Recording, ANamedSourceIsWaitedForAndNeverSwappedForTheDefault) {
    AudioLogOn log;
    testing::internal::CaptureStderr();
    server_->Kill();
    ASSERT_TRUE(BASS_RecordInitSource("headphones.monitor"));
    const HRECORD recording = BASS_RecordStart(44100, 2, BASS_SAMPLE_FLOAT, nullptr, nullptr);
    ASSERT_NE(recording, 0u);
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(BASS_ChannelIsActive(recording), BASS_ACTIVE_STALLED);
    ASSERT_TRUE(server_->Start());
    Play(Tone(0.5, 0.5), "speakers");
    const pid_t headphones = server_->Play(Tone(0.25, 0.125), "headphones");
    EXPECT_TRUE(WaitFor([&] { return Near(BASS_ChannelGetLevel(recording), 8192, 4096); }))
        << std::hex << BASS_ChannelGetLevel(recording);
    EXPECT_EQ(SourceName(), "headphones.monitor");

    // Unplugged: the sink and its monitor go; back: a new sink of the same name.
    SoundServer::StopPlaying(headphones);
    ASSERT_TRUE(server_->RemoveSink("headphones"));
    EXPECT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(recording) == BASS_ACTIVE_STALLED; }));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(SourceName(), "") << "never the default output's monitor";
    EXPECT_EQ(BASS_ChannelGetLevel(recording), 0u);
    ASSERT_TRUE(server_->AddSink("headphones"));
    const pid_t again = server_->Play(Tone(0.25, 0.125), "headphones");
    EXPECT_TRUE(WaitFor([&] { return Near(BASS_ChannelGetLevel(recording), 8192, 4096); }));
    EXPECT_EQ(SourceName(), "headphones.monitor");
    SoundServer::StopPlaying(again);
    ASSERT_TRUE(BASS_RecordFree());

    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LinesStarting(said, "vormel: listening to speakers").size(), 0u) << said;
    EXPECT_EQ(LinesStarting(said, "vormel: cannot listen: no source named headphones.monitor")
                  .size(),
              1u)
        << said;
}

// While listening, what is captured is read when the output plays it, and sound that stops
// coming is silence a tenth of a second after the last of it is heard (a paused player leaves the
// scene calm at once), and not before.
TEST(HeardLevel, ReadsWhatIsHeardAndFallsSilentATenthOfASecondAfterTheLast) {
    constexpr int64_t kMs = 1000000;
    constexpr int64_t kTaken = 5000 * kMs; // any moment of the steady clock
    constexpr DWORD kHalf = 16384u | 16384u << 16;
    const std::vector<float> tone(2 * 882, 0.5f);
    const struct {
        int64_t latency; // until the first frame taken is heard
        int64_t after;   // the moment read, from when the sound was taken
        DWORD level;
    } cases[] = {{-1, 0, kHalf},         {-1, 50 * kMs, kHalf}, {-1, 100 * kMs, kHalf},
                 {-1, 101 * kMs, 0},     {-1, 999 * kMs, 0},    {0, 119 * kMs, kHalf},
                 {0, 121 * kMs, 0},      {200 * kMs, 150 * kMs, 0},
                 {200 * kMs, 210 * kMs, kHalf}, {200 * kMs, 319 * kMs, kHalf},
                 {200 * kMs, 321 * kMs, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.latency / kMs << " ms of latency, read "
                                        << c.after / kMs << " ms after");
        sound::HeardLevel level;
        if (c.latency >= 0) level.HeardAt(0, kTaken + c.latency); // -1: not told
        level.Take(tone.data(), 882, kTaken);
        EXPECT_EQ(level.PeakAt(kTaken + c.after), c.level);
        level.Forget();
        EXPECT_EQ(level.PeakAt(kTaken + c.after), 0u) << "forgotten";
    }
}

// A stop that lands just before the capture loop begins a wait ends that wait: the loop's own
// preparation of the wait must not swallow the wake-up that says so.
std::atomic<bool>* gStopToRequest = nullptr;
sound::PulseClient* gClientToWake = nullptr;
void RequestStopNow() {
    gStopToRequest->store(true);
    gClientToWake->Wake();
}

TEST(PulseClient, AStopRequestedJustBeforeAWaitEndsIt) {
    std::atomic<bool> stop{false};
    sound::PulseClient client(&stop);
    gStopToRequest = &stop;
    gClientToWake = &client;
    sound::gBeforeSpinWait = RequestStopNow;
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        client.Spin(std::chrono::seconds(20));
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 5s)) << "the stop was lost";
    waiter.join();
    sound::gBeforeSpinWait = nullptr;
}

// Not asked for an SDL driver by name, for one test: the library plays through the server.
class ServerFirst {
  public:
    ServerFirst() { unsetenv("SDL_AUDIODRIVER"); }
    ~ServerFirst() { UseDummyAudioDriver(); }
};

void CountEnd(HSYNC, DWORD, DWORD, void* ends) {
    ++*static_cast<std::atomic<int>*>(ends);
}

// A player of the test's own into a sink of the server: 10 ms blocks of silence, and every 0.6 s a
// 50 ms burst of a half-scale tone, whose moment of being heard it notes as the server tells it
// (the moment it is written plus the stream's latency). It keeps 20 ms queued, as paplay
// --latency-msec=20 does: with a long queue PipeWire's account of it and its account of the
// monitor part ways.
class BurstPlayer {
  public:
    explicit BurstPlayer(const std::string& sink) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, 44100, 2};
        pa_buffer_attr attr{};
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<uint32_t>(-1);
        attr.tlength = 882 * 8;
        int error = 0;
        player_ = pa_simple_new(nullptr, "test bursts", PA_STREAM_PLAYBACK, sink.c_str(), "bursts",
                                &spec, nullptr, &attr, &error);
        if (player_) thread_ = std::thread([this] { Write(); });
    }
    ~BurstPlayer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (player_) pa_simple_free(player_);
    }
    bool playing() const { return player_ != nullptr; }
    // When the next burst from now on is heard, on the steady clock; 0 if none came in time.
    int64_t NextBurstHeard() {
        const int64_t seen = bursts_.load();
        return WaitFor([&] { return bursts_.load() > seen; }) ? heard_.load() : 0;
    }

  private:
    void Write() {
        std::vector<float> silence(2 * 441, 0.0f), tone(2 * 441);
        for (int i = 0; i < 441; ++i)
            tone[2 * i] = tone[2 * i + 1] = static_cast<float>(0.5 * std::sin(2 * M_PI * i / 100));
        for (int block = 0; !stop_; ++block) {
            const bool loud = block % 60 >= 55;
            int error = 0;
            if (block % 60 == 55) {
                const pa_usec_t latency = pa_simple_get_latency(player_, &error);
                heard_ = sound::SteadyNow() + static_cast<int64_t>(latency) * 1000;
                ++bursts_;
            }
            if (pa_simple_write(player_, loud ? tone.data() : silence.data(),
                                sizeof(float) * tone.size(), &error) < 0)
                return;
        }
    }

    pa_simple* player_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> heard_{0};
    std::atomic<int64_t> bursts_{0};
    std::thread thread_;
};

// When each level first shows a half-scale burst after from, on the steady clock (0: never),
// the two watched side by side.
std::array<int64_t, 2> FirstLoud(std::array<DWORD, 2> handles, int64_t from) {
    while (sound::SteadyNow() < from)
        std::this_thread::sleep_for(100us);
    std::array<int64_t, 2> loud{};
    const int64_t end = from + std::chrono::nanoseconds(3s).count();
    while (sound::SteadyNow() < end && (loud[0] == 0 || loud[1] == 0)) {
        for (size_t i = 0; i < 2; ++i) {
            const DWORD level = handles[i] ? BASS_ChannelGetLevel(handles[i]) : 0;
            if (loud[i] == 0 && level != kNoLevel && Left(level) > 8192)
                loud[i] = sound::SteadyNow();
        }
        if (!handles[1] && loud[0]) break;
        std::this_thread::sleep_for(200us);
    }
    return loud;
}

// The middle of how late (in ms) each burst was read, within the bounds; a busy machine can only
// make a reading later, and the server's timing jitters by a few milliseconds either way.
void ExpectMedianWithin(std::vector<int64_t> lateness, int64_t earliest, int64_t latest) {
    std::sort(lateness.begin(), lateness.end());
    const int64_t median = lateness[lateness.size() / 2];
    EXPECT_GE(median, earliest) << testing::PrintToString(lateness);
    EXPECT_LE(median, latest) << testing::PrintToString(lateness);
}

// With the level correction, for a time.
class DelayOf {
  public:
    explicit DelayOf(int ms) {
        PlatformOptions options = GetPlatformOptions();
        options.delayMs = ms;
        SetPlatformOptions(options);
    }
    ~DelayOf() {
        PlatformOptions options = GetPlatformOptions();
        options.delayMs = 0;
        SetPlatformOptions(options);
    }
};

// Listening, a burst reads when the server says it is heard (not when the output's monitor first
// has it), later by the correction asked for, and for the output that is default now: never
// before it is heard, and not long after. Only lateness can come from a busy machine.
TEST_P(Recording, ReadsEachBurstWhenTheServerSaysItIsHeard) {
    constexpr int64_t kMs = 1000000;
    const struct {
        const char* sink;
        int delay;
    } cases[] = {{"speakers", 0}, {"headphones", 150}, {"bluetooth", 0}};
    for (const auto& [sink, delay] : cases) {
        SCOPED_TRACE(testing::Message() << sink << ", a correction of " << delay << " ms");
        if (!HasOutput(sink)) continue;
        ASSERT_TRUE(server_->SetDefaultSink(sink));
        BurstPlayer player(sink);
        ASSERT_TRUE(player.playing());
        DelayOf correction(delay);
        const HRECORD recording = Listen();
        // PipeWire's session manager makes a new default output known a little later.
        ASSERT_TRUE(WaitFor([&] { return SourceName() == std::string(sink) + ".monitor"; }));
        player.NextBurstHeard(); // the capture's timing settled
        std::vector<int64_t> lateness;
        for (int burst = 0; burst < 5; ++burst) {
            const int64_t heard = player.NextBurstHeard() + delay * kMs;
            ASSERT_GT(heard, 0);
            const int64_t read = FirstLoud({recording, 0}, heard - 200 * kMs)[0];
            ASSERT_GT(read, 0) << "not read within 200 ms before it was heard and 3 s after";
            lateness.push_back((read - heard) / kMs);
        }
        ExpectMedianWithin(lateness, -10, 150);
        ASSERT_TRUE(BASS_RecordFree());
    }
}

// Played by the library, through the server when one answers: what is heard is what was played,
// and the playing channel's level shows each burst when the output's monitor, heard as the
// server times it, does; not before (as it would, when the mixer takes the sound, by the whole
// latency of the server's buffers), on a null sink and on an output that holds its sound 371 ms.
TEST_P(Recording, PlayingThroughTheServerTheLevelIsOfTheSoundHeard) {
    constexpr int64_t kMs = 1000000;
    Signal bursts; // 50 ms of a half-scale tone every 0.6 s, after half a second of silence
    bursts.seconds = 6;
    bursts.amplitudes = {0.5, 0.5};
    bursts.loudFrom = 0.5;
    bursts.burstEvery = 0.6;
    const std::string file = folder_->Path("bursts.wav");
    ASSERT_TRUE(WriteSound(file, SoundFormat::WavFloat, bursts));
    for (const char* sink : {"speakers", "bluetooth"}) {
        SCOPED_TRACE(sink);
        if (!HasOutput(sink)) continue;
        ASSERT_TRUE(server_->SetDefaultSink(sink));
        AudioLogOn log;
        ServerFirst server;
        testing::internal::CaptureStderr();
        const bool started = BASS_Init(1, 44100, 0, nullptr, nullptr);
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(started);
        EXPECT_NE(said.find("audio: playing through the sound server"), std::string::npos) << said;
        const HRECORD monitor = Listen();
        ASSERT_TRUE(WaitFor([&] { return SourceName() == std::string(sink) + ".monitor"; }));
        ASSERT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(monitor) == BASS_ACTIVE_PLAYING; }));
        const HSTREAM channel = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0);
        ASSERT_TRUE(BASS_ChannelPlay(channel, FALSE));
        int64_t from = sound::SteadyNow();
        std::vector<int64_t> lateness;
        for (int burst = 0; burst < 7; ++burst) {
            const auto [played, heard] = FirstLoud({channel, monitor}, from);
            ASSERT_GT(played, 0);
            ASSERT_GT(heard, 0);
            // From the second on, the server has timed the stream.
            if (burst > 0) {
                lateness.push_back((played - heard) / kMs);
            }
            from = std::max(played, heard) + 300 * kMs; // past this burst, before the next
        }
        ExpectMedianWithin(lateness, -12, 60);
        EXPECT_TRUE(BASS_Free());
        ASSERT_TRUE(BASS_RecordFree());
    }
}

// Sound played through a server that goes away goes on unheard at the pace of real time, to its
// end, with one line said; once the server is back, what plays is heard there again.
TEST_P(Recording, PlayingThroughTheServerOutlivesIt) {
    ServerFirst server;
    ASSERT_TRUE(BASS_Init(1, 44100, 0, nullptr, nullptr));
    Signal tone;
    tone.seconds = 2.5;
    tone.amplitudes = {0.5, 0.25};
    const std::string file = folder_->Path("short-tone.wav");
    ASSERT_TRUE(WriteSound(file, SoundFormat::WavFloat, tone));
    testing::internal::CaptureStderr();
    std::atomic<int> ends{0};
    const HSTREAM first = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0);
    BASS_ChannelSetSync(first, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, CountEnd, &ends);
    ASSERT_TRUE(BASS_ChannelPlay(first, FALSE));
    std::this_thread::sleep_for(300ms);
    server_->Kill();
    EXPECT_TRUE(WaitFor([&] { return ends.load() == 1; })) << "the sound went on to its end";
    ASSERT_TRUE(server_->Start());
    const HRECORD monitor = Listen();
    const HSTREAM second = BASS_StreamCreateFile(FALSE, Tone(0.5, 0.25).c_str(), 0, 0, 0);
    ASSERT_TRUE(BASS_ChannelPlay(second, FALSE));
    EXPECT_TRUE(WaitFor([&] { return Near(BASS_ChannelGetLevel(monitor), 16384, 8192); }))
        << "heard on the server again: " << std::hex << BASS_ChannelGetLevel(monitor);
    EXPECT_TRUE(BASS_Free());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LinesStarting(said, "vormel: no sound: the sound server went away").size(), 1u)
        << said;
}

// A server that takes connections and never answers holds up neither the library's start nor
// the sound, which ends in its time, unheard.
TEST(ServerPlayback, AServerThatNeverAnswersHoldsNothingUp) {
    SilentServer wedged;
    ASSERT_TRUE(wedged.running());
    const char* saved = std::getenv("PULSE_SERVER");
    const std::string before = saved ? saved : "";
    setenv("PULSE_SERVER", wedged.address().c_str(), 1);
    {
        ServerFirst server;
        ASSERT_TRUE(BASS_Init(1, 44100, 0, nullptr, nullptr));
        ScratchFolder folder;
        const std::string file = folder.Path("blip.wav");
        ASSERT_TRUE(WriteSound(file, SoundFormat::WavFloat, Signal{}));
        std::atomic<int> ends{0};
        const HSTREAM blip = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, 0);
        BASS_ChannelSetSync(blip, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, CountEnd, &ends);
        ASSERT_TRUE(BASS_ChannelPlay(blip, FALSE));
        EXPECT_TRUE(WaitFor([&] { return ends.load() == 1; }));
        EXPECT_GT(wedged.accepted(), 0);
        EXPECT_TRUE(BASS_Free());
    }
    if (before.empty()) unsetenv("PULSE_SERVER");
    else setenv("PULSE_SERVER", before.c_str(), 1);
}

// The scene's side: while listening the recording stands in for the channel, so a tone played
// on the desktop gives the scene the energy the same tone played from a file gives; no file is
// reopened meanwhile, and L goes back to the file.
TEST_P(Recording, TheSceneReadsWhatIsHeardAsWhatIsPlayed) {
    const std::string tone = Tone(0.5, 0.25);
    std::snprintf(gAudioFile, sizeof gAudioFile, "%s", tone.c_str());
    gAudioStarted = BASS_Init(0, 44100, 0, nullptr, nullptr); // the program's playback, soundless
    ASSERT_NE(PlayAudioFile(nullptr), 0);
    std::this_thread::sleep_for(100ms);
    const float played = UpdateAudioLevel();
    const int32_t playedEnergy = gEnergy;
    EXPECT_EQ(gLeftLevel, PercentOf(16384, 128));

    gListenSource[0] = '\0';
    ASSERT_NE(StartListening(), 0u);
    EXPECT_EQ(gChannel.load(), 0u);
    EXPECT_EQ(gAudioStarted, 0) << "no playback device while listening";
    Play(tone, "speakers");
    EXPECT_TRUE(WaitFor([] { return UpdateAudioLevel() > 0; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(UpdateAudioLevel(), played);
    EXPECT_EQ(gEnergy, playedEnergy);
    EXPECT_EQ(gLeftLevel, PercentOf(16384, 128));
    EXPECT_EQ(gRightLevel, PercentOf(8192, 128));
    KeepSoundLooping();
    EXPECT_EQ(gChannel.load(), 0u) << "no file is reopened while listening";

    SoundServer::StopPlaying(player_);
    EXPECT_TRUE(WaitFor([] { return UpdateAudioLevel() == 0 && gEnergy == 10; }));
    ToggleListening(nullptr);
    EXPECT_EQ(gRecording, 0u);
    EXPECT_NE(gChannel.load(), 0u) << "L plays the last file again";
    ToggleListening(nullptr);
    EXPECT_NE(gRecording, 0u);
    StopListening();
    FreeChannel();
    AudioShutdown();
}

RECORDPROC CountUntilEnough;
std::atomic<DWORD> gBytesTaken{0};
BOOL CountUntilEnough(HRECORD, const void* buffer, DWORD length, void*) {
    if (buffer && length % 8 == 0) gBytesTaken += length;
    return gBytesTaken < 44100 * 8 / 10 ? TRUE : FALSE; // a tenth of a second
}

// Wrong uses are refused with the library's error codes; a stopped or unknown handle fails every
// call harmlessly; a proc gets float stereo blocks and ends the recording by returning FALSE.
TEST_P(Recording, RefusesWhatItCannotDoAndForgetsStoppedHandles) {
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_RecordFree());
    EXPECT_FALSE(BASS_RecordInit(-2));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    ASSERT_TRUE(BASS_RecordInit(-1));
    EXPECT_FALSE(BASS_RecordInit(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    struct Refused {
        DWORD freq, chans, flags;
        int error;
    };
    for (const Refused& r :
         {Refused{48000, 2, 0, BASS_ERROR_FORMAT}, Refused{44100, 3, 0, BASS_ERROR_FORMAT},
          Refused{44100, 0, 0, BASS_ERROR_FORMAT},
          Refused{44100, 2, 0x8000, BASS_ERROR_ILLPARAM}}) {
        EXPECT_EQ(BASS_RecordStart(r.freq, r.chans, r.flags, nullptr, nullptr), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), r.error) << r.freq << " " << r.chans;
    }
    const HRECORD first = BASS_RecordStart(0, 2, 0, CountUntilEnough, nullptr);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(first) == BASS_ACTIVE_STOPPED; }));
    EXPECT_GE(gBytesTaken.load(), 44100u * 8 / 10);
    EXPECT_EQ(BASS_ChannelGetLevel(first), kNoLevel) << "an ended recording reads nothing";
    EXPECT_TRUE(BASS_ChannelStop(first));

    const HRECORD second = BASS_RecordStart(44100, 2, 0, nullptr, nullptr);
    ASSERT_NE(second, 0u);
    EXPECT_NE(second, first) << "handles are never given twice";
    ASSERT_TRUE(BASS_ChannelStop(second));
    for (DWORD gone : {first, second, second + 1000, DWORD{0}}) {
        EXPECT_EQ(BASS_ChannelGetLevel(gone), kNoLevel);
        EXPECT_EQ(BASS_ChannelIsActive(gone), BASS_ACTIVE_STOPPED);
        EXPECT_FALSE(BASS_ChannelStop(gone));
    }
    BASS_DEVICEINFO info{};
    EXPECT_FALSE(BASS_RecordGetSource(&info));
    EXPECT_TRUE(BASS_RecordFree());
}

} // namespace
