// The window system on a real X server (a private Xvfb): placement, anchoring, message routing
// and ordering, timers, closing, and the executable's folder.
#include "platform/os/clock.h"
#include "platform/os/window.h"
#include "support/desktop.h"
#include "support/message_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

intptr_t PlainChildProc(WindowHandle window, const Message& message) {
    return RecordingProc(window, message);
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(desktop_.connected());
        RegisterChildClass("plain", PlainChildProc);
        gMessageLog.clear();
    }
    void TearDown() override {
        DestroyWindow(main_);
        gMessageLog.clear();
    }
    WindowHandle MakeMain(const char* title, int width, int height) {
        main_ = CreateMainWindow(title, width, height, RecordingProc);
        return main_;
    }
    // Lets everything pending (paints, the first show's messages) pass, then forgets it.
    void Settle() {
        StartTimer(main_, 1, 1);
        RunLoopUntil(main_, [&] { return CountLogged(main_, WM_TIMER) > 0; });
        StopTimer(main_, 1);
        gMessageLog.clear();
    }
    void MovePointerInto(WindowHandle window, int x, int y) {
        int sx = 0;
        int sy = 0;
        GetClientScreenPosition(window, &sx, &sy);
        desktop_.MovePointer(sx + x, sy + y);
    }

    FakeDesktop desktop_;
    WindowHandle main_ = nullptr;
};

struct Rect {
    int x, y, width, height;
};

Rect RectOf(WindowHandle child) {
    Rect r{};
    GetChildPosition(child, &r.x, &r.y);
    GetClientSize(child, &r.width, &r.height);
    return r;
}

} // namespace

// --- Placement ----------------------------------------------------------------------------------

TEST_F(WindowTest, MainWindowIsCentredAndStaysHiddenUntilShown) {
    ASSERT_NE(MakeMain("centred", 868, 532), nullptr);
    int x = 0;
    int y = 0;
    GetClientScreenPosition(main_, &x, &y);
    EXPECT_EQ(x, (1280 - 868) / 2);
    EXPECT_EQ(y, (1024 - 532) / 2);
    EXPECT_FALSE(desktop_.IsShown("centred"));

    // The first showing tells the window its size, so the program can set up its view at once.
    ShowMainWindow(main_);
    EXPECT_TRUE(desktop_.IsShown("centred"));
    ASSERT_EQ(CountLogged(main_, WM_SIZE), 1u);
    EXPECT_EQ(gMessageLog.back().x, 868);
    EXPECT_EQ(gMessageLog.back().y, 532);
    ShowMainWindow(main_);
    EXPECT_EQ(CountLogged(main_, WM_SIZE), 1u);
}

TEST_F(WindowTest, OnASmallScreenTheWindowsCornerStaysOnTheScreen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("VORMEL_TEST_SCREEN", "640x480x24", 1);
    // In a process of its own, with an X server of that size.
    auto placeAll = [] {
        const int sizes[][2] = {{868, 532}, {600, 600}, {700, 300}};
        for (const auto& size : sizes) {
            WindowHandle w = CreateMainWindow("small screen", size[0], size[1], RecordingProc);
            int x = -1;
            int y = -1;
            GetClientScreenPosition(w, &x, &y);
            std::fprintf(stderr, "[%d,%d]", x, y);
            DestroyWindow(w);
        }
        std::fprintf(stderr, "\n");
        std::exit(0);
    };
    EXPECT_EXIT(placeAll(), testing::ExitedWithCode(0), "\\[0,0\\]\\[20,0\\]\\[0,90\\]");
    unsetenv("VORMEL_TEST_SCREEN");
}

// --- Anchoring ----------------------------------------------------------------------------------

