// The real program on a private X server: it opens its window, shows the scene, and ends cleanly
// however it is asked to.
#include "support/compositor.h"
#include "support/desktop.h"
#include "support/open_counter.h"
#include "support/picture_headers.h"
#include "support/program.h"
#include "support/sound_fixtures.h"
#include "support/sound_server.h"
#include "support/window_manager.h"
#include "support/xdnd_source.h"
#include "support/xvfb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr const char* kTitle = "Vormel";

bool WaitUntilShown(FakeDesktop& desktop, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (desktop.IsShown(kTitle)) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// The window as the X server shows it, and where its client area lies inside the skin's frame:
// the frame's sides and bottom are as wide as each other, the caption makes the top.
struct Shot {
    int width = 0, height = 0, left = 0, top = 0;
    std::vector<uint8_t> rgba;
    const uint8_t* At(int clientX, int clientY) const {
        return &rgba[(static_cast<size_t>(clientY + top) * width + clientX + left) * 4];
    }
};

bool Take(FakeDesktop& desktop, Shot* shot) {
    if (!desktop.Capture(kTitle, &shot->width, &shot->height, &shot->rgba)) return false;
    shot->left = (shot->width - 868) / 2;
    shot->top = shot->height - 532 - shot->left;
    return true;
}

// Pixels of the view (10, 10, 712 x 512 in the client area) brighter than a dim grey.
size_t LitViewPixels(const Shot& shot) {
    size_t lit = 0;
    for (int y = 10; y < 522; ++y)
        for (int x = 10; x < 722; ++x) {
            const uint8_t* p = shot.At(x, y);
            lit += std::max({p[0], p[1], p[2]}) > 60;
        }
    return lit;
}

// --- On X11 and on Wayland ----------------------------------------------------------------------

enum class Kind { X11, Wayland };

// Where the program shows: an X server (the suite's own, or one a test starts), or a Wayland
// compositor on it (weston), through which the X server's pointer and keys reach the program and
// whose picture the X server's screen holds. Windows are found by title on X11; on Wayland by
// their place on weston's black desktop.
class Session {
  public:
    explicit Session(Kind kind, const char* xDisplay = nullptr)
        : kind_(kind), xDisplay_(xDisplay ? xDisplay : std::getenv("DISPLAY")),
          desktop_(xDisplay_.c_str()) {
        if (kind_ == Kind::Wayland) {
            desktop_.MovePointer(kOutputWidth / 2, kOutputHeight + 10);
            const std::string saved = std::getenv("DISPLAY");
            setenv("DISPLAY", xDisplay_.c_str(), 1);
            compositor_ = std::make_unique<Compositor>();
            setenv("DISPLAY", saved.c_str(), 1);
            // Keys go to weston's window, under the pointer, whoever had the X server's focus.
            desktop_.FocusUnderPointer();
            ready_ = compositor_->running() && PointerFollowed();
        }
    }
    bool ready() const { return desktop_.connected() && ready_; }
    Kind kind() const { return kind_; }
    FakeDesktop& desktop() { return desktop_; }
    // What the program's environment says of its display.
    std::vector<std::string> Environment() const {
        if (kind_ == Kind::X11) return {"DISPLAY=" + xDisplay_};
        return {"WAYLAND_DISPLAY=" + compositor_->display(),
                "XDG_RUNTIME_DIR=" + compositor_->runtimeFolder(), "SDL_VIDEODRIVER=wayland"};
    }
    // The size of what the program may cover: the X server's screen, or weston's output.
    int ScreenWidth() const { return kind_ == Kind::X11 ? 1280 : kOutputWidth; }
    int ScreenHeight() const { return kind_ == Kind::X11 ? 1024 : kOutputHeight; }
    std::string DisplayName() const {
        return kind_ == Kind::X11 ? xDisplay_ : compositor_->display();
    }
    void EndCompositor() { compositor_->Kill(); }

    void MovePointer(int x, int y) {
        pointerX_ = x;
        pointerY_ = y;
        desktop_.MovePointer(x, y);
    }
    // The window, frame included, and where it lies on the screen.
    bool Take(Shot* shot, int* x = nullptr, int* y = nullptr) {
        int sx = 0, sy = 0;
        if (kind_ == Kind::X11) {
            if (!desktop_.WindowPosition(kTitle, &sx, &sy) || !::Take(desktop_, shot)) return false;
        } else if (!TakeFromScreen(shot, &sx, &sy)) {
            return false;
        }
        if (x) *x = sx;
        if (y) *y = sy;
        return true;
    }
    bool IsShown() {
        if (kind_ == Kind::X11) return desktop_.IsShown(kTitle);
        Shot shot;
        return TakeFromScreen(&shot, nullptr, nullptr) && shot.width > 300 && shot.height > 300;
    }
    bool WaitUntilShown(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (IsShown()) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

  private:
    // weston draws the pointer, out of the way in a corner, once it follows the X server's: until
    // then what the test does with the pointer would not reach the program.
    bool PointerFollowed() {
        return Eventually([this] {
            desktop_.MovePointer(pointerX_ - 1, pointerY_ - 1);
            desktop_.MovePointer(pointerX_, pointerY_);
            int width = 0, height = 0;
            std::vector<uint8_t> screen;
            if (!desktop_.CaptureScreen(&width, &height, &screen) || width <= pointerX_)
                return false;
            const uint8_t* p = &screen[(static_cast<size_t>(pointerY_) * width + pointerX_) * 4];
            return !(p[0] == kDesktopColour[0] && p[1] == kDesktopColour[1] &&
                     p[2] == kDesktopColour[2]);
        });
    }

    // What is not desktop: the rows and columns that hold more of it than the pointer's sprite
    // (which weston draws into its picture) could; that sprite is blacked out, too.
    bool TakeFromScreen(Shot* shot, int* x, int* y) {
        int width = 0, height = 0;
        std::vector<uint8_t> screen;
        if (!desktop_.CaptureScreen(&width, &height, &screen)) return false;
        const int stride = width;
        width = std::min(width, kOutputWidth), height = std::min(height, kOutputHeight);
        for (int py = std::max(0, pointerY_ - 8); py < std::min(height, pointerY_ + 40); ++py)
            for (int px = std::max(0, pointerX_ - 8); px < std::min(width, pointerX_ + 40); ++px)
                std::fill_n(&screen[(static_cast<size_t>(py) * stride + px) * 4], 3, 0);
        std::vector<int> rows(static_cast<size_t>(height)), columns(static_cast<size_t>(width));
        for (int py = 0; py < height; ++py)
            for (int px = 0; px < width; ++px) {
                const uint8_t* p = &screen[(static_cast<size_t>(py) * stride + px) * 4];
                const bool desktop = std::abs(p[0] - kDesktopColour[0]) < 16 &&
                                     std::abs(p[1] - kDesktopColour[1]) < 16 &&
                                     std::abs(p[2] - kDesktopColour[2]) < 16;
                rows[static_cast<size_t>(py)] += !desktop;
                columns[static_cast<size_t>(px)] += !desktop;
            }
        const auto span = [](const std::vector<int>& counts, int* first, int* last) {
            *first = 0, *last = -1;
            for (int i = 0; i < static_cast<int>(counts.size()); ++i) {
                if (counts[static_cast<size_t>(i)] < 100) continue;
                if (*last < 0) *first = i;
                *last = i;
            }
        };
        int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
        span(columns, &x0, &x1);
        span(rows, &y0, &y1);
        if (x1 < x0 || y1 < y0) return false;
        shot->width = x1 - x0 + 1;
        shot->height = y1 - y0 + 1;
        shot->rgba.resize(static_cast<size_t>(shot->width) * shot->height * 4);
        for (int py = 0; py < shot->height; ++py)
            std::copy_n(&screen[(static_cast<size_t>(py + y0) * stride + x0) * 4], shot->width * 4,
                        &shot->rgba[static_cast<size_t>(py) * shot->width * 4]);
        shot->left = (shot->width - 868) / 2;
        shot->top = shot->height - 532 - shot->left;
        if (x) *x = x0;
        if (y) *y = y0;
        return true;
    }

    Kind kind_;
    std::string xDisplay_;
    FakeDesktop desktop_;
    std::unique_ptr<Compositor> compositor_;
    bool ready_ = true;
    int pointerX_ = kOutputWidth - 4, pointerY_ = kOutputHeight - 4;
};

class ProgramOn : public testing::TestWithParam<Kind> {};

INSTANTIATE_TEST_SUITE_P(Displays, ProgramOn, testing::Values(Kind::X11, Kind::Wayland),
                         [](const testing::TestParamInfo<Kind>& info) {
                             return info.param == Kind::X11 ? "X11" : "Wayland";
                         });

TEST_P(ProgramOn, ShowsTheSceneInItsOwnFrameAndEndsOnSigterm) {
    Session session(GetParam());
    ASSERT_TRUE(session.ready());
    Program program(VORMEL_PROGRAM, session.Environment(), {}, {});
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(session.WaitUntilShown(20s)) << program.Errors();
    std::this_thread::sleep_for(2s);

    Shot shot;
    ASSERT_TRUE(session.Take(&shot));
    // The frame, caption included, is the program's own, around a client area of 868 x 532.
    EXPECT_GT(shot.left, 0);
    EXPECT_GT(shot.top, shot.left);
    // The view shows the pictures hanging at the sinks: a good share of its pixels are lit.
    EXPECT_GT(LitViewPixels(shot), 712u * 512u / 50) << "the view is (nearly) black";
    // Beside the view lies the window's own dark background.
    const uint8_t* beside = shot.At(5, 300);
    EXPECT_LT(beside[0] + beside[1] + beside[2], 3 * 40);

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
}

// Full screen from the command line and from the keys, kept through a second start that hands
// over its file (which then plays, as heard through SDL's disk driver): only the view shows, over
// the whole screen; the keys give the window back, and a second start with --fullscreen takes it
// away again. A later start with --quit ends it; with nothing left to end, says so.
TEST_P(ProgramOn, GoesFullScreenFromTheCommandLineTheKeysAndLaterStartsAndEndsOnQuit) {
    Session session(GetParam());
    ASSERT_TRUE(session.ready());
    ScratchFolder folder;
    Signal tone;
    tone.seconds = 30;
    tone.frequency = 3000;
    const std::string handed = folder.Path("handed.flac");
    ASSERT_TRUE(WriteSound(handed, SoundFormat::Flac, tone));
    const std::string recording = folder.Path("heard.raw");
    Program program(VORMEL_PROGRAM, session.Environment(), {"--fullscreen"},
                    {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + recording});
    Shot shot;
    const std::function<bool()> fullScreen = [&] {
        if (!session.Take(&shot) || shot.width != session.ScreenWidth() ||
            shot.height != session.ScreenHeight())
            return false;
        size_t lit = 0;
        for (size_t i = 0; i < shot.rgba.size(); i += 4)
            lit += std::max({shot.rgba[i], shot.rgba[i + 1], shot.rgba[i + 2]}) > 60;
        return lit > shot.rgba.size() / 4 / 500; // the scene, starting over with a new sound or not
    };
    const std::function<bool()> windowed = [&] {
        return session.Take(&shot) && shot.width > 868 && shot.width < 900 && shot.height > 532 &&
               shot.height < 600;
    };
    ASSERT_TRUE(Eventually(fullScreen, 20s)) << shot.width << " x " << shot.height << "\n"
                                             << program.Errors();

    Program second(VORMEL_PROGRAM, session.Environment(), {handed}, {});
    EXPECT_EQ(second.WaitForExit(5s), 0) << second.Errors();
    EXPECT_TRUE(Eventually([&] { return std::abs(HeardFrequency(recording) - 3000) < 30; }));
    EXPECT_TRUE(fullScreen()) << "a second start keeps the window full screen";

    for (const char* key : {"F11", "F11", "Escape"}) {
        SCOPED_TRACE(key);
        const bool wasFull = shot.width == session.ScreenWidth();
        session.desktop().TypeKey(key);
        EXPECT_TRUE(Eventually(wasFull ? windowed : fullScreen))
            << shot.width << " x " << shot.height;
    }
    Program third(VORMEL_PROGRAM, session.Environment(), {"--fullscreen"}, {});
    EXPECT_EQ(third.WaitForExit(10s), 0) << third.Errors();
    EXPECT_TRUE(Eventually(fullScreen)) << shot.width << " x " << shot.height;

    Program quit(VORMEL_PROGRAM, session.Environment(), {"--quit"}, {});
    EXPECT_EQ(quit.WaitForExit(10s), 0) << quit.Errors();
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
    Program none(VORMEL_PROGRAM, session.Environment(), {"--quit"}, {});
    EXPECT_EQ(none.WaitForExit(10s), 1);
    EXPECT_EQ(Lines(none.Errors()),
              std::vector<std::string>{"vormel: no Vormel runs on this display to quit"});
}

TEST(Program, EndsWithZeroWhenTheWindowIsClosedOrInterrupted) {
    FakeDesktop desktop;
    ASSERT_TRUE(desktop.connected());
    {
        Program program(true);
        ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
        ASSERT_TRUE(desktop.AskToClose(kTitle));
        EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
    }
    {
        Program program(true);
        ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
        program.Signal(SIGINT);
        EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
    }
}

// However the display goes away under it, the program ends by itself and says why in one line:
// with code 1 when its connection is gone (its X server or its compositor ended, or another
// client killed its connection), with 0 when only its window went (as a close) or its terminal
// closed (as SIGTERM). It takes a fraction of a second; the wait is generous, for a machine busy
// with other work.
TEST_P(ProgramOn, EndsPromptlyWhenItsDisplayGoesAway) {
    enum class Blow { KillClient, KillServer, DestroyWindow, Hangup };
    const struct {
        Kind kind;
        const char* what;
        Blow blow;
        int exitCode;
        const char* told;
    } cases[] = {
        {Kind::X11, "another client kills its connection", Blow::KillClient, 1,
         "vormel: lost the connection to the display :"},
        {Kind::X11, "its X server ends", Blow::KillServer, 1,
         "vormel: lost the connection to the display :"},
        {Kind::X11, "another client destroys its window", Blow::DestroyWindow, 0,
         "vormel: the window \"Vormel\" was destroyed by another program"},
        {Kind::X11, "its terminal closes", Blow::Hangup, 0, nullptr},
        {Kind::Wayland, "its compositor ends", Blow::KillServer, 1,
         "vormel: lost the connection to the display wayland-vormel-test-"},
        {Kind::Wayland, "its terminal closes", Blow::Hangup, 0, nullptr},
    };
    for (const auto& c : cases) {
        if (c.kind != GetParam()) continue;
        SCOPED_TRACE(c.what);
        XServer server;
        ASSERT_TRUE(server.running());
        auto session = std::make_unique<Session>(c.kind, server.display());
        ASSERT_TRUE(session->ready());
        Program program(VORMEL_PROGRAM, session->Environment(), {}, {});
        ASSERT_TRUE(session->WaitUntilShown(20s)) << program.Errors();
        std::this_thread::sleep_for(500ms);
        if (c.blow == Blow::KillClient) {
            ASSERT_TRUE(session->desktop().KillClient(kTitle));
        } else if (c.blow == Blow::DestroyWindow) {
            ASSERT_TRUE(session->desktop().DestroyWindow(kTitle));
        }
        if (c.blow == Blow::KillServer && c.kind == Kind::Wayland) session->EndCompositor();
        if (c.blow == Blow::Hangup) program.Signal(SIGHUP);
        if (c.blow == Blow::KillServer && c.kind == Kind::X11) {
            session.reset(); // the test's own connection goes before its X server does
            server.Kill();
        }
        EXPECT_EQ(program.WaitForExit(10s), c.exitCode) << program.Errors();
        const std::vector<std::string> told = Lines(program.Errors());
        if (!c.told) {
            EXPECT_TRUE(told.empty()) << program.Errors();
            continue;
        }
        ASSERT_EQ(told.size(), 1u) << program.Errors();
        EXPECT_EQ(told[0].rfind(c.told, 0), 0u) << told[0];
    }
}

namespace fs = std::filesystem;

// A copy of the program and its Resource folder, as an installer would lay them out.
class Installation {
  public:
    explicit Installation(const fs::path& folder) : root_(folder) {
        const fs::path program = VORMEL_PROGRAM;
        fs::create_directories(folder);
        fs::copy_file(program, folder / "vormel");
        fs::copy(program.parent_path() / "Resource", folder / "Resource",
                 fs::copy_options::recursive);
    }
    ~Installation() {
        std::error_code ignored;
        fs::remove_all(top_.empty() ? root_ : top_, ignored);
    }
    void RemoveAtEnd(const fs::path& top) { top_ = top; }
    std::string Program() const { return (root_ / "vormel").string(); }
    fs::path Resource() const { return root_ / "Resource"; }

  private:
    fs::path root_;
    fs::path top_;
};

// Pixels of the view that show colour: the pictures are coloured, an untextured quad is grey.
size_t ColouredViewPixels(FakeDesktop& desktop) {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    if (!desktop.Capture(kTitle, &width, &height, &rgba)) return 0;
    size_t lit = 0;
    for (int y = 10; y < std::min(522, height); ++y) {
        for (int x = 10; x < std::min(722, width); ++x) {
            const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            lit += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 40;
        }
    }
    return lit;
}

// Installed under a folder longer than a texture record holds, with a picture that claims 30000 x
// 30000 pixels, a picture missing and a sound cut inside its headers: the other pictures show,
// the sound is not reopened on every frame, and each broken file is told once.
TEST(Program, ALongInstallFolderShowsThePicturesAndEachBrokenFileIsToldOnce) {
    const fs::path top = fs::temp_directory_path() / ("vormel-install-" + std::to_string(getpid()));
    const fs::path folder = top / std::string(150, 'd') / std::string(150, 'e');
    ASSERT_GT(folder.string().size(), 300u);
    Installation install(folder);
    install.RemoveAtEnd(top);
    const std::vector<uint8_t> bomb = picture_headers::Png(30000, 30000);
    std::ofstream(install.Resource() / "V1.png", std::ios::binary)
        .write(reinterpret_cast<const char*>(bomb.data()),
               static_cast<std::streamsize>(bomb.size()));
    fs::remove(install.Resource() / "V3.png");
    fs::resize_file(install.Resource() / "audio.ogg", 3000);
    OpenCounter opens(install.Resource().string());

    FakeDesktop desktop;
    Program program(install.Program(), nullptr);
    ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
    std::this_thread::sleep_for(2500ms);
    EXPECT_GT(ColouredViewPixels(desktop), 712u * 512u / 100) << "the other pictures show";
    EXPECT_LE(opens.Take("audio.ogg"), 3) << "opened at start, after 1 s and after 3 s at most";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0);

    const std::string resource = install.Resource().string() + "/";
    const std::vector<std::string> told = Lines(program.Errors());
    const std::string expected[] = {
        "vormel: picture " + resource + "V1.png not loaded: its 30000 x 30000 pixels exceed",
        "vormel: picture " + resource + "V3.png not loaded: No such file or directory",
        "vormel: cannot play " + resource + "audio.ogg: ",
    };
    ASSERT_EQ(told.size(), std::size(expected)) << program.Errors();
    for (size_t i = 0; i < told.size(); ++i)
        EXPECT_EQ(told[i].rfind(expected[i], 0), 0u) << told[i];
}

// Without its skin the program does not start: exit 0, no window, one line naming the file.
// Without its whole Resource folder it says so too, before the skin is looked for.
TEST(Program, WithoutItsSkinOrItsResourceFolderItEndsWithZeroAndSaysWhy) {
    const fs::path folder = fs::temp_directory_path() / ("vormel-bare-" + std::to_string(getpid()));
    Installation install(folder);
    const std::string resource = install.Resource().string() + "/";
    const struct {
        const char* remove;
        std::vector<std::string> told;
    } cases[] = {
        {"Podcast.sks", {"vormel: Podcast.sks: "}},
        {"",
         {"vormel: the folder " + resource + " is missing: the pictures cannot be shown",
          "vormel: Podcast.sks: "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remove);
        fs::remove_all(*c.remove ? install.Resource() / c.remove : install.Resource());
        FakeDesktop desktop;
        Program program(install.Program(), nullptr);
        EXPECT_EQ(program.WaitForExit(20s), 0);
        EXPECT_FALSE(desktop.IsShown(kTitle));
        const std::vector<std::string> told = Lines(program.Errors());
        ASSERT_EQ(told.size(), c.told.size()) << program.Errors();
        for (size_t i = 0; i < told.size(); ++i)
            EXPECT_EQ(told[i].rfind(c.told[i], 0), 0u) << told[i];
    }
}

TEST(Program, AnswersItsCommandLine) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* out;
        const char* err;
    } cases[] = {
        {{"--help"}, 0, "Usage: vormel [OPTION]... [FILE]", ""},
        {{"-h"}, 0, "Usage: vormel", ""},
        {{"--version"}, 0, "vormel ", ""},
        {{"--bogus"}, 2, "", "vormel: unknown option '--bogus'"},
        {{"a.ogg", "b.ogg"}, 2, "", "vormel: more than one file"},
        {{"--render", "a.ogg", "--listen", "--y4m", "-"}, 2, "", "vormel: --render draws a file"},
        {{"--listen="}, 2, "", "vormel: --listen= takes the name or number of a source"},
        {{"--quit", "a.ogg"}, 2, "", "vormel: --quit takes nothing else"},
        {{"--listen", "--quit"}, 2, "", "vormel: --quit takes nothing else"},
        {{"--quit", "--fullscreen"}, 2, "", "vormel: --quit takes nothing else"},
        {{"--render", "a.ogg", "--y4m", "-", "--quit"}, 2, "", "vormel: --quit takes nothing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        Program program(VORMEL_PROGRAM, "", c.args);
        EXPECT_EQ(program.WaitForExit(10s), c.exitCode);
        EXPECT_EQ(program.Output().rfind(c.out, 0), 0u) << program.Output();
        EXPECT_EQ(program.Errors().rfind(c.err, 0), 0u) << program.Errors();
        if (c.exitCode == 2) {
            EXPECT_NE(program.Errors().find("Usage:"), std::string::npos);
        }
    }
}

// Pixels of the view that differ from their right-hand neighbour: details of the pictures and the
// particles. A view zoomed in to one degree is smooth.
size_t ViewEdges(const Shot& shot) {
    size_t edges = 0;
    for (int y = 10; y < 522; ++y)
        for (int x = 10; x < 721; ++x) {
            const uint8_t* p = shot.At(x, y);
            const uint8_t* q = shot.At(x + 1, y);
            edges += std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]) > 60;
        }
    return edges;
}

