// The program as its user meets it, in this process: the real start-up on a private X server
// (skin, view, slider, label, clock, picture, the default sound), then real input through the X
// server and what the window procedures make of it.
#include "app/command_line.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/view_input.h"
#include "audio/listening.h"
#include "audio/playback.h"
#include "platform/glview/readback.h"
#include "render/frame_render.h"
#include "render/projection.h"
#include "scene/frame_clock.h"
#include "scene/scene_init.h"
#include "support/desktop.h"
#include "support/message_log.h"
#include "support/sound_fixtures.h"
#include "support/xdnd_source.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Rect = std::array<int, 4>;

Rect RectOf(WindowHandle child) {
    Rect r{};
    GetChildPosition(child, &r[0], &r[1]);
    GetClientSize(child, &r[2], &r[3]);
    return r;
}

class TheProgram : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        started_ = StartUp(nullptr);
        watch_ = CreateMainWindow("watch", 10, 10, RecordingProc);
    }
    static void TearDownTestSuite() {
        DestroyWindow(watch_);
        if (started_ == kKeepRunning) {
            SendMessage(gMainWnd, WM_CLOSE, 0, 0);
            RunUntilQuit();
        }
    }
    void SetUp() override {
        ASSERT_EQ(started_, kKeepRunning);
        ASSERT_TRUE(desktop_.connected());
    }
    // Runs the program's message loop (frames and all) until done holds.
    static bool RunUntil(const std::function<bool()>& done) { return RunLoopUntil(watch_, done); }
    void PointAtView(int x, int y) {
        int sx = 0, sy = 0;
        GetClientScreenPosition(gGlCtrl, &sx, &sy);
        desktop_.MovePointer(sx + x, sy + y);
    }

    static inline int started_ = 0;
    static inline WindowHandle watch_ = nullptr;
    FakeDesktop desktop_;
};

} // namespace

TEST(CommandLine, TakesOneFileAndTheUsualOptions) {
    const struct {
        std::vector<const char*> args;
        bool help, version, file, error;
    } cases[] = {
        {{"vormel"}, false, false, false, false},
        {{"vormel", "song.ogg"}, false, false, true, false},
        {{"vormel", "--help"}, true, false, false, false},
        {{"vormel", "-h"}, true, false, false, false},
        {{"vormel", "--version"}, false, true, false, false},
        {{"vormel", "-V"}, false, true, false, false},
        {{"vormel", "--", "-dash.ogg"}, false, false, true, false},
        {{"vormel", "--frobnicate"}, false, false, false, true},
        {{"vormel", "-x"}, false, false, false, true},
        {{"vormel", "a.ogg", "b.ogg"}, false, false, true, true},
        {{"vormel", ""}, false, false, false, true},
        {{"vormel", "--fps", "30"}, false, false, false, false},
        {{"vormel", "--fps=0", "a.ogg"}, false, false, true, false},
        {{"vormel", "--fps"}, false, false, false, true},
        {{"vormel", "--fps", "-1"}, false, false, false, true},
        {{"vormel", "--fps", "1001"}, false, false, false, true},
        {{"vormel", "--fps", "12x"}, false, false, false, true},
        {{"vormel", "--fullscreen", "a.ogg"}, false, false, true, false},
        {{"vormel", "--render", "a.ogg", "--png", "f", "--fullscreen"}, false, false, true, true},
    };
    for (const auto& c : cases) {
        const CommandLine line = ParseCommandLine(static_cast<int>(c.args.size()), c.args.data());
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(line.help, c.help);
        EXPECT_EQ(line.version, c.version);
        EXPECT_EQ(!line.file.empty(), c.file);
        EXPECT_EQ(!line.error.empty(), c.error);
    }
    const char* full[] = {"vormel", "--fullscreen"};
    EXPECT_TRUE(ParseCommandLine(2, full).fullScreen);
    EXPECT_FALSE(ParseCommandLine(1, full).fullScreen);
    const char* fps[] = {"vormel", "--fps", "144"};
    EXPECT_EQ(ParseCommandLine(3, fps).fps, 144);
    EXPECT_EQ(ParseCommandLine(1, fps).fps, -1);
    // A relative file is made absolute: a running copy elsewhere must find it.
    const char* relative[] = {"vormel", "Music/../Song.OGG"};
    EXPECT_EQ(ParseCommandLine(2, relative).file,
              (std::filesystem::current_path() / "Song.OGG").string());
}

