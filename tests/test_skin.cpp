// The skin engine: its file read strictly, and a skinned window laid out as the program lays out
// its own, on a private X server with a real window manager (openbox): frame and caption, caption
// buttons, tool tips, the clock, the picture under the label, the border, moving and resizing.
#include "platform/os/controls.h"
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"
#include "support/desktop.h"
#include "support/message_log.h"
#include "support/png_file.h"
#include "support/window_manager.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path kResources = fs::path(VORMEL_SOURCE_DIR) / "Resource";

std::string ReadFile(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The text with the line that begins with key replaced by newLine (removed when newLine is
// empty), or newLine added at the end when no line begins so; *line is where the change is.
std::string Edited(const std::string& text, const std::string& key, const std::string& newLine,
                   int* line) {
    std::istringstream in(text);
    std::string out, current;
    *line = 0;
    for (int n = 1; std::getline(in, current); ++n) {
        if (*line == 0 && current.rfind(key + " ", 0) == 0) {
            *line = n;
            out += newLine.empty() ? "" : newLine + "\n";
        } else {
            out += current + "\n";
        }
    }
    if (*line == 0) {
        out += newLine + "\n";
        *line = static_cast<int>(std::count(out.begin(), out.end(), '\n'));
    }
    return out;
}

} // namespace

// --- The skin file ------------------------------------------------------------------------------

TEST(SkinFile, TheCommittedSkinIsTheGeneratorsAndReadsTheSameWithCrLf) {
    const std::string text = ReadFile(kResources / "Podcast.sks");
    const fs::path made = fs::temp_directory_path() / ("vormel-skin-" + std::to_string(getpid()));
    ASSERT_EQ(std::system(("'" VORMEL_MAKE_SKIN "' '" + made.string() + "'").c_str()), 0);
    EXPECT_EQ(ReadFile(made), text) << "remake Resource/Podcast.sks with make_skin";
    fs::remove(made);
    std::string dos;
    for (char c : text)
        dos += c == '\n' ? std::string("\r\n") : std::string(1, c);
    SkinFile lf, crlf;
    SkinFileError error;
    ASSERT_TRUE(ParseSkinText(text, &lf, &error)) << error.line << ": " << error.message;
    ASSERT_TRUE(ParseSkinText(dos, &crlf, &error)) << error.line << ": " << error.message;
    EXPECT_EQ(crlf.captionFont, lf.captionFont); // no CR left at the end of a value
    EXPECT_EQ(crlf.captionIcon, "icon.png");
    // #RRGGBB is opaque; #AARRGGBB keeps its alpha, even a zero one.
    EXPECT_EQ(lf.frameOutline, 0xFF05070Eu);
    EXPECT_EQ(lf.labelFill, 0x00000000u);
}

TEST(SkinFile, EachKindOfFaultNamesItsLineAndChangesNothing) {
    const std::string base = ReadFile(kResources / "Podcast.sks");
    const std::string badColour = " for \"frame.outline\" (write #RRGGBB or #AARRGGBB)";
    const std::string badPicture = " for \"caption.icon\" (a file in the skin's folder)";
    const struct {
        const char* key; // the line replaced; a key the file does not set adds a line
        std::string line;
        std::string message;
    } cases[] = {
        {"foo", "foo 1", "unknown key \"foo\""},
        {"caption.height", "caption.height 2x8", "bad number \"2x8\" for \"caption.height\""},
        {"caption.height", "caption.height 99999999999",
         "bad number \"99999999999\" for \"caption.height\""},
        {"frame.side", "frame.side 33", "\"frame.side\" must be from 0 to 32, not 33"},
        {"button.height", "button.height 40",
         "\"button.height\" 40 is taller than \"caption.height\" 28"},
        {"frame.outline", "frame.outline #GG0000", "bad colour \"#GG0000\"" + badColour},
        {"frame.outline", "frame.outline FF05070E", "bad colour \"FF05070E\"" + badColour},
        {"frame.outline", "frame.outline", "missing value for \"frame.outline\""},
        {"frame.side", "frame.side 4\nframe.side 4", "duplicate key \"frame.side\", first given"},
        {"caption.icon", "caption.icon ../icon.png",
         "bad picture name \"../icon.png\"" + badPicture},
        {"caption.icon", "caption.icon .icon.png", "bad picture name \".icon.png\"" + badPicture},
        {"caption.font", "caption.font D\xC3\xA9j\xC3\xA0",
         "bad font name \"D??j??\" for \"caption.font\""},
        {"caption.font", std::string("caption.font Deja\0Vu", 20), "control character in the line"},
        {"vormel-skin", "vormel-skin 2", "unsupported skin version \"2\""},
        {"vormel-skin", "frame.side 4", "not a skin file: it must begin with \"vormel-skin 1\""},
        {"#", "#" + std::string(300, '-'), "line longer than 256 characters"},
        {"label.font", "", "missing key \"label.font\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        int line = 0;
        const std::string text = Edited(base, c.key, c.line, &line);
        // A key given twice is named on its second line; a missing key on the last line.
        if (c.line.find('\n') != std::string::npos) ++line;
        if (c.line.empty()) line = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        SkinFile skin;
        skin.frameSide = 77;
        SkinFileError error;
        EXPECT_FALSE(ParseSkinText(text, &skin, &error));
        EXPECT_EQ(error.line, line);
        EXPECT_EQ(error.message.substr(0, c.message.size()), c.message);
        EXPECT_EQ(skin.frameSide, 77) << "half applied";
    }
    const struct {
        std::string text;
        int line;
        std::string message;
    } wholeFiles[] = {
        {"", 1, "not a skin file: no \"vormel-skin 1\" line"},
        {"# only a comment\n\n", 2, "not a skin file: no \"vormel-skin 1\" line"},
        {base + std::string(64 * 1024, '#'), 0, "larger than 65536 bytes"},
    };
    for (const auto& c : wholeFiles) {
        SkinFile skin;
        SkinFileError error;
        EXPECT_FALSE(ParseSkinText(c.text, &skin, &error));
        EXPECT_EQ(std::tie(error.line, error.message), std::tie(c.line, c.message));
    }
    // The longest line allowed is allowed.
    SkinFile skin;
    SkinFileError error;
    EXPECT_TRUE(ParseSkinText(base + "#" + std::string(255, '-') + "\n", &skin, &error))
        << error.line << ": " << error.message;
}

TEST(SkinEngine, LoadsOrSaysInOneLineWhyNotAndKeepsTheSkinItHad) {
    // The test's executable has the skin in its Resource/ folder.
    ASSERT_NE(skInitEngine("Podcast.sks", nullptr), 0);
    const auto loaded = CurrentSkin();
    const fs::path dir = fs::temp_directory_path() / ("vormel-skins-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string base = ReadFile(kResources / "Podcast.sks");
    int unknownLine = 0, iconLine = 0;
    std::ofstream(dir / "unknown.sks") << Edited(base, "foo", "foo 1", &unknownLine);
    std::ofstream(dir / "noicon.sks")
        << Edited(base, "caption.icon", "caption.icon no.png", &iconLine);
    const std::string d = dir.string() + "/", exe = ExecutableFolder();
    const struct {
        std::string file, said;
    } cases[] = {
        {"Absent.sks",
         "Absent.sks: not found beside the program (" + exe + ") or in " + exe + "Resource/"},
        {d + "absent.sks", d + "absent.sks: cannot read it: No such file or directory"},
        {d, d + ": cannot read it: Is a directory"},
        {d + "unknown.sks",
         d + "unknown.sks:" + std::to_string(unknownLine) + ": unknown key \"foo\""},
        {d + "noicon.sks", d + "noicon.sks:" + std::to_string(iconLine) +
                               ": cannot read the picture " + d + "no.png"},
        {"", "skin: no skin file named"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(skInitEngine(c.file.c_str(), nullptr), 0) << c.file;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "vormel: " + c.said + "\n");
        EXPECT_EQ(CurrentSkin(), loaded) << c.file;
    }
    fs::remove_all(dir);
}

// --- A skinned window ---------------------------------------------------------------------------

bool operator==(const WindowRect& a, const WindowRect& b) {
    return std::tie(a.x, a.y, a.width, a.height) == std::tie(b.x, b.y, b.width, b.height);
}
std::ostream& operator<<(std::ostream& out, const WindowRect& r) {
    return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

namespace {

constexpr const char* kTitle = "Vormel skin";

// The main window hears WM_CLOSE without closing, so that a test can see it arrive.
intptr_t KeepOpenProc(WindowHandle window, const Message& message) {
    if (message.id != WM_CLOSE) return RecordingProc(window, message);
    gMessageLog.push_back({window, message.id, 0, 0, 0});
    return 0;
}

int Channel(uint32_t argb, int shift) {
    return static_cast<int>((argb >> shift) & 0xFF);
}
// How far apart two opaque colours are: the largest difference of a channel.
int Distance(uint32_t a, uint32_t b) {
    return std::max({std::abs(Channel(a, 16) - Channel(b, 16)),
                     std::abs(Channel(a, 8) - Channel(b, 8)),
                     std::abs(Channel(a, 0) - Channel(b, 0))});
}
bool Contains(const WindowRect& outer, const WindowRect& r) {
    return r.x >= outer.x && r.y >= outer.y && r.x + r.width <= outer.x + outer.width &&
           r.y + r.height <= outer.y + outer.height;
}
uint32_t PixelOf(cairo_surface_t* s, int x, int y) {
    return reinterpret_cast<const uint32_t*>(
        cairo_image_surface_get_data(s))[y * cairo_image_surface_get_stride(s) / 4 + x];
}

class SkinnedWindow : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(StartWindowManager());
        ASSERT_NE(skInitEngine("Podcast.sks", nullptr), 0);
    }
    static void TearDownTestSuite() { StopWindowManager(); }

    // The window as the program lays it out: the view with its border, the clock right of it,
    // the help label over the picture in the panel at the right.
    void SetUp() override {
        RegisterChildClass("view", RecordingProc);
        gMessageLog.clear();
        main_ = CreateMainWindow(kTitle, 868, 532, KeepOpenProc);
        ASSERT_NE(main_, nullptr);
        view_ = CreateChildWindow("view", main_, -100, 10, 10, 712, 512);
        SetChildAnchor(view_, kAnchorStretch);
        skSkinWindow(main_, "Dock|Undock|Minimize|Maximize|Restore|Close");
        skBorder(view_, 9, 9, 714, 514, 0, 1);
        clock_ = skClockCtrl(main_, (kResources / "Clock.png").c_str(), 753, 10, 0, 0, -104,
                             0x7FCB0000, 0x7F8F8F8F, 0);
        skSetAnchorCtrl(clock_, 2);
        skCreateToolTip(clock_, "Kestro clock widget");
        label_ = CreateChildWindow(kStaticClass, main_, -102, 868 - 134, 147, 129, 216);
        SetWindowText(label_, "\r\nMouse button\r\n\r\nLeft: rotation, and view angle.\r\n\r\n\r\n"
                              "Play audio\r\nusing\r\ndrag && drop.");
        skSkinChildCtrl(label_, 0);
        SetChildAnchor(label_, kAnchorRight);
        skSetLabelFont(label_, "TREBUCHET MS", 15, skARGB(200, 255, 255, 255), 1);
        picture_ = skStaticImage(main_, (kResources / "assistant.png").c_str(), 868 - 138, 143, 137,
                                 281, -108);
        skSetZorder(picture_, 1);
        skSetAnchorCtrl(picture_, 9);
        ASSERT_TRUE(clock_ && label_ && picture_);
        // The clock repaints each second; tests that watch what repaints start it themselves.
        StopTimer(clock_, kClockTickTimer);
        ShowMainWindow(main_);
        ASSERT_TRUE(RunLoopUntil(main_, [this] { return desktop_.IsShown(kTitle); }));
        PointAt(RectOf(view_));
        Settle();
    }
    // Pending input goes first: SDL would otherwise think a released button still held, and
    // ignore the next test's press.
    void TearDown() override {
        Settle();
        DestroyWindow(main_);
    }

    const SkinFile& Skin() const { return CurrentSkin()->file; }
    void RunFor(uint32_t ms) {
        StartTimer(main_, 1, ms);
        RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_TIMER) > 0; });
        StopTimer(main_, 1);
        gMessageLog.erase(std::remove_if(gMessageLog.begin(), gMessageLog.end(),
                                         [](const LoggedMessage& m) { return m.id == WM_TIMER; }),
                          gMessageLog.end());
    }
    void Settle() {
        RunFor(100);
        Changed();
    }
    // The chrome as the compositor takes it: repainted where invalidated, and where that was.
    WindowRect Changed() {
        WindowRect changed;
        EXPECT_TRUE(UpdateChrome(main_, &layer_, &changed));
        return changed;
    }
    WindowRect NextChange() {
        WindowRect changed;
        RunLoopUntil(main_, [&] {
            if (changed.width == 0) changed = Changed();
            return changed.width > 0;
        });
        return changed;
    }
    uint32_t Pixel(int x, int y) const {
        return reinterpret_cast<const uint32_t*>(layer_.pixels)[y * layer_.stride / 4 + x];
    }
    WindowRect Button(const char* name) {
        WindowRect r;
        EXPECT_TRUE(FindCaptionButton(main_, name, &r)) << name;
        return r;
    }
    WindowRect RectOf(WindowHandle w) {
        WindowRect r;
        GetClientOriginInSdlWindow(w, &r.x, &r.y);
        GetClientSize(w, &r.width, &r.height);
        return r;
    }
    // The pointer, in pixels of the whole window.
    void PointAt(int x, int y) {
        int wx = 0, wy = 0;
        SDL_GetWindowPosition(Sdl(), &wx, &wy);
        desktop_.MovePointer(wx + x, wy + y);
    }
    void PointAt(const WindowRect& r) { PointAt(r.x + r.width / 2, r.y + r.height / 2); }
    SDL_Window* Sdl() { return GetSdlWindow(main_); }

    FakeDesktop desktop_;
    WindowHandle main_ = nullptr, view_ = nullptr, clock_ = nullptr;
    WindowHandle label_ = nullptr, picture_ = nullptr;
    ChromeLayer layer_;
};

} // namespace

