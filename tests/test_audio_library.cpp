// The audio library with real decoders on files made here: what each format decodes to, playing
// to the end with one end sync, the levels of known signals, refusing bad input, and handles used
// from several threads. Most cases run on the no-sound device, which is clocked like a sound card.
#include "platform/sound/bass.h"
#include "platform/sound/failed_opens.h"
#include "platform/sound/level_meter.h"
#include "platform/sound/source.h"
#include "support/open_counter.h"
#include "support/sound_fixtures.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Limits only turn a hang into a failure; nothing here measures speed.
constexpr auto kPatience = 10s;
constexpr DWORD kNoLevel = 0xFFFFFFFF;
constexpr DWORD kFullScale = 32768u | 32768u << 16;

ScratchFolder& Folder() {
    static ScratchFolder folder;
    return folder;
}

// path of name, written once with signal.
std::string Sound(const std::string& name, const Signal& signal,
                  SoundFormat format = SoundFormat::WavFloat) {
    std::string path = Folder().Path(name);
    bool written = access(path.c_str(), F_OK) == 0 || WriteSound(path, format, signal);
    EXPECT_TRUE(written) << name;
    return path;
}
std::string ShortWav() {
    return Sound("short.wav", {0.15}, SoundFormat::WavPcm16);
}
std::string Module() {
    std::string path = Folder().Path("tune.mod");
    EXPECT_TRUE(access(path.c_str(), F_OK) == 0 || WriteModule(path, {}));
    return path;
}

DWORD Open(const std::string& path, bool module, DWORD flags = 0) {
    return module ? BASS_MusicLoad(FALSE, path.c_str(), 0, 0, flags | BASS_MUSIC_PRESCAN, 0)
                  : BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, flags);
}

// Counts the end syncs of one channel and lets a test wait for the first.
struct EndWatcher {
    std::mutex lock;
    std::condition_variable changed;
    int calls = 0;
    DWORD channel = 0;
    std::thread::id thread;
    bool freeFromSync = false;
    BOOL ownFree = FALSE, libraryFree = TRUE;

    static void Proc(HSYNC, DWORD channel, DWORD, void* user) {
        auto* self = static_cast<EndWatcher*>(user);
        BOOL ownFree = self->freeFromSync && BASS_StreamFree(channel);
        BOOL libraryFree = self->freeFromSync && BASS_Free();
        std::lock_guard<std::mutex> guard(self->lock);
        ++self->calls;
        self->channel = channel;
        self->thread = std::this_thread::get_id();
        self->ownFree = ownFree;
        self->libraryFree = libraryFree;
        self->changed.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, kPatience, [this] { return calls > 0; });
    }
    void Watch(DWORD handle) {
        ASSERT_NE(BASS_ChannelSetSync(handle, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, Proc, this),
                  0u);
        ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
    }
};

// Polls until probe() holds or patience runs out; returns whether it held.
template <typename Probe> bool Eventually(Probe probe) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!probe() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    return probe();
}

class AudioLibrary : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr)); }
    void TearDown() override { BASS_Free(); }
};

