// The skin engine: its file read strictly, and a skinned window laid out as the program lays out
// its own, on a private X server with a real window manager (openbox): frame and caption, caption
// buttons, tool tips, the clock, the picture under the label, the border, moving and resizing.
#include "platform/os/controls.h"
#include "platform/os/window.h"
#include "platform/os/window_internal.h"
#include "platform/skin/kestro.h"
#include "platform/skin/skin_file.h"
#include "platform/skin/skin_internal.h"
#include "support/desktop.h"
#include "support/message_log.h"
#include "support/png_file.h"
#include "support/window_manager.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kResources = fs::path(VORMEL_SOURCE_DIR) / "Resource";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines + (!text.empty() && text.back() != '\n');
}

// The skin text with the line that sets key replaced (or, when the key is not set, the line
// added at the end); an empty replacement removes the line. *line is where the change is.
std::string Edited(const std::string& text, const std::string& key, const std::string& newLine,
                   int* line) {
    std::istringstream in(text);
    std::string out;
    std::string current;
    bool done = false;
    *line = 0;
    for (int n = 1; std::getline(in, current); ++n) {
        const bool match = !done && current.rfind(key + " ", 0) == 0;
        if (match) {
            done = true;
            *line = n;
            if (!newLine.empty()) out += newLine + "\n";
        } else {
            out += current + "\n";
        }
    }
    if (!done) {
        out += newLine + "\n";
        *line = CountLines(out);
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

    SkinFile lf;
    SkinFile crlf;
    SkinFileError error;
    ASSERT_TRUE(ParseSkinText(text, &lf, &error)) << error.line << ": " << error.message;
    std::string dos;
    for (char c : text)
        dos += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(ParseSkinText(dos, &crlf, &error)) << error.line << ": " << error.message;
    EXPECT_EQ(crlf.captionFont, lf.captionFont); // no CR left at the end of a value
    EXPECT_EQ(crlf.captionIcon, "icon.png");
    // #RRGGBB is opaque; #AARRGGBB keeps its alpha, even a zero one.
    EXPECT_EQ(lf.frameOutline, 0xFF05070Eu);
    EXPECT_EQ(lf.labelFill, 0x00000000u);
}

TEST(SkinFile, EachKindOfFaultNamesItsLineAndChangesNothing) {
    const std::string base = ReadFile(kResources / "Podcast.sks");
    const struct {
        const char* key; // the line replaced; a key the file does not set adds a line
        std::string line;
        std::string message;
    } cases[] = {
        {"foo", "foo 1", "unknown key \"foo\""},
        {"caption.height", "caption.height 2x8", "bad number \"2x8\" for \"caption.height\""},
        {"caption.height", "caption.height 28 px", "bad number \"28 px\" for \"caption.height\""},
        {"caption.height", "caption.height 99999999999",
         "bad number \"99999999999\" for \"caption.height\""},
        {"frame.side", "frame.side 33", "\"frame.side\" must be from 0 to 32, not 33"},
        {"frame.side", "frame.side -1", "\"frame.side\" must be from 0 to 32, not -1"},
        {"button.height", "button.height 40",
         "\"button.height\" 40 is taller than \"caption.height\" 28"},
        {"frame.outline", "frame.outline #GG0000",
         "bad colour \"#GG0000\" for \"frame.outline\" (write #RRGGBB or #AARRGGBB)"},
        {"frame.outline", "frame.outline #FFF",
         "bad colour \"#FFF\" for \"frame.outline\" (write #RRGGBB or #AARRGGBB)"},
        {"frame.outline", "frame.outline FF05070E",
         "bad colour \"FF05070E\" for \"frame.outline\" (write #RRGGBB or #AARRGGBB)"},
        {"frame.outline", "frame.outline", "missing value for \"frame.outline\""},
        {"frame.outline", "frame.outline   \t ", "missing value for \"frame.outline\""},
        {"caption.icon", "caption.icon ../icon.png",
         "bad picture name \"../icon.png\" for \"caption.icon\" (a file in the skin's folder)"},
        {"caption.icon", "caption.icon /etc/passwd",
         "bad picture name \"/etc/passwd\" for \"caption.icon\" (a file in the skin's folder)"},
        {"caption.font", "caption.font D\xC3\xA9j\xC3\xA0",
         "bad font name \"D??j??\" for \"caption.font\""},
        {"caption.font", std::string("caption.font Deja\0Vu", 20), "control character in the line"},
        {"caption.font", "caption.font \x1b[31mRed", "control character in the line"},
        {"vormel-skin", "vormel-skin 2", "unsupported skin version \"2\""},
        {"vormel-skin", "frame.side 4", "not a skin file: it must begin with \"vormel-skin 1\""},
        {"#", "#" + std::string(300, '-'), "line longer than 256 characters"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        int line = 0;
        const std::string text = Edited(base, c.key, c.line, &line);
        SkinFile skin;
        skin.frameSide = 77;
        SkinFileError error;
        EXPECT_FALSE(ParseSkinText(text, &skin, &error));
        EXPECT_EQ(error.line, line);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(skin.frameSide, 77) << "half applied";
    }
    // Faults found only at the end name the last line; a key given twice names its first line.
    SkinFileError error;
    SkinFile skin;
    int line = 0;
    const std::string missing = Edited(base, "label.font", "", &line);
    EXPECT_FALSE(ParseSkinText(missing, &skin, &error));
    EXPECT_EQ(error.line, CountLines(missing));
    EXPECT_EQ(error.message, "missing key \"label.font\"");
    const std::string twice = Edited(base, "frame.side", "frame.side 4", &line);
    const int first = line;
    EXPECT_FALSE(ParseSkinText(Edited(twice, "again", "frame.side 4", &line), &skin, &error));
    EXPECT_EQ(error.line, line);
    EXPECT_EQ(error.message,
              "duplicate key \"frame.side\", first given on line " + std::to_string(first));
    for (const std::string& empty : {std::string(), std::string("# only a comment\n\n")}) {
        EXPECT_FALSE(ParseSkinText(empty, &skin, &error));
        EXPECT_EQ(error.message, "not a skin file: no \"vormel-skin 1\" line");
    }
    EXPECT_FALSE(ParseSkinText(base + std::string(64 * 1024, '#'), &skin, &error));
    EXPECT_EQ(error.line, 0);
    EXPECT_EQ(error.message, "larger than 65536 bytes");
}

TEST(SkinEngine, LoadsOrSaysInOneLineWhyNotAndKeepsTheSkinItHad) {
    // The test's own executable has the skin in its Resource/ folder.
    ASSERT_NE(skInitEngine("Podcast.sks", nullptr), 0);
    const auto loaded = CurrentSkin();
    const fs::path dir = fs::temp_directory_path() / ("vormel-skins-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string base = ReadFile(kResources / "Podcast.sks");
    int line = 0;
    WriteFile(dir / "unknown.sks", Edited(base, "foo", "foo 1", &line));
    const int unknownLine = line;
    WriteFile(dir / "noicon.sks", Edited(base, "caption.icon", "caption.icon none.png", &line));
    const int iconLine = line;
    const std::string folder = ExecutableFolder();
    const struct {
        std::string file;
        std::string said;
    } cases[] = {
        {"Absent.sks", "vormel: Absent.sks: not found beside the program (" + folder + ") or in " +
                           folder + "Resource/\n"},
        {(dir / "absent.sks").string(), "vormel: " + (dir / "absent.sks").string() +
                                            ": cannot read it: No such file or directory\n"},
        {dir.string(), "vormel: " + dir.string() + ": cannot read it: Is a directory\n"},
        {(dir / "unknown.sks").string(), "vormel: " + (dir / "unknown.sks").string() + ":" +
                                             std::to_string(unknownLine) +
                                             ": unknown key \"foo\"\n"},
        {(dir / "noicon.sks").string(),
         "vormel: " + (dir / "noicon.sks").string() + ":" + std::to_string(iconLine) +
             ": cannot read the picture " + (dir / "none.png").string() + "\n"},
        {"", "vormel: skin: no skin file named\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(skInitEngine(c.file.c_str(), nullptr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.said);
        EXPECT_EQ(CurrentSkin(), loaded);
    }
    fs::remove_all(dir);
}

// Compared and printed by the window tests (found by lookup from the test macros).
bool operator==(const WindowRect& a, const WindowRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

std::ostream& operator<<(std::ostream& out, const WindowRect& r) {
    return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

// --- A skinned window ---------------------------------------------------------------------------

namespace {

constexpr const char* kTitle = "Vormel skin";
constexpr const char* kButtons = "Dock|Undock|Minimize|Maximize|Restore|Close";
const std::string kHelpText = "\r\nMouse button\r\n\r\nLeft: rotation, and view angle.\r\n\r\n\r\n"
                              "Play audio\r\nusing\r\ndrag && drop.";

// The main window hears WM_CLOSE without closing, so that a test can see it arrive.
intptr_t KeepOpenProc(WindowHandle window, const Message& message) {
    if (message.id == WM_CLOSE) {
        gMessageLog.push_back({window, message.id, 0, 0, 0});
        return 0;
    }
    return RecordingProc(window, message);
}

struct Argb {
    int a, r, g, b;
};

Argb Unpack(uint32_t v) {
    return {static_cast<int>(v >> 24), static_cast<int>((v >> 16) & 0xFF),
            static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)};
}

// How far apart two opaque colours are: the largest difference of a channel.
int Distance(uint32_t a, uint32_t b) {
    const Argb x = Unpack(a);
    const Argb y = Unpack(b);
    return std::max({std::abs(x.r - y.r), std::abs(x.g - y.g), std::abs(x.b - y.b)});
}

bool Contains(const WindowRect& outer, const WindowRect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

uint32_t PicturePixel(cairo_surface_t* picture, int x, int y) {
    cairo_surface_flush(picture);
    const uint8_t* data = cairo_image_surface_get_data(picture);
    return *reinterpret_cast<const uint32_t*>(
        data + static_cast<size_t>(y) * cairo_image_surface_get_stride(picture) +
        static_cast<size_t>(x) * 4);
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
        ASSERT_TRUE(desktop_.connected());
        RegisterChildClass("view", RecordingProc);
        gMessageLog.clear();
        main_ = CreateMainWindow(kTitle, 868, 532, KeepOpenProc);
        ASSERT_NE(main_, nullptr);
        view_ = CreateChildWindow("view", main_, -100, 10, 10, 712, 512);
        SetChildAnchor(view_, kAnchorStretch);
        skSkinWindow(main_, kButtons);
        skBorder(view_, 9, 9, 714, 514, 0, 1);
        clock_ = skClockCtrl(main_, (kResources / "Clock.png").c_str(), 10 + 712 + 31, 10, 0, 0,
                             -104, 0x7FCB0000, 0x7F8F8F8F, 0);
        skSetAnchorCtrl(clock_, 2);
        skCreateToolTip(clock_, "Kestro clock widget");
        int cw = 0;
        int ch = 0;
        GetClientSize(main_, &cw, &ch);
        label_ = CreateChildWindow(kStaticClass, main_, -102, cw - 134, 147, 129, 216);
        SetWindowText(label_, kHelpText.c_str());
        skSkinChildCtrl(label_, 0);
        SetChildAnchor(label_, kAnchorRight);
        skSetLabelFont(label_, "TREBUCHET MS", 15, skARGB(200, 255, 255, 255), 1);
        picture_ = skStaticImage(main_, (kResources / "assistant.png").c_str(), cw - 138, 143, 137,
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
    // Pending input is handled first: SDL would otherwise think a button still held that the
    // test released, and ignore the next test's press.
    void TearDown() override {
        Settle();
        DestroyWindow(main_);
    }

    const SkinFile& Skin() const { return CurrentSkin()->file; }

    // Lets pending events pass, then takes what the chrome repainted so far.
    void Settle() {
        StartTimer(main_, 1, 100);
        RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_TIMER) > 0; });
        StopTimer(main_, 1);
        Changed();
        gMessageLog.clear();
    }
    // The chrome as the compositor would take it next: repainted where invalidated.
    WindowRect Changed() {
        WindowRect changed;
        EXPECT_TRUE(UpdateChrome(main_, &layer_, &changed));
        return changed;
    }
    // Runs the loop until the chrome changes somewhere; the region repainted.
    WindowRect NextChange(uint32_t timeoutMs = 5000) {
        WindowRect changed;
        RunLoopUntil(
            main_,
            [&] {
                if (changed.width == 0) changed = Changed();
                return changed.width > 0;
            },
            timeoutMs);
        return changed;
    }
    uint32_t Pixel(int x, int y) const {
        return *reinterpret_cast<const uint32_t*>(
            layer_.pixels + static_cast<size_t>(y) * layer_.stride + static_cast<size_t>(x) * 4);
    }
    WindowRect Button(const char* name) {
        WindowRect r;
        EXPECT_TRUE(FindCaptionButton(main_, name, &r)) << name;
        return r;
    }
    // Pointer actions in pixels of the whole window, frame included.
    void PointAt(int x, int y) {
        int wx = 0;
        int wy = 0;
        SDL_GetWindowPosition(GetSdlWindow(main_), &wx, &wy);
        desktop_.MovePointer(wx + x, wy + y);
    }
    void PointAt(const WindowRect& r) { PointAt(r.x + r.width / 2, r.y + r.height / 2); }
    // Where a child's client area lies in the whole window.
    WindowRect RectOf(WindowHandle w) {
        WindowRect r;
        GetClientOriginInSdlWindow(w, &r.x, &r.y);
        GetClientSize(w, &r.width, &r.height);
        return r;
    }
    uint32_t Flags() { return SDL_GetWindowFlags(GetSdlWindow(main_)); }

    FakeDesktop desktop_;
    WindowHandle main_ = nullptr;
    WindowHandle view_ = nullptr;
    WindowHandle clock_ = nullptr;
    WindowHandle label_ = nullptr;
    WindowHandle picture_ = nullptr;
    ChromeLayer layer_;
    WindowRect scratch_;
};

} // namespace

TEST_F(SkinnedWindow, DrawsItsOwnFrameAroundTheClientAreaWithTitleAndButtons) {
    const SkinFile& f = Skin();
    EXPECT_TRUE(Flags() & SDL_WINDOW_BORDERLESS);
    EXPECT_EQ(FrameExtents(kTitle), (std::vector<long>{0, 0, 0, 0})) << "the desktop's frame";
    int cw = 0, ch = 0, w = 0, h = 0;
    GetClientSize(main_, &cw, &ch);
    EXPECT_EQ(std::tie(cw, ch), std::make_tuple(868, 532));
    SDL_GetWindowSize(GetSdlWindow(main_), &w, &h);
    EXPECT_EQ(std::tie(w, h),
              std::make_tuple(868 + 2 * f.frameSide, 532 + f.captionHeight + f.frameBottom));
    EXPECT_EQ(RectOf(main_), (WindowRect{f.frameSide, f.captionHeight, 868, 532}));

    // One place for each pair, left to right at the right end of the caption, each with a glyph.
    WindowRect scratch;
    EXPECT_FALSE(FindCaptionButton(main_, "Undock", &scratch));
    EXPECT_FALSE(FindCaptionButton(main_, "Restore", &scratch));
    int left = w / 2;
    for (const char* name : {"Dock", "Minimize", "Maximize", "Close"}) {
        SCOPED_TRACE(name);
        const WindowRect b = Button(name);
        EXPECT_GT(b.x, left);
        EXPECT_TRUE(Contains({0, 0, w - f.frameSide, f.captionHeight}, b));
        left = b.x + b.width;
        int glyph = 0;
        for (int y = b.y; y < b.y + b.height; ++y)
            for (int x = b.x; x < b.x + b.width; ++x)
                glyph += Distance(Pixel(x, y), f.buttonGlyph) < 40;
        EXPECT_GT(glyph, 5);
    }

    // The title is written between the icon and the buttons, and goes with the window's text.
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

    // The client area has the skin's colour; the view a line one pixel outside it.
    const WindowRect view = RectOf(view_);
    EXPECT_LT(Distance(Pixel(view.x + view.width + 5, view.y + view.height - 5), f.clientColour),
              2);
    for (auto [x, y] : {std::pair{view.x - 1, view.y + 100},
                        {view.x + 300, view.y - 1},
                        {view.x + view.width, view.y + 7},
                        {view.x + 5, view.y + view.height}})
        EXPECT_LT(Distance(Pixel(x, y), f.borderColour), 2) << x << ", " << y;
    EXPECT_LT(Distance(Pixel(view.x - 2, view.y + 100), f.clientColour), 2);
}

TEST_F(SkinnedWindow, HoverLightsOnlyThatButtonAndTipsShowBelowTheirTools) {
    const SkinFile& f = Skin();
    // A still pointer changes nothing, so nothing is uploaded.
    StartTimer(main_, 1, 150);
    RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_TIMER) > 0; });
    StopTimer(main_, 1);
    EXPECT_EQ(Changed().width, 0);

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

    // A control's tip, the clock's, shows below it; a press puts it away.
    const WindowRect clock = RectOf(clock_);
    PointAt(clock);
    const WindowRect clockTip = NextChange();
    EXPECT_GE(clockTip.y, clock.y + clock.height) << clockTip;
    EXPECT_GT(clockTip.width, 60);
    desktop_.PressButton(1);
    EXPECT_EQ(NextChange(), clockTip);
    desktop_.ReleaseButton(1);
}

TEST_F(SkinnedWindow, ButtonsActOnAReleaseOverTheButtonPressed) {
    const SkinFile& f = Skin();
    auto press = [&](const char* name) {
        const WindowRect b = Button(name);
        PointAt(b);
        NextChange(); // lit under the pointer
        desktop_.PressButton(1);
        EXPECT_EQ(NextChange(), b);
        EXPECT_LT(Distance(Pixel(b.x + 3, b.y + 3), f.buttonPress), 3) << name;
        return b;
    };
    auto releaseAt = [&](const WindowRect& where) {
        PointAt(where);
        desktop_.ReleaseButton(1);
        StartTimer(main_, 1, 300);
        RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_TIMER) > 0; });
        StopTimer(main_, 1);
    };
    auto has = [](const std::vector<std::string>& state, const char* atom) {
        return std::find(state.begin(), state.end(), atom) != state.end();
    };

    // Released anywhere but over the button pressed, nothing happens.
    press("Minimize");
    releaseAt(Button("Close"));
    press("Close");
    releaseAt(RectOf(view_));
    EXPECT_EQ(CountLogged(main_, WM_CLOSE), 0u);
    EXPECT_FALSE(Flags() & SDL_WINDOW_MINIMIZED);

    // Close asks the window to close, as the desktop's button would.
    releaseAt(press("Close"));
    EXPECT_EQ(CountLogged(main_, WM_CLOSE), 1u);

    // Dock and Undock: above the other windows, or not, and the button shows the other name.
    releaseAt(press("Dock"));
    EXPECT_TRUE(RunLoopUntil(
        main_, [&] { return has(WindowManagerState(kTitle), "_NET_WM_STATE_ABOVE"); }));
    releaseAt(press("Undock"));
    EXPECT_TRUE(RunLoopUntil(
        main_, [&] { return !has(WindowManagerState(kTitle), "_NET_WM_STATE_ABOVE"); }));
    EXPECT_TRUE(FindCaptionButton(main_, "Dock", &scratch_));

    // Maximize and Restore.
    releaseAt(press("Maximize"));
    int cw = 0, ch = 0;
    EXPECT_TRUE(RunLoopUntil(main_, [&] {
        GetClientSize(main_, &cw, &ch);
        return cw > 868 && FindCaptionButton(main_, "Restore", &scratch_);
    })) << cw;
    releaseAt(press("Restore"));
    EXPECT_TRUE(RunLoopUntil(main_,
                             [&] {
                                 GetClientSize(main_, &cw, &ch);
                                 return cw == 868 && ch == 532 &&
                                        FindCaptionButton(main_, "Maximize", &scratch_);
                             }))
        << cw << " x " << ch;

    // Minimize.
    releaseAt(press("Minimize"));
    EXPECT_TRUE(RunLoopUntil(
        main_, [&] { return has(WindowManagerState(kTitle), "_NET_WM_STATE_HIDDEN"); }));
}