TEST_F(WindowTest, AnchoredChildrenFollowTheClientAreaBeforeTheWindowHearsOfIt) {
    ASSERT_NE(MakeMain("anchors", 868, 532), nullptr);
    WindowHandle view = CreateChildWindow("plain", main_, -100, 10, 10, 712, 512);
    WindowHandle bar = CreateChildWindow("plain", main_, -103, 740, 457, 120, 16);
    WindowHandle fixed = CreateChildWindow("plain", main_, 1, 5, 5, 2, 2);
    SetChildAnchor(view, 5);
    SetChildAnchor(bar, 9);
    ShowMainWindow(main_);
    Settle();

    struct Case {
        int width, height;
        Rect view, bar;
        bool viewResized;
    };
    const Case cases[] = {
        {1000, 600, {10, 10, 844, 580}, {872, 457, 120, 16}, true},
        {1000, 700, {10, 10, 844, 680}, {872, 457, 120, 16}, true},
        // Smaller than the margins: sizes stop at zero, positions may leave the client area.
        {100, 15, {10, 10, 0, 0}, {-28, 457, 120, 16}, true},
        {100, 16, {10, 10, 0, 0}, {-28, 457, 120, 16}, false},
        // The margins were kept, so the old layout comes back exactly.
        {868, 532, {10, 10, 712, 512}, {740, 457, 120, 16}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        gMessageLog.clear();
        ASSERT_TRUE(desktop_.ResizeWindow("anchors", c.width, c.height));
        ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_SIZE) > 0; }));
        const Rect v = RectOf(view);
        const Rect b = RectOf(bar);
        EXPECT_EQ(std::tie(v.x, v.y, v.width, v.height),
                  std::tie(c.view.x, c.view.y, c.view.width, c.view.height));
        EXPECT_EQ(std::tie(b.x, b.y, b.width, b.height),
                  std::tie(c.bar.x, c.bar.y, c.bar.width, c.bar.height));
        const Rect f = RectOf(fixed);
        EXPECT_EQ(std::tie(f.x, f.y, f.width, f.height), std::make_tuple(5, 5, 2, 2));

        // Only a child whose size changed hears WM_SIZE, and before the main window does.
        std::vector<WindowHandle> sized;
        for (const LoggedMessage& m : gMessageLog)
            if (m.id == WM_SIZE) sized.push_back(m.window);
        std::vector<WindowHandle> expected;
        if (c.viewResized) expected.push_back(view);
        expected.push_back(main_);
        EXPECT_EQ(sized, expected);
        int w = 0;
        int h = 0;
        GetClientSize(main_, &w, &h);
        EXPECT_EQ(std::tie(w, h), std::tie(c.width, c.height));
    }
}

// --- Children and procedures --------------------------------------------------------------------

namespace {

std::vector<std::string> gTrace;
WindowProc gBelowFirst = nullptr;
WindowProc gBelowSecond = nullptr;

intptr_t BaseProc(WindowHandle window, const Message& message) {
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
intptr_t RefusingProc(WindowHandle window, const Message& message) {
    return message.id == WM_CREATE ? -1 : RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, SubclassesRunNewestFirstAndReachTheClassProcedure) {
    ASSERT_TRUE(RegisterChildClass("chain", BaseProc));
    ASSERT_NE(MakeMain("chain", 300, 200), nullptr);
    WindowHandle child = CreateChildWindow("chain", main_, 7, 0, 0, 50, 50);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetChildId(child), 7);
    gBelowFirst = SubclassWindow(child, FirstSubclass);
    gBelowSecond = SubclassWindow(child, SecondSubclass);
    EXPECT_EQ(gBelowFirst, &BaseProc);
    EXPECT_EQ(gBelowSecond, &FirstSubclass);

    gTrace.clear();
    InvalidateWindow(child);
    ASSERT_TRUE(RunLoopUntil(main_, [] { return !gTrace.empty() && gTrace.back() == "base"; }));
    EXPECT_EQ(gTrace, (std::vector<std::string>{"second", "first", "base"}));
}

TEST_F(WindowTest, ChildCreationFailsForUnknownClassesAndRefusals) {
    ASSERT_TRUE(RegisterChildClass("refusing", RefusingProc));
    EXPECT_FALSE(RegisterChildClass("refusing", PlainChildProc)); // taken by another procedure
    EXPECT_TRUE(RegisterChildClass("refusing", RefusingProc));
    EXPECT_TRUE(IsChildClassRegistered("refusing"));
    EXPECT_FALSE(IsChildClassRegistered("nobody"));
    ASSERT_NE(MakeMain("refusals", 300, 200), nullptr);
    EXPECT_EQ(CreateChildWindow("nobody", main_, 1, 0, 0, 10, 10), nullptr);
    EXPECT_EQ(CreateChildWindow("refusing", main_, 1, 0, 0, 300, 200), nullptr);
    // A refused child is gone: the pointer over its place reaches the main window.
    ShowMainWindow(main_);
    Settle();
    MovePointerInto(main_, 20, 30);
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_MOUSEMOVE) > 0; }));
}