// The whole window used with the mouse, under a window manager (openbox on X11, weston on
// Wayland), where no part of the program may rely on a global pointer position: a left drag turns
// the scene edge-on and goes on outside the window, the caption moves the window and a double
// click on it maximises and restores it, the slider narrows the view, the clock shows its tip,
// and the close button ends the program.
TEST_P(ProgramOn, IsUsedWithTheMouseUnderAWindowManager) {
    XServer server;
    ASSERT_TRUE(server.running());
    if (GetParam() == Kind::X11) {
        const std::string saved = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
        setenv("DISPLAY", server.display(), 1);
        const bool managed = StartWindowManager();
        setenv("DISPLAY", saved.c_str(), 1);
        ASSERT_TRUE(managed);
    }
    Session session(GetParam(), server.display());
    ASSERT_TRUE(session.ready());
    FakeDesktop& desktop = session.desktop();
    Program program(VORMEL_PROGRAM, session.Environment(), {}, {});
    ASSERT_TRUE(session.WaitUntilShown(20s)) << program.Errors();
    if (GetParam() == Kind::X11) {
        // The window manager puts no frame of its own around the window.
        std::vector<unsigned long> extents;
        ASSERT_TRUE(desktop.ReadProperty(kTitle, "_NET_FRAME_EXTENTS", &extents));
        EXPECT_EQ(extents, (std::vector<unsigned long>{0, 0, 0, 0}));
    }
    int wx = 0, wy = 0;
    Shot shot;
    // What the view shows once the program has caught up with the pointer: a busy machine may
    // take its time, so each look is asked until it holds.
    const auto lit = [&] { return session.Take(&shot) ? LitViewPixels(shot) : 0; };
    const auto dark = [&] { return lit() < 712u * 512u / 1000; };
    const auto bright = [&] { return lit() > 712u * 512u / 50; };
    ASSERT_TRUE(Eventually([&] { return session.Take(&shot, &wx, &wy) && bright(); }));
    const auto client = [&](int x, int y) {
        session.MovePointer(wx + shot.left + x, wy + shot.top + y);
    };

    // 180 pixels to the right turn the scene by 90 degrees: every picture and sprite is seen
    // edge-on, and the view goes dark until the drag ends. Out of the window (above or below it,
    // where the screen has room) and back, the drag goes on.
    client(200, 300);
    desktop.PressButton(1);
    for (int x = 210; x <= 380; x += 10)
        client(x, 300);
    EXPECT_TRUE(Eventually(dark)) << "turned edge-on";
    const int outside = wy + shot.top + 700 < session.ScreenHeight() ? 650 : -80;
    for (int y = 300; y != outside; y += outside > 300 ? 50 : -50)
        client(380, y);
    client(380, outside);
    std::this_thread::sleep_for(300ms);
    client(380, 300);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(dark()) << "still edge-on after leaving the window";
    // Back to the press: the scene faces the viewer again. The move is taken before the release
    // (the view asks whether the button is still held when it takes a move).
    client(200, 300);
    EXPECT_TRUE(Eventually(bright)) << "facing again";
    desktop.ReleaseButton(1);

    // The caption takes the window along.
    const int captionX = shot.width / 2, captionY = shot.top / 2;
    session.MovePointer(wx + captionX, wy + captionY);
    desktop.PressButton(1);
    for (int step = 1; step <= 10; ++step) {
        std::this_thread::sleep_for(30ms); // the window manager takes the drag over
        session.MovePointer(wx + captionX - 6 * step, wy + captionY + 4 * step);
    }
    std::this_thread::sleep_for(30ms);
    desktop.ReleaseButton(1);
    int nx = 0, ny = 0;
    const auto movedTo = [&](int x, int y) {
        return Eventually([&] { return session.Take(&shot, &nx, &ny) && nx == x && ny == y; });
    };
    EXPECT_TRUE(movedTo(wx - 60, wy + 40)) << nx << ", " << ny << " from " << wx << ", " << wy;
    wx = nx, wy = ny;

    // The slider's thumb dragged to the right-hand end: one degree.
    ASSERT_TRUE(session.Take(&shot));
    const size_t edgesAt45 = ViewEdges(shot);
    client(740 + 60, 457 + 6);
    desktop.PressButton(1);
    for (int x = 70; x <= 160; x += 10) {
        std::this_thread::sleep_for(20ms);
        client(740 + x, 457 + 6);
    }
    EXPECT_TRUE(Eventually([&] { return session.Take(&shot) && ViewEdges(shot) * 10 < edgesAt45; }))
        << "zoomed in to one degree";
    desktop.ReleaseButton(1);

    // A drag of the scene that ends on the caption, and a click there at once, are no double
    // click: a release is no press. The drag ends there, too.
    const int normalWidth = shot.width, normalHeight = shot.height;
    client(captionX - shot.left, 100);
    desktop.PressButton(1);
    for (int y = 80; y > -shot.top; y -= 20)
        client(captionX - shot.left, y);
    client(captionX - shot.left, captionY - shot.top);
    std::this_thread::sleep_for(100ms);
    desktop.ReleaseButton(1);
    std::this_thread::sleep_for(60ms);
    desktop.PressButton(1);
    std::this_thread::sleep_for(60ms);
    desktop.ReleaseButton(1);
    std::this_thread::sleep_for(700ms);
    ASSERT_TRUE(session.Take(&shot, &nx, &ny));
    EXPECT_EQ(std::tie(shot.width, nx, ny), std::tie(normalWidth, wx, wy)) << "not maximised";

    // A double click on the caption maximises the window; another, on the maximised caption,
    // gives it back where it was.
    const auto doubleClickAt = [&](int x, int y) {
        session.MovePointer(x, y);
        std::this_thread::sleep_for(100ms);
        // As a hand clicks: the desktop takes the press over to move the window, and must see
        // its release.
        for (int click = 0; click < 2; ++click) {
            desktop.PressButton(1);
            std::this_thread::sleep_for(60ms);
            desktop.ReleaseButton(1);
            std::this_thread::sleep_for(100ms);
        }
    };
    doubleClickAt(wx + captionX, wy + captionY);
    EXPECT_TRUE(Eventually([&] {
        return session.Take(&shot, &nx, &ny) && shot.width > session.ScreenWidth() - 80;
    })) << shot.width;
    doubleClickAt(nx + shot.width / 2, ny + captionY);
    EXPECT_TRUE(Eventually([&] {
        return session.Take(&shot, &nx, &ny) && shot.width == normalWidth &&
               shot.height == normalHeight && nx == wx && ny == wy;
    })) << shot.width
        << " at " << nx << ", " << ny;

    // Resting on the clock, its tip shows below it.
    const auto belowClock = [&](const Shot& s) {
        std::vector<uint8_t> band;
        for (int y = 106; y < 126; ++y)
            for (int x = 753; x < 845; ++x)
                band.insert(band.end(), s.At(x, y), s.At(x, y) + 3);
        return band;
    };
    ASSERT_TRUE(session.Take(&shot));
    const std::vector<uint8_t> before = belowClock(shot);
    client(799, 56);
    std::this_thread::sleep_for(200ms);
    client(800, 56);
    EXPECT_TRUE(Eventually([&] {
        if (!session.Take(&shot)) return false;
        const std::vector<uint8_t> now = belowClock(shot);
        size_t changed = 0;
        for (size_t i = 0; i < now.size(); ++i)
            changed += std::abs(now[i] - before[i]) > 30;
        return changed > 100;
    })) << "the clock's tip";

    // The close button, at the right-hand end of the caption.
    session.MovePointer(wx + shot.width - 20, wy + 14);
    std::this_thread::sleep_for(100ms);
    desktop.PressButton(1);
    desktop.ReleaseButton(1);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
    if (GetParam() == Kind::X11) StopWindowManager();
}

