// The window system on a real X server (a private Xvfb): placement, anchoring, message routing
// and ordering, timers, closing, focus and capture, raising, drops, the icon, the smallest size,
// and the executable's folder.
#include "app/program_icon.h"
#include "platform/glview/porvane.h"
#include "platform/os/clock.h"
#include "platform/os/window.h"
#include "platform/os/window_internal.h"
#include "platform/os/window_tree.h"
#include "support/desktop.h"
#include "support/message_log.h"
#include "support/window_manager.h"
#include "support/xdnd_source.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Sent = std::pair<WindowHandle, uint32_t>;

// Who received what, in order, leaving out the ids given.
std::vector<Sent> Received(std::initializer_list<uint32_t> leaveOut = {}) {
    std::vector<Sent> got;
    for (const LoggedMessage& m : gMessageLog)
        if (std::find(leaveOut.begin(), leaveOut.end(), m.id) == leaveOut.end())
            got.emplace_back(m.window, m.id);
    return got;
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop_.connected());
        RegisterChildClass("plain", RecordingProc);
        gMessageLog.clear();
    }
    void TearDown() override { DestroyWindow(main_); }
    WindowHandle MakeMain(const char* title, int width, int height, bool show = true) {
        main_ = CreateMainWindow(title, width, height, RecordingProc);
        if (main_ && show) ShowMainWindow(main_);
        return main_;
    }
    WindowHandle Child(int x, int y, int width, int height) {
        return CreateChildWindow("plain", main_, 0, x, y, width, height);
    }
    bool RunUntilReceived(WindowHandle window, uint32_t id) {
        return RunLoopUntil(main_, [=] { return CountLogged(window, id) > 0; });
    }
    // Lets everything pending (paints, pointer crossings) pass, then forgets it.
    void Settle() {
        StartTimer(main_, 1, 1);
        RunUntilReceived(main_, WM_TIMER);
        StopTimer(main_, 1);
        gMessageLog.clear();
    }
    void MovePointerTo(int x, int y) {
        int sx = 0;
        int sy = 0;
        GetClientScreenPosition(main_, &sx, &sy);
        desktop_.MovePointer(sx + x, sy + y);
    }

    FakeDesktop desktop_;
    WindowHandle main_ = nullptr;
};

} // namespace

// --- Placement ----------------------------------------------------------------------------------

TEST_F(WindowTest, MainWindowIsCentredHiddenAndAnnouncesItsSizeWhenFirstShown) {
    ASSERT_NE(MakeMain("centred", 868, 532, false), nullptr);
    int x = 0;
    int y = 0;
    GetClientScreenPosition(main_, &x, &y);
    EXPECT_EQ(std::tie(x, y), std::make_tuple((1280 - 868) / 2, (1024 - 532) / 2));
    EXPECT_FALSE(desktop_.IsShown("centred"));
    ShowMainWindow(main_);
    ShowMainWindow(main_);
    EXPECT_TRUE(desktop_.IsShown("centred"));
    ASSERT_EQ(CountLogged(main_, WM_SIZE), 1u);
    EXPECT_EQ(std::tie(gMessageLog.back().x, gMessageLog.back().y), std::make_tuple(868, 532));
}

TEST_F(WindowTest, OnASmallScreenTheWindowsCornerStaysOnTheScreen) {
    // In a process of its own, with an X server of 640 x 480.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("VORMEL_TEST_SCREEN", "640x480x24", 1);
    auto placeAll = [] {
        for (auto [width, height] : {std::pair{868, 532}, {600, 600}, {700, 300}}) {
            WindowHandle w = CreateMainWindow("small screen", width, height, RecordingProc);
            int x = -1;
            int y = -1;
            GetClientScreenPosition(w, &x, &y);
            std::fprintf(stderr, "[%d,%d]", x, y);
            DestroyWindow(w);
        }
        std::exit(0);
    };
    EXPECT_EXIT(placeAll(), testing::ExitedWithCode(0), "\\[0,0\\]\\[20,0\\]\\[0,90\\]");
    unsetenv("VORMEL_TEST_SCREEN");
}

// --- A frame of the program's own --------------------------------------------------------------

TEST(FrameHitTest, MapsEveryPointToItsRegion) {
    // A 100 x 80 window: 4 px sides and bottom, a 24 px top with the caption, one button.
    FrameGeometry frame;
    frame.insets = {4, 24, 4, 4};
    frame.resizeBorder = 4;
    frame.cornerLength = 12;
    frame.buttons = {{70, 4, 20, 16}, {-40, 4, 10, 16}}; // the second counts from the right
    using R = HitRegion;
    const struct {
        int x, y;
        R resizable, fixed; // fixed: a maximised window, which does not resize
    } cases[] = {
        {50, 50, R::Client, R::Client},     {4, 24, R::Client, R::Client},
        {95, 75, R::Client, R::Client},     {50, 23, R::Caption, R::Caption},
        {50, 4, R::Caption, R::Caption},    {70, 4, R::Button, R::Button},
        {89, 19, R::Button, R::Button},     {90, 10, R::Caption, R::Caption},
        {0, 40, R::Left, R::Frame},         {3, 40, R::Left, R::Frame},
        {99, 40, R::Right, R::Frame},       {50, 0, R::Top, R::Caption},
        {50, 79, R::Bottom, R::Frame},      {0, 0, R::TopLeft, R::Caption},
        {11, 0, R::TopLeft, R::Caption},    {12, 0, R::Top, R::Caption},
        {0, 11, R::TopLeft, R::Caption},    {99, 0, R::TopRight, R::Caption},
        {0, 79, R::BottomLeft, R::Frame},   {99, 79, R::BottomRight, R::Frame},
        {88, 79, R::BottomRight, R::Frame}, {99, 68, R::BottomRight, R::Frame},
        {-1, 40, R::Frame, R::Frame},       {100, 40, R::Frame, R::Frame},
        {60, 10, R::Button, R::Button},     {69, 19, R::Button, R::Button},
        {59, 10, R::Caption, R::Caption},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "at " << c.x << ", " << c.y);
        EXPECT_EQ(FrameHitTest(frame, 100, 80, true, c.x, c.y), c.resizable);
        EXPECT_EQ(FrameHitTest(frame, 100, 80, false, c.x, c.y), c.fixed);
    }
}

