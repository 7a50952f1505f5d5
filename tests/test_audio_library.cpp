// The audio library with real decoders on real files made here: what each format decodes to, what
// plays to its end and when its end sync fires, the levels it reports, how it refuses bad input,
// and how its handles behave from several threads. Most cases run on the no-sound device, which
// is clocked like a sound card.
#include "platform/sound/bass.h"
#include "platform/sound/source.h"
#include "support/sound_fixtures.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Generous: these limits only turn a hang into a failure; nothing here measures speed.
constexpr auto kPatience = 10s;

struct Fixtures {
    ScratchFolder folder;
    std::string wav = folder.Path("tone.wav");
    std::string flac = folder.Path("tone.flac");
    std::string ogg = folder.Path("tone.ogg");
    std::string monoLowRate = folder.Path("mono-22050.flac");
    std::string surround = folder.Path("six.wav");
    std::string module = folder.Path("tune.mod");
    std::string full = folder.Path("full.wav");
    std::string half = folder.Path("half.wav");
    std::string silent = folder.Path("silent.wav");
    std::string leftOnly = folder.Path("left.wav");
    std::string mono = folder.Path("mono.wav");
    std::string burst = folder.Path("burst.wav");

    Fixtures() {
        Signal brief{0.15};
        Signal level{1.0};
        bool ok = WriteSound(wav, SoundFormat::WavPcm16, brief) &&
                  WriteSound(flac, SoundFormat::Flac, brief) &&
                  WriteSound(ogg, SoundFormat::OggVorbis, {0.3}) &&
                  WriteSound(monoLowRate, SoundFormat::Flac, {0.25, {0.5}, 22050}) &&
                  WriteSound(surround, SoundFormat::WavFloat, {0.1, {1, 1, 1, 1, 1, 1}}) &&
                  WriteModule(module, {}) && WriteSound(full, SoundFormat::WavFloat, level) &&
                  WriteSound(half, SoundFormat::WavFloat, {1.0, {0.5, 0.5}}) &&
                  WriteSound(silent, SoundFormat::WavFloat, {1.0, {0.0, 0.0}}) &&
                  WriteSound(leftOnly, SoundFormat::WavFloat, {1.0, {1.0, 0.0}}) &&
                  WriteSound(mono, SoundFormat::WavFloat, {1.0, {1.0}}) &&
                  WriteSound(burst, SoundFormat::WavFloat, {1.5, {1.0, 1.0}, 44100, 0.3});
        EXPECT_TRUE(ok);
    }
};

const Fixtures& Files() {
    static Fixtures fixtures;
    return fixtures;
}

// Counts the end syncs of one channel and lets a test wait for the first.
struct EndWatcher {
    std::mutex lock;
    std::condition_variable changed;
    int calls = 0;
    DWORD channel = 0;
    std::thread::id thread;
    bool freeOwnChannel = false;
    BOOL ownFree = FALSE;
    BOOL libraryFree = TRUE;

    static void Proc(HSYNC, DWORD channel, DWORD, void* user) {
        auto* watcher = static_cast<EndWatcher*>(user);
        BOOL ownFree = watcher->freeOwnChannel ? BASS_StreamFree(channel) : FALSE;
        BOOL libraryFree = watcher->freeOwnChannel ? BASS_Free() : TRUE;
        std::lock_guard<std::mutex> guard(watcher->lock);
        ++watcher->calls;
        watcher->channel = channel;
        watcher->thread = std::this_thread::get_id();
        watcher->ownFree = ownFree;
        watcher->libraryFree = libraryFree;
        watcher->changed.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, kPatience, [this] { return calls > 0; });
    }
    int Calls() {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }
};

DWORD Open(const std::string& path, bool module, DWORD flags = 0) {
    return module ? BASS_MusicLoad(FALSE, path.c_str(), 0, 0, flags | BASS_MUSIC_PRESCAN, 0)
                  : BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, flags);
}

BOOL Free(DWORD handle, bool module) {
    return module ? BASS_MusicFree(handle) : BASS_StreamFree(handle);
}

// Polls the level until it equals expected or patience runs out; returns the last reading.
DWORD LevelSettlingOn(DWORD handle, DWORD expected) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    DWORD level = BASS_ChannelGetLevel(handle);
    while (level != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(2ms);
        level = BASS_ChannelGetLevel(handle);
    }
    return level;
}

// Waits until the library no longer knows handle (as opposed to knowing it as not playing).
bool HandleDies(DWORD handle) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (BASS_ChannelGetLevel(handle) == 0xFFFFFFFF && BASS_ErrorGetCode() != BASS_ERROR_HANDLE &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return BASS_ErrorGetCode() == BASS_ERROR_HANDLE;
}

class AudioLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        Files();
        ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    }
    void TearDown() override { BASS_Free(); }
};

// Every source ends as 44.1 kHz stereo, whatever the file's rate and channel count.
TEST(AudioDecoding, EveryFormatBecomes44kStereoOfTheSameLength) {
    struct Case {
        std::string path;
        bool module;
        double seconds;
    } cases[] = {{Files().wav, false, 0.15},     {Files().flac, false, 0.15},
                 {Files().ogg, false, 0.3},      {Files().monoLowRate, false, 0.25},
                 {Files().surround, false, 0.1}, {Files().module, true, 6 * 2 * 0.02}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int error = -1;
        auto source = c.module ? sound::OpenModuleSource(c.path.c_str(), &error)
                               : sound::OpenStreamSource(c.path.c_str(), &error);
        ASSERT_TRUE(source);
        EXPECT_EQ(error, BASS_OK);
        std::vector<float> frames(2 * 4096);
        size_t total = 0;
        bool channelsMatch = true, finite = true;
        while (size_t got = source->Read(frames.data(), 4096)) {
            for (size_t i = 0; i < got; ++i) {
                channelsMatch &= frames[2 * i] == frames[2 * i + 1];
                finite &= std::isfinite(frames[2 * i]) && std::fabs(frames[2 * i]) <= 1.5f;
            }
            total += got;
        }
        // libopenmpt lets a module's end ring on briefly; a stream keeps its length to the frame.
        EXPECT_NEAR(static_cast<double>(total), c.seconds * 44100, c.module ? 0.15 * 44100 : 1);
        EXPECT_TRUE(finite);
        if (c.path == Files().monoLowRate) {
            EXPECT_TRUE(channelsMatch) << "mono is doubled";
        }
    }
}