// The correction of the output's latency: whole milliseconds within a second either way, from
// --delay or else VORMEL_DELAY; anything else is refused (the command line's with its usage, the
// environment's through ReadOptions), and a render, whose frames show their own moment, takes none.
TEST(CommandLine, TheLatencyCorrectionIsWholeMillisecondsWithinASecond) {
    const struct {
        std::vector<const char*> args;
        std::vector<const char*> env;
        int delay;
        bool error, refused;
    } cases[] = {
        {{"vormel", "--delay", "100"}, {}, 100, false, false},
        {{"vormel", "--delay=-250"}, {}, -250, false, false},
        {{"vormel", "--delay", "-1000", "a.ogg"}, {}, -1000, false, false},
        {{"vormel", "--delay", "+1000"}, {}, 1000, false, false},
        {{"vormel", "--delay", "1001"}, {}, 0, true, false},
        {{"vormel", "--delay", "-1001"}, {}, 0, true, false},
        {{"vormel", "--delay", "soon"}, {}, 0, true, false},
        {{"vormel", "--delay", "1.5"}, {}, 0, true, false},
        {{"vormel", "--delay="}, {}, 0, true, false},
        {{"vormel", "--delay"}, {}, 0, true, false},
        {{"vormel", "--render", "a.ogg", "--png", "f", "--delay", "5"}, {}, 5, true, false},
        {{"vormel"}, {"VORMEL_DELAY=40"}, 40, false, false},
        {{"vormel"}, {"VORMEL_DELAY=-40"}, -40, false, false},
        {{"vormel"}, {"VORMEL_DELAY="}, 0, false, false},
        {{"vormel"}, {"VORMEL_DELAY=later"}, 0, false, true},
        {{"vormel"}, {"VORMEL_DELAY=2000"}, 0, false, true},
        {{"vormel", "--delay", "5"}, {"VORMEL_DELAY=later"}, 5, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.empty() ? c.args.back() : c.env.front());
        std::vector<const char*> env = c.env;
        env.push_back(nullptr);
        const CommandLine line = ParseCommandLine(static_cast<int>(c.args.size()), c.args.data());
        std::string refused;
        const PlatformOptions options = ReadOptions(line, env.data(), &refused);
        EXPECT_EQ(!line.error.empty(), c.error) << line.error;
        EXPECT_EQ(!refused.empty(), c.refused) << refused;
        if (!c.error && !c.refused) {
            EXPECT_EQ(options.delayMs, c.delay);
        }
    }
    const char* noDelay[] = {"vormel"};
    const char* trace[] = {"VORMEL_LEVEL_TRACE=/tmp/levels.txt", nullptr};
    EXPECT_EQ(ReadOptions(ParseCommandLine(1, noDelay), trace).levelTrace, "/tmp/levels.txt");
}