TEST_F(WindowTest, AnOwnFrameKeepsTheClientSizeCentresTheWholeWindowAndTakesItsPointer) {
    ASSERT_NE(MakeMain("own frame", 300, 200, false), nullptr);
    FrameGeometry frame;
    frame.insets = {5, 30, 5, 5};
    frame.resizeBorder = 3;
    frame.buttons = {{280, 8, 16, 16}};
    SetOwnFrame(main_, frame, RecordingProc);
    int w = 0, h = 0, x = 0, y = 0;
    GetClientSize(main_, &w, &h);
    EXPECT_EQ(std::tie(w, h), std::make_tuple(300, 200));
    GetClientScreenPosition(main_, &x, &y);
    EXPECT_EQ(std::tie(x, y), std::make_tuple((1280 - 310) / 2 + 5, (1024 - 235) / 2 + 30));
    EXPECT_EQ(CountLogged(main_, WM_SIZE), 0u);
    ShowMainWindow(main_);
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(desktop_.Capture("own frame", &w, &h, &pixels));
    EXPECT_EQ(std::tie(w, h), std::make_tuple(310, 235));
    WindowHandle child = Child(0, 0, 20, 20);
    Settle();

    // Over the button the frame hears the pointer in whole-window pixels; in the client area the
    // frame hears that it was left, and the child under the pointer gets the move.
    MovePointerTo(285 - 5, 10 - 30);
    ASSERT_TRUE(RunUntilReceived(main_, WM_NCMOUSEMOVE));
    EXPECT_EQ(std::tie(gMessageLog.back().x, gMessageLog.back().y), std::make_tuple(285, 10));
    desktop_.PressButton(1);
    ASSERT_TRUE(RunUntilReceived(main_, WM_NCLBUTTONDOWN));
    desktop_.ReleaseButton(1);
    ASSERT_TRUE(RunUntilReceived(main_, WM_NCLBUTTONUP));
    gMessageLog.clear();
    MovePointerTo(3, 4);
    ASSERT_TRUE(RunUntilReceived(child, WM_MOUSEMOVE));
    EXPECT_EQ(Received({WM_PAINT}),
              (std::vector<Sent>{{main_, WM_NCMOUSELEAVE}, {child, WM_MOUSEMOVE}}));
    EXPECT_EQ(std::tie(gMessageLog.back().x, gMessageLog.back().y), std::make_tuple(3, 4));
}

// --- Anchoring ----------------------------------------------------------------------------------

