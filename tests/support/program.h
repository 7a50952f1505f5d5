// The real program started as its user starts it, for the end-to-end suites: its standard error
// and output kept in files, and everything it started ended with it.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// The program started with its standard error in a file; stopped for good when the test ends.
// display: the X display to run on (null keeps DISPLAY's, "" none at all).
class Program {
  public:
#ifdef VORMEL_PROGRAM
    explicit Program(bool withDisplay) : Program(VORMEL_PROGRAM, withDisplay ? nullptr : "") {}
#endif
    // args follow the program's name; env entries come before the inherited ones, so they win.
    Program(const std::string& executable, const char* display,
            const std::vector<std::string>& args = {}, const std::vector<std::string>& env = {})
        : Program(executable, DisplayEnvironment(display), args, env) {}
    // displayEnv: the display's variables, replacing the test's own (DISPLAY, WAYLAND_DISPLAY,
    // SDL_VIDEODRIVER); a single empty entry keeps the test's own.
    Program(const std::string& executable, const std::vector<std::string>& displayEnv,
            const std::vector<std::string>& args, const std::vector<std::string>& env);
    ~Program();

    bool started() const {
        return pid_ > 0;
    }
    void Signal(int signal) const;

    // The exit code once the program has ended, 128 + the signal when one killed it, or -1 if it
    // did not end in time.
    int WaitForExit(std::chrono::milliseconds limit);

    std::string Errors() const;
    std::string Output() const;

  private:
    // null keeps the test's display, "" none at all, ":N" that X display.
    static std::vector<std::string> DisplayEnvironment(const char* display) {
        if (!display) return {""};
        if (!*display) return {};
        return {std::string("DISPLAY=") + display};
    }

    pid_t pid_ = 0;
    pid_t group_ = 0; // the program's process group, which outlives its leader
    std::filesystem::path errors_;
    std::filesystem::path outputs_;
    static inline int count_ = 0;
};

// The lines the program wrote on standard error.
std::vector<std::string> Lines(const std::string& text);

// Whether done() holds within the time given, asked every 50 ms.
bool Eventually(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

// The mean frequency of a float stereo recording's left channel over its last second.
double HeardFrequency(const std::string& recording);