// The environment is read into the platform's options once, after the command line, which wins.
TEST(CommandLine, TheEnvironmentFillsThePlatformsOptions) {
    // The three diagnostic switches take one rule: unset, empty or 0 is off, anything else on.
    const struct {
        std::vector<const char*> args;
        std::vector<const char*> env;
        int cap;
        bool vsync, glInfo, audioLog, renderInfo;
    } cases[] = {
        {{"vormel"}, {"HOME=/root"}, -1, true, false, false, false},
        {{"vormel"}, {"VORMEL_FPS=20", "VORMEL_VSYNC=0"}, 20, false, false, false, false},
        {{"vormel", "--fps", "25"}, {"VORMEL_FPS=50"}, 25, true, false, false, false},
        {{"vormel"}, {"VORMEL_FPS=fast", "VORMEL_VSYNC=1"}, -1, true, false, false, false},
        {{"vormel"}, {"VORMEL_GL_INFO=1", "VORMEL_AUDIO_LOG="}, -1, true, true, false, false},
        {{"vormel"}, {"VORMEL_AUDIO_LOG=0", "VORMEL_RENDER_INFO=0"}, -1, true, false, false, false},
        {{"vormel"}, {"VORMEL_GL_INFO=0", "VORMEL_RENDER_INFO="}, -1, true, false, false, false},
        {{"vormel"},
         {"VORMEL_AUDIO_LOG=1", "VORMEL_RENDER_INFO=yes", "VORMEL_GL_INFO=2"},
         -1, true, true, true, true},
        {{"vormel"}, {"VORMEL_GL_INFO=yes", "VORMEL_FPS"}, -1, true, true, false, false},
        {{"vormel", "--render", "a.ogg", "--png", "f"}, {"VORMEL_FPS=20"}, -1, true, false, false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.front());
        std::vector<const char*> env = c.env;
        env.push_back(nullptr);
        const CommandLine line = ParseCommandLine(static_cast<int>(c.args.size()), c.args.data());
        const PlatformOptions options = ReadOptions(line, env.data());
        EXPECT_EQ(options.frameRateCap, c.cap);
        EXPECT_EQ(options.vsync, c.vsync);
        EXPECT_EQ(options.glInfo, c.glInfo);
        EXPECT_EQ(options.audioLog, c.audioLog);
        EXPECT_EQ(options.renderInfo, c.renderInfo);
    }
}

TEST_F(TheProgram, StartsWithItsWindowsWhereTheyWereAsked) {
    EXPECT_EQ(GetWindowText(gMainWnd), "Vormel");
    int cw = 0, ch = 0;
    GetClientSize(gMainWnd, &cw, &ch);
    EXPECT_EQ(std::tie(cw, ch), std::make_tuple(868, 532));
    EXPECT_EQ(RectOf(gGlCtrl), (Rect{10, 10, 712, 512}));
    EXPECT_EQ(RectOf(FindChild(gMainWnd, ID_TRACKBAR)), (Rect{740, 457, 120, 16}));
    EXPECT_EQ(RectOf(FindChild(gMainWnd, ID_LABEL)), (Rect{734, 147, 129, 216}));
    EXPECT_EQ(RectOf(FindChild(gMainWnd, ID_IMAGE)), (Rect{730, 143, 137, 281}));
    int clockX = 0, clockY = 0;
    GetChildPosition(FindChild(gMainWnd, ID_CLOCK), &clockX, &clockY);
    EXPECT_EQ(std::tie(clockX, clockY), std::make_tuple(10 + 712 + 31, 10));
    EXPECT_EQ(GetWindowText(FindChild(gMainWnd, ID_LABEL)), kHelpText);
    EXPECT_EQ(std::strlen(kHelpText), 87u);
    // The slider shows 50, but the view keeps its 45 degrees until the slider first moves.
    EXPECT_EQ(SendMessage(FindChild(gMainWnd, ID_TRACKBAR), TBM_GETPOS, 0, 0), 50);
    EXPECT_EQ(FieldOfView(0, 0), 45);
    EXPECT_EQ(std::string(gAudioFile), gResourceFolder + "audio.ogg");
    EXPECT_NE(gChannel.load(), 0u);
}

namespace {

// Hands a mouse message to the view the way the window system does: to its procedure, which is
// the program's subclass in front of the control's own.
void ToView(uint32_t id, int x, int y) {
    Message m;
    m.id = id;
    m.x = x;
    m.y = y;
    GlCtrlSubclassProc(gGlCtrl, m);
}

struct ViewValues {
    float turn, tilt, panX, panY;
};
ViewValues Values() {
    return {gTurn, gTilt, gPanX, gPanY};
}

} // namespace