TEST_F(SkinnedWindow, DraggingTheCaptionMovesTheWindowAndDraggingAnEdgeResizesIt) {
    auto drag = [&](int x, int y, int dx, int dy) {
        PointAt(x, y);
        desktop_.PressButton(1);
        int sx = 0, sy = 0;
        SDL_GetWindowPosition(GetSdlWindow(main_), &sx, &sy);
        for (int step = 1; step <= 10; ++step) {
            StartTimer(main_, 1, 20);
            RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_TIMER) > 0; });
            StopTimer(main_, 1);
            gMessageLog.clear();
            desktop_.MovePointer(sx + x + dx * step / 10, sy + y + dy * step / 10);
        }
        desktop_.ReleaseButton(1);
    };
    int x0 = 0, y0 = 0, x = 0, y = 0;
    SDL_GetWindowPosition(GetSdlWindow(main_), &x0, &y0);
    drag(300, Skin().captionHeight / 2, 80, 50);
    EXPECT_TRUE(RunLoopUntil(main_,
                             [&] {
                                 SDL_GetWindowPosition(GetSdlWindow(main_), &x, &y);
                                 return x == x0 + 80 && y == y0 + 50;
                             }))
        << x - x0 << ", " << y - y0;

    // The right-hand edge: the panel, the buttons and the view's line follow it.
    const WindowRect close = Button("Close");
    const WindowRect clock = RectOf(clock_);
    const WindowRect picture = RectOf(picture_);
    const WindowRect label = RectOf(label_);
    int w = 0, h = 0, cw = 0, ch = 0;
    SDL_GetWindowSize(GetSdlWindow(main_), &w, &h);
    drag(w - 2, h / 2, 60, 0);
    EXPECT_TRUE(RunLoopUntil(main_, [&] {
        GetClientSize(main_, &cw, &ch);
        return cw == 868 + 60;
    })) << cw;
    for (auto [before, now] : {std::pair{close, Button("Close")},
                               {clock, RectOf(clock_)},
                               {picture, RectOf(picture_)},
                               {label, RectOf(label_)}})
        EXPECT_EQ(now, (WindowRect{before.x + 60, before.y, before.width, before.height}));
    Settle();
    InvalidateChrome(main_);
    Changed();
    const WindowRect view = RectOf(view_);
    EXPECT_EQ(view.width, 712 + 60);
    EXPECT_LT(Distance(Pixel(view.x + view.width, view.y + 50), Skin().borderColour), 2);
    PointAt(Button("Close"));
    desktop_.PressButton(1);
    desktop_.ReleaseButton(1);
    EXPECT_TRUE(RunLoopUntil(main_, [] { return CountLogged(nullptr, WM_CLOSE) > 0; }));
}

