// The main window's procedure on a private Xvfb, with the real view, scene and sound library: a
// close releases the sound before the window goes, and a timer tick measures its step before it
// draws with it.
#include "app/main_window.h"
#include "app/startup.h"
#include "audio/playback.h"
#include "platform/os/clock.h"
#include "platform/os/window_internal.h"
#include "render/frame_render.h"
#include "render/gl_setup.h"
#include "scene/frame_clock.h"
#include "support/frame_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A counter in milliseconds that the test moves by hand.
struct HandClock {
    static inline int64_t now = 0;
    static int Frequency(int64_t* f) {
        *f = 1000;
        return 1;
    }
    static int Counter(int64_t* c) {
        *c = now;
        return 1;
    }
    static uint32_t Millis() { return static_cast<uint32_t>(now); }
    static void Sleep(uint32_t ms) { now += ms; }
};

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        static const ClockFunctions clock = {HandClock::Frequency, HandClock::Counter,
                                             HandClock::Millis, HandClock::Sleep};
        SetClockFunctions(&clock);
        ASSERT_NE(RegisterPorvaneClass(), 0);
        gMainWnd = CreateMainWindow("Vormel main window test", 868, 532, MainWndProc);
        ASSERT_NE(gMainWnd, nullptr);
        gGlCtrl = CreateChildWindow(kGlControlClass, gMainWnd, ID_GLCTRL, 10, 10, 712, 512);
        ASSERT_NE(gGlCtrl, nullptr);
        gResourceFolder = ExecutableFolder() + "Resource/";
        SetupOpenGL();
        ResetFrameRender();
        const std::string sound = gResourceFolder + "audio.ogg";
        std::strcpy(gAudioFile, sound.c_str());
    }
    void TearDown() override {
        if (IsWindow(gMainWnd)) DestroyWindow(gMainWnd);
        FreeChannel();
        AudioShutdown();
        SetClockFunctions(nullptr);
    }
};

TEST_F(MainWindow, CloseReleasesTheSoundThenTheWindowAndEndsTheLoop) {
    ASSERT_TRUE(PlayAudioFile(gMainWnd));
    const DWORD channel = gChannel.load();
    ASSERT_NE(channel, 0u);

    SendMessage(gMainWnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(gChannel.load(), 0u);
    EXPECT_FALSE(BASS_StreamFree(channel)) << "the channel was released";
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(IsWindow(gMainWnd));
    EXPECT_EQ(gTextures[1].glName, 0) << "the textures went with the window";
    EXPECT_EQ(RunMessageLoop(), 0) << "the window's end posted the quit";
}

// Each tick draws with the step it has just measured, not the one before: two ticks 0.5 s and
// 0.25 s after the last leave a formation's 10 s hold at 9.75 s.
TEST_F(MainWindow, ATimerTickMeasuresItsStepBeforeItDraws) {
    gAudioFile[0] = '\0'; // a sound that starts would restart the clock with the scene
    Message tick;
    tick.id = WM_TIMER;
    tick.timerId = ID_FRAMETIMER;
    HandClock::now += 500;
    MainWndProc(gMainWnd, tick);
    EXPECT_FLOAT_EQ(gFrameStep, 0.5f);
    EXPECT_EQ(gSceneStarted, -1);
    EXPECT_FLOAT_EQ(formationHold, 10.0f) << "the first frame chose a formation";

    HandClock::now += 250;
    MainWndProc(gMainWnd, tick);
    EXPECT_FLOAT_EQ(gFrameStep, 0.25f);
    EXPECT_FLOAT_EQ(formationHold, 9.75f);
}

} // namespace