TEST_F(SkinnedWindow, DrawsItsOwnFrameAroundTheClientAreaWithTitleAndButtons) {
    const SkinFile& f = Skin();
    EXPECT_TRUE(SDL_GetWindowFlags(Sdl()) & SDL_WINDOW_BORDERLESS);
    EXPECT_EQ(FrameExtents(Sdl()), (std::vector<long>{0, 0, 0, 0})) << "the desktop's frame";
    int w = 0, h = 0;
    SDL_GetWindowSize(Sdl(), &w, &h);
    EXPECT_EQ(std::tie(w, h),
              std::make_tuple(868 + 2 * f.frameSide, 532 + f.captionHeight + f.frameBottom));
    EXPECT_EQ(RectOf(main_), (WindowRect{f.frameSide, f.captionHeight, 868, 532}));

    // One place for each pair, left to right at the right end of the caption, each with a glyph.
    WindowRect none;
    EXPECT_FALSE(FindCaptionButton(main_, "Undock", &none) ||
                 FindCaptionButton(main_, "Restore", &none));
    // Four buttons side by side, none between them: the gap before each is the skin's.
    int left = Button("Dock").x - f.buttonGap;
    for (const char* name : {"Dock", "Minimize", "Maximize", "Close"}) {
        const WindowRect b = Button(name);
        EXPECT_EQ(b.x, left + f.buttonGap) << name;
        EXPECT_TRUE(Contains({0, 0, w - f.frameSide, f.captionHeight}, b)) << name;
        left = b.x + b.width;
        int glyph = 0;
        for (int y = b.y; y < b.y + b.height; ++y)
            for (int x = b.x; x < b.x + b.width; ++x)
                glyph += Distance(Pixel(x, y), f.buttonGlyph) < 40;
        EXPECT_GT(glyph, 5) << name;
    }

    // The title is written between the icon and the buttons, and follows the window's text.
    auto titlePixels = [&] {
        int n = 0;
        for (int y = 0; y < f.captionHeight; ++y)
            for (int x = f.frameSide + f.buttonHeight + 6; x < Button("Dock").x; ++x)
                n += Distance(Pixel(x, y), f.captionText) < 60;
        return n;
    };
    EXPECT_GT(titlePixels(), 50);
    SetWindowText(main_, "");
    Changed();
    EXPECT_EQ(titlePixels(), 0);

    // The client area has the skin's colour, and the view a line one pixel outside it.
    const WindowRect v = RectOf(view_);
    for (auto [x, y, colour] : {std::tuple{v.x - 1, v.y + 100, f.borderColour},
                                {v.x + 300, v.y - 1, f.borderColour},
                                {v.x + v.width, v.y + 7, f.borderColour},
                                {v.x + 5, v.y + v.height, f.borderColour},
                                {v.x - 2, v.y + 100, f.clientColour},
                                {v.x + v.width + 5, v.y + v.height - 5, f.clientColour}})
        EXPECT_LT(Distance(Pixel(x, y), colour), 2) << x << ", " << y;
}