TEST_F(TheProgram, ARealLeftDragTurnsAndTiltsHalfADegreeAPixel) {
    SetFocus(gMainWnd);
    PointAtView(300, 200);
    desktop_.PressButton(1);
    ASSERT_TRUE(RunUntil([] { return gLeftDrag != 0; }));
    const ViewValues start = Values();
    // The press gave the view the keyboard focus.
    EXPECT_EQ(GetFocus(), gGlCtrl);
    PointAtView(290, 210);
    ASSERT_TRUE(RunUntil([] { return gLeftLastPos.x == 290 && gLeftLastPos.y == 210; }));
    EXPECT_EQ(gTurn, start.turn - 5);
    EXPECT_EQ(gTilt, start.tilt + 5);
    desktop_.ReleaseButton(1);
    ASSERT_TRUE(RunUntil([] { return gLeftDrag == 0; }));
}

TEST_F(TheProgram, DragsFollowTheirAnchorAndTheButtonsPhysicalState) {
    // Each row starts from turn 10, tilt 20, pan (0, 0): the buttons held through the X server,
    // then messages to the view, then the view values they leave.
    const struct {
        const char* what;
        std::vector<int> held;                    // X buttons held during the row
        std::vector<std::array<int, 3>> messages; // message, x, y
        ViewValues end;
    } rows[] = {
        {"left 10 px left, 10 px down",
         {1},
         {{WM_LBUTTONDOWN, 100, 100}, {WM_MOUSEMOVE, 90, 110}},
         {5, 25, 0, 0}},
        {"right across the whole view",
         {3},
         {{WM_RBUTTONDOWN, 0, 0}, {WM_MOUSEMOVE, 712, 0}},
         {10, 20, 3.75f, 0}},
        {"right down the whole view",
         {3},
         {{WM_RBUTTONDOWN, 0, 0}, {WM_MOUSEMOVE, 0, 512}},
         {10, 20, 0, -3.75f}},
        {"a second press keeps the old anchor",
         {1},
         {{WM_LBUTTONDOWN, 100, 100}, {WM_LBUTTONDOWN, 300, 300}, {WM_MOUSEMOVE, 104, 100}},
         {12, 20, 0, 0}},
        {"released outside: the next move ends the drag unchanged",
         {},
         {{WM_LBUTTONDOWN, 100, 100}, {WM_MOUSEMOVE, 150, 150}},
         {10, 20, 0, 0}},
        // The left drag then measures from the right press and from the saved pan values.
        {"the second button overwrites the shared anchor",
         {1, 3},
         {{WM_LBUTTONDOWN, 100, 100}, {WM_RBUTTONDOWN, 200, 50}, {WM_MOUSEMOVE, 202, 54}},
         {1, 2, static_cast<float>(45.0 * 2 / (12 * 712)),
          static_cast<float>(-45.0 * 4 / (12 * 512))}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        gLeftDrag = gRightDrag = 0;
        gLeftLastPos = gRightLastPos = {-1, -1};
        gTurn = 10, gTilt = 20, gPanX = 0, gPanY = 0;
        // The real press lands beside the view, on the main window; the view hears only the rows'
        // messages, and asks the X server whether the buttons are held.
        PointAtView(716, 50);
        for (int button : row.held)
            desktop_.PressButton(button);
        ASSERT_TRUE(RunUntil([&] {
            return row.held.empty() || QI_IsLButtonDown() == -1 || QI_IsRButtonDown() == -1;
        }));
        for (const auto& [id, x, y] : row.messages)
            ToView(static_cast<uint32_t>(id), x, y);
        const ViewValues end = Values();
        for (int button : row.held)
            desktop_.ReleaseButton(button);
        ASSERT_TRUE(RunUntil([] { return QI_IsLButtonDown() == 0 && QI_IsRButtonDown() == 0; }));
        EXPECT_EQ(end.turn, row.end.turn);
        EXPECT_EQ(end.tilt, row.end.tilt);
        EXPECT_EQ(end.panX, row.end.panX);
        EXPECT_EQ(end.panY, row.end.panY);
    }
    ToView(WM_LBUTTONUP, 0, 0);
    ToView(WM_RBUTTONUP, 0, 0);
}

// Full screen from each of its ways in and out: the view alone fills the screen with a projection
// of the screen's shape, the pointer hides while it rests, and leaving gives the window back where
// it was. A double click turns nothing: its second press starts no drag.
TEST_F(TheProgram, FullScreenFromTheKeysAndADoubleClickShowsTheViewAlone) {
    const auto doubleClick = [this] {
        PointAtView(300, 200);
        for (int i = 0; i < 2; ++i) {
            desktop_.PressButton(1);
            desktop_.ReleaseButton(1);
        }
    };
    const struct {
        const char* what;
        std::function<void()> enter, leave;
    } ways[] = {
        {"F11", [this] { desktop_.TypeKey("F11"); }, [this] { desktop_.TypeKey("F11"); }},
        {"Alt+Enter", [this] { desktop_.TypeKey("Return", "Alt_L"); },
         [this] { desktop_.TypeKey("Return", "Alt_L"); }},
        {"F11, then Esc", [this] { desktop_.TypeKey("F11"); },
         [this] { desktop_.TypeKey("Escape"); }},
        {"a double click", doubleClick, doubleClick},
    };
    int x0 = 0, y0 = 0;
    GetClientScreenPosition(gMainWnd, &x0, &y0);
    bool pointerHid = false;
    for (const auto& way : ways) {
        SCOPED_TRACE(way.what);
        SetFocus(FindChild(gMainWnd, ID_TRACKBAR)); // the window's keys work whatever has it
        const ViewValues before = Values();
        way.enter();
        ASSERT_TRUE(RunUntil([] {
            return GetWindowMode(gMainWnd) == WindowMode::FullScreen &&
                   RectOf(gGlCtrl) == Rect{0, 0, 1280, 1024};
        })) << RectOf(gGlCtrl)[2];
        GLfloat projection[16];
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        EXPECT_NEAR(projection[5] / projection[0], 1280.0 / 1024, 1e-5);
        if (!pointerHid) {
            // Straight from the view to the screen: the scene fills the whole picture.
            KeepPresentedFrames(gMainWnd, true);
            PixelImage shown;
            ASSERT_TRUE(RunUntil([&] { return ReadPresentedPixels(gMainWnd, &shown); }));
            KeepPresentedFrames(gMainWnd, false);
            EXPECT_EQ(std::tie(shown.width, shown.height), std::make_tuple(1280, 1024));
            size_t lit = 0;
            for (size_t i = 0; i < shown.rgba.size(); i += 4)
                lit += shown.rgba[i] + shown.rgba[i + 1] + shown.rgba[i + 2] > 180;
            EXPECT_GT(lit, 1280u * 1024u / 50) << "the scene fills the screen";
            pointerHid = RunUntil([] { return SDL_ShowCursor(SDL_QUERY) == SDL_DISABLE; });
            EXPECT_TRUE(pointerHid) << "the pointer hides after resting";
            PointAtView(400, 300);
            EXPECT_TRUE(RunUntil([] { return SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE; }));
        }
        way.leave();
        ASSERT_TRUE(RunUntil([] {
            return GetWindowMode(gMainWnd) == WindowMode::Normal &&
                   RectOf(gGlCtrl) == Rect{10, 10, 712, 512};
        }));
        int x = 0, y = 0;
        GetClientScreenPosition(gMainWnd, &x, &y);
        EXPECT_EQ(std::tie(x, y), std::tie(x0, y0));
        EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
        EXPECT_EQ(gTurn, before.turn);
        EXPECT_EQ(gTilt, before.tilt);
    }
}

namespace {

// A key as SDL hands it over, held down (repeat) or newly pressed, to whatever has the focus.
void PushKey(SDL_Keycode key, bool repeat) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.repeat = repeat ? 1 : 0;
    event.key.keysym.sym = key;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}

} // namespace