TEST_F(WindowTest, AnchoredChildrenFollowTheClientAreaBeforeTheWindowHearsOfIt) {
    ASSERT_NE(MakeMain("anchors", 868, 532), nullptr);
    WindowHandle view = Child(10, 10, 712, 512);
    WindowHandle bar = Child(740, 457, 120, 16);
    WindowHandle fixed = Child(5, 5, 2, 2);
    SetChildAnchor(view, 5);
    SetChildAnchor(bar, 9);
    Settle();
    using Rect = std::array<int, 4>;
    auto rectOf = [](WindowHandle w) {
        Rect r{};
        GetChildPosition(w, &r[0], &r[1]);
        GetClientSize(w, &r[2], &r[3]);
        return r;
    };
    const struct {
        int width, height;
        Rect view, bar;
        bool viewResized;
    } cases[] = {
        {1000, 600, {10, 10, 844, 580}, {872, 457, 120, 16}, true},
        {1000, 700, {10, 10, 844, 680}, {872, 457, 120, 16}, true},
        // Smaller than the margins: sizes stop at zero, positions may leave the client area.
        {100, 15, {10, 10, 0, 0}, {-28, 457, 120, 16}, true},
        {100, 16, {10, 10, 0, 0}, {-28, 457, 120, 16}, false},
        // The margins were kept, so the old layout comes back exactly.
        {868, 532, {10, 10, 712, 512}, {740, 457, 120, 16}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        gMessageLog.clear();
        ASSERT_TRUE(desktop_.ResizeWindow("anchors", c.width, c.height));
        ASSERT_TRUE(RunUntilReceived(main_, WM_SIZE));
        EXPECT_EQ(rectOf(view), c.view);
        EXPECT_EQ(rectOf(bar), c.bar);
        EXPECT_EQ(rectOf(fixed), (Rect{5, 5, 2, 2}));
        // Only a child whose size changed hears WM_SIZE, and before the main window does.
        std::vector<Sent> expected = {{main_, WM_SIZE}};
        if (c.viewResized) expected.insert(expected.begin(), {view, WM_SIZE});
        EXPECT_EQ(Received({WM_PAINT, WM_MOUSEMOVE}), expected);
    }
}

// --- Procedures ---------------------------------------------------------------------------------

namespace {

std::vector<std::string> gTrace;
WindowProc gBelowFirst = nullptr;
WindowProc gBelowSecond = nullptr;

intptr_t BaseProc(WindowHandle window, const Message& message) {
    if (message.id == WM_CREATE && GetChildId(window) == -1) return -1;
    if (message.id == WM_PAINT) gTrace.push_back("base");
    return RecordingProc(window, message);
}
intptr_t FirstSubclass(WindowHandle window, const Message& message) {
    if (message.id == WM_PAINT) gTrace.push_back("first");
    return CallWindowProc(gBelowFirst, window, message);
}
intptr_t SecondSubclass(WindowHandle window, const Message& message) {
    if (message.id == WM_PAINT) gTrace.push_back("second");
    return CallWindowProc(gBelowSecond, window, message);
}

} // namespace

TEST_F(WindowTest, SubclassesRunNewestFirstAndRefusedChildrenDoNotExist) {
    ASSERT_TRUE(RegisterChildClass("chain", BaseProc));
    EXPECT_FALSE(RegisterChildClass("chain", RecordingProc)); // the name is taken
    ASSERT_NE(MakeMain("chain", 300, 200), nullptr);
    EXPECT_EQ(CreateChildWindow("unknown", main_, 1, 0, 0, 300, 200), nullptr);
    EXPECT_EQ(CreateChildWindow("chain", main_, -1, 0, 0, 300, 200), nullptr); // refuses
    WindowHandle child = CreateChildWindow("chain", main_, 7, 0, 0, 50, 50);
    ASSERT_NE(child, nullptr);
    gBelowFirst = SubclassWindow(child, FirstSubclass);
    gBelowSecond = SubclassWindow(child, SecondSubclass);
    EXPECT_EQ(gBelowFirst, &BaseProc);
    EXPECT_EQ(gBelowSecond, &FirstSubclass);
    Settle();
    gTrace.clear();
    InvalidateWindow(child);
    ASSERT_TRUE(RunUntilReceived(child, WM_PAINT));
    EXPECT_EQ(gTrace, (std::vector<std::string>{"second", "first", "base"}));
    // Where the refused children would lie, the pointer reaches the main window.
    MovePointerTo(100, 100);
    EXPECT_TRUE(RunUntilReceived(main_, WM_MOUSEMOVE));
}

// --- Mouse --------------------------------------------------------------------------------------

TEST_F(WindowTest, MouseMessagesGoToTheTopmostChildUnderThePointerWithoutCapture) {
    ASSERT_NE(MakeMain("routing", 400, 300), nullptr);
    WindowHandle a = Child(50, 40, 100, 80);
    WindowHandle b = Child(120, 100, 60, 60); // over a's lower right corner
    Child(300, 200, 0, 50);                   // empty: never hit
    Settle();
    const struct {
        int x, y;
        WindowHandle target;
        int cx, cy;
    } cases[] = {
        {60, 50, a, 10, 10},       {50, 40, a, 0, 0},         {149, 119, b, 29, 19},
        {149, 99, a, 99, 59},      {150, 40, main_, 150, 40}, {300, 220, main_, 300, 220},
        {10, 290, main_, 10, 290},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "pointer at " << c.x << ", " << c.y);
        gMessageLog.clear();
        MovePointerTo(c.x, c.y);
        ASSERT_TRUE(RunUntilReceived(nullptr, WM_MOUSEMOVE));
        const LoggedMessage& m = gMessageLog.back();
        EXPECT_EQ(std::tie(m.window, m.x, m.y), std::tie(c.target, c.cx, c.cy));
    }
    // A press over a child and the release elsewhere go to different windows.
    MovePointerTo(60, 50);
    desktop_.PressButton(1);
    MovePointerTo(390, 290);
    desktop_.ReleaseButton(1);
    desktop_.PressButton(3);
    desktop_.ReleaseButton(3);
    gMessageLog.clear();
    ASSERT_TRUE(RunUntilReceived(main_, WM_RBUTTONUP));
    const std::vector<Sent> expected = {
        {a, WM_LBUTTONDOWN}, {main_, WM_LBUTTONUP}, {main_, WM_RBUTTONDOWN}, {main_, WM_RBUTTONUP}};
    EXPECT_EQ(Received({WM_MOUSEMOVE, WM_PAINT}), expected);
}