TEST_F(SkinnedWindow, HoverLightsOnlyThatButtonAndTipsShowBelowTheirTools) {
    const SkinFile& f = Skin();
    RunFor(150);
    EXPECT_EQ(Changed().width, 0) << "a still pointer changes nothing, so nothing is uploaded";

    const WindowRect minimize = Button("Minimize");
    PointAt(minimize);
    EXPECT_EQ(NextChange(), minimize);
    EXPECT_LT(Distance(Pixel(minimize.x + 3, minimize.y + 3), f.buttonHover), 3);
    const WindowRect tip = NextChange();
    EXPECT_GE(tip.y, minimize.y + minimize.height) << tip;
    EXPECT_TRUE(tip.x <= minimize.x + minimize.width && tip.x + tip.width >= minimize.x) << tip;
    EXPECT_LT(Distance(Pixel(tip.x, tip.y), f.tooltipBorder), 3);

    // Leaving, the button goes dark and its tip goes.
    PointAt(RectOf(view_));
    const WindowRect gone = NextChange();
    EXPECT_TRUE(Contains(gone, minimize) && Contains(gone, tip)) << gone;
    EXPECT_GT(Distance(Pixel(minimize.x + 3, minimize.y + 3), f.buttonHover), 10);
    EXPECT_GT(Distance(Pixel(tip.x, tip.y), f.tooltipBorder), 10);

    // A control's tip, the clock's, shows below it, and a press puts it away.
    const WindowRect clock = RectOf(clock_);
    PointAt(clock);
    const WindowRect clockTip = NextChange();
    EXPECT_TRUE(clockTip.y >= clock.y + clock.height && clockTip.width > 60) << clockTip;
    desktop_.PressButton(1);
    EXPECT_EQ(NextChange(), clockTip);
    desktop_.ReleaseButton(1);
    // It stays away while the pointer rests there; left and found again, the tool tips again.
    RunFor(static_cast<uint32_t>(f.tooltipDelay) + 200);
    EXPECT_EQ(Changed().width, 0);
    PointAt(RectOf(view_));
    RunFor(200);
    Changed();
    PointAt(clock);
    EXPECT_EQ(NextChange(), clockTip);
}