TEST_F(SkinnedWindow, TheClockShowsLocalTimeAndRepaintsAloneEachSecond) {
    // Half an hour off the hour from UTC: a clock reading UTC would show the minute hand opposite.
    const char* zone = std::getenv("TZ");
    const std::string oldZone = zone ? zone : "";
    setenv("TZ", "XST-5:30", 1);
    tzset();
    std::time_t drawn = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        InvalidateChrome(clock_);
        Changed();
        drawn = std::time(nullptr);
        if (drawn == before) break;
    }
    std::tm t{};
    localtime_r(&drawn, &t);
    if (zone)
        setenv("TZ", oldZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    Picture face = LoadPicture((kResources / "Clock.png").string());
    ASSERT_TRUE(face);
    const WindowRect clock = RectOf(clock_);
    const double r = clock.width / 2.0;
    struct Hand {
        double turns, reach;
        bool red;
    };
    const double minutes = t.tm_min + t.tm_sec / 60.0;
    const Hand hands[] = {{(t.tm_hour % 12 + minutes / 60) / 12, 0.35, false},
                          {minutes / 60, 0.55, false},
                          {t.tm_sec / 60.0, 0.6, true}};
    // The pixel near the point that differs most from the bare face: lines are anti-aliased.
    auto at = [&](double turns, double reach, uint32_t* shown, uint32_t* bare) {
        const double a = turns * 2 * M_PI;
        const int cx = static_cast<int>(r + std::sin(a) * reach * r);
        const int cy = static_cast<int>(r - std::cos(a) * reach * r);
        int best = -1;
        for (int y = cy - 1; y <= cy + 1; ++y) {
            for (int x = cx - 1; x <= cx + 1; ++x) {
                const uint32_t s = Pixel(clock.x + x, clock.y + y);
                const uint32_t b = PicturePixel(face.get(), x, y);
                if (Distance(s, b) > best) {
                    best = Distance(s, b);
                    *shown = s;
                    *bare = b;
                }
            }
        }
    };
    auto apart = [&](double turns, const Hand& other) {
        const double d = std::fmod(std::abs(turns - other.turns), 1.0);
        return std::min(d, 1 - d) > 1.0 / 36;
    };
    for (const Hand& hand : hands) {
        SCOPED_TRACE(testing::Message() << "hand at " << hand.turns * 60 << " minutes");
        uint32_t shown = 0, bare = 0;
        at(hand.turns, hand.reach, &shown, &bare);
        EXPECT_GT(Distance(shown, bare), 30);
        if (!std::all_of(std::begin(hands), std::end(hands),
                         [&](const Hand& o) { return &o == &hand || apart(hand.turns, o); }))
            continue;
        const Argb s = Unpack(shown), b = Unpack(bare);
        if (hand.red) {
            EXPECT_GT(s.r - b.r, 40);
            EXPECT_LE(s.g, b.g);
        } else {
            EXPECT_GT(std::min({s.r - b.r, s.g - b.g, s.b - b.b}), 25);
        }
    }
    // Away from every hand the face shows as it is.
    for (int step = 0; step < 36; ++step) {
        const double turns = step / 36.0;
        if (!std::all_of(std::begin(hands), std::end(hands), [&](const Hand& h) {
                return apart(turns, h) && std::abs(std::remainder(turns - h.turns, 1.0)) > 1.0 / 12;
            }))
            continue;
        uint32_t shown = 0, bare = 0;
        at(turns, 0.5, &shown, &bare);
        EXPECT_LE(Distance(shown, bare), 2) << "at " << turns * 60 << " minutes";
    }

    // Started, the clock's tick repaints the clock and nothing else.
    StartTimer(clock_, kClockTickTimer, 1);
    EXPECT_EQ(NextChange(), clock);
    EXPECT_EQ(NextChange(), clock);
}