// Whatever the file's rate and channel count, a source gives 44.1 kHz stereo exactly as long as the
// file (to the nearest frame, a half frame to the even one), and says so before it is decoded.
TEST(AudioDecoding, EveryFormatBecomes44kStereoOfTheSameLength) {
    struct Case {
        std::string path;
        uint64_t frames;
        bool mono;
    } cases[] = {
        {ShortWav(), 6615, false},
        {Sound("tone.flac", {0.15}, SoundFormat::Flac), 6615, false},
        {Sound("tone.ogg", {0.3}, SoundFormat::OggVorbis), 13230, false},
        {Sound("mono-22050.flac", {0.2, {0.5}, 22050}, SoundFormat::Flac), 8820, true},
        {Sound("mono-8000.wav", {0.25, {0.5}, 8000}), 11025, true},
        {Sound("six-48000.wav", {0.1, {1, 1, 1, 1, 1, 1}, 48000}), 4410, false},
        // 1001 frames: 919.6875 frames at 44.1 kHz, and 500.5.
        {Sound("odd-48000.wav", {1001.0 / 48000, {1, 1}, 48000}), 920, false},
        {Sound("odd-88200.wav", {1001.0 / 88200, {0.5}, 88200}), 500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int error = -1;
        auto source = sound::OpenStreamSource(c.path.c_str(), &error);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->Frames(), c.frames);
        std::vector<float> frames(2 * 4096);
        uint64_t total = 0;
        bool doubled = true, bounded = true;
        while (size_t got = source->Read(frames.data(), 4096)) {
            for (size_t i = 0; i < got; ++i) {
                doubled &= frames[2 * i] == frames[2 * i + 1];
                bounded &= std::fabs(frames[2 * i]) <= 1.2f;
            }
            total += got;
        }
        EXPECT_EQ(total, c.frames) << "the end is not cut off, nor anything added";
        EXPECT_TRUE(bounded);
        EXPECT_TRUE(doubled || !c.mono) << "mono goes to both sides";
    }
}

// More than two channels mix down to two in the WAV order of their layout (2.1, quad, 4.1, 5.1,
// 6.1, 7.1): each side of a file at full scale stays at full scale, the front channels go to their
// own side only, the centre and LFE to both alike, the back and side channels more to their own.
TEST(AudioDecoding, ChannelsMixDownInTheOrderOfTheirLayout) {
    constexpr int kAll = -1;
    const struct {
        int channels;
        int loud; // the one channel with the tone; kAll: every channel
        float left, right;
    } cases[] = {
        {3, kAll, 1, 1},
        {4, kAll, 1, 1},
        {5, kAll, 1, 1},
        {6, kAll, 1, 1},
        {7, kAll, 1, 1},
        {8, kAll, 1, 1},
        {3, 0, 0.8f, 0},
        {3, 2, 0.2f, 0.2f},
        {4, 2, 0.359f, 0.22f},
        {5, 4, 0.195556f, 0.319111f},
        {6, 1, 0, 0.294545f},
        {6, 2, 0.208182f, 0.208182f},
        {6, 3, 0.0909091f, 0.0909091f},
        {6, 4, 0.251818f, 0.154545f},
        {7, 4, 0.174462f, 0.174462f},
        {7, 6, 0.100615f, 0.226154f},
        {8, 5, 0.111067f, 0.181067f},
        {8, 6, 0.194133f, 0.0858667f},
    };
    for (const auto& c : cases) {
        const std::string name =
            "mix-" + std::to_string(c.channels) + "-" + std::to_string(c.loud) + ".wav";
        SCOPED_TRACE(name);
        Signal signal{0.01, std::vector<double>(static_cast<size_t>(c.channels), 0.0)};
        for (int channel = 0; channel < c.channels; ++channel)
            if (c.loud == kAll || channel == c.loud) signal.amplitudes[channel] = 1.0;
        int error = -1;
        auto source = sound::OpenStreamSource(Sound(name, signal).c_str(), &error);
        ASSERT_TRUE(source);
        std::vector<float> frames(2 * 441);
        ASSERT_EQ(source->Read(frames.data(), 441), 441u);
        // Sample 25 is the tone's first crest, at exactly full scale.
        EXPECT_NEAR(frames[50], c.left, 1e-3);
        EXPECT_NEAR(frames[51], c.right, 1e-3);
    }
}