// The window's keys work whatever has the focus (the slider here) and act once per press: a key
// held down switches nothing more, while the slider's own keys go on stepping it; Esc only leaves
// full screen. Each row ends with a step of the slider, so the keys before it have been handled
// when the slider has moved.
TEST_F(TheProgram, TheWindowsKeysActOncePerPressWhateverHasTheFocus) {
    WindowHandle slider = FindChild(gMainWnd, ID_TRACKBAR);
    SetFocus(slider);
    SendMessage(slider, TBM_SETPOS, TRUE, 50);
    const struct {
        const char* what;
        std::vector<std::pair<SDL_Keycode, bool>> keys; // and whether each repeats
        bool listening;
        WindowMode mode;
        int position; // of the slider after the row's closing Right
    } rows[] = {
        {"L", {{SDLK_l, false}}, true, WindowMode::Normal, 51},
        {"L held", {{SDLK_l, true}, {SDLK_l, true}, {SDLK_l, true}}, true, WindowMode::Normal, 52},
        {"L again", {{SDLK_l, false}}, false, WindowMode::Normal, 53},
        {"Esc in the window", {{SDLK_ESCAPE, false}}, false, WindowMode::Normal, 54},
        {"Right held", {{SDLK_RIGHT, true}, {SDLK_RIGHT, true}}, false, WindowMode::Normal, 57},
        {"F11 held", {{SDLK_F11, true}}, false, WindowMode::Normal, 58},
        {"F11", {{SDLK_F11, false}, {SDLK_F11, true}}, false, WindowMode::FullScreen, 59},
        {"Esc held", {{SDLK_ESCAPE, true}}, false, WindowMode::FullScreen, 60},
        {"Esc", {{SDLK_ESCAPE, false}}, false, WindowMode::Normal, 61},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        for (const auto& [key, repeat] : row.keys)
            PushKey(key, repeat);
        PushKey(SDLK_RIGHT, false);
        ASSERT_TRUE(RunUntil([&] { return SendMessage(slider, TBM_GETPOS, 0, 0) >= row.position; }));
        EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), row.position);
        EXPECT_EQ(gRecording != 0, row.listening);
        EXPECT_EQ(GetWindowMode(gMainWnd), row.mode);
    }
    ASSERT_TRUE(RunUntil([] { return RectOf(gGlCtrl) == Rect{10, 10, 712, 512}; }));
}

