// The common controls on a private Xvfb: what they show in the window's chrome and how they
// answer the user and the program.
#include "platform/os/clock.h"
#include "platform/os/controls.h"
#include "platform/os/window.h"
#include "support/desktop.h"
#include "support/message_log.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Pixel {
    int r, g, b;
};

Pixel ChromePixel(const ChromeLayer& layer, int x, int y) {
    const uint32_t v = *reinterpret_cast<const uint32_t*>(
        layer.pixels + static_cast<size_t>(y) * layer.stride + static_cast<size_t>(x) * 4);
    return {static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
            static_cast<int>(v & 0xFF)};
}

bool Lit(const Pixel& p) {
    return p.r + p.g + p.b > 3 * 100;
}

} // namespace

TEST(Label, ShowsItsTextWithLineBreaksAndEscapedAmpersands) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"drag && drop.", "drag & drop."},
        {"&File", "File"},
        {"a&&&b", "a&b"},
        {"trailing &", "trailing "},
        {"one\r\ntwo\rthree\nfour", "one\ntwo\nthree\nfour"},
        {"\r\n\r\n", "\n\n"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayedLabelText(c.text), c.shown) << c.text;
}

TEST(Label, IsCentredAndFramedInTheChrome) {
    WindowHandle main = CreateMainWindow("label", 300, 200, RecordingProc);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(IsChildClassRegistered(kStaticClass));
    WindowHandle label = CreateChildWindow(kStaticClass, main, -102, 50, 40, 120, 60);
    ASSERT_NE(label, nullptr);
    SetWindowText(label, "\r\nI\r\nW&&W");
    LabelStyle style;
    style.pixelSize = 14;
    style.textArgb = 0xFFFFFFFF;
    style.borderArgb = 0xFF00FF00;
    SetLabelStyle(label, style);
    ChromeLayer layer;
    WindowRect changed;
    ASSERT_TRUE(UpdateChrome(main, &layer, &changed));
    // The border: green on every edge, nothing of it outside.
    for (auto [x, y] : {std::pair{50, 40}, {169, 40}, {50, 99}, {169, 99}, {110, 40}, {50, 70}})
        EXPECT_EQ(ChromePixel(layer, x, y).g, 255) << x << ", " << y;
    EXPECT_NE(ChromePixel(layer, 49, 40).g, 255);
    // The first line is empty, the second a narrow "I" in the middle, the third wider.
    auto litIn = [&](int y0, int y1, int x0, int x1) {
        int lit = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                lit += Lit(ChromePixel(layer, x, y));
        return lit;
    };
    const int lineHeight = 17;
    EXPECT_EQ(litIn(42, 41 + lineHeight, 52, 168), 0);
    EXPECT_GT(litIn(41 + lineHeight, 41 + 2 * lineHeight, 105, 115), 0);
    EXPECT_EQ(litIn(41 + lineHeight, 41 + 2 * lineHeight, 52, 100), 0);
    EXPECT_GT(litIn(41 + 2 * lineHeight, 41 + 3 * lineHeight, 80, 100), 0);
    DestroyWindow(main);
}

// --- Trackbar -----------------------------------------------------------------------------------

namespace {

// What the parent heard: the notification code and the position the trackbar then reported.
using Notification = std::pair<intptr_t, intptr_t>;
std::vector<Notification> gNotified;

intptr_t ParentProc(WindowHandle window, const Message& message) {
    if (message.id == WM_HSCROLL)
        gNotified.emplace_back(message.wParam, SendMessage(message.control, TBM_GETPOS, 0, 0));
    return RecordingProc(window, message);
}

size_t gKeysSeen = 0;
WindowProc gTrackbarProc = nullptr;

intptr_t KeyCountingProc(WindowHandle window, const Message& message) {
    if (message.id == WM_KEYDOWN) ++gKeysSeen;
    return CallWindowProc(gTrackbarProc, window, message);
}

// Columns of the chrome row y, from x0 to x1, where something lit is drawn: the ticks, or the
// body of the thumb.
std::vector<int> LitColumns(const ChromeLayer& layer, int y, int x0, int x1) {
    std::vector<int> lit;
    for (int x = x0; x < x1; ++x)
        if (Lit(ChromePixel(layer, x, y))) lit.push_back(x);
    return lit;
}

class TrackbarTest : public testing::Test {
  protected:
    static constexpr int kLeft = 40, kTop = 50; // the trackbar's place in the client area
    static constexpr int kTickRow = kTop + 14, kThumbRow = kTop + 5;

    void SetUp() override {
        ASSERT_TRUE(desktop_.connected());
        main_ = CreateMainWindow("trackbar", 300, 200, ParentProc);
        ASSERT_NE(main_, nullptr);
        bar_ = CreateChildWindow(kTrackbarClass, main_, -103, kLeft, kTop, 120, 16);
        ASSERT_NE(bar_, nullptr);
        ShowMainWindow(main_);
        SetForegroundWindow(main_);
        gNotified.clear();
        gMessageLog.clear();
    }
    void TearDown() override { DestroyWindow(main_); }