TEST_F(AudioLibrary, StreamsAndModulesPlayToTheirEndAndSyncOnce) {
    struct Case {
        std::string path;
        bool module;
    } cases[] = {{ShortWav(), false},
                 {Sound("tone.ogg", {0.3}, SoundFormat::OggVorbis), false},
                 {Module(), true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DWORD handle = Open(c.path, c.module, BASS_STREAM_AUTOFREE);
        EndWatcher watcher;
        watcher.Watch(handle);
        ASSERT_TRUE(watcher.Wait());
        EXPECT_EQ(watcher.channel, handle);
        EXPECT_NE(watcher.thread, std::this_thread::get_id());
        // Freed on its own once its syncs have run; then the handle is dead for every call.
        EXPECT_TRUE(Eventually([&] {
            return BASS_ChannelGetLevel(handle) == kNoLevel &&
                   BASS_ErrorGetCode() == BASS_ERROR_HANDLE;
        }));
        EXPECT_FALSE(c.module ? BASS_MusicFree(handle) : BASS_StreamFree(handle));
        std::this_thread::sleep_for(50ms);
        std::lock_guard<std::mutex> guard(watcher.lock);
        EXPECT_EQ(watcher.calls, 1);
    }
}

// The peak of the channel's own samples over the last 20 ms, full scale 32768, left low word.
TEST_F(AudioLibrary, LevelsAreThePeaksOfTheSoundBeingHeard) {
    struct Case {
        Signal signal;
        DWORD level;
    } cases[] = {{{1.0, {1.0, 1.0}}, kFullScale}, {{1.0, {0.5, 0.5}}, 16384u | 16384u << 16},
                 {{1.0, {0.0, 0.0}}, 0u},         {{1.0, {1.0, 0.0}}, 32768u},
                 {{1.0, {1.0}}, kFullScale},      {{1.0, {0.0, 1.5}}, 32768u << 16}};
    int file = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(file);
        DWORD handle = Open(Sound("level" + std::to_string(file++) + ".wav", c.signal), false);
        EXPECT_EQ(BASS_ChannelGetLevel(handle), kNoLevel) << "not playing yet";
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
        ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
        std::this_thread::sleep_for(30ms);
        EXPECT_TRUE(Eventually([&] { return BASS_ChannelGetLevel(handle) == c.level; }))
            << BASS_ChannelGetLevel(handle);
        BASS_StreamFree(handle);
    }
    // Loud for 0.3 s, then silent: the peak is not held beyond its 20 ms.
    DWORD handle = Open(Sound("burst.wav", {1.5, {1.0, 1.0}, 44100, 0.3}), false);
    ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
    EXPECT_TRUE(Eventually([&] { return BASS_ChannelGetLevel(handle) == kFullScale; }));
    EXPECT_TRUE(Eventually([&] { return BASS_ChannelGetLevel(handle) == 0; }));
}