// The mean frequency of a float stereo recording's left channel over its last second, from its
// zero crossings.
// What a listener hears, through SDL's disk driver: a file dropped on the window, then a file
// that a second start hands to the running copy, which goes on playing it while the second copy
// ends.
TEST(Program, PlaysWhatIsDroppedOnItAndWhatASecondStartHandsIt) {
    ScratchFolder folder;
    Signal high, higher;
    high.seconds = higher.seconds = 30;
    high.frequency = 1500;
    higher.frequency = 3000;
    const std::string dropped = folder.Path("Dropped Tone.wav");
    const std::string handed = folder.Path("handed.flac");
    ASSERT_TRUE(WriteSound(dropped, SoundFormat::WavPcm16, high));
    ASSERT_TRUE(WriteSound(handed, SoundFormat::Flac, higher));
    const std::string recording = folder.Path("heard.raw");
    Program program(VORMEL_PROGRAM, nullptr, {},
                    {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + recording});
    FakeDesktop desktop;
    ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(DropFiles(kTitle, {dropped}));
    std::this_thread::sleep_for(1500ms);
    EXPECT_NEAR(HeardFrequency(recording), 1500, 15);

    const auto start = std::chrono::steady_clock::now();
    Program second(VORMEL_PROGRAM, nullptr, {handed});
    EXPECT_EQ(second.WaitForExit(5s), 0) << second.Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    std::this_thread::sleep_for(1500ms);
    EXPECT_NEAR(HeardFrequency(recording), 3000, 30);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
}