TEST_F(WindowTest, ClosingDestroysChildrenFirstAndStopsTheirTimers) {
    ASSERT_NE(MakeMain("closing", 300, 200), nullptr);
    WindowHandle a = CreateChildWindow("plain", main_, 1, 0, 0, 10, 10);
    WindowHandle b = CreateChildWindow("plain", main_, 2, 20, 0, 10, 10);
    StartTimer(a, 9, 1);
    ShowMainWindow(main_);
    Settle();

    ASSERT_TRUE(desktop_.AskToClose("closing"));
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_DESTROY) > 0; }));
    std::vector<WindowHandle> destroyed;
    for (const LoggedMessage& m : gMessageLog)
        if (m.id == WM_DESTROY) destroyed.push_back(m.window);
    ASSERT_EQ(destroyed.size(), 3u);
    EXPECT_EQ(destroyed.back(), main_);
    EXPECT_NE(std::find(destroyed.begin(), destroyed.end(), a), destroyed.end());
    EXPECT_NE(std::find(destroyed.begin(), destroyed.end(), b), destroyed.end());
    EXPECT_EQ(gMessageLog.front().id, static_cast<uint32_t>(WM_CLOSE));

    // The handles are dead: queries answer nothing and the child's timer is gone.
    int w = -1;
    int h = -1;
    GetClientSize(a, &w, &h);
    EXPECT_EQ(std::tie(w, h), std::make_tuple(0, 0));
    EXPECT_FALSE(StartTimer(a, 9, 1));
    main_ = nullptr;
}

// --- Mouse --------------------------------------------------------------------------------------

TEST_F(WindowTest, MouseMessagesGoToTheTopmostChildUnderThePointer) {
    ASSERT_NE(MakeMain("routing", 400, 300), nullptr);
    WindowHandle a = CreateChildWindow("plain", main_, 1, 50, 40, 100, 80);
    WindowHandle b = CreateChildWindow("plain", main_, 2, 120, 100, 60, 60); // over a's corner
    WindowHandle empty = CreateChildWindow("plain", main_, 3, 300, 200, 0, 50);
    ShowMainWindow(main_);
    Settle();

    struct Case {
        int x, y;
        WindowHandle target;
        int cx, cy;
    };
    const Case cases[] = {
        {60, 50, a, 10, 10},         {50, 40, a, 0, 0},         {149, 119, b, 29, 19},
        {130, 110, b, 10, 10},       {149, 99, a, 99, 59},      {150, 40, main_, 150, 40},
        {300, 220, main_, 300, 220}, {10, 290, main_, 10, 290},
    };
    (void)empty;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pointer at " << c.x << ", " << c.y);
        gMessageLog.clear();
        MovePointerInto(main_, c.x, c.y);
        ASSERT_TRUE(RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_MOUSEMOVE) > 0; }));
        const LoggedMessage& m = gMessageLog.back();
        EXPECT_EQ(m.window, c.target);
        EXPECT_EQ(std::tie(m.x, m.y), std::tie(c.cx, c.cy));
    }

    // No capture: a press over a child and a release elsewhere go to different windows.
    MovePointerInto(main_, 60, 50);
    desktop_.PressButton(1);
    MovePointerInto(main_, 390, 290);
    desktop_.ReleaseButton(1);
    desktop_.PressButton(3);
    desktop_.ReleaseButton(3);
    gMessageLog.clear();
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_RBUTTONUP) > 0; }));
    std::vector<std::pair<WindowHandle, uint32_t>> buttons;
    for (const LoggedMessage& m : gMessageLog)
        if (m.id != WM_MOUSEMOVE && m.id != WM_PAINT) buttons.emplace_back(m.window, m.id);
    const std::vector<std::pair<WindowHandle, uint32_t>> expected = {
        {a, WM_LBUTTONDOWN}, {main_, WM_LBUTTONUP}, {main_, WM_RBUTTONDOWN}, {main_, WM_RBUTTONUP}};
    EXPECT_EQ(buttons, expected);
}

namespace {

FakeDesktop* gMover = nullptr;
int gMoverX = 0;
int gMoverY = 0;

// Moves the pointer three times while the loop is busy in this tick, so the moves are all
// waiting when the loop looks again.
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
    ShowMainWindow(main_);
    MovePointerInto(main_, 5, 5);
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_MOUSEMOVE) > 0; }));
    Settle();

    gMover = &desktop_;
    GetClientScreenPosition(main_, &gMoverX, &gMoverY);
    StartTimer(main_, 3, 1);
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_LBUTTONDOWN) > 0; }));
    desktop_.ReleaseButton(1);
    ASSERT_EQ(CountLogged(main_, WM_MOUSEMOVE), 1u);
    const auto move = std::find_if(gMessageLog.begin(), gMessageLog.end(),
                                   [](const LoggedMessage& m) { return m.id == WM_MOUSEMOVE; });
    EXPECT_EQ(std::tie(move->x, move->y), std::make_tuple(30, 15));
}

