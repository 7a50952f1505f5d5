// Playback of the one sound through the real library on SDL's silent driver: which files open as
// modules, what becomes of the channel that plays when another file comes, how a sound that ends
// comes round again, and the end callback arriving late.
#include "audio/playback.h"
#include "support/sound_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

void SetAudioFile(const std::string& path) {
    ASSERT_LT(path.size(), sizeof(gAudioFile));
    std::strcpy(gAudioFile, path.c_str());
}

bool WaitForNoChannel() {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (gChannel.load() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    return gChannel.load() == 0;
}

class AudioPlayback : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        UseDummyAudioDriver();
        std::filesystem::create_directory(folder_->Path("Mixed Case"));
        ASSERT_TRUE(WriteSound(Long(), SoundFormat::OggVorbis, {3.0}) &&
                    WriteSound(Other(), SoundFormat::WavPcm16, {3.0}) &&
                    WriteSound(Short(), SoundFormat::WavPcm16, {0.15}) && WriteModule(Tune(), {}) &&
                    WriteModule(LongTune(), {64, 6, 1}));
    }
    static void TearDownTestSuite() { folder_.reset(); }
    void TearDown() override {
        FreeChannel();
        AudioShutdown();
    }

    static std::string Long() { return folder_->Path("Mixed Case/Long Tone.OGG"); }
    static std::string Other() { return folder_->Path("other.wav"); }
    static std::string Short() { return folder_->Path("short.wav"); }
    static std::string Tune() { return folder_->Path("tune.mod"); }
    static std::string LongTune() { return folder_->Path("long.XM.mod"); }

    static inline std::unique_ptr<ScratchFolder> folder_ = std::make_unique<ScratchFolder>();
};

// The extension from the last dot decides, whole and in any case. The folder does not exist, so
// every open fails, and the module flag shows which open was tried.
TEST_F(AudioPlayback, TheLastExtensionChoosesModuleOrStream) {
    struct Case {
        const char* name;
        int32_t module;
    } cases[] = {
        {"song.MOD", 1},       {"song.Xm", 1},      {"a.mo3", 1},     {"song.ogg.mod", 1},
        {"x.it", 1},           {"x.S3M", 1},        {"x.mtm", 1},     {"x.umx", 1},
        {"song.ogg", 0},       {"song.mp3", 0},     {"song.wav", 0},  {"track", 0},
        {"my.files/track", 0}, {"song.mod.ogg", 0}, {"song.", 0},     {"song.i", 0},
        {"song.m", 0},         {"song.3m", 0},      {"song.modx", 0}, {"song.xm.mod.", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gChannelIsModule.store(-1);
        SetAudioFile(std::string("/nonexistent folder/") + c.name);
        EXPECT_EQ(PlayAudioFile(nullptr), 0);
        EXPECT_EQ(gChannel.load(), 0u);
        EXPECT_EQ(gChannelIsModule.load(), c.module);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN) << "the open was tried";
    }
    // A path as long as the buffer holds fails the same way, and the next file plays.
    SetAudioFile("/" + std::string(sizeof(gAudioFile) - 2, 'a'));
    EXPECT_EQ(PlayAudioFile(nullptr), 0);
    SetAudioFile(Other());
    EXPECT_TRUE(PlayAudioFile(nullptr));
}