// In full screen the view alone is hit: a click where the slider lies in the window goes to the
// view, and the slider neither moves nor takes the focus.
TEST_F(TheProgram, InFullScreenTheHiddenControlsTakeNoClick) {
    WindowHandle slider = FindChild(gMainWnd, ID_TRACKBAR);
    SendMessage(slider, TBM_SETPOS, TRUE, 50);
    SetFocus(gMainWnd);
    SetWindowMode(gMainWnd, WindowMode::FullScreen);
    ASSERT_TRUE(RunUntil([] { return RectOf(gGlCtrl) == Rect{0, 0, 1280, 1024}; }));
    int sx = 0, sy = 0;
    GetClientScreenPosition(slider, &sx, &sy);
    // Right of the thumb: a page step if the slider heard it.
    desktop_.MovePointer(sx + 100, sy + 8);
    desktop_.PressButton(1);
    ASSERT_TRUE(RunUntil([] { return QI_IsLButtonDown() == -1; }));
    desktop_.ReleaseButton(1);
    ASSERT_TRUE(RunUntil([] { return QI_IsLButtonDown() == 0; }));
    EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), 50);
    EXPECT_NE(GetFocus(), slider);
    RestoreWindow(gMainWnd);
    ASSERT_TRUE(RunUntil([] { return RectOf(gGlCtrl) == Rect{10, 10, 712, 512}; }));
}