// A second start learns how its request went: it ends with 0 once the running copy plays its
// file, and with 1 and the running copy's own line when the file does not play, or when the
// running copy does not answer (it is stopped); a start that waits ends with 0 on SIGTERM. The
// display is one however DISPLAY spells it.
TEST(Program, ASecondStartIsToldHowItsRequestWent) {
    ScratchFolder folder;
    Signal tone;
    tone.seconds = 30;
    const std::string song = folder.Path("song.wav");
    const std::string missing = folder.Path("typo.ogg");
    const std::string text = folder.Path("notes.ogg");
    ASSERT_TRUE(WriteSound(song, SoundFormat::WavPcm16, tone));
    std::ofstream(text) << "not a sound\n";
    Program first(VORMEL_PROGRAM, nullptr);
    FakeDesktop desktop;
    ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << first.Errors();

    const std::string display = std::getenv("DISPLAY");
    const std::string number = display.substr(1);
    const struct {
        std::string what;
        std::string display;
        std::string file;
        int exitCode;
        std::string told; // the start of its one line
    } cases[] = {
        {"DISPLAY=unix:N", "unix:" + number, song, 0, ""},
        {"DISPLAY=:0N", ":0" + number, song, 0, ""},
        {"DISPLAY=:N.0", display + ".0", song, 0, ""},
        {"a file that is not there", display, missing, 1, "vormel: cannot play " + missing + ": "},
        {"a file that is not a sound", display, text, 1, "vormel: cannot play " + text + ": "},
        {"a file that is not there, again", display, missing, 1,
         "vormel: cannot play " + missing + ": "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Program second(VORMEL_PROGRAM, c.display.c_str(), {c.file});
        EXPECT_EQ(second.WaitForExit(20s), c.exitCode) << second.Errors();
        const std::vector<std::string> told = Lines(second.Errors());
        if (c.told.empty()) {
            EXPECT_TRUE(told.empty()) << second.Errors();
        } else {
            ASSERT_EQ(told.size(), 1u) << second.Errors();
            EXPECT_EQ(told[0].rfind(c.told, 0), 0u) << told[0];
            // The running copy said the same, once, on its own standard error.
            EXPECT_NE(first.Errors().find(told[0]), std::string::npos) << first.Errors();
        }
    }
    EXPECT_TRUE(desktop.IsShown(kTitle)) << "a file that does not play ends nothing";

    first.Signal(SIGSTOP);
    Program unanswered(VORMEL_PROGRAM, nullptr, {song});
    EXPECT_EQ(unanswered.WaitForExit(20s), 1);
    EXPECT_EQ(Lines(unanswered.Errors()),
              std::vector<std::string>{
                  "vormel: another Vormel runs on this display but does not answer"});
    Program interrupted(VORMEL_PROGRAM, nullptr, {song});
    std::this_thread::sleep_for(2s);
    interrupted.Signal(SIGTERM);
    EXPECT_EQ(interrupted.WaitForExit(20s), 0) << interrupted.Errors();
    first.Signal(SIGCONT);

    Program served(VORMEL_PROGRAM, nullptr, {song});
    EXPECT_EQ(served.WaitForExit(20s), 0) << served.Errors();
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitForExit(10s), 0) << first.Errors();
}