TEST_F(SkinnedWindow, ButtonsActOnAReleaseOverTheButtonPressed) {
    auto press = [&](const char* name) {
        const WindowRect b = Button(name);
        PointAt(b);
        NextChange(); // lit under the pointer
        desktop_.PressButton(1);
        EXPECT_EQ(NextChange(), b);
        EXPECT_LT(Distance(Pixel(b.x + 3, b.y + 3), Skin().buttonPress), 3) << name;
        return b;
    };
    auto releaseAt = [&](const WindowRect& where) {
        PointAt(where);
        desktop_.ReleaseButton(1);
        RunFor(300);
    };
    auto wmSays = [&](const char* atom) {
        const std::vector<std::string> state = WindowManagerState(Sdl());
        return std::find(state.begin(), state.end(), atom) != state.end();
    };
    WindowRect shown;
    auto shows = [&](const char* name) { return FindCaptionButton(main_, name, &shown); };
    int cw = 0, ch = 0;
    auto clientIs = [&](int width, int height) {
        GetClientSize(main_, &cw, &ch);
        return width < 0 ? cw > 868 : cw == width && ch == height;
    };

    // Released anywhere but over the button pressed, nothing happens.
    press("Minimize");
    releaseAt(Button("Close"));
    press("Close");
    releaseAt(RectOf(view_));
    EXPECT_EQ(CountLogged(main_, WM_CLOSE), 0u);
    EXPECT_FALSE(SDL_GetWindowFlags(Sdl()) & SDL_WINDOW_MINIMIZED);

    // Each does what the desktop's own button would, and a pair shows the name that applies.
    releaseAt(press("Close"));
    EXPECT_EQ(CountLogged(main_, WM_CLOSE), 1u);
    releaseAt(press("Dock"));
    EXPECT_TRUE(
        RunLoopUntil(main_, [&] { return wmSays("_NET_WM_STATE_ABOVE") && shows("Undock"); }));
    releaseAt(press("Undock"));
    EXPECT_TRUE(
        RunLoopUntil(main_, [&] { return !wmSays("_NET_WM_STATE_ABOVE") && shows("Dock"); }));
    releaseAt(press("Maximize"));
    EXPECT_TRUE(RunLoopUntil(main_, [&] { return clientIs(-1, -1) && shows("Restore"); })) << cw;
    releaseAt(press("Restore"));
    EXPECT_TRUE(RunLoopUntil(main_, [&] { return clientIs(868, 532) && shows("Maximize"); })) << cw;
    releaseAt(press("Minimize"));
    EXPECT_TRUE(RunLoopUntil(main_, [&] { return wmSays("_NET_WM_STATE_HIDDEN"); }));
}