// Each bad input is refused at once with a reason, and the library keeps working.
TEST_F(AudioLibrary, BadInputIsRefusedAndTheNextOpenWorks) {
    std::string ogg = Sound("tone.ogg", {0.3}, SoundFormat::OggVorbis);
    std::vector<uint8_t> bytes = ReadBytes(ogg);
    std::vector<uint8_t> corrupt = NoiseBytes(bytes.size(), 7);
    std::copy_n(bytes.begin(), 64, corrupt.begin());
    ScratchFolder scratch;
    std::string fifo = scratch.Path("pipe.ogg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string longest = scratch.Path("");
    longest.resize(4095, 'a');
    // A WAV header that claims two gigahertz: its second of sound would last a frame.
    std::vector<uint8_t> fast = ReadBytes(Sound("second.wav", {1.0}, SoundFormat::WavPcm16));
    const uint32_t gigahertz = 2'000'000'000;
    std::memcpy(fast.data() + 24, &gigahertz, sizeof gigahertz);
    ASSERT_TRUE(WriteSound(scratch.Path("header.wav"), SoundFormat::WavPcm16, {0.0}) &&
                WriteBytes(scratch.Path("empty.ogg"), {}) &&
                WriteBytes(scratch.Path("head.ogg"), {bytes.begin(), bytes.begin() + 200}) &&
                WriteBytes(scratch.Path("corrupt.ogg"), corrupt) &&
                WriteBytes(scratch.Path("noise.mod"), NoiseBytes(4096, 1)) &&
                WriteBytes(scratch.Path("noise.wav"), NoiseBytes(4096, 2)) &&
                WriteSonglessModule(scratch.Path("songless.s3m")) &&
                WriteBytes(scratch.Path("fast.wav"), fast));
    struct Case {
        std::string path;
        bool module;
        int error;
    } cases[] = {
        {scratch.Path("missing.ogg"), false, BASS_ERROR_FILEOPEN},
        {scratch.Path(""), false, BASS_ERROR_FILEOPEN}, // a folder
        {scratch.Path(""), true, BASS_ERROR_FILEOPEN},
        {scratch.Path("empty.ogg"), false, BASS_ERROR_FILEFORM},
        {scratch.Path("empty.ogg"), true, BASS_ERROR_FILEFORM},
        {scratch.Path("head.ogg"), false, BASS_ERROR_FILEFORM},   // cut inside its headers
        {scratch.Path("header.wav"), false, BASS_ERROR_FILEFORM}, // a header and no sound
        {scratch.Path("corrupt.ogg"), false, BASS_ERROR_FILEFORM},
        {scratch.Path("noise.mod"), true, BASS_ERROR_FILEFORM},
        {scratch.Path("songless.s3m"), true, BASS_ERROR_FILEFORM}, // it would play 0.1 s of nothing
        {scratch.Path("noise.wav"), false, BASS_ERROR_FILEFORM},
        {scratch.Path("fast.wav"), false, BASS_ERROR_FILEFORM},
        {ogg, true, BASS_ERROR_FILEFORM}, // a stream is no module
        {fifo, false, BASS_ERROR_FILEOPEN},
        {fifo, true, BASS_ERROR_FILEOPEN},
        {"/dev/zero", false, BASS_ERROR_FILEOPEN},
        {longest, false, BASS_ERROR_FILEOPEN},
        {"", false, BASS_ERROR_FILEOPEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 80));
        EXPECT_EQ(Open(c.path, c.module), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), c.error);
        DWORD good = Open(ShortWav(), false);
        EXPECT_NE(good, 0u);
        BASS_StreamFree(good);
    }
}