TEST_F(TheProgram, AMoveToTheLastPositionDrawsNoFrame) {
    gLeftDrag = 0;
    gLeftLastPos = {-1, -1};
    desktop_.PressButton(1);
    ASSERT_TRUE(RunUntil([] { return QI_IsLButtonDown() == -1; }));
    ToView(WM_LBUTTONDOWN, 50, 50);
    // A frame advances the emission timer by the stored step; no frame leaves it alone.
    gFrameStep = 0.001f;
    ToView(WM_MOUSEMOVE, 51, 50);
    const float afterFirst = emitTimer;
    ToView(WM_MOUSEMOVE, 51, 50);
    EXPECT_EQ(emitTimer, afterFirst);
    ToView(WM_MOUSEMOVE, 52, 50);
    EXPECT_NE(emitTimer, afterFirst);
    desktop_.ReleaseButton(1);
    ASSERT_TRUE(RunUntil([] { return QI_IsLButtonDown() == 0; }));
    ToView(WM_LBUTTONUP, 0, 0);
}

TEST_F(TheProgram, TheSliderSetsTheFieldOfViewByKeysAndByDrag) {
    WindowHandle slider = FindChild(gMainWnd, ID_TRACKBAR);
    SetFocus(slider);
    const struct {
        const char* key;
        int fieldOfView;
    } keys[] = {{"End", 1}, {"Home", 100}, {"Right", 99}, {"Page_Down", 98}, {"Left", 99}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.key);
        desktop_.TypeKey(k.key);
        ASSERT_TRUE(RunUntil([&] { return gFieldOfView == k.fieldOfView; }));
    }
    // Dragging the thumb to the right end narrows the view step by step down to 1 degree.
    int sx = 0, sy = 0;
    GetClientScreenPosition(slider, &sx, &sy);
    SendMessage(slider, TBM_SETPOS, TRUE, 50);
    const intptr_t before = SendMessage(slider, TBM_GETPOS, 0, 0);
    ASSERT_EQ(before, 50);
    desktop_.MovePointer(sx + 60, sy + 6);
    desktop_.PressButton(1);
    for (int x = 70; x <= 200; x += 10)
        desktop_.MovePointer(sx + x, sy + 6);
    ASSERT_TRUE(RunUntil([] { return gFieldOfView == 1; }));
    desktop_.ReleaseButton(1);
    ASSERT_TRUE(RunUntil([] { return QI_IsLButtonDown() == 0; }));
    EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), 100);
}

TEST_F(TheProgram, ADroppedFilePlaysTheFirstOfTheDropAsItIsNamed) {
    ScratchFolder folder;
    const std::string first = folder.Path("First Song.WAV");
    const std::string second = folder.Path("second.wav");
    Signal tone;
    tone.seconds = 5;
    ASSERT_TRUE(WriteSound(first, SoundFormat::WavPcm16, tone));
    ASSERT_TRUE(WriteSound(second, SoundFormat::WavPcm16, tone));
    ASSERT_TRUE(WriteBytes(folder.Path("notes.txt"), NoiseBytes(3000, 7)));
    std::filesystem::create_directory(folder.Path("Folder.ogg"));

    // Through the X server, as a file manager drops them; the loop runs meanwhile.
    bool dropped = false;
    std::thread dropper([&] { dropped = DropFiles("Vormel", {first, second, folder.Path("x")}); });
    ASSERT_TRUE(RunUntil([&] { return std::string(gAudioFile) == first; }));
    dropper.join();
    EXPECT_TRUE(dropped);
    EXPECT_NE(gChannel.load(), 0u);

    // What a drop may hold that is not a sound: the program goes on, silent, drawing frames.
    for (const std::string& odd : {folder.Path("Folder.ogg"), folder.Path("notes.txt")}) {
        SCOPED_TRACE(odd);
        std::thread again([&] { DropFiles("Vormel", {odd}); });
        ASSERT_TRUE(RunUntil([&] { return std::string(gAudioFile) == odd; }));
        again.join();
        EXPECT_EQ(gChannel.load(), 0u);
        const float timer = emitTimer;
        ASSERT_TRUE(RunUntil([&] { return emitTimer != timer; }));
    }

    // A drop without files, or whose first path is longer than the program holds, changes
    // nothing of what plays.
    const std::vector<std::string> none;
    const std::vector<std::string> tooLong = {"/" + std::string(sizeof gAudioFile, 'a')};
    for (const auto* files : {&none, &tooLong}) {
        std::memcpy(gAudioFile, second.c_str(), second.size() + 1);
        PlayAudioFile(gMainWnd);
        const uint32_t playing = gChannel.load();
        Message drop;
        drop.id = WM_DROPFILES;
        drop.files = files;
        MainWndProc(gMainWnd, drop);
        EXPECT_EQ(std::string(gAudioFile), second);
        EXPECT_EQ(gChannel.load(), playing);
    }
}