TEST_F(SkinnedWindow, DraggingTheCaptionMovesTheWindowAndDraggingAnEdgeResizesIt) {
    auto drag = [&](int x, int y, int dx, int dy) {
        PointAt(x, y);
        desktop_.PressButton(1);
        int sx = 0, sy = 0;
        SDL_GetWindowPosition(Sdl(), &sx, &sy);
        for (int step = 1; step <= 10; ++step) {
            RunFor(20); // the window manager takes the drag over
            desktop_.MovePointer(sx + x + dx * step / 10, sy + y + dy * step / 10);
        }
        desktop_.ReleaseButton(1);
    };
    int x0 = 0, y0 = 0, x = 0, y = 0, w = 0, h = 0, cw = 0, ch = 0;
    SDL_GetWindowPosition(Sdl(), &x0, &y0);
    drag(300, Skin().captionHeight / 2, 80, 50);
    EXPECT_TRUE(RunLoopUntil(main_,
                             [&] {
                                 SDL_GetWindowPosition(Sdl(), &x, &y);
                                 return x == x0 + 80 && y == y0 + 50;
                             }))
        << x - x0 << ", " << y - y0;

    // The right-hand edge: the panel, the buttons and the view's line follow it.
    const WindowRect before[] = {Button("Close"), RectOf(clock_), RectOf(picture_), RectOf(label_)};
    SDL_GetWindowSize(Sdl(), &w, &h);
    drag(w - 2, h / 2, 60, 0);
    EXPECT_TRUE(RunLoopUntil(main_, [&] {
        GetClientSize(main_, &cw, &ch);
        return cw == 868 + 60;
    })) << cw;
    const WindowRect after[] = {Button("Close"), RectOf(clock_), RectOf(picture_), RectOf(label_)};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(after[i],
                  (WindowRect{before[i].x + 60, before[i].y, before[i].width, before[i].height}));
    Settle();
    const WindowRect v = RectOf(view_);
    EXPECT_EQ(v.width, 712 + 60);
    EXPECT_LT(Distance(Pixel(v.x + v.width, v.y + 50), Skin().borderColour), 2);
    PointAt(Button("Close"));
    desktop_.PressButton(1);
    desktop_.ReleaseButton(1);
    EXPECT_TRUE(RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_CLOSE) > 0; }));
}