// The program asks for its sound again on every frame while none plays. A file that cannot play
// is not opened again before a second has passed, whatever the reason, and its failure is told
// once; a file that changes is tried at once.
TEST_F(AudioLibrary, AFileThatCannotPlayIsNotReopenedUntilItChangesOrAWaitPasses) {
    ScratchFolder scratch;
    std::vector<uint8_t> ogg = ReadBytes(Sound("tone.ogg", {0.3}, SoundFormat::OggVorbis));
    // A WAV that claims a rate of 0, and a FLAC whose frames are noise after its headers.
    std::vector<uint8_t> rateless = ReadBytes(Sound("second.wav", {1.0}, SoundFormat::WavPcm16));
    std::fill_n(rateless.begin() + 24, 4, 0);
    std::vector<uint8_t> flac = ReadBytes(Sound("tone.flac", {0.5}, SoundFormat::Flac));
    const std::vector<uint8_t> noise = NoiseBytes(flac.size(), 9);
    std::copy(noise.begin() + 200, noise.end(), flac.begin() + 200);
    ASSERT_TRUE(WriteBytes(scratch.Path("head.ogg"), {ogg.begin(), ogg.begin() + 200}) &&
                WriteSound(scratch.Path("header.wav"), SoundFormat::WavPcm16, {0.0}) &&
                WriteBytes(scratch.Path("noise.mod"), NoiseBytes(4096, 3)) &&
                WriteBytes(scratch.Path("noise.wav"), NoiseBytes(4096, 4)) &&
                WriteBytes(scratch.Path("rateless.wav"), rateless) &&
                WriteBytes(scratch.Path("damaged.flac"), flac));
    ASSERT_EQ(mkfifo(scratch.Path("pipe.ogg").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(scratch.Path("box.ogg").c_str(), 0700), 0);
    OpenCounter opens(scratch.Path(""));
    // Plain words first; a library's own, when it has any, after them in brackets.
    const struct {
        const char* name;
        bool module;
        const char* says;
    } cases[] = {{"head.ogg", false, ": it is damaged: its header cannot be read (libsndfile: "},
                 {"header.wav", false, ": it holds no sound\n"},
                 {"noise.mod", true, ": it is not a tracker module (libopenmpt: "},
                 {"noise.wav", false, ": it is not a sound file of a kind that can be played ("},
                 {"rateless.wav", false, ": it is damaged: its header cannot be read (libsndfile: "},
                 {"damaged.flac", false, ": it is damaged: its sound cannot be decoded (libsndfile: "},
                 {"pipe.ogg", false, ": "},
                 {"box.ogg", false, ": "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch.Path(c.name);
        testing::internal::CaptureStderr();
        int calls = 0;
        const auto end = std::chrono::steady_clock::now() + 1500ms;
        while (std::chrono::steady_clock::now() < end) {
            EXPECT_EQ(Open(path, c.module), 0u);
            ++calls;
            std::this_thread::sleep_for(2ms);
        }
        const std::string told = testing::internal::GetCapturedStderr();
        EXPECT_GT(calls, 50);
        EXPECT_LE(opens.Take(c.name), 2) << "once at first and once after a second at most";
        EXPECT_EQ(told.rfind("vormel: cannot play ", 0), 0u) << told;
        EXPECT_NE(told.find(path + c.says), std::string::npos) << told;
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    }
    // Written (or created) since it failed, a file plays at the next call.
    const std::string fixed = scratch.Path("header.wav"), late = scratch.Path("late.wav");
    EXPECT_EQ(Open(late, false), 0u);
    EXPECT_EQ(Open(fixed, false), 0u);
    ASSERT_TRUE(WriteSound(fixed, SoundFormat::WavPcm16, {0.1}));
    DWORD handle = Open(fixed, false);
    EXPECT_NE(handle, 0u);
    BASS_StreamFree(handle);
    EXPECT_EQ(Open(late, false), 0u);
    ASSERT_TRUE(WriteSound(late, SoundFormat::WavPcm16, {0.1}));
    handle = Open(late, false);
    EXPECT_NE(handle, 0u);
    BASS_StreamFree(handle);
}

// A file that keeps failing is tried again after a wait that doubles from one second to ten
// minutes, each counted from the failure; a change of the file, or of its kind, starts over.
TEST(FailedOpens, TheWaitDoublesFromASecondToTenMinutes) {
    using sound::FailedOpens;
    const sound::FileIdentity missing{ENOENT}, written{0, 1, 2, 3, 4, 5};
    FailedOpens failed;
    FailedOpens::Clock::time_point now{};
    int error = BASS_OK;
    EXPECT_TRUE(failed.Failed("a.ogg", false, missing, BASS_ERROR_FILEOPEN, now)) << "news";
    for (int wait : {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 600, 600}) {
        SCOPED_TRACE(wait);
        const auto due = now + std::chrono::seconds(wait);
        EXPECT_TRUE(failed.Refuse("a.ogg", false, missing, due - 1ms, &error));
        EXPECT_EQ(error, BASS_ERROR_FILEOPEN);
        EXPECT_FALSE(failed.Refuse("a.ogg", false, missing, due, &error));
        now = due + 1ms;
        EXPECT_FALSE(failed.Failed("a.ogg", false, missing, BASS_ERROR_FILEOPEN, now)) << "no news";
    }
    EXPECT_FALSE(failed.Refuse("a.ogg", true, missing, now, &error)) << "as a module";
    EXPECT_FALSE(failed.Refuse("a.ogg", false, written, now, &error)) << "written since";
    EXPECT_TRUE(failed.Failed("a.ogg", false, written, BASS_ERROR_FILEFORM, now)) << "news";
    EXPECT_FALSE(failed.Refuse("a.ogg", false, written, now + 1s, &error)) << "a second again";
    failed.Opened("a.ogg", false);
    EXPECT_FALSE(failed.Refuse("a.ogg", false, written, now, &error)) << "forgotten once it opens";
}

// The level is the peak of the last 20 ms heard: six slices of 147 frames. One loud frame shows
// from the moment its slice is complete until six slices have been heard since, and no longer.
// A meter that keeps its window exactly (a render's) shows it at once and for exactly 882 frames.
TEST(LevelMeter, APeakShowsForTwentyMillisecondsOfSound) {
    constexpr DWORD kHalfScale = 16384u | 16384u << 16;
    const struct {
        bool exact;
        size_t framesHeard; // the loud frame first, then silence
        DWORD level;
    } cases[] = {{false, 146, 0},  {false, 147, kHalfScale}, {false, 1028, kHalfScale},
                 {false, 1029, 0}, {true, 1, kHalfScale},    {true, 882, kHalfScale},
                 {true, 883, 0}};
    const std::vector<float> loud = {0.5f, -0.5f};
    const std::vector<float> silence(2 * 1029, 0.0f);
    for (const auto& c : cases) {
        sound::LevelMeter meter;
        if (c.exact) meter.KeepExactWindow();
        meter.Take(loud.data(), 1);
        meter.Take(silence.data(), c.framesHeard - 1);
        EXPECT_EQ(meter.Peak(), c.level) << c.framesHeard << " frames heard";
    }
}

// The level is that of the sound being heard: a burst consumed by the mixer, pass after pass as
// an output takes it, reads that much later than it was consumed, however long the output holds
// it, and falls that much later too (its 20 ms after the last loud frame is heard).
TEST(LevelMeter, AReadingIsOfTheSoundHeardAfterTheOutputsLatency) {
    constexpr int64_t kMs = 1000000;
    constexpr int64_t kStart = 7000 * kMs; // any moment of the steady clock
    constexpr size_t kPass = 512;          // frames the output takes at a time
    constexpr size_t kLoudFrom = 44100, kLoudUntil = 44100 + 4410; // a 100 ms burst after 1 s
    constexpr DWORD kHalfScale = 16384u | 16384u << 16;
    const auto consumedAt = [](size_t frame) {
        return kStart + static_cast<int64_t>(frame) * 1000000000 / 44100;
    };
    std::vector<float> sound(2 * 88200, 0.0f);
    std::fill(sound.begin() + 2 * kLoudFrom, sound.begin() + 2 * kLoudUntil, 0.5f);
    for (int64_t latency : {0, 20, 200, 500}) {
        SCOPED_TRACE(testing::Message() << latency << " ms of latency");
        sound::LevelMeter meter;
        for (size_t frame = 0; frame < sound.size() / 2; frame += kPass) {
            meter.HeardAt(meter.Taken(), consumedAt(frame) + latency * kMs);
            meter.Take(&sound[2 * frame], std::min(kPass, sound.size() / 2 - frame));
        }
        const int64_t rises = consumedAt(kLoudFrom) + latency * kMs;
        const int64_t falls = consumedAt(kLoudUntil) + latency * kMs + 20 * kMs;
        const struct {
            int64_t at;
            DWORD level;
        } readings[] = {{rises - 5 * kMs, 0},         {rises + 5 * kMs, kHalfScale},
                        {falls - 5 * kMs, kHalfScale}, {falls + 5 * kMs, 0}};
        for (const auto& r : readings)
            EXPECT_EQ(meter.PeakAt(r.at), r.level) << (r.at - kStart) / kMs << " ms in";
    }
}

// The render device has no clock: sound is heard only as it is mixed, the level is that of the
// last 20 ms mixed, and a mix that reaches the end returns after the end sync has run, so the
// caller sees the end at once and at the same place every time.
TEST(AudioLibraryRender, TimeIsTheCallersAndTheEndIsSeenAtOnce) {
    EXPECT_EQ(BASS_RenderMix(nullptr, 10), kNoLevel) << "no library started";
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_RENDER, 44100, 0, nullptr, nullptr));
    // 0.1 s: a half-scale left and full-scale right tone for 50 ms, then silence.
    DWORD handle =
        Open(Sound("render.wav", {0.1, {0.5, 1.0}, 44100, 0.05}), false, BASS_STREAM_AUTOFREE);
    EXPECT_EQ(BASS_ChannelGetLength(handle, BASS_POS_BYTE), 4410u * 8);
    EndWatcher watcher;
    watcher.Watch(handle);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(BASS_ChannelGetLevel(handle), 0u) << "nothing is heard before it is mixed";

    std::vector<float> heard(2 * 3086);
    ASSERT_EQ(BASS_RenderMix(heard.data(), 26), 26u);
    EXPECT_EQ(BASS_ChannelGetLevel(handle), 16384u | 32768u << 16) << "the first crest, sample 25";
    EXPECT_EQ(heard[50], 0.5f);
    EXPECT_EQ(heard[51], 1.0f);
    // The tone's last sample is 2204; it is heard for 882 samples, to the last.
    ASSERT_EQ(BASS_RenderMix(heard.data() + 52, 3086 - 26), 3060u);
    EXPECT_NE(BASS_ChannelGetLevel(handle), 0u);
    ASSERT_EQ(BASS_RenderMix(nullptr, 1), 1u);
    EXPECT_EQ(BASS_ChannelGetLevel(handle), 0u);

    EXPECT_EQ(BASS_RenderMix(nullptr, 4410 - 3087), 4410u - 3087) << "up to the last sample";
    EXPECT_EQ(watcher.calls, 0);
    EXPECT_EQ(BASS_RenderMix(nullptr, 1), 1u);
    {
        std::lock_guard<std::mutex> guard(watcher.lock);
        EXPECT_EQ(watcher.calls, 1) << "the sync has run when the mix returns";
        EXPECT_NE(watcher.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(BASS_ChannelGetLevel(handle), kNoLevel) << "freed at its end";
    EXPECT_TRUE(BASS_Free());
}

// capset changes only the calling thread: this one loses the right to read any file, so a file
// without read permission is unreadable even when the tests run as root.
bool DropFileReadingPrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int bit : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[bit / 32].effective &= ~(1u << (bit % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(AudioLibrary, AnUnreadableFileIsRefused) {
    std::string locked = Folder().Path("locked.wav");
    ASSERT_TRUE(WriteSound(locked, SoundFormat::WavPcm16, {}));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    DWORD handle = 1;
    int error = BASS_OK;
    std::thread([&] {
        if (!DropFileReadingPrivilege()) return;
        handle = Open(locked, false);
        error = BASS_ErrorGetCode();
    }).join();
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(error, BASS_ERROR_FILEOPEN);
}

TEST_F(AudioLibrary, HandlesAreUniqueAndDeadOnesFailEveryCall) {
    std::set<DWORD> seen;
    for (int i = 0; i < 100; ++i) {
        DWORD handle = Open(ShortWav(), false);
        EXPECT_TRUE(handle != 0 && seen.insert(handle).second);
        BASS_StreamFree(handle);
    }
    DWORD stream = Open(ShortWav(), false);
    DWORD module = Open(Module(), true);
    EXPECT_FALSE(BASS_StreamFree(module)) << "a module is not freed as a stream";
    EXPECT_FALSE(BASS_MusicFree(stream)) << "nor a stream as a module";
    for (DWORD dead : {0u, *seen.begin(), 0x7FFFFFFFu}) {
        EXPECT_EQ(BASS_ChannelGetLevel(dead), kNoLevel);
        EXPECT_EQ(BASS_ChannelSetSync(dead, BASS_SYNC_END, 0, EndWatcher::Proc, nullptr), 0u);
        EXPECT_FALSE(BASS_ChannelPlay(dead, FALSE));
        EXPECT_FALSE(BASS_StreamFree(dead) || BASS_MusicFree(dead));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    }
    BASS_Free();
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_FALSE(BASS_StreamFree(stream)) << "a handle from before a restart stays dead";
    EXPECT_EQ(seen.count(Open(ShortWav(), false)), 0u);
}

TEST_F(AudioLibrary, ASyncMayFreeItsOwnChannelButNotTheLibrary) {
    EndWatcher watcher;
    watcher.freeFromSync = true;
    watcher.Watch(Open(ShortWav(), false));
    ASSERT_TRUE(watcher.Wait());
    std::lock_guard<std::mutex> guard(watcher.lock);
    EXPECT_TRUE(watcher.ownFree);
    EXPECT_FALSE(watcher.libraryFree);
    EXPECT_NE(Open(ShortWav(), false), 0u) << "the library still runs";
}

// One thread opens, plays and frees while another hammers whatever handle it last saw.
TEST_F(AudioLibrary, CallsFromSeveralThreadsWithStaleHandles) {
    std::atomic<DWORD> latest{0};
    std::atomic<bool> done{false};
    std::thread prober([&] {
        while (!done.load()) {
            DWORD handle = latest.load();
            BASS_ChannelGetLevel(handle);
            BASS_ChannelSetSync(handle, BASS_SYNC_END, 0, EndWatcher::Proc, nullptr);
            BASS_ChannelPlay(handle, FALSE);
        }
    });
    for (int i = 0; i < 30; ++i) {
        bool module = i % 3 == 0;
        DWORD handle = Open(module ? Module() : ShortWav(), module, BASS_STREAM_AUTOFREE);
        latest.store(handle);
        BASS_ChannelPlay(handle, FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 5));
        module ? BASS_MusicFree(handle) : BASS_StreamFree(handle);
    }
    done.store(true);
    prober.join();
}

TEST(AudioLibraryLifecycle, CallsNeedAStartedLibraryThatStartsOnce) {
    EXPECT_EQ(Open(ShortWav(), false), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Free());
    EXPECT_FALSE(BASS_Init(2, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_FALSE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    std::thread([] {
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK) << "error codes are per thread";
    }).join();
    EXPECT_TRUE(BASS_Free());
}

// The real output path: SDL's device thread runs the mixer.
// A device that cannot start is told once while it keeps failing, with the driver's reason; a
// failure for another reason is told again.
TEST(AudioLibraryDevice, ADeviceThatCannotStartIsToldOnce) {
    testing::internal::CaptureStderr();
    for (const char* driver : {"no-such-driver", "no-such-driver", "no-driver-either"}) {
        setenv("SDL_AUDIODRIVER", driver, 1);
        EXPECT_FALSE(BASS_Init(1, 44100, 0, nullptr, nullptr));
    }
    UseDummyAudioDriver();
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 2) << told;
    const size_t first = told.find("vormel: no sound: ");
    EXPECT_EQ(first, 0u) << told;
    EXPECT_NE(told.find("no-such-driver"), std::string::npos) << told;
    EXPECT_NE(told.find("vormel: no sound: ", first + 1), std::string::npos) << told;
}

TEST(AudioLibraryDevice, AStreamPlaysThroughTheSdlDeviceToItsEnd) {
    UseDummyAudioDriver();
    ASSERT_TRUE(BASS_Init(1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    DWORD handle = Open(Sound("full.wav", {1.0}), false, BASS_STREAM_AUTOFREE);
    EndWatcher watcher;
    watcher.Watch(handle);
    EXPECT_TRUE(Eventually([&] { return BASS_ChannelGetLevel(handle) == kFullScale; }));
    EXPECT_TRUE(watcher.Wait());
    EXPECT_TRUE(BASS_Free());
}

} // namespace