    intptr_t Send(uint32_t id, intptr_t wParam, intptr_t lParam) {
        return SendMessage(bar_, id, wParam, lParam);
    }
    ChromeLayer Chrome() {
        ChromeLayer layer;
        WindowRect changed;
        EXPECT_TRUE(UpdateChrome(main_, &layer, &changed));
        return layer;
    }
    // The ticks' columns and the thumb's middle column, in client coordinates.
    std::vector<int> Ticks() { return LitColumns(Chrome(), kTickRow, 0, 300); }
    int ThumbColumn() {
        const std::vector<int> lit = LitColumns(Chrome(), kThumbRow, 0, 300);
        return lit.empty() ? -1 : (lit.front() + lit.back()) / 2;
    }
    void PointAt(int x, int y) {
        int sx = 0;
        int sy = 0;
        GetClientScreenPosition(main_, &sx, &sy);
        desktop_.MovePointer(sx + x, sy + y);
    }
    bool RunUntilNotified(size_t count) {
        return RunLoopUntil(main_, [=] { return gNotified.size() >= count; });
    }

    FakeDesktop desktop_;
    WindowHandle main_ = nullptr;
    WindowHandle bar_ = nullptr;
};

} // namespace

TEST_F(TrackbarTest, MessagesSetARangeThatHoldsThePositionAndTellTheParentNothing) {
    const struct {
        uint32_t id;
        intptr_t wParam, lParam, result, pos;
    } steps[] = {
        {TBM_GETPOS, 0, 0, 0, 0},
        // The program's own start: page and line 1, ticks everywhere, range 1 to 100, at 50.
        {TBM_SETPAGESIZE, 0, 1, 20, 0},
        {TBM_SETLINESIZE, 0, 1, 1, 0},
        {TBM_SETTICFREQ, 0, 1, 0, 0},
        {TBM_SETRANGE, 1, MAKELONG(1, 100), 0, 1},
        {TBM_SETPOS, 1, 50, 0, 50},
        {TBM_SETPOS, 1, 0, 0, 1},
        {TBM_SETPOS, 1, 101, 0, 100},
        {TBM_SETPOS, 0, -7, 0, 1},
        // The halves are signed; ends given the wrong way round are swapped.
        {TBM_SETRANGE, 1, MAKELONG(-10, 10), 0, 1},
        {TBM_SETPOS, 1, -20, 0, -10},
        {TBM_SETRANGE, 1, MAKELONG(20, 5), 0, 5},
        {TBM_SETPOS, 1, 12, 0, 12},
        // Steps below one are one step.
        {TBM_SETPAGESIZE, 0, 0, 1, 12},
        {TBM_SETPAGESIZE, 0, 4, 1, 12},
        {TBM_SETLINESIZE, 0, -3, 1, 12},
        {TBM_SETLINESIZE, 0, 2, 1, 12},
        {TBM_SETPAGESIZE, 0, 5, 4, 12},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << std::hex << s.id << std::dec << " (" << s.wParam << ", "
                                        << s.lParam << ")");
        EXPECT_EQ(Send(s.id, s.wParam, s.lParam), s.result);
        EXPECT_EQ(Send(TBM_GETPOS, 0, 0), s.pos);
    }
    EXPECT_TRUE(gNotified.empty());
}

