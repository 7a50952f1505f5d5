// The real program on a private X server: it opens its window, shows the scene, and ends cleanly
// however it is asked to.
#include "support/desktop.h"
#include "support/open_counter.h"
#include "support/picture_headers.h"
#include "support/xvfb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

// The program started with its standard error in a file; stopped for good when the test ends.
// display: the X display to run on (null keeps DISPLAY's, "" none at all).
class Program {
  public:
    explicit Program(bool withDisplay) : Program(VORMEL_PROGRAM, withDisplay ? nullptr : "") {}
    Program(const std::string& executable, const char* display) {
        const bool withDisplay = !display || *display;
        errors_ = std::filesystem::temp_directory_path() /
                  ("vormel-stderr-" + std::to_string(getpid()) + ".txt");
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const bool isDisplay = entry.rfind("DISPLAY=", 0) == 0 ||
                                   entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                                   entry.rfind("SDL_VIDEODRIVER=", 0) == 0;
            if ((display || !withDisplay) && isDisplay) continue;
            env.push_back(entry);
        }
        if (display && *display) env.push_back(std::string("DISPLAY=") + display);
        env.push_back("SDL_AUDIODRIVER=dummy");
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
        if (posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv, envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove(errors_);
    }

    bool started() const { return pid_ > 0; }
    void Signal(int signal) const { kill(pid_, signal); }

    // The exit code once the program has ended, or -1 if it did not end in time or was killed.
    int WaitForExit(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

    std::string Errors() const {
        std::ifstream in(errors_);
        return {std::istreambuf_iterator<char>(in), {}};
    }

  private:
    pid_t pid_ = 0;
    std::filesystem::path errors_;
};

// The lines the program wrote on standard error.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool WaitUntilShown(FakeDesktop& desktop, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (desktop.IsShown(kTitle)) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(Program, ShowsTheSceneAndEndsOnSigterm) {
    FakeDesktop desktop;
    ASSERT_TRUE(desktop.connected());
    Program program(true);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
    std::this_thread::sleep_for(2s);

    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(desktop.Capture(kTitle, &width, &height, &rgba));
    EXPECT_EQ(width, 868);
    EXPECT_EQ(height, 532);
    // The view (10, 10, 712 x 512) shows the pictures hanging at the sinks: a good share of its
    // pixels are lit. Around it lies the window's own dark background.
    size_t lit = 0;
    for (int y = 10; y < 522; ++y) {
        for (int x = 10; x < 722; ++x) {
            const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            lit += std::max({p[0], p[1], p[2]}) > 60;
        }
    }
    EXPECT_GT(lit, 712u * 512u / 50) << "the view is (nearly) black";
    const uint8_t* corner = &rgba[(5 * static_cast<size_t>(width) + 5) * 4];
    EXPECT_LT(corner[0] + corner[1] + corner[2], 3 * 40);
    EXPECT_GT(corner[0] + corner[1] + corner[2], 0);

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Errors();
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

// However the display goes away under it, the program ends within 2 s and says why in one line:
// with code 1 when its connection is gone, with 0 when only its window went (as a close) or its
// terminal closed (as SIGTERM).
TEST(Program, EndsPromptlyWhenItsDisplayGoesAway) {
    enum class Blow { KillClient, KillServer, DestroyWindow, Hangup };
    const struct {
        const char* what;
        Blow blow;
        int exitCode;
        const char* told;
    } cases[] = {
        {"another client kills its connection", Blow::KillClient, 1,
         "vormel: lost the connection to the display :"},
        {"its X server ends", Blow::KillServer, 1, "vormel: lost the connection to the display :"},
        {"another client destroys its window", Blow::DestroyWindow, 0,
         "vormel: the window \"Vormel\" was destroyed by another program"},
        {"its terminal closes", Blow::Hangup, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        XServer server;
        ASSERT_TRUE(server.running());
        Program program(VORMEL_PROGRAM, server.display());
        {
            FakeDesktop desktop(server.display());
            ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
            std::this_thread::sleep_for(500ms);
            if (c.blow == Blow::KillClient) {
                ASSERT_TRUE(desktop.KillClient(kTitle));
            } else if (c.blow == Blow::DestroyWindow) {
                ASSERT_TRUE(desktop.DestroyWindow(kTitle));
            }
        }
        if (c.blow == Blow::KillServer) server.Kill();
        if (c.blow == Blow::Hangup) program.Signal(SIGHUP);
        EXPECT_EQ(program.WaitForExit(2s), c.exitCode) << program.Errors();
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

TEST(Program, WithoutItsResourceFolderItRunsAndSaysSo) {
    const fs::path folder = fs::temp_directory_path() / ("vormel-bare-" + std::to_string(getpid()));
    Installation install(folder);
    fs::remove_all(install.Resource());
    FakeDesktop desktop;
    Program program(install.Program(), nullptr);
    ASSERT_TRUE(WaitUntilShown(desktop, 20s)) << program.Errors();
    std::this_thread::sleep_for(500ms);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0);
    const std::vector<std::string> told = Lines(program.Errors());
    ASSERT_EQ(told.size(), 2u) << program.Errors();
    EXPECT_EQ(told[0], "vormel: the folder " + install.Resource().string() +
                           "/ is missing: the pictures cannot be shown");
    EXPECT_EQ(told[1], "vormel: cannot play " + install.Resource().string() +
                           "/audio.ogg: No such file or directory");
}

TEST(Program, WithoutADisplayEndsWith99AndSaysWhy) {
    Program program(false);
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.WaitForExit(20s), 99);
    EXPECT_NE(program.Errors().find("vormel: "), std::string::npos) << program.Errors();
}

} // namespace