// Installed as `cmake --install` lays it out: the program finds its Resource folder through the
// link in bin/, and the desktop entry offers it for sound files.
TEST(Program, InstalledItRunsThroughTheLinkInBin) {
    const fs::path prefix =
        fs::temp_directory_path() / ("vormel-prefix-" + std::to_string(getpid()));
    const std::string install = std::string(VORMEL_CMAKE) + " --install " + VORMEL_BUILD_DIR +
                                " --prefix " + prefix.string() + " >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    const fs::path link = prefix / "bin" / "vormel";
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists(prefix / "share/icons/hicolor/64x64/apps/vormel.png"));
    std::ifstream entry(prefix / "share/applications/vormel.desktop");
    const std::string desktopEntry{std::istreambuf_iterator<char>(entry), {}};
    EXPECT_NE(desktopEntry.find("\nExec=vormel %f\n"), std::string::npos);
    EXPECT_NE(desktopEntry.find("audio/ogg;"), std::string::npos);

    FakeDesktop desktop;
    Program program(link.string(), nullptr);
    ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
    std::this_thread::sleep_for(1500ms);
    Shot shot;
    ASSERT_TRUE(Take(desktop, &shot));
    EXPECT_GT(LitViewPixels(shot), 712u * 512u / 50) << "the pictures were found";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0);
    EXPECT_EQ(program.Errors(), "");
    fs::remove_all(prefix);
}

