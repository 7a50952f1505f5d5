// The real program on a private X server: it opens its window, shows the scene, and ends cleanly
// however it is asked to.
#include "support/desktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
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
class Program {
  public:
    explicit Program(bool withDisplay) {
        errors_ = std::filesystem::temp_directory_path() /
                  ("vormel-stderr-" + std::to_string(getpid()) + ".txt");
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const bool isDisplay = entry.rfind("DISPLAY=", 0) == 0 ||
                                   entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                                   entry.rfind("SDL_VIDEODRIVER=", 0) == 0;
            if (!withDisplay && isDisplay) continue;
            env.push_back(entry);
        }
        env.push_back("SDL_AUDIODRIVER=dummy");
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        char* argv[] = {const_cast<char*>(VORMEL_PROGRAM), nullptr};
        if (posix_spawn(&pid_, VORMEL_PROGRAM, &actions, nullptr, argv, envp.data()) != 0) pid_ = 0;
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

TEST(Program, WithoutADisplayEndsWith99AndSaysWhy) {
    Program program(false);
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.WaitForExit(20s), 99);
    EXPECT_NE(program.Errors().find("vormel: "), std::string::npos) << program.Errors();
}

} // namespace