TEST_F(TrackbarTest, DrawsATickEverySoManyPositionsWithTheThumbOverItsOwn) {
    const struct {
        int min, max, frequency;
        std::vector<int> ticked; // positions with a tick
    } cases[] = {
        {0, 10, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {0, 10, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, // below 1: every position
        {0, 10, 5, {0, 5, 10}},
        {0, 10, 3, {0, 3, 6, 9, 10}}, // the last position always has one
        {0, 10, 20, {0, 10}},
        {-6, 6, 4, {-6, -2, 2, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << " to " << c.max << " every " << c.frequency);
        Send(TBM_SETRANGE, 1, MAKELONG(c.min, c.max));
        Send(TBM_SETTICFREQ, c.frequency, 0);
        const std::vector<int> ticks = Ticks();
        ASSERT_EQ(ticks.size(), c.ticked.size());
        EXPECT_GE(ticks.front(), kLeft);
        EXPECT_LT(ticks.back(), kLeft + 120);
        for (size_t i = 0; i < ticks.size(); ++i) {
            Send(TBM_SETPOS, 1, c.ticked[i]);
            EXPECT_EQ(ThumbColumn(), ticks[i]) << "at " << c.ticked[i];
        }
    }
}

TEST_F(TrackbarTest, TheThumbFollowsADragEverywhereAndEachStepIsNotified) {
    Send(TBM_SETRANGE, 1, MAKELONG(0, 10));
    const std::vector<int> ticks = Ticks();
    ASSERT_EQ(ticks.size(), 11u);
    EXPECT_EQ(ThumbColumn(), ticks[0]);
    PointAt(ticks[0], kThumbRow);
    desktop_.PressButton(1);
    ASSERT_TRUE(RunLoopUntil(main_, [] { return GetCapture() != nullptr; }));
    EXPECT_EQ(GetFocus(), bar_); // a press gives the trackbar the keyboard focus
    // Over the ticks, below the control, then beyond the window's edges on either side.
    const struct {
        int x, y;
        intptr_t pos;
    } moves[] = {
        {ticks[3], kThumbRow, 3},     {ticks[7] + 1, kTop + 120, 7}, {ticks[10] + 400, -80, 10},
        {ticks[2] - 1, kThumbRow, 2}, {-100, kThumbRow, 0},
    };
    for (const auto& m : moves) {
        PointAt(m.x, m.y);
        ASSERT_TRUE(RunUntilNotified(gNotified.size() + 1));
        EXPECT_EQ(gNotified.back(), Notification(TB_THUMBTRACK, m.pos)) << m.x << ", " << m.y;
    }
    desktop_.ReleaseButton(1); // outside the window
    ASSERT_TRUE(RunUntilNotified(std::size(moves) + 2));
    EXPECT_EQ(gNotified[std::size(moves)], Notification(TB_THUMBPOSITION, 0));
    EXPECT_EQ(gNotified.back(), Notification(TB_ENDTRACK, 0));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(ThumbColumn(), ticks[0]);
}

TEST_F(TrackbarTest, APressInTheChannelPagesTowardItAndRepeatsUntilTheThumbIsThere) {
    Send(TBM_SETPAGESIZE, 0, 10);
    Send(TBM_SETTICFREQ, 10, 0);
    Send(TBM_SETPOS, 1, 50);
    const std::vector<int> ticks = Ticks(); // at 0, 10, …, 100
    ASSERT_EQ(ticks.size(), 11u);
    auto click = [&](int x) {
        PointAt(x, kThumbRow);
        desktop_.PressButton(1);
        desktop_.ReleaseButton(1);
        ASSERT_TRUE(RunUntilNotified(gNotified.size() + 2));
    };
    click(ticks[10]);
    click(ticks[0]);
    // Held over 80: a page at once, more after a pause, none once the thumb covers the pointer.
    PointAt(ticks[8], kThumbRow);
    desktop_.PressButton(1);
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return Send(TBM_GETPOS, 0, 0) == 80; }));
    const uint32_t stillUntil = MillisecondTicks() + 400;
    RunLoopUntil(main_, [&] { return MillisecondTicks() >= stillUntil; });
    desktop_.ReleaseButton(1);
    ASSERT_TRUE(RunLoopUntil(main_, [] { return gNotified.back().first == TB_ENDTRACK; }));
    const std::vector<Notification> expected = {
        {TB_PAGEDOWN, 60}, {TB_ENDTRACK, 60}, {TB_PAGEUP, 50},   {TB_ENDTRACK, 50},
        {TB_PAGEDOWN, 60}, {TB_PAGEDOWN, 70}, {TB_PAGEDOWN, 80}, {TB_ENDTRACK, 80}};
    EXPECT_EQ(gNotified, expected);
}

TEST_F(TrackbarTest, KeysStepItWhileItHasTheFocusAndOnlyThen) {
    Send(TBM_SETRANGE, 1, MAKELONG(0, 100));
    Send(TBM_SETPOS, 1, 50);
    Send(TBM_SETLINESIZE, 0, 2);
    Send(TBM_SETPAGESIZE, 0, 10);
    gTrackbarProc = SubclassWindow(bar_, KeyCountingProc);
    SetFocus(bar_);
    PointAt(150, 150);
    const struct {
        const char* key;
        intptr_t code, pos; // code -1: nothing changes, nothing is sent
    } keys[] = {
        {"Right", TB_LINEDOWN, 52}, {"Down", TB_LINEDOWN, 54}, {"Left", TB_LINEUP, 52},
        {"Up", TB_LINEUP, 50},      {"Next", TB_PAGEDOWN, 60}, {"Prior", TB_PAGEUP, 50},
        {"End", TB_BOTTOM, 100},    {"Right", -1, 100},        {"Next", -1, 100},
        {"Home", TB_TOP, 0},        {"Prior", -1, 0},
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(k.key);
        gNotified.clear();
        gKeysSeen = 0;
        desktop_.TypeKey(k.key);
        ASSERT_TRUE(RunLoopUntil(main_, [] { return gKeysSeen > 0; }));
        EXPECT_EQ(Send(TBM_GETPOS, 0, 0), k.pos);
        if (k.code < 0)
            EXPECT_TRUE(gNotified.empty());
        else
            EXPECT_EQ(gNotified, std::vector<Notification>({{k.code, k.pos}}));
    }
    // With the focus elsewhere, the keys go there.
    SetFocus(main_);
    gMessageLog.clear();
    desktop_.TypeKey("End");
    ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_KEYDOWN) > 0; }));
    EXPECT_EQ(Send(TBM_GETPOS, 0, 0), 0);
}