// Frames follow the display's pace, or the one asked for: no second presents more than the cap
// allows (a tenth more for the frames a paint or a resize adds).
TEST(Program, PresentsNoMoreFramesThanItsCap) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
        int cap;
    } cases[] = {
        {{}, {}, 60}, // Xvfb tells no refresh rate: 60
        {{"--fps", "30"}, {}, 30},
        {{}, {"VORMEL_FPS=20"}, 20},
        {{"--fps", "25"}, {"VORMEL_FPS=50"}, 25}, // the command line before the environment
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cap);
        std::vector<std::string> env = c.env;
        env.push_back("VORMEL_GL_INFO=1");
        FakeDesktop desktop;
        Program program(VORMEL_PROGRAM, nullptr, c.args, env);
        ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
        std::vector<int> seconds;
        for (int i = 0; i < 100 && seconds.size() < 2; ++i) {
            std::this_thread::sleep_for(100ms);
            seconds.clear();
            for (const std::string& line : Lines(program.Errors())) {
                int frames = 0;
                if (std::sscanf(line.c_str(), "vormel: %d frames presented in a second", &frames) ==
                    1)
                    seconds.push_back(frames);
            }
        }
        ASSERT_GE(seconds.size(), 2u) << program.Errors();
        // The first frame counts from the program's start: a few hundred milliseconds, not a
        // reading of some clock.
        double firstMs = -1;
        for (const std::string& line : Lines(program.Errors()))
            std::sscanf(line.c_str(), "vormel: first frame presented %lf ms after start", &firstMs);
        EXPECT_TRUE(firstMs > 0 && firstMs < 20000) << program.Errors();
        for (int frames : seconds)
            EXPECT_LE(frames, c.cap + c.cap / 10);
        EXPECT_GE(seconds.back(), 1);
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitForExit(10s), 0);
    }
}