TEST_F(AudioPlayback, PlayingAFileFreesTheOldChannelFirstEvenWhenTheNewOneFails) {
    SetAudioFile(LongTune());
    ASSERT_TRUE(PlayAudioFile(nullptr));
    DWORD module = gChannel.load();
    EXPECT_EQ(gChannelIsModule.load(), 1);

    SetAudioFile(Long());
    ASSERT_TRUE(PlayAudioFile(nullptr)) << "a path with capitals and spaces plays as it is";
    EXPECT_EQ(std::string(gAudioFile), Long());
    DWORD stream = gChannel.load();
    EXPECT_FALSE(BASS_MusicFree(module)) << "the module was freed when the stream came";

    SetAudioFile("/nonexistent folder/song.ogg");
    EXPECT_EQ(PlayAudioFile(nullptr), 0);
    EXPECT_EQ(gChannel.load(), 0u);
    EXPECT_FALSE(BASS_StreamFree(stream));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// Releasing a channel clears the module flag with the handle: a flag left at 1 would send the
// next stream to the module's free call.
TEST_F(AudioPlayback, FreeingAChannelClearsItsHandleAndModuleFlag) {
    SetAudioFile(LongTune());
    ASSERT_TRUE(PlayAudioFile(nullptr));
    const DWORD module = gChannel.load();
    ASSERT_EQ(gChannelIsModule.load(), 1);
    EXPECT_TRUE(FreeChannel());
    EXPECT_EQ(gChannel.load(), 0u);
    EXPECT_EQ(gChannelIsModule.load(), 0);
    EXPECT_FALSE(BASS_MusicFree(module)) << "freed already";
}

// The end callback clears gChannel with no call from this thread; playing again opens the same
// file from its start with a new channel.
TEST_F(AudioPlayback, ASoundThatEndsClearsTheChannelAndPlaysAgain) {
    for (const std::string& path : {Short(), Tune()}) {
        SCOPED_TRACE(path);
        SetAudioFile(path);
        ASSERT_TRUE(PlayAudioFile(nullptr));
        DWORD first = gChannel.load();
        ASSERT_TRUE(WaitForNoChannel());
        ASSERT_TRUE(PlayAudioFile(nullptr));
        EXPECT_NE(gChannel.load(), first);
    }
}

// The late end callback: a sound ended, but before its callback ran, another file was played and
// gChannel names the new channel. The callback must leave the new channel alone.
TEST_F(AudioPlayback, ALateEndCallbackLeavesTheNewChannelAlone) {
    struct Case {
        std::string ended, next;
        int32_t nextIsModule;
    } cases[] = {{Long(), Other(), 0}, {LongTune(), Long(), 0}, {Long(), LongTune(), 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ended + " then " + c.next);
        SetAudioFile(c.ended);
        ASSERT_TRUE(PlayAudioFile(nullptr));
        DWORD ended = gChannel.load();
        SetAudioFile(c.next);
        ASSERT_TRUE(PlayAudioFile(nullptr));
        DWORD next = gChannel.load();

        std::thread([ended] { ChannelEndSync(1, ended, 0, nullptr); }).join();
        EXPECT_EQ(gChannel.load(), next);
        EXPECT_EQ(gChannelIsModule.load(), c.nextIsModule);
        EXPECT_NE(BASS_ChannelGetLevel(next), 0xFFFFFFFFu) << "the new sound still plays";

        // The callback of the channel that plays now does release it, with the matching call.
        std::thread([next] { ChannelEndSync(2, next, 0, nullptr); }).join();
        EXPECT_EQ(gChannel.load(), 0u);
        EXPECT_EQ(BASS_ChannelGetLevel(next), 0xFFFFFFFFu);
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    }
}

TEST_F(AudioPlayback, TheLibraryStartsOnceAndAgainAfterAFailure) {
    ASSERT_NE(AudioInit(nullptr), 0);
    EXPECT_NE(AudioInit(nullptr), 0) << "a second BASS_Init would fail and clear the flag";
    EXPECT_TRUE(AudioShutdown());
    EXPECT_EQ(gAudioStarted, 0);

    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_EQ(AudioInit(nullptr), 0);
    SetAudioFile(Other());
    EXPECT_EQ(PlayAudioFile(nullptr), 0);
    UseDummyAudioDriver();
    EXPECT_TRUE(PlayAudioFile(nullptr)) << "the next play tries to start the library again";
}

// With nothing open or nothing started these make no library call, so the thread's last error
// code survives them.
TEST_F(AudioPlayback, NothingToReleaseCallsNothing) {
    BASS_StreamFree(0);
    int before = BASS_ErrorGetCode();
    ASSERT_NE(before, BASS_OK);
    EXPECT_EQ(FreeChannel(), 0);
    EXPECT_EQ(AudioShutdown(), 0);
    EXPECT_EQ(BASS_ErrorGetCode(), before);
}

} // namespace
