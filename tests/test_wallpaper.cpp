// Vormel as the desktop's background, started as its user starts it: on X11 under a window manager
// (openbox), on Wayland with the layer shell (sway, headless, two outputs) and without it (weston),
// and what its command line refuses.
#include "support/compositor.h"
#include "support/desktop.h"
#include "support/program.h"
#include "support/sound_fixtures.h"
#include "support/sway.h"
#include "support/window_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr const char* kTitle = "Vormel";

// Pixels brighter than a dim grey, in pictures of 3 (RGB) or 4 (RGBA) bytes a pixel.
size_t Lit(const std::vector<uint8_t>& pixels, size_t step) {
    size_t lit = 0;
    for (size_t i = 0; i + 2 < pixels.size(); i += step)
        lit += std::max({pixels[i], pixels[i + 1], pixels[i + 2]}) > 60;
    return lit;
}

size_t Matching(const std::vector<uint8_t>& pixels, size_t step, int red, int green, int blue) {
    size_t count = 0;
    for (size_t i = 0; i + 2 < pixels.size(); i += step)
        count += pixels[i] == red && pixels[i + 1] == green && pixels[i + 2] == blue;
    return count;
}

// What cannot be a wallpaper ends at once, with one line saying why: a bad command line (2), a
// monitor that is not there (2), a Wayland desktop without a background layer (1).
TEST(Wallpaper, RefusesWhatItCannotBe) {
    Compositor weston; // on the suite's X server, which has one monitor
    ASSERT_TRUE(weston.running());
    const std::vector<std::string> onWeston = {"WAYLAND_DISPLAY=" + weston.display(),
                                               "XDG_RUNTIME_DIR=" + weston.runtimeFolder(),
                                               "SDL_VIDEODRIVER=wayland"};
    const std::vector<std::string> onX11 = {""};
    const struct {
        std::vector<std::string> args;
        const std::vector<std::string>& display;
        int exitCode;
        const char* told;
    } cases[] = {
        {{"--wallpaper", "--monitor", "1"}, onX11, 2, "vormel: there is no monitor 1: "},
        {{"--fullscreen", "--monitor=3"}, onX11, 2, "vormel: there is no monitor 3: "},
        {{"--monitor", "first"}, onX11, 2, "vormel: --monitor takes the number of a monitor"},
        {{"--monitor", "-1"}, onX11, 2, "vormel: --monitor takes the number of a monitor"},
        {{"--wallpaper", "--monitor"}, onX11, 2, "vormel: --monitor takes the number"},
        {{"--wallpaper", "--fullscreen"}, onX11, 2, "vormel: --wallpaper covers its monitor"},
        {{"--render", "a.ogg", "--png", "f", "--wallpaper"},
         onX11,
         2,
         "vormel: --wallpaper is for the desktop"},
        {{"--wallpaper"},
         onWeston,
         1,
         "vormel: this desktop offers no background layer for a wallpaper"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        Program program(VORMEL_PROGRAM, c.display, c.args, {});
        EXPECT_EQ(program.WaitForExit(20s), c.exitCode);
        const std::vector<std::string> told = Lines(program.Errors());
        ASSERT_FALSE(told.empty());
        EXPECT_EQ(told[0].rfind(c.told, 0), 0u) << told[0];
        // A bad command line shows the usage after its line; anything else is the one line.
        if (c.exitCode == 1) {
            EXPECT_EQ(told.size(), 1u) << program.Errors();
        }
    }
}

// On X11 under openbox: a window of the desktop's type over the whole monitor, drawing the scene,
// below an ordinary window raised over it, transparent to the pointer; a file handed to it by a
// later start plays there and brings nothing up.
TEST(Wallpaper, OnX11ItIsTheDesktopBelowEveryWindowAndTakesNoInput) {
    ASSERT_TRUE(StartWindowManager());
    ScratchFolder folder;
    Signal tone;
    tone.seconds = 30;
    tone.frequency = 3000;
    const std::string handed = folder.Path("handed.flac");
    ASSERT_TRUE(WriteSound(handed, SoundFormat::Flac, tone));
    const std::string recording = folder.Path("heard.raw");
    FakeDesktop desktop;
    Program wallpaper(VORMEL_PROGRAM, nullptr, {"--wallpaper", "--monitor", "0"},
                      {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + recording});
    ASSERT_TRUE(Eventually([&] { return desktop.IsShown(kTitle); }, 20s)) << wallpaper.Errors();
    EXPECT_EQ(desktop.AtomNames(kTitle, "_NET_WM_WINDOW_TYPE"),
              std::vector<std::string>{"_NET_WM_WINDOW_TYPE_DESKTOP"});
    int x = -1, y = -1, width = 0, height = 0;
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(desktop.WindowPosition(kTitle, &x, &y));
    EXPECT_TRUE(desktop.Capture(kTitle, &width, &height, &rgba));
    EXPECT_EQ(std::vector<int>({x, y, width, height}), std::vector<int>({0, 0, 1280, 1024}))
        << "covers the monitor";
    EXPECT_TRUE(Eventually([&] {
        return desktop.CaptureScreen(&width, &height, &rgba) && Lit(rgba, 4) > 1280u * 1024 / 100;
    })) << "the scene draws";

    ASSERT_TRUE(desktop.OpenWindow("Ordinary", 100, 100, 300, 200));
    ASSERT_TRUE(Eventually([&] { return desktop.IsShown("Ordinary"); }));
    desktop.Raise("Ordinary");
    Program second(VORMEL_PROGRAM, nullptr, {handed});
    EXPECT_EQ(second.WaitForExit(5s), 0) << second.Errors();
    EXPECT_TRUE(Eventually([&] { return std::abs(HeardFrequency(recording) - 3000) < 30; }))
        << "the handed file plays";
    std::this_thread::sleep_for(500ms);
    int ox = 0, oy = 0;
    ASSERT_TRUE(desktop.WindowPosition("Ordinary", &ox, &oy));
    ASSERT_TRUE(desktop.CaptureScreen(&width, &height, &rgba));
    const uint8_t* middle = &rgba[(static_cast<size_t>(oy + 100) * width + ox + 150) * 4];
    EXPECT_EQ(std::vector<int>({middle[0], middle[1], middle[2]}),
              std::vector<int>({255, 255, 255}))
        << "the ordinary window stays over it, after the hand-over too";

    desktop.MovePointer(ox + 150, oy + 100);
    EXPECT_TRUE(desktop.PointerIsOver("Ordinary"));
    desktop.MovePointer(1000, 800);
    EXPECT_FALSE(desktop.PointerIsOver(kTitle)) << "a press there reaches the desktop";

    // It takes no input: a later start ends it.
    Program quit(VORMEL_PROGRAM, nullptr, {"--quit"});
    EXPECT_EQ(quit.WaitForExit(10s), 0) << quit.Errors();
    EXPECT_EQ(wallpaper.WaitForExit(10s), 0) << wallpaper.Errors();
    StopWindowManager();
}

// Frames presented so far, as VORMEL_GL_INFO counts them a second at a time.
int FramesPresented(const Program& program) {
    int total = 0;
    for (const std::string& line : Lines(program.Errors())) {
        int frames = 0;
        if (std::sscanf(line.c_str(), "vormel: %d frames presented in a second", &frames) == 1)
            total += frames;
    }
    return total;
}

// On sway, headless with two outputs: the second output (--monitor 1, full screen first, then as
// the wallpaper) shows the scene from edge to edge, the first only the desktop; the scene follows
// the output's new size; an ordinary window opened over it shows; while a window full screen hides
// it, it draws nothing.
TEST(Wallpaper, OnSwayItFillsTheChosenOutputUnderItsWindows) {
    Sway sway;
    ASSERT_TRUE(sway.running());
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const auto desktop = [&] {
        return Matching(rgb, 3, kSwayDesktopGrey, kSwayDesktopGrey, kSwayDesktopGrey);
    };
    // The whole output is the scene's: not one pixel of the desktop, and a good share lit.
    const auto filled = [&](const char* output, int w, int h) {
        return sway.Screenshot(output, &width, &height, &rgb) && width == w && height == h &&
               desktop() == 0 && Lit(rgb, 3) > static_cast<size_t>(w * h / 100);
    };
    // Full screen goes to the monitor asked for too, whichever output has the focus.
    ASSERT_TRUE(sway.Command("focus output HEADLESS-1"));
    {
        Program fullScreen(VORMEL_PROGRAM, sway.Environment(), {"--fullscreen", "--monitor", "1"},
                           {});
        EXPECT_TRUE(Eventually(
            [&] { return filled("HEADLESS-2", kSwayOutputWidth, kSwayOutputHeight); }, 20s))
            << desktop() << " pixels of the desktop\n"
            << fullScreen.Errors();
        fullScreen.Signal(SIGTERM);
        EXPECT_EQ(fullScreen.WaitForExit(10s), 0) << fullScreen.Errors();
    }
    ASSERT_TRUE(Eventually([&] {
        return sway.Screenshot("HEADLESS-2", &width, &height, &rgb) &&
               desktop() == static_cast<size_t>(width) * height;
    }));

    Program wallpaper(VORMEL_PROGRAM, sway.Environment(), {"--wallpaper", "--monitor", "1"},
                      {"VORMEL_GL_INFO=1"});
    ASSERT_TRUE(
        Eventually([&] { return filled("HEADLESS-2", kSwayOutputWidth, kSwayOutputHeight); }, 20s))
        << desktop() << " pixels of the desktop, " << Lit(rgb, 3) << " lit\n"
        << wallpaper.Errors();
    ASSERT_TRUE(sway.Screenshot("HEADLESS-1", &width, &height, &rgb));
    EXPECT_EQ(desktop(), static_cast<size_t>(width) * height)
        << "the other output shows only the desktop";

    ASSERT_TRUE(sway.Command("output HEADLESS-2 mode --custom 1024x768"));
    EXPECT_TRUE(Eventually([&] { return filled("HEADLESS-2", 1024, 768); }))
        << width << " x " << height << ", " << desktop() << " pixels of the desktop";

    ASSERT_TRUE(sway.Command("focus output HEADLESS-2"));
    Program window("/usr/bin/weston-simple-shm", sway.Environment(), {}, {});
    // Its white frame shows whole.
    EXPECT_TRUE(Eventually([&] {
        return sway.Screenshot("HEADLESS-2", &width, &height, &rgb) &&
               Matching(rgb, 3, 255, 255, 255) > 250u * 250 - 210u * 210;
    })) << Matching(rgb, 3, 255, 255, 255);

    // A window full screen hides the background, and sway stops asking it for frames.
    ASSERT_TRUE(Eventually([&] { return FramesPresented(wallpaper) > 0; }));
    ASSERT_TRUE(sway.Command("fullscreen enable"));
    std::this_thread::sleep_for(1500ms);
    const int hidden = FramesPresented(wallpaper);
    std::this_thread::sleep_for(2500ms);
    EXPECT_LE(FramesPresented(wallpaper), hidden + 2) << "no frames while nobody sees them";
    ASSERT_TRUE(sway.Command("fullscreen disable"));
    EXPECT_TRUE(Eventually([&] { return FramesPresented(wallpaper) > hidden + 30; }));

    Program quit(VORMEL_PROGRAM, sway.Environment(), {"--quit"}, {});
    EXPECT_EQ(quit.WaitForExit(10s), 0) << quit.Errors();
    EXPECT_EQ(wallpaper.WaitForExit(10s), 0) << wallpaper.Errors();
}

} // namespace