// One line, whatever the session lacks besides a display: the Wayland library's own complaint
// about a runtime folder that is missing or unusable is not the user's business here.
TEST(Program, WithoutADisplayEndsWith99AndSaysWhyInOneLine) {
    for (const char* runtime : {"XDG_RUNTIME_DIR=/tmp", "XDG_RUNTIME_DIR=", "XDG_RUNTIME_DIR=run"}) {
        SCOPED_TRACE(runtime);
        Program program(VORMEL_PROGRAM, "", {}, {runtime});
        ASSERT_TRUE(program.started());
        EXPECT_EQ(program.WaitForExit(20s), 99);
        EXPECT_EQ(Lines(program.Errors()),
                  std::vector<std::string>{"vormel: no display with OpenGL to open the window on"});
    }
}

} // namespace

// Waits until a window of this title is shown.
bool WaitForTitle(FakeDesktop& desktop, const std::string& title,
                  std::chrono::milliseconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!desktop.IsShown(title.c_str())) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// Waits until the program's standard error holds text count times.
bool WaitForErrors(const Program& program, const std::string& text, size_t count = 1,
                   std::chrono::milliseconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::string errors = program.Errors();
        size_t found = 0;
        for (size_t at = 0; (at = errors.find(text, at)) != std::string::npos; ++at)
            ++found;
        if (found >= count) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
}

// The program listening to a private sound server, as its user does it: the list of sources, a
// start with --listen, the level it reads of what the desktop plays, the L key, a second start
// that switches the source, a drop that ends listening, and a server that dies and comes back.
TEST(Program, ListensToWhatTheDesktopPlays) {
    SoundServer server;
    ASSERT_TRUE(server.Start());
    ScratchFolder folder;
    Signal tone;
    tone.seconds = 60;
    tone.amplitudes = {0.5, 0.25};
    const std::string toneFile = folder.Path("tone.wav");
    ASSERT_TRUE(WriteSound(toneFile, SoundFormat::WavFloat, tone));

    Program list(VORMEL_PROGRAM, "", {"--list-sources"});
    EXPECT_EQ(list.WaitForExit(10s), 0) << list.Errors();
    EXPECT_EQ(Lines(list.Output()),
              (std::vector<std::string>{"0 speakers.monitor  Monitor of speakers output  (default)",
                                        "1 headphones.monitor  Monitor of headphones output"}));
    for (const char* unknown : {"microphone", "7"}) {
        Program refused(VORMEL_PROGRAM, "", {"--listen", unknown});
        EXPECT_EQ(refused.WaitForExit(10s), 2) << unknown;
        EXPECT_NE(refused.Errors().find("--list-sources"), std::string::npos) << refused.Errors();
    }

    const std::string speakers = "Vormel \u2014 listening to Monitor of speakers output";
    const std::string headphones = "Vormel \u2014 listening to Monitor of headphones output";
    const std::string played = folder.Path("played.raw");
    FakeDesktop desktop;
    Program program(VORMEL_PROGRAM, nullptr, {"--listen"},
                    {"VORMEL_AUDIO_LOG=1", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + played});
    ASSERT_TRUE(WaitForTitle(desktop, speakers)) << program.Errors();
    const pid_t player = server.Play(toneFile, "speakers");
    EXPECT_TRUE(WaitForErrors(program, "vormel: level 16384 8192")) << program.Errors();
    EXPECT_TRUE(WaitForErrors(program, "vormel: listening to speakers.monitor"));
    // What is heard is measured, not played: the sound device is not even open.
    EXPECT_FALSE(fs::exists(played) && fs::file_size(played) > 0);

    desktop.TypeKey("l");
    EXPECT_TRUE(WaitForTitle(desktop, kTitle)) << "L plays the last file again";
    EXPECT_TRUE(WaitForErrors(program, "vormel: listening to", 1));
    desktop.TypeKey("l");
    EXPECT_TRUE(WaitForTitle(desktop, speakers));

    Program second(VORMEL_PROGRAM, nullptr, {"--listen", "1"});
    EXPECT_EQ(second.WaitForExit(5s), 0) << second.Errors();
    EXPECT_TRUE(WaitForTitle(desktop, headphones));
    ASSERT_TRUE(DropFiles(headphones.c_str(), {toneFile}));
    EXPECT_TRUE(WaitForTitle(desktop, kTitle)) << "a drop ends listening";
    Program third(VORMEL_PROGRAM, nullptr, {"--listen"});
    EXPECT_EQ(third.WaitForExit(5s), 0) << third.Errors();
    EXPECT_TRUE(WaitForTitle(desktop, speakers));

    const size_t levelsBefore = Lines(program.Errors()).size();
    server.Kill();
    SoundServer::StopPlaying(player);
    EXPECT_TRUE(WaitForTitle(desktop, "Vormel \u2014 listening (waiting for the sound server)"));
    EXPECT_TRUE(WaitForErrors(program, "vormel: level 0 0", 1));
    ASSERT_TRUE(server.Start());
    const pid_t again = server.Play(toneFile, "speakers");
    EXPECT_TRUE(WaitForTitle(desktop, speakers));
    EXPECT_TRUE(WaitForErrors(program, "vormel: level 16384 8192", 2));
    SoundServer::StopPlaying(again);
    const std::vector<std::string> lines = Lines(program.Errors());
    EXPECT_EQ(std::count_if(lines.begin() + static_cast<long>(levelsBefore), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("vormel: cannot listen", 0) == 0;
                            }),
              1)
        << program.Errors();

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
}