// --- Painting and timers ------------------------------------------------------------------------

TEST_F(WindowTest, PaintsAreCoalescedAndComeBeforeTimerTicks) {
    ASSERT_NE(MakeMain("paints", 300, 200), nullptr);
    WindowHandle child = CreateChildWindow("plain", main_, 1, 0, 0, 10, 10);
    Settle();
    InvalidateWindow(child);
    InvalidateWindow(main_);
    InvalidateWindow(main_);
    InvalidateWindow(child);
    StartTimer(main_, 4, 1);
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_TIMER) > 0; }));
    StopTimer(main_, 4);
    std::vector<std::pair<WindowHandle, uint32_t>> got;
    for (const LoggedMessage& m : gMessageLog)
        got.emplace_back(m.window, m.id);
    const std::vector<std::pair<WindowHandle, uint32_t>> expected = {
        {main_, WM_PAINT}, {child, WM_PAINT}, {main_, WM_TIMER}};
    EXPECT_EQ(got, expected);
}

namespace {

std::vector<uint32_t> gTickTimes;

intptr_t StallingProc(WindowHandle window, const Message& message) {
    if (message.id == WM_TIMER && message.timerId == 6) {
        gTickTimes.push_back(MillisecondTicks());
        if (gTickTimes.size() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, TicksMissedDuringAStallDoNotPileUp) {
    constexpr uint32_t kInterval = 20;
    ASSERT_NE(MakeMain("stall", 300, 200), nullptr);
    SubclassWindow(main_, StallingProc);
    gTickTimes.clear();
    StartTimer(main_, 6, kInterval);
    ASSERT_TRUE(RunLoopUntil(main_, [] { return gTickTimes.size() >= 4; }));
    StopTimer(main_, 6);
    // Fifteen intervals passed during the stall. The late timer fires once, right away; the
    // following ticks keep their distance instead of catching up.
    for (size_t i = 2; i < gTickTimes.size(); ++i)
        EXPECT_GE(gTickTimes[i] - gTickTimes[i - 1], kInterval / 2) << "tick " << i;
}

namespace {

intptr_t QuittingProc(WindowHandle window, const Message& message) {
    if (message.id == WM_TIMER && message.timerId == 8) PostQuitMessage(42);
    return RecordingProc(window, message);
}

} // namespace

TEST_F(WindowTest, TheLoopReturnsTheQuitCodeAndCanRunAgain) {
    ASSERT_NE(MakeMain("quit", 300, 200), nullptr);
    SubclassWindow(main_, QuittingProc);
    StartTimer(main_, 8, 1);
    EXPECT_EQ(RunMessageLoop(), 42);
    StopTimer(main_, 8);
    PostQuitMessage(3);
    EXPECT_EQ(RunMessageLoop(), 3);
}

// --- Closing ------------------------------------------------------------------------------------

class CloseRequest : public WindowTest, public testing::WithParamInterface<int> {};

TEST_P(CloseRequest, ArrivesAsWmCloseToTheMainWindow) {
    ASSERT_NE(MakeMain("close request", 300, 200), nullptr);
    ShowMainWindow(main_);
    Settle();
    const int signal = GetParam();
    if (signal == 0)
        ASSERT_TRUE(desktop_.AskToClose("close request"));
    else
        std::raise(signal);
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_DESTROY) > 0; }));
    EXPECT_EQ(CountLogged(main_, WM_CLOSE), 1u);
    main_ = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Sources, CloseRequest, testing::Values(0, SIGTERM, SIGINT),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == 0         ? std::string("WindowManager")
                                    : info.param == SIGTERM ? std::string("Sigterm")
                                                            : std::string("Sigint");
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
    const pthread_t loopThread = pthread_self();
    std::thread sender([loopThread] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pthread_kill(loopThread, SIGTERM);
    });
    RunMessageLoop();
    sender.join();
    EXPECT_EQ(CountLogged(main_, WM_CLOSE), 1u);
    main_ = nullptr;
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
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    fs::remove_all(links);
    EXPECT_NE(output.find("folder=[" + real.parent_path().string() + "/]"), std::string::npos)
        << output;
}