namespace {

FakeDesktop* gMover = nullptr;
int gMoverX = 0;
int gMoverY = 0;

// Moves the pointer three times and presses a button while the loop is busy in this tick, so
// that all of it waits when the loop looks again.
intptr_t MovingWhileBusyProc(WindowHandle window, const Message& message) {
    if (message.id == WM_TIMER && message.timerId == 3) {
        StopTimer(window, 3);
        for (int i = 1; i <= 3; ++i)
            gMover->MovePointer(gMoverX + 10 * i, gMoverY + 5 * i);
        gMover->PressButton(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, WaitingPointerMovesArriveAsOneWithTheLatestPosition) {
    ASSERT_NE(MakeMain("moves", 400, 300), nullptr);
    SubclassWindow(main_, MovingWhileBusyProc);
    MovePointerTo(5, 5);
    ASSERT_TRUE(RunUntilReceived(main_, WM_MOUSEMOVE));
    Settle();
    gMover = &desktop_;
    GetClientScreenPosition(main_, &gMoverX, &gMoverY);
    StartTimer(main_, 3, 1);
    ASSERT_TRUE(RunUntilReceived(main_, WM_LBUTTONDOWN));
    desktop_.ReleaseButton(1);
    ASSERT_EQ(CountLogged(main_, WM_MOUSEMOVE), 1u);
    const auto move = std::find_if(gMessageLog.begin(), gMessageLog.end(),
                                   [](const LoggedMessage& m) { return m.id == WM_MOUSEMOVE; });
    EXPECT_EQ(std::tie(move->x, move->y), std::make_tuple(30, 15));
}

// --- Painting and timers ------------------------------------------------------------------------

TEST(TimerPace, KeepsAnEvenPaceAndTakesAStallAsOneLateTick) {
    // A period of 10 and a clock read at the times given: when a tick comes, and where the next
    // deadline lies.
    const struct {
        uint64_t now;
        bool ticks;
        uint64_t deadline; // after the reading
    } readings[] = {
        {5, false, 10},   {10, true, 20},   {13, false, 20},   {21, true, 30}, // late: no drift
        {29, false, 30},  {30, true, 40},   {40, true, 50},    {49, false, 50},
        {95, true, 105},  {96, false, 105}, {104, false, 105}, // a stall: one tick, then the pace
        {105, true, 115}, {130, true, 140},                    // anew from the late tick
    };
    uint64_t deadline = 10;
    for (const auto& r : readings) {
        SCOPED_TRACE(testing::Message() << "at " << r.now);
        EXPECT_EQ(TakeTimerTick(&deadline, 10, r.now), r.ticks);
        EXPECT_EQ(deadline, r.deadline);
    }
}

// The loop sleeps until the nearest deadline, in whole milliseconds rounded up: a wait cut short
// would wake it early, to spin until the deadline. Periods of whole milliseconds and, below the
// frame-rate cap, of a fraction of one.
TEST_F(WindowTest, TheLoopWaitsForTheNextDeadlineAndNoLess) {
    ASSERT_NE(MakeMain("waits", 300, 200, false), nullptr);
    SetFrameRateCap(60);
    const uint64_t frequency = SDL_GetPerformanceFrequency();
    for (const uint32_t intervalMs : {1u, 17u, 20u, 45u}) {
        SCOPED_TRACE(testing::Message() << intervalMs << " ms");
        const uint64_t before = SDL_GetPerformanceCounter();
        ASSERT_TRUE(StartTimer(main_, 11, intervalMs));
        const int waitMs = WaitTimeout();
        const uint64_t after = SDL_GetPerformanceCounter();
        const uint64_t period = std::max<uint64_t>(frequency * intervalMs / 1000, frequency / 60);
        // The deadline lies at least a period past before; the wait began by after.
        EXPECT_GE(after + frequency * static_cast<uint64_t>(waitMs) / 1000, before + period);
        EXPECT_LE(static_cast<uint64_t>(waitMs), period * 1000 / frequency + 1);
        StopTimer(main_, 11);
    }
    SetFrameRateCap(kFrameRateOfDisplay);
}

TEST_F(WindowTest, PaintsAreCoalescedAndComeBeforeTimerTicks) {
    ASSERT_NE(MakeMain("paints", 300, 200, false), nullptr);
    WindowHandle child = Child(0, 0, 10, 10);
    Settle();
    for (WindowHandle w : {child, main_, main_, child})
        InvalidateWindow(w);
    StartTimer(main_, 4, 1);
    ASSERT_TRUE(RunUntilReceived(main_, WM_TIMER));
    const std::vector<Sent> expected = {{main_, WM_PAINT}, {child, WM_PAINT}, {main_, WM_TIMER}};
    EXPECT_EQ(Received(), expected);
}

namespace {

std::vector<uint32_t> gTickTimes;

intptr_t TimedProc(WindowHandle window, const Message& message) {
    if (message.id == WM_TIMER && message.timerId == 6) {
        gTickTimes.push_back(MillisecondTicks());
        if (gTickTimes.size() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    if (message.id == WM_TIMER && message.timerId == 8) PostQuitMessage(42);
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, TicksMissedDuringAStallDoNotPileUp) {
    constexpr uint32_t kInterval = 20;
    ASSERT_NE(MakeMain("stall", 300, 200, false), nullptr);
    SubclassWindow(main_, TimedProc);
    gTickTimes.clear();
    StartTimer(main_, 6, kInterval);
    ASSERT_TRUE(RunLoopUntil(main_, [] { return gTickTimes.size() >= 4; }));
    // Fifteen intervals passed during the stall. The late timer fires once at once; the ticks
    // after it keep their distance instead of catching up.
    for (size_t i = 2; i < gTickTimes.size(); ++i)
        EXPECT_GE(gTickTimes[i] - gTickTimes[i - 1], kInterval / 2) << "tick " << i;
}

TEST_F(WindowTest, TheLoopReturnsTheQuitCodeAndCanRunAgain) {
    ASSERT_NE(MakeMain("quit", 300, 200, false), nullptr);
    SubclassWindow(main_, TimedProc);
    StartTimer(main_, 8, 1);
    EXPECT_EQ(RunMessageLoop(), 42);
    StopTimer(main_, 8);
    PostQuitMessage(3);
    EXPECT_EQ(RunMessageLoop(), 3);
}

// --- Closing ------------------------------------------------------------------------------------

class CloseRequest : public WindowTest, public testing::WithParamInterface<int> {};

TEST_P(CloseRequest, ArrivesAsWmCloseAndDestroysTheChildrenFirst) {
    ASSERT_NE(MakeMain("close request", 300, 200), nullptr);
    WindowHandle a = Child(0, 0, 10, 10);
    WindowHandle b = Child(20, 0, 10, 10);
    StartTimer(a, 9, 1);
    Settle();
    if (GetParam() == 0)
        ASSERT_TRUE(desktop_.AskToClose("close request"));
    else
        std::raise(GetParam());
    ASSERT_TRUE(RunUntilReceived(main_, WM_DESTROY));
    const std::vector<Sent> got = Received({WM_TIMER, WM_PAINT, WM_MOUSEMOVE});
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got.front(), Sent(main_, WM_CLOSE));
    EXPECT_TRUE(std::is_permutation(got.begin() + 1, got.begin() + 3,
                                    std::vector<Sent>{{a, WM_DESTROY}, {b, WM_DESTROY}}.begin()));
    EXPECT_EQ(got.back(), Sent(main_, WM_DESTROY));
    // The handles are dead: queries answer nothing, timers cannot start.
    int w = -1;
    int h = -1;
    GetClientSize(a, &w, &h);
    EXPECT_EQ(std::tie(w, h), std::make_tuple(0, 0));
    EXPECT_FALSE(StartTimer(a, 9, 1));
}

INSTANTIATE_TEST_SUITE_P(Sources, CloseRequest, testing::Values(0, SIGTERM, SIGINT),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(info.param == 0         ? "WindowManager"
                                                : info.param == SIGTERM ? "Sigterm"
                                                                        : "Sigint");
                         });

namespace {

intptr_t QuitWhenDestroyedProc(WindowHandle window, const Message& message) {
    if (message.id == WM_DESTROY) PostQuitMessage(0);
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, ASignalWakesALoopThatWaitsWithoutTimers) {
    ASSERT_NE(MakeMain("idle", 300, 200), nullptr);
    Settle();
    SubclassWindow(main_, QuitWhenDestroyedProc);
    std::thread sender([loop = pthread_self()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pthread_kill(loop, SIGTERM);
    });
    RunMessageLoop();
    sender.join();
    EXPECT_EQ(CountLogged(main_, WM_CLOSE), 1u);
}

namespace {

std::vector<int> gPosted;
std::thread::id gPostedOn;

void RecordPosted(void* data) {
    gPosted.push_back(static_cast<int>(reinterpret_cast<intptr_t>(data)));
    gPostedOn = std::this_thread::get_id();
}

} // namespace

TEST_F(WindowTest, WorkPostedFromAnotherThreadRunsOnTheLoopInOrder) {
    ASSERT_NE(MakeMain("posted", 300, 200, false), nullptr);
    gPosted.clear();
    std::thread poster([] {
        for (intptr_t i = 1; i <= 3; ++i)
            EXPECT_TRUE(PostToLoop(RecordPosted, reinterpret_cast<void*>(i)));
    });
    poster.join();
    ASSERT_TRUE(RunLoopUntil(main_, [] { return gPosted.size() == 3; }));
    EXPECT_EQ(gPosted, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(gPostedOn, std::this_thread::get_id());
}

// --- Keyboard focus, keys and the capture -------------------------------------------------------

TEST(VirtualKeys, AreTheKeysThatMoveATrackbarOrActOnTheWindow) {
    const struct {
        int32_t sdl;
        uint32_t vk;
    } keys[] = {
        {SDLK_PAGEUP, VK_PRIOR},  {SDLK_PAGEDOWN, VK_NEXT},
        {SDLK_END, VK_END},       {SDLK_HOME, VK_HOME},
        {SDLK_LEFT, VK_LEFT},     {SDLK_UP, VK_UP},
        {SDLK_RIGHT, VK_RIGHT},   {SDLK_DOWN, VK_DOWN},
        {SDLK_KP_4, 0},           {SDLK_a, 0},
        {SDLK_SPACE, 0},          {SDLK_UNKNOWN, 0},
        {SDLK_F11, VK_F11},       {SDLK_ESCAPE, VK_ESCAPE},
        {SDLK_RETURN, VK_RETURN}, {SDLK_KP_ENTER, VK_RETURN},
    };
    for (const auto& k : keys)
        EXPECT_EQ(VirtualKeyFromSdl(k.sdl), k.vk) << SDL_GetKeyName(k.sdl);
}

namespace {

// Who heard what about the focus and the capture, and of which other window.
struct InputChange {
    WindowHandle window;
    uint32_t id;
    WindowHandle other;
    bool operator==(const InputChange&) const = default;
};
std::vector<InputChange> gInputChanges;

intptr_t InputLoggingProc(WindowHandle window, const Message& message) {
    if (message.id == WM_SETFOCUS || message.id == WM_KILLFOCUS || message.id == WM_CAPTURECHANGED)
        gInputChanges.push_back({window, message.id, message.control});
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, TheFocusMovesWithKillBeforeSetAndGoesWithItsWindow) {
    ASSERT_TRUE(RegisterChildClass("input", InputLoggingProc));
    ASSERT_NE(MakeMain("focus", 300, 200, false), nullptr);
    WindowHandle a = CreateChildWindow("input", main_, 1, 0, 0, 10, 10);
    WindowHandle b = CreateChildWindow("input", main_, 2, 20, 0, 10, 10);
    gInputChanges.clear();
    const struct {
        WindowHandle to, returned;
        std::vector<InputChange> heard;
    } steps[] = {
        {a, nullptr, {{a, WM_SETFOCUS, nullptr}}},
        {b, a, {{a, WM_KILLFOCUS, b}, {b, WM_SETFOCUS, a}}},
        {b, b, {}},
        {nullptr, b, {{b, WM_KILLFOCUS, nullptr}}},
        {a, nullptr, {{a, WM_SETFOCUS, nullptr}}},
    };
    for (const auto& s : steps) {
        gInputChanges.clear();
        EXPECT_EQ(SetFocus(s.to), s.returned);
        EXPECT_EQ(gInputChanges, s.heard);
        EXPECT_EQ(GetFocus(), s.to);
    }
    DestroyWindow(a);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_EQ(SetFocus(b), nullptr);
    EXPECT_EQ(SetFocus(a), nullptr); // gone: nothing changes
    EXPECT_EQ(GetFocus(), b);
}

TEST_F(WindowTest, TheCaptureTakesEveryMouseMessageUntilReleasedOrTheWindowLosesTheDesktop) {
    ASSERT_TRUE(RegisterChildClass("input", InputLoggingProc));
    ASSERT_NE(MakeMain("capture", 400, 300), nullptr);
    SetForegroundWindow(main_);
    WindowHandle a = CreateChildWindow("input", main_, 1, 50, 40, 100, 80);
    WindowHandle b = CreateChildWindow("input", main_, 2, 200, 40, 100, 80);
    Settle();
    SetCapture(a);
    // Over the other child, and outside the window: a hears it, in its own coordinates.
    const struct { int x, y; } points[] = {{250, 60}, {-30, 350}};
    for (const auto& p : points) {
        gMessageLog.clear();
        MovePointerTo(p.x, p.y);
        ASSERT_TRUE(RunUntilReceived(a, WM_MOUSEMOVE));
        EXPECT_EQ(std::tie(gMessageLog.back().x, gMessageLog.back().y),
                  std::make_tuple(p.x - 50, p.y - 40));
        EXPECT_EQ(CountLogged(b, WM_MOUSEMOVE) + CountLogged(main_, WM_MOUSEMOVE), 0u);
    }
    gInputChanges.clear();
    SetCapture(b);
    WindowHandle elsewhere = CreateMainWindow("elsewhere", 100, 100, RecordingProc);
    ShowMainWindow(elsewhere);
    SetForegroundWindow(elsewhere);
    ASSERT_TRUE(RunLoopUntil(main_, [] { return GetCapture() == nullptr; }));
    EXPECT_EQ(gInputChanges, (std::vector<InputChange>{{a, WM_CAPTURECHANGED, b},
                                                       {b, WM_CAPTURECHANGED, nullptr}}));
    DestroyWindow(elsewhere);
    SetCapture(a);
    DestroyWindow(a);
    EXPECT_EQ(GetCapture(), nullptr);
}

// --- Button queries -----------------------------------------------------------------------------

namespace {

std::vector<std::pair<int, int>> gButtonsSeen; // left and right, at each pointer move

intptr_t ButtonQueryProc(WindowHandle window, const Message& message) {
    if (message.id == WM_MOUSEMOVE)
        gButtonsSeen.emplace_back(QI_IsLButtonDown(), QI_IsRButtonDown());
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, ButtonQueriesSeeAReleaseMadeWhileTheWindowWasAway) {
    ASSERT_NE(MakeMain("buttons", 300, 200), nullptr);
    SubclassWindow(main_, ButtonQueryProc);
    const struct {
        int button;
        std::pair<int, int> held;
    } cases[] = {{1, {-1, 0}}, {3, {0, -1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "button " << c.button);
        MovePointerTo(50, 50);
        desktop_.PressButton(c.button);
        MovePointerTo(60, 60);
        ASSERT_TRUE(RunLoopUntil(main_, [] { return !gButtonsSeen.empty(); }));
        EXPECT_EQ(gButtonsSeen.back(), c.held);
        // Minimised while the button is held, the window never hears its release.
        ASSERT_TRUE(desktop_.Minimise("buttons"));
        ASSERT_TRUE(RunLoopUntil(main_, [&] { return IsIconic(main_); }));
        desktop_.ReleaseButton(c.button);
        ASSERT_TRUE(desktop_.Restore("buttons"));
        ASSERT_TRUE(RunLoopUntil(main_, [&] { return !IsIconic(main_); }));
        gButtonsSeen.clear();
        MovePointerTo(70, 70);
        ASSERT_TRUE(RunLoopUntil(main_, [] { return !gButtonsSeen.empty(); }));
        EXPECT_EQ(gButtonsSeen.back(), std::make_pair(0, 0));
        gButtonsSeen.clear();
    }
}

// --- Icon and drops -----------------------------------------------------------------------------

TEST_F(WindowTest, TheIconOnTheDesktopIsTheProgramsOwnPicture) {
    ASSERT_NE(MakeMain("icon", 200, 100), nullptr);
    EXPECT_FALSE(SetWindowIcon(main_, kProgramIconPng, kProgramIconPngSize / 2));
    ASSERT_TRUE(SetWindowIcon(main_, kProgramIconPng, kProgramIconPngSize));
    std::vector<unsigned long> icon;
    ASSERT_TRUE(desktop_.ReadProperty("icon", "_NET_WM_ICON", &icon));
    // _NET_WM_ICON: width, height, then ARGB pixels row by row.
    SDL_Surface* file = IMG_Load(VORMEL_SOURCE_DIR "/Resource/icon.png");
    ASSERT_NE(file, nullptr);
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(file, SDL_PIXELFORMAT_ARGB8888, 0);
    ASSERT_EQ(icon.size(), 2 + static_cast<size_t>(argb->w) * argb->h);
    EXPECT_EQ(std::tie(icon[0], icon[1]), std::make_tuple(64ul, 64ul));
    size_t differing = 0;
    for (int y = 0; y < argb->h; ++y)
        for (int x = 0; x < argb->w; ++x) {
            const uint32_t want =
                static_cast<const uint32_t*>(argb->pixels)[y * argb->pitch / 4 + x];
            differing += (icon[2 + static_cast<size_t>(y) * argb->w + x] & 0xFFFFFFFF) != want;
        }
    EXPECT_EQ(differing, 0u);
    SDL_FreeSurface(argb);
    SDL_FreeSurface(file);
}

namespace {

std::vector<std::vector<std::string>> gDrops;

intptr_t DropLoggingProc(WindowHandle window, const Message& message) {
    if (message.id == WM_DROPFILES) gDrops.push_back(*message.files);
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, TheFilesOfADropArriveTogetherInOrderWhereFilesAreTaken) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("Vormel Drops " + std::to_string(getpid()));
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (const char* name : {"Erste Datei.OGG", "zweite 100%.Mod", "DRITTE-\xC3\xA4.wav"}) {
        paths.push_back((folder / name).string());
        std::FILE* f = std::fopen(paths.back().c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    ASSERT_NE(MakeMain("drops", 300, 200), nullptr);
    SubclassWindow(main_, DropLoggingProc);
    WindowHandle other = CreateMainWindow("takes none", 200, 100, DropLoggingProc);
    ShowMainWindow(other);
    gDrops.clear();
    // A file manager drags from its own thread; this one's loop answers meanwhile.
    auto drop = [&](const char* title) {
        std::atomic<bool> done = false;
        bool taken = false;
        std::thread manager([&] {
            taken = DropFiles(title, paths);
            done = true;
        });
        RunLoopUntil(main_, [&] { return done.load(); });
        manager.join();
        Settle();
        return taken;
    };
    EXPECT_FALSE(drop("drops")); // no window takes files yet: refused at the door
    DragAcceptFiles(main_, true);
    EXPECT_TRUE(drop("drops"));
    // SDL marks every window a drop target or none; one that takes no files still hears nothing.
    drop("takes none");
    DragAcceptFiles(main_, false);
    EXPECT_FALSE(drop("drops"));
    EXPECT_EQ(gDrops, std::vector<std::vector<std::string>>{paths});
    DestroyWindow(other);
    fs::remove_all(folder);
}

// --- Under a window manager ---------------------------------------------------------------------
// Each test runs in a process of its own, with an X server of its own managed by openbox, and
// says what it saw on standard error.

TEST(UnderAWindowManager, RestoringAndRaisingGiveTheWindowBackWithTheKeyboard) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [] {
        if (!StartWindowManager()) std::exit(1);
        FakeDesktop desktop;
        WindowHandle front = CreateMainWindow("front", 300, 200, RecordingProc);
        WindowHandle behind = CreateMainWindow("behind", 300, 200, RecordingProc);
        ShowMainWindow(front);
        ShowMainWindow(behind);
        desktop.Minimise("front");
        const bool iconic = RunLoopUntil(front, [&] { return IsIconic(front); });
        RestoreWindow(front);
        const bool restored =
            RunLoopUntil(front, [&] { return !IsIconic(front) && desktop.IsShown("front"); });
        std::fprintf(stderr, "[iconic %d restored %d]", iconic, restored);
        // Keys typed go to the window raised last.
        for (WindowHandle w : {behind, front, behind}) {
            SetForegroundWindow(w);
            SetFocus(w);
            gMessageLog.clear();
            desktop.TypeKey("Home");
            const bool heard = RunLoopUntil(front, [&] { return CountLogged(w, WM_KEYDOWN) > 0; });
            std::fprintf(stderr, "[%s %d]", GetWindowText(w).c_str(), heard);
        }
        std::exit(0);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0),
                "\\[iconic 1 restored 1\\]\\[behind 1\\]\\[front 1\\]\\[behind 1\\]");
}

TEST(UnderAWindowManager, TheSmallestSizeKeepsTheRightHandPanelWhole) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto shrink = [] {
        if (!StartWindowManager()) std::exit(1);
        WindowHandle w = CreateMainWindow("smallest", 868, 532, RecordingProc);
        // The program's layout: the view stretched, the panel beside it kept at the right edge
        // (trackbar, label, picture, and a clock right of the view's top corner).
        const struct {
            int x, y, width, height, anchor;
        } children[] = {{10, 10, 712, 512, kAnchorStretch},
                        {740, 457, 120, 16, kAnchorRight},
                        {734, 147, 129, 216, kAnchorRight},
                        {730, 143, 137, 281, kAnchorRight},
                        {753, 10, 100, 100, kAnchorRight}};
        RegisterChildClass("plain", RecordingProc);
        for (const auto& c : children)
            SetChildAnchor(CreateChildWindow("plain", w, 0, c.x, c.y, c.width, c.height), c.anchor);
        FrameGeometry frame;
        frame.insets = {4, 28, 4, 4};
        SetOwnFrame(w, frame, RecordingProc);
        ShowMainWindow(w);
        FakeDesktop desktop;
        for (auto [width, height] : {std::pair{50, 50}, {1000, 300}, {100, 800}}) {
            gMessageLog.clear();
            desktop.ResizeWindow("smallest", width, height);
            RunLoopUntil(w, [&] { return CountLogged(w, WM_SIZE) > 0; });
            int cw = 0, ch = 0;
            GetClientSize(w, &cw, &ch);
            std::fprintf(stderr, "[%d,%d]", cw, ch);
        }
        std::exit(0);
    };
    EXPECT_EXIT(shrink(), testing::ExitedWithCode(0), "\\[156,473\\]\\[992,473\\]\\[156,768\\]");
}

// Each mode asked for in turn, under a window manager: the mode the window is then in, where its
// client area lies on the screen and how big, and where the view lies in it. Full screen shows the
// view alone over the whole screen, without the frame; leaving it, or a minimised state, gives
// back exactly the window that was, maximised or not.
TEST(UnderAWindowManager, EachModeGivesTheWindowItsPlaceAndLeavingGivesItBack) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr int kRestore = -1;
    const struct {
        int ask; // a WindowMode, or kRestore
        const char* then;
    } steps[] = {
        {static_cast<int>(WindowMode::Normal), "N 490,424 300x200 view 10,10 200x150"},
        {static_cast<int>(WindowMode::Maximised), "M 4,28 1272x992 view 10,10 1172x942"},
        {static_cast<int>(WindowMode::FullScreen), "F 0,0 1280x1024 view 0,0 1280x1024"},
        {kRestore, "M 4,28 1272x992 view 10,10 1172x942"},
        {static_cast<int>(WindowMode::Normal), "N 490,424 300x200 view 10,10 200x150"},
        {static_cast<int>(WindowMode::FullScreen), "F 0,0 1280x1024 view 0,0 1280x1024"},
        {static_cast<int>(WindowMode::Minimised), "m"},
        {kRestore, "F 0,0 1280x1024 view 0,0 1280x1024"},
        {kRestore, "N 490,424 300x200 view 10,10 200x150"},
        {static_cast<int>(WindowMode::Minimised), "m"},
        {kRestore, "N 490,424 300x200 view 10,10 200x150"},
    };
    auto run = [&] {
        if (!StartWindowManager()) std::exit(1);
        WindowHandle w = CreateMainWindow("modes", 300, 200, RecordingProc);
        RegisterChildClass("plain", RecordingProc);
        WindowHandle view = CreateChildWindow("plain", w, 0, 10, 10, 200, 150);
        SetChildAnchor(view, kAnchorStretch);
        SetChildAnchor(CreateChildWindow("plain", w, 0, 220, 10, 70, 100), kAnchorRight);
        SetFullScreenChild(view);
        FrameGeometry frame;
        frame.insets = {4, 28, 4, 4};
        SetOwnFrame(w, frame, RecordingProc);
        ShowMainWindow(w);
        RunLoopUntil(
            w, [] { return false; }, 500);
        for (const auto& step : steps) {
            if (step.ask == kRestore)
                RestoreWindow(w);
            else
                SetWindowMode(w, static_cast<WindowMode>(step.ask));
            RunLoopUntil(
                w, [] { return false; }, 700); // the window manager takes its time
            const WindowMode mode = GetWindowMode(w);
            int x = 0, y = 0, cw = 0, ch = 0, vx = 0, vy = 0, vw = 0, vh = 0;
            GetClientScreenPosition(w, &x, &y);
            GetClientSize(w, &cw, &ch);
            GetChildPosition(view, &vx, &vy);
            GetClientSize(view, &vw, &vh);
            if (mode == WindowMode::Minimised)
                std::fprintf(stderr, "[m]");
            else
                std::fprintf(stderr, "[%c %d,%d %dx%d view %d,%d %dx%d]",
                             "NMmF"[static_cast<int>(mode)], x, y, cw, ch, vx, vy, vw, vh);
        }
        std::exit(0);
    };
    std::string expected;
    for (const auto& step : steps)
        expected += std::string("\\[") + step.then + "\\]";
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), expected);
}

// --- Paths --------------------------------------------------------------------------------------

TEST(ExecutableFolder, NamesTheRealFolderEvenWhenStartedThroughALink) {
    if (std::getenv("VORMEL_PRINT_FOLDER")) {
        std::printf("folder=[%s]\n", ExecutableFolder().c_str());
        return;
    }
    namespace fs = std::filesystem;
    const fs::path real = fs::canonical("/proc/self/exe");
    const fs::path links = fs::temp_directory_path() / ("vormel-links-" + std::to_string(getpid()));
    fs::create_directories(links);
    fs::create_symlink(real, links / "linked-tests");
    const std::string command = "VORMEL_PRINT_FOLDER=1 VORMEL_TEST_SCREEN=none " +
                                (links / "linked-tests").string() +
                                " --gtest_filter=ExecutableFolder.* 2>/dev/null";
    std::string output(4096, '\0');
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    output.resize(fread(output.data(), 1, output.size(), pipe));
    pclose(pipe);
    fs::remove_all(links);
    EXPECT_NE(output.find("folder=[" + real.parent_path().string() + "/]"), std::string::npos)
        << output;
}
