#include "app/command_line.h"

#include <filesystem>
#include <string_view>

#ifndef VORMEL_VERSION
#define VORMEL_VERSION "unknown"
#endif

namespace {

// A running copy may have another working folder than the copy that hands it the file.
std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

} // namespace

int ParseFrameRate(const char* text) {
    if (!text || !*text) return -1;
    int value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || value > 1000) return -1;
        value = value * 10 + (*c - '0');
    }
    return value <= 1000 ? value : -1;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc && line.error.empty(); ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            line.help = true;
        } else if (!optionsEnded && (arg == "-V" || arg == "--version")) {
            line.version = true;
        } else if (!optionsEnded && (arg == "--fps" || arg.rfind("--fps=", 0) == 0)) {
            const bool joined = arg.size() > 5;
            const char* value = joined ? argv[i] + 6 : (i + 1 < argc ? argv[++i] : nullptr);
            line.fps = ParseFrameRate(value);
            if (line.fps < 0)
                line.error = "--fps takes a number of frames a second from 0 (no limit) to 1000";
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            line.error = "unknown option '" + std::string(arg) + "'";
        } else if (arg.empty()) {
            line.error = "an empty file name";
        } else if (!line.file.empty()) {
            line.error = "more than one file: '" + std::string(arg) + "'";
        } else {
            line.file = Absolute(std::string(arg));
        }
    }
    return line;
}

const char* UsageText() {
    return "Usage: vormel [OPTION]... [FILE]\n"
           "Plays FILE, or the default sound, in a loop and draws a field of light that moves\n"
           "with its loudness. If Vormel already runs, FILE plays there instead.\n"
           "\n"
           "      --fps N      draw at most N frames a second (0: no limit; the default is the\n"
           "                   display's refresh rate); VORMEL_FPS=N says the same\n"
           "  -h, --help       show this help and exit\n"
           "  -V, --version    show the version and exit\n"
           "\n"
           "In the window: drag with the left mouse button to turn and tilt the scene, with the\n"
           "right button to shift it; the slider sets the field of view; drop a sound file on\n"
           "the window to play it.\n";
}

const char* VersionText() {
    return "vormel " VORMEL_VERSION "\n";
}