TEST_F(AudioLibrary, StreamsAndModulesPlayToTheirEndAndSyncOnce) {
    struct Case {
        std::string path;
        bool module;
    } cases[] = {{Files().wav, false},
                 {Files().ogg, false},
                 {Files().monoLowRate, false},
                 {Files().module, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DWORD handle = Open(c.path, c.module, BASS_STREAM_AUTOFREE);
        ASSERT_NE(handle, 0u);
        EndWatcher watcher;
        ASSERT_NE(BASS_ChannelSetSync(handle, BASS_SYNC_END | BASS_SYNC_ONETIME, 0,
                                      EndWatcher::Proc, &watcher),
                  0u);
        ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
        ASSERT_TRUE(watcher.Wait());
        EXPECT_EQ(watcher.channel, handle);
        EXPECT_NE(watcher.thread, std::this_thread::get_id());
        // Freed on its own once its syncs have run: then the handle is dead for every call.
        EXPECT_TRUE(HandleDies(handle));
        EXPECT_FALSE(Free(handle, c.module));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_FALSE(BASS_ChannelPlay(handle, FALSE));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(watcher.Calls(), 1);
    }
}

TEST_F(AudioLibrary, WithoutAutoFreeAnEndedChannelWaitsToBeFreed) {
    DWORD handle = Open(Files().wav, false);
    EndWatcher watcher;
    BASS_ChannelSetSync(handle, BASS_SYNC_END, 0, EndWatcher::Proc, &watcher);
    EXPECT_EQ(BASS_ChannelGetLevel(handle), 0xFFFFFFFFu) << "not playing yet";
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
    ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
    ASSERT_TRUE(watcher.Wait());
    EXPECT_EQ(BASS_ChannelGetLevel(handle), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
    EXPECT_FALSE(BASS_ChannelPlay(handle, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
    EXPECT_TRUE(BASS_StreamFree(handle));
    EXPECT_FALSE(BASS_StreamFree(handle));
}

// The peak of the channel's own samples over the last 20 ms, full scale 32768, left low word.
TEST_F(AudioLibrary, LevelsAreThePeaksOfTheSoundBeingHeard) {
    struct Case {
        std::string path;
        DWORD level;
    } cases[] = {{Files().full, 32768u | 32768u << 16},
                 {Files().half, 16384u | 16384u << 16},
                 {Files().silent, 0u},
                 {Files().leftOnly, 32768u},
                 {Files().mono, 32768u | 32768u << 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DWORD handle = Open(c.path, false);
        ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(LevelSettlingOn(handle, c.level), c.level);
        BASS_StreamFree(handle);
    }
}

TEST_F(AudioLibrary, TheLevelFallsBackWhenTheSoundFallsSilent) {
    DWORD handle = Open(Files().burst, false);
    ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
    EXPECT_EQ(LevelSettlingOn(handle, 32768u | 32768u << 16), 32768u | 32768u << 16);
    EXPECT_EQ(LevelSettlingOn(handle, 0), 0u) << "the peak is not held beyond its 20 ms";
    BASS_StreamFree(handle);
}

// Each bad input is refused at once with a reason, and the library keeps working.
TEST_F(AudioLibrary, BadInputIsRefusedAndTheNextOpenWorks) {
    const Fixtures& files = Files();
    ScratchFolder scratch;
    std::vector<uint8_t> ogg = ReadBytes(files.ogg);
    std::vector<uint8_t> corrupt = ogg;
    std::vector<uint8_t> noise = NoiseBytes(corrupt.size(), 7);
    std::copy(noise.begin() + 64, noise.end(), corrupt.begin() + 64);
    std::string fifo = scratch.Path("pipe.ogg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string longest = scratch.Path("");
    longest.resize(4095, 'a');
    ASSERT_TRUE(WriteBytes(scratch.Path("empty.ogg"), {}));
    ASSERT_TRUE(WriteBytes(scratch.Path("head.ogg"), {ogg.begin(), ogg.begin() + 200}));
    ASSERT_TRUE(WriteBytes(scratch.Path("corrupt.ogg"), corrupt));
    ASSERT_TRUE(WriteBytes(scratch.Path("noise.mod"), NoiseBytes(4096, 1)));
    ASSERT_TRUE(WriteBytes(scratch.Path("noise.wav"), NoiseBytes(4096, 2)));

    struct Case {
        std::string what;
        std::string path;
        bool module;
        int error;
    } cases[] = {
        {"missing", scratch.Path("missing.ogg"), false, BASS_ERROR_FILEOPEN},
        {"folder", scratch.Path(""), false, BASS_ERROR_FILEOPEN},
        {"folder as module", scratch.Path(""), true, BASS_ERROR_FILEOPEN},
        {"empty", scratch.Path("empty.ogg"), false, BASS_ERROR_FILEFORM},
        {"empty module", scratch.Path("empty.ogg"), true, BASS_ERROR_FILEFORM},
        {"cut in its headers", scratch.Path("head.ogg"), false, BASS_ERROR_FILEFORM},
        {"corrupt", scratch.Path("corrupt.ogg"), false, BASS_ERROR_FILEFORM},
        {"random .mod", scratch.Path("noise.mod"), true, BASS_ERROR_FILEFORM},
        {"random .wav", scratch.Path("noise.wav"), false, BASS_ERROR_FILEFORM},
        {"fifo", fifo, false, BASS_ERROR_FILEOPEN},
        {"fifo as module", fifo, true, BASS_ERROR_FILEOPEN},
        {"device node", "/dev/zero", false, BASS_ERROR_FILEOPEN},
        {"longest path", longest, false, BASS_ERROR_FILEOPEN},
        {"empty path", "", false, BASS_ERROR_FILEOPEN},
        {"a stream as module", files.ogg, true, BASS_ERROR_FILEFORM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Open(c.path, c.module), 0u);
        EXPECT_EQ(BASS_ErrorGetCode(), c.error);
        DWORD good = Open(files.wav, false);
        EXPECT_NE(good, 0u);
        EXPECT_TRUE(BASS_StreamFree(good));
    }
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, nullptr, 0, 0, 0), 0u);
}

// A stream cut off in the middle decodes what it holds, then ends instead of waiting for more.
TEST(AudioDecoding, AStreamCutShortDecodesWhatItHoldsAndEnds) {
    ScratchFolder scratch;
    ASSERT_TRUE(WriteSound(scratch.Path("whole.ogg"), SoundFormat::OggVorbis, {10.0}));
    std::vector<uint8_t> ogg = ReadBytes(scratch.Path("whole.ogg"));
    ASSERT_TRUE(WriteBytes(scratch.Path("half.ogg"), {ogg.begin(), ogg.begin() + ogg.size() / 2}));
    int error = -1;
    auto source = sound::OpenStreamSource(scratch.Path("half.ogg").c_str(), &error);
    ASSERT_TRUE(source);
    std::vector<float> frames(2 * 4096);
    size_t total = 0;
    while (size_t got = source->Read(frames.data(), 4096))
        total += got;
    EXPECT_GT(total, 44100u);
    EXPECT_LT(total, 10u * 44100u);
    EXPECT_EQ(source->Read(frames.data(), 4096), 0u);
}

// capset changes only the calling thread: this thread loses the right to read any file, so a
// file without read permission is unreadable even when the tests run as root.
bool DropFileReadingPrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int bit : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[bit / 32].effective &= ~(1u << (bit % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(AudioLibrary, AnUnreadableFileIsRefused) {
    ScratchFolder scratch;
    std::string locked = scratch.Path("locked.wav");
    ASSERT_TRUE(WriteSound(locked, SoundFormat::WavPcm16, {}));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    DWORD handle = 1;
    int error = BASS_OK;
    std::thread reader([&] {
        if (!DropFileReadingPrivilege()) return;
        handle = Open(locked, false);
        error = BASS_ErrorGetCode();
    });
    reader.join();
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(error, BASS_ERROR_FILEOPEN);
}

TEST_F(AudioLibrary, DeadHandlesFailEveryCallHarmlessly) {
    DWORD stream = Open(Files().wav, false);
    DWORD module = Open(Files().module, true);
    DWORD freed = Open(Files().wav, false);
    ASSERT_TRUE(BASS_StreamFree(freed));
    EXPECT_FALSE(BASS_StreamFree(module)) << "a module is not freed as a stream";
    EXPECT_FALSE(BASS_MusicFree(stream)) << "a stream is not freed as a module";
    for (DWORD dead : {0u, freed, 0x7FFFFFFFu}) {
        SCOPED_TRACE(dead);
        EXPECT_EQ(BASS_ChannelGetLevel(dead), 0xFFFFFFFFu);
        EXPECT_EQ(BASS_ChannelSetSync(dead, BASS_SYNC_END, 0, EndWatcher::Proc, nullptr), 0u);
        EXPECT_FALSE(BASS_ChannelPlay(dead, FALSE));
        EXPECT_FALSE(BASS_StreamFree(dead));
        EXPECT_FALSE(BASS_MusicFree(dead));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    }
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_TRUE(BASS_MusicFree(module));
}

TEST_F(AudioLibrary, HandlesAreNeverGivenOutTwice) {
    std::set<DWORD> seen;
    for (int i = 0; i < 100; ++i) {
        DWORD handle = Open(Files().wav, false);
        ASSERT_NE(handle, 0u);
        EXPECT_TRUE(seen.insert(handle).second);
        BASS_StreamFree(handle);
    }
    DWORD before = *seen.rbegin();
    BASS_Free();
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_FALSE(BASS_StreamFree(before)) << "a handle from before a restart stays dead";
    EXPECT_EQ(seen.count(Open(Files().wav, false)), 0u);
}

TEST_F(AudioLibrary, ASyncMayFreeItsOwnChannelButNotTheLibrary) {
    DWORD handle = Open(Files().wav, false);
    EndWatcher watcher;
    watcher.freeOwnChannel = true;
    BASS_ChannelSetSync(handle, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, EndWatcher::Proc, &watcher);
    ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
    ASSERT_TRUE(watcher.Wait());
    std::lock_guard<std::mutex> guard(watcher.lock);
    EXPECT_TRUE(watcher.ownFree);
    EXPECT_FALSE(watcher.libraryFree);
    EXPECT_EQ(Open(Files().wav, false) != 0, true) << "the library still runs";
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
        DWORD handle = Open(module ? Files().module : Files().wav, module, BASS_STREAM_AUTOFREE);
        latest.store(handle);
        BASS_ChannelPlay(handle, FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 5));
        Free(handle, module);
    }
    done.store(true);
    prober.join();
}

TEST(AudioLibraryLifecycle, CallsNeedAStartedLibraryAndStartOnlyOnce) {
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, Files().wav.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_Free());
    EXPECT_FALSE(BASS_Init(2, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_FALSE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    // Error codes belong to the thread that made the call.
    std::thread([] {
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
        BASS_StreamFree(0);
    }).join();
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_Free());
}

// The real output path: SDL's device thread runs the mixer.
TEST(AudioLibraryDevice, AStreamPlaysThroughTheSdlDeviceToItsEnd) {
    UseDummyAudioDriver();
    ASSERT_TRUE(BASS_Init(1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
    DWORD handle = Open(Files().full, false, BASS_STREAM_AUTOFREE);
    EndWatcher watcher;
    BASS_ChannelSetSync(handle, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, EndWatcher::Proc, &watcher);
    ASSERT_TRUE(BASS_ChannelPlay(handle, FALSE));
    EXPECT_EQ(LevelSettlingOn(handle, 32768u | 32768u << 16), 32768u | 32768u << 16);
    EXPECT_TRUE(watcher.Wait());
    EXPECT_TRUE(BASS_Free());
}

} // namespace