TEST_F(SkinnedWindow, TheClockShowsLocalTimeAndRepaintsAloneEachSecond) {
    // Half an hour off UTC: a clock that read UTC would show its minute hand opposite.
    const std::string zone = std::getenv("TZ") ? std::getenv("TZ") : "";
    setenv("TZ", "XST-5:30", 1);
    tzset();
    std::time_t drawn = 0, before = 0;
    do {
        before = std::time(nullptr);
        InvalidateChrome(clock_);
        Changed();
        drawn = std::time(nullptr);
    } while (drawn != before);
    std::tm t{};
    localtime_r(&drawn, &t);
    zone.empty() ? unsetenv("TZ") : setenv("TZ", zone.c_str(), 1);
    tzset();

    Picture face = LoadPicture((kResources / "Clock.png").string());
    ASSERT_TRUE(face);
    const WindowRect clock = RectOf(clock_);
    const double r = clock.width / 2.0;
    const double minutes = t.tm_min + t.tm_sec / 60.0;
    const double hands[] = {(t.tm_hour % 12 + minutes / 60) / 12, minutes / 60, t.tm_sec / 60.0};
    // How much the clock differs from its bare face near a point, at the most (lines are
    // anti-aliased).
    auto change = [&](double turns, double reach) {
        const int cx = static_cast<int>(r + std::sin(turns * 2 * M_PI) * reach * r);
        const int cy = static_cast<int>(r - std::cos(turns * 2 * M_PI) * reach * r);
        int most = 0;
        for (int y = cy - 1; y <= cy + 1; ++y)
            for (int x = cx - 1; x <= cx + 1; ++x)
                most = std::max(
                    most, Distance(Pixel(clock.x + x, clock.y + y), PixelOf(face.get(), x, y)));
        return most;
    };
    for (double hand : hands)
        EXPECT_GT(change(hand, 0.35), 30) << "no hand at " << hand * 60 << " minutes";
    for (int step = 0; step < 36; ++step) {
        const double turns = step / 36.0;
        const bool free = std::all_of(std::begin(hands), std::end(hands), [&](double hand) {
            return std::abs(std::remainder(turns - hand, 1.0)) > 1.0 / 12;
        });
        if (!free) continue;
        EXPECT_LE(change(turns, 0.5), 2) << "a hand at " << turns * 60 << " minutes";
    }

    // Going, the clock repaints itself and nothing else.
    StartTimer(clock_, kClockTickTimer, 1);
    EXPECT_EQ(NextChange(), clock);
    EXPECT_EQ(NextChange(), clock);
}