TEST_F(TheProgram, GrowingTheWindowGrowsTheViewAndKeepsThePanelOnTheRight) {
    std::vector<uint8_t> ignored;
    int outerWidth = 0, outerHeight = 0;
    ASSERT_TRUE(desktop_.Capture("Vormel", &outerWidth, &outerHeight, &ignored));
    ASSERT_TRUE(desktop_.ResizeWindow("Vormel", outerWidth + 100, outerHeight + 50));
    ASSERT_TRUE(RunUntil([] {
        int w = 0, h = 0;
        GetClientSize(gMainWnd, &w, &h);
        return w == 968 && h == 582;
    }));
    EXPECT_EQ(RectOf(gGlCtrl), (Rect{10, 10, 812, 562}));
    EXPECT_EQ(RectOf(FindChild(gMainWnd, ID_TRACKBAR)), (Rect{840, 457, 120, 16}));
    EXPECT_EQ(RectOf(FindChild(gMainWnd, ID_LABEL)), (Rect{834, 147, 129, 216}));
    EXPECT_EQ(RectOf(FindChild(gMainWnd, ID_IMAGE)), (Rect{830, 143, 137, 281}));
    int clockX = 0, clockY = 0;
    GetChildPosition(FindChild(gMainWnd, ID_CLOCK), &clockX, &clockY);
    EXPECT_EQ(clockX, 853);
    // The projection followed the view.
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 812);
    EXPECT_EQ(viewport[3], 562);
    // What reaches the window: the scene inside the view's rectangle, the skin's client colour
    // beside it, whatever the size.
    ApplyFieldOfView(45); // as the slider's test may have left it narrow
    KeepPresentedFrames(gMainWnd, true);
    PixelImage shown;
    ASSERT_TRUE(RunUntil([&] { return ReadPresentedPixels(gMainWnd, &shown); }));
    KeepPresentedFrames(gMainWnd, false);
    const int left = (shown.width - 968) / 2, top = shown.height - 582 - left;
    auto at = [&](int x, int y) {
        const uint8_t* p = &shown.rgba[(static_cast<size_t>(y + top) * shown.width + x + left) * 4];
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(at(5, 300), (std::array<int, 3>{0x0E, 0x10, 0x18})) << "the client's colour";
    EXPECT_EQ(at(826, 600 - 50), (std::array<int, 3>{0x0E, 0x10, 0x18}));
    size_t lit = 0;
    for (int y = 10; y < 572; ++y)
        for (int x = 10; x < 822; ++x)
            lit += at(x, y)[0] + at(x, y)[1] + at(x, y)[2] > 180;
    EXPECT_GT(lit, 812u * 562u / 50) << "the scene fills the grown view";
    ASSERT_TRUE(desktop_.ResizeWindow("Vormel", outerWidth, outerHeight));
    ASSERT_TRUE(RunUntil([] {
        int w = 0, h = 0;
        GetClientSize(gMainWnd, &w, &h);
        return w == 868 && h == 532;
    }));
}