// A sound server that accepts connections and never answers (hung, or on a host that is gone)
// costs the window nothing: started listening to a named source there, and switched with L from
// listening to playing and back, the program draws its frames all along, about a second apart
// in the per-second count, and says it waits for the server.
TEST(Program, ListeningToAServerThatNeverAnswersKeepsDrawing) {
    SilentServer wedged;
    ASSERT_TRUE(wedged.running());
    FakeDesktop desktop;
    Program program(VORMEL_PROGRAM, nullptr, {"--listen", "speakers.monitor"},
                    {"PULSE_SERVER=" + wedged.address(), "VORMEL_GL_INFO=1"});
    const std::string waiting = "Vormel \u2014 listening (waiting for the sound server)";
    ASSERT_TRUE(WaitForTitle(desktop, waiting)) << program.Errors();
    // The moments each "frames presented in a second" line appears, as the test sees them.
    std::vector<std::chrono::steady_clock::time_point> seconds;
    size_t lines = 0;
    const auto watch = [&](std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            size_t now = 0;
            for (const std::string& line : Lines(program.Errors()))
                now += line.find("frames presented in a second") != std::string::npos;
            for (; lines < now; ++lines)
                seconds.push_back(std::chrono::steady_clock::now());
            std::this_thread::sleep_for(20ms);
        }
    };
    watch(1500ms);
    for (int press = 0; press < 4; ++press) {
        desktop.TypeKey("l");
        watch(1500ms);
    }
    EXPECT_TRUE(WaitForTitle(desktop, waiting));
    ASSERT_GE(seconds.size(), 4u) << program.Errors();
    for (size_t i = 1; i < seconds.size(); ++i)
        EXPECT_LT(seconds[i] - seconds[i - 1], 1800ms) << "frames stopped after line " << i;
    EXPECT_GT(wedged.accepted(), 0) << "the program did try the server";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
}

// The trace of what each frame read and when it was shown, and the correction of the output's
// latency, as a user gives them: one line per frame, read before shown, on the monotonic clock,
// with the tone's level among the readings; the latency compensated said with the sound log on,
// the correction in it and never below nothing; a correction out of range or not a number
// refused with exit code 2, in the environment as on the command line; a trace that cannot be
// written said once while the program goes on drawing.
TEST(Program, TracesItsLevelsAndTakesALatencyCorrection) {
    ScratchFolder folder;
    Signal tone;
    tone.seconds = 30;
    tone.amplitudes = {0.5, 0.25};
    const std::string toneFile = folder.Path("tone.wav");
    ASSERT_TRUE(WriteSound(toneFile, SoundFormat::WavFloat, tone));
    const auto monotonicMs = [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    };
    // SDL's dummy device holds one 512-frame buffer (12 ms) before what plays.
    const struct {
        std::vector<std::string> args, env;
        int lowest, highest; // ms compensated
    } corrected[] = {
        {{"--delay", "100"}, {}, 111, 113},
        {{"--delay=-1000"}, {}, 0, 0},
        {{}, {"VORMEL_DELAY=250"}, 261, 263},
        {{"--delay", "-5"}, {"VORMEL_DELAY=900"}, 6, 8},
    };
    for (const auto& c : corrected) {
        SCOPED_TRACE(c.args.empty() ? c.env.front() : c.args.back());
        const std::string trace = folder.Path("trace.txt");
        std::filesystem::remove(trace);
        std::vector<std::string> args = c.args, env = c.env;
        args.push_back(toneFile);
        env.insert(env.end(), {"VORMEL_LEVEL_TRACE=" + trace, "VORMEL_AUDIO_LOG=1"});
        const double started = monotonicMs();
        Program program(VORMEL_PROGRAM, nullptr, args, env);
        ASSERT_TRUE(WaitForErrors(program, "vormel: compensating ")) << program.Errors();
        int compensated = -1;
        for (const std::string& line : Lines(program.Errors()))
            std::sscanf(line.c_str(), "vormel: compensating %d ms of output latency", &compensated);
        EXPECT_GE(compensated, c.lowest);
        EXPECT_LE(compensated, c.highest);
        std::vector<std::array<double, 4>> frames;
        ASSERT_TRUE(Eventually([&] {
            frames.clear();
            std::ifstream in(trace);
            for (std::string line; std::getline(in, line);) {
                std::array<double, 4> f{};
                char rest = 0;
                EXPECT_EQ(std::sscanf(line.c_str(), "%lf %lf %lf %lf%c", &f[0], &f[1], &f[2],
                                      &f[3], &rest),
                          4)
                    << line;
                frames.push_back(f);
            }
            return frames.size() >= 60;
        })) << frames.size() << " lines";
        const double ended = monotonicMs();
        bool toneRead = false;
        for (size_t i = 0; i < frames.size(); ++i) {
            const auto& [read, shown, left, right] = frames[i];
            EXPECT_TRUE(started <= read && read <= shown && shown <= ended) << "line " << i;
            if (i > 0) {
                EXPECT_GE(read, frames[i - 1][1]) << "line " << i;
            }
            toneRead |= left == 16384 && right == 8192;
        }
        EXPECT_TRUE(toneRead);
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
    }

    const struct {
        std::vector<std::string> args, env;
        const char* said;
    } refused[] = {
        {{"--delay", "1001"}, {}, "vormel: --delay takes milliseconds from -1000 to 1000, not '1001'"},
        {{"--delay", "soon"}, {}, "vormel: --delay takes milliseconds from -1000 to 1000, not 'soon'"},
        {{}, {"VORMEL_DELAY=-2000"},
         "vormel: VORMEL_DELAY takes milliseconds from -1000 to 1000, not '-2000'"},
    };
    for (const auto& r : refused) {
        Program program(VORMEL_PROGRAM, "", r.args, r.env);
        EXPECT_EQ(program.WaitForExit(10s), 2) << r.said;
        EXPECT_EQ(Lines(program.Errors()).front(), r.said);
    }

    Program untraced(VORMEL_PROGRAM, nullptr, {toneFile},
                     {"VORMEL_LEVEL_TRACE=" + folder.Path("no/such/folder/trace.txt"),
                      "VORMEL_GL_INFO=1"});
    EXPECT_TRUE(WaitForErrors(untraced, "frames presented in a second", 2)) << untraced.Errors();
    const std::vector<std::string> lines = Lines(untraced.Errors());
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("vormel: cannot write the level trace", 0) == 0;
                            }),
              1)
        << untraced.Errors();
    untraced.Signal(SIGTERM);
    EXPECT_EQ(untraced.WaitForExit(10s), 0);
}