TEST_F(SkinnedWindow, ThePictureLiesWhereAskedUnderTheLabel) {
    const SkinFile& f = Skin();
    const WindowRect picture = RectOf(picture_), label = RectOf(label_);
    EXPECT_EQ(picture, (WindowRect{f.frameSide + 868 - 138, f.captionHeight + 143, 137, 281}));
    EXPECT_EQ(label, (WindowRect{f.frameSide + 868 - 134, f.captionHeight + 147, 129, 216}));
    Picture assistant = LoadPicture((kResources / "assistant.png").string());
    ASSERT_TRUE(assistant);
    auto same = [&](int x, int y) {
        return Distance(Pixel(picture.x + x, picture.y + y), PixelOf(assistant.get(), x, y)) <= 1;
    };
    // Pixel for pixel outside the label, and inside it where no text is; beneath its border.
    for (auto [x, y] : {std::pair{0, 0}, {136, 280}, {70, 270}, {2, 100}, {10, 210}})
        EXPECT_TRUE(same(x, y)) << x << ", " << y;
    EXPECT_FALSE(same(label.x - picture.x, 100));
    int text = 0;
    for (int y = label.y; y < label.y + label.height / 2; ++y)
        for (int x = label.x + 1; x < label.x + label.width - 1; ++x)
            text += Channel(Pixel(x, y), 8) > 180;
    EXPECT_GT(text, 100);
}

// Writes the skinned window as the chrome shows it (the view is the program's to draw), with the
// pointer on the close button and its tip out.
TEST_F(SkinnedWindow, Screenshot) {
    PointAt(Button("Close"));
    NextChange();
    NextChange();
    InvalidateChrome(main_);
    Changed();
    std::vector<uint8_t> rgba;
    for (int y = 0; y < layer_.height; ++y)
        for (int x = 0; x < layer_.width; ++x)
            rgba.insert(rgba.end(), {static_cast<uint8_t>(Channel(Pixel(x, y), 16)),
                                     static_cast<uint8_t>(Channel(Pixel(x, y), 8)),
                                     static_cast<uint8_t>(Channel(Pixel(x, y), 0)), 255});
    EXPECT_TRUE(WritePng(VORMEL_SCREENSHOT, layer_.width, layer_.height, rgba));
}