TEST_F(SkinnedWindow, ThePictureLiesWhereAskedUnderTheLabel) {
    const SkinFile& f = Skin();
    const WindowRect picture = RectOf(picture_);
    const WindowRect label = RectOf(label_);
    EXPECT_EQ(picture, (WindowRect{f.frameSide + 868 - 138, f.captionHeight + 143, 137, 281}));
    EXPECT_EQ(label, (WindowRect{f.frameSide + 868 - 134, f.captionHeight + 147, 129, 216}));
    Picture assistant = LoadPicture((kResources / "assistant.png").string());
    ASSERT_TRUE(assistant);
    auto same = [&](int x, int y) {
        return Distance(Pixel(picture.x + x, picture.y + y), PicturePixel(assistant.get(), x, y)) <=
               1;
    };
    // Outside the label, and inside it where no text is, the picture shows pixel for pixel.
    for (auto [x, y] : {std::pair{0, 0}, {136, 280}, {70, 270}, {2, 100}, {10, 210}})
        EXPECT_TRUE(same(x, y)) << x << ", " << y;
    // The label lies over it: its border and its text.
    EXPECT_FALSE(same(label.x - picture.x, 100));
    int text = 0;
    for (int y = label.y; y < label.y + label.height / 2; ++y)
        for (int x = label.x + 1; x < label.x + label.width - 1; ++x)
            text += Unpack(Pixel(x, y)).g > 180;
    EXPECT_GT(text, 100);
}

TEST_F(SkinnedWindow, Screenshot) {
    PointAt(Button("Close"));
    NextChange();
    NextChange();
    InvalidateChrome(main_);
    Changed();
    std::vector<uint8_t> rgba(static_cast<size_t>(layer_.width) * layer_.height * 4);
    for (int y = 0; y < layer_.height; ++y) {
        for (int x = 0; x < layer_.width; ++x) {
            const Argb p = Unpack(Pixel(x, y));
            uint8_t* out = &rgba[(static_cast<size_t>(y) * layer_.width + x) * 4];
            out[0] = static_cast<uint8_t>(p.r);
            out[1] = static_cast<uint8_t>(p.g);
            out[2] = static_cast<uint8_t>(p.b);
            out[3] = 255;
        }
    }
    EXPECT_TRUE(WritePng(VORMEL_SCREENSHOT, layer_.width, layer_.height, rgba));
}
