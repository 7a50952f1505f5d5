#include "app/command_line.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

namespace {

constexpr int kLargestSide = 16384;     // the largest texture of the renderers we know
constexpr double kLongestSeconds = 1e7; // four months: beyond any sound
constexpr int kMostMonitors = 1000;     // a number past it is a typing error, not a monitor
constexpr int kLongestDelay = 1000;     // a second: more than any amplifier or television adds

// A running copy may have another working folder than the copy that hands it the file.
std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// A whole decimal number from low to high, nothing else in the text.
bool ParseInteger(std::string_view text, int low, int high, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    *value = n;
    return n >= low && n <= high;
}

// A diagnostic switch in the environment: unset, empty or 0 is off, anything else on.
bool SwitchedOn(std::string_view value) {
    return !value.empty() && value != "0";
}

// Seconds as a plain decimal number, 0 or more.
bool ParseSeconds(const std::string& text, double* value) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(*value) && *value <= kLongestSeconds;
}

// Milliseconds as --delay and VORMEL_DELAY take them: a whole number, signed, within a second.
bool ParseDelay(std::string_view text, int* ms) {
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    int value = 0;
    if (!ParseInteger(text, 0, kLongestDelay, &value)) return false;
    *ms = negative ? -value : value;
    return true;
}

std::string DelayRefused(const std::string& name, const char* value) {
    return name + " takes milliseconds from -1000 to 1000" +
           (value ? ", not '" + std::string(value) + "'" : std::string());
}

bool ParseSize(std::string_view text, int* width, int* height) {
    const size_t x = text.find('x');
    return x != std::string_view::npos && ParseInteger(text.substr(0, x), 2, kLargestSide, width) &&
           ParseInteger(text.substr(x + 1), 2, kLargestSide, height);
}

// Takes the value of one render option; an error text when it is not understood.
std::string TakeRenderOption(std::string_view name, const std::string& value, RenderOptions* r) {
    if (name == "--y4m") {
        r->y4m = value;
    } else if (name == "--png") {
        r->pngFolder = value;
    } else if (name == "--audio") {
        r->wav = value;
    } else if (name == "--size") {
        if (!ParseSize(value, &r->width, &r->height))
            return "--size takes WIDTHxHEIGHT, each from 2 to 16384, not '" + value + "'";
    } else if (name == "--start") {
        if (!ParseSeconds(value, &r->start))
            return "--start takes seconds (0 or more), not '" + value + "'";
    } else if (name == "--seconds") {
        if (!ParseSeconds(value, &r->seconds))
            return "--seconds takes seconds (more than 0), not '" + value + "'";
    }
    if (!value.empty()) return "";
    return std::string(name) + " takes a value";
}

bool IsRenderOption(std::string_view name) {
    for (const char* option : {"--y4m", "--png", "--audio", "--size", "--start", "--seconds"})
        if (name == option) return true;
    return false;
}

// A wallpaper is the scene over its whole monitor already.
std::string CheckWallpaper(const CommandLine& line) {
    if (line.wallpaper && line.fullScreen)
        return "--wallpaper covers its monitor already; it takes no --fullscreen";
    return "";
}

// What a render asks for, all options read: an error text when it cannot be done. --fps is the
// window's cap without --render, and the render's frame rate with it.
std::string CheckRender(CommandLine* line, bool renderOptionSeen) {
    RenderOptions& r = line->renderOptions;
    if (!line->render) return renderOptionSeen ? "the render options need --render FILE" : "";
    if (line->listen) return "--render draws a file; it cannot listen (--listen)";
    if (line->fps == 0)
        return "--fps takes a number of frames a second from 1 to 1000 for a render";
    if (line->fps > 0) r.fps = std::exchange(line->fps, -1);
    if (line->fullScreen) return "--fullscreen is for the window, not for a render";
    if (line->wallpaper) return "--wallpaper is for the desktop, not for a render";
    if (line->monitor >= 0) return "--monitor is for the window, not for a render";
    if (line->delayGiven)
        return "--delay is for the sound heard with the window, not for a render (whose frames "
               "show the sound of their own moment)";
    if (line->file.empty()) return "--render needs the FILE to render";
    if (r.y4m.empty() && r.pngFolder.empty() && r.wav.empty())
        return "--render writes nothing without --y4m, --png or --audio";
    if (!r.y4m.empty() && (r.width % 2 != 0 || r.height % 2 != 0))
        return "--y4m needs an even width and height (its colour has half the resolution)";
    if (r.seconds >= 0 && std::lrint(r.seconds * r.fps) < 1)
        return "--seconds is shorter than one frame";
    return "";
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

PlatformOptions ReadOptions(const CommandLine& line, const char* const* environment,
                            std::string* refused) {
    PlatformOptions options;
    options.frameRateCap = line.fps;
    options.delayMs = line.delay;
    for (const char* const* e = environment; e && *e; ++e) {
        const std::string_view entry = *e;
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = entry.substr(0, equals);
        const char* value = *e + equals + 1;
        if (name == "VORMEL_FPS" && line.fps < 0 && !line.render) {
            options.frameRateCap = ParseFrameRate(value);
            if (options.frameRateCap < 0)
                std::fprintf(stderr, "vormel: VORMEL_FPS is not a number from 0 to 1000\n");
        } else if (name == "VORMEL_VSYNC") {
            options.vsync = std::string_view(value) != "0";
        } else if (name == "VORMEL_GL_INFO") {
            options.glInfo = SwitchedOn(value);
        } else if (name == "VORMEL_AUDIO_LOG") {
            options.audioLog = SwitchedOn(value);
        } else if (name == "VORMEL_RENDER_INFO") {
            options.renderInfo = SwitchedOn(value);
        } else if (name == "VORMEL_LEVEL_TRACE") {
            options.levelTrace = value;
        } else if (name == "VORMEL_DELAY" && !line.delayGiven && *value) {
            if (ParseDelay(value, &options.delayMs)) continue;
            const std::string why = DelayRefused("VORMEL_DELAY", value);
            if (refused) *refused = why;
            else std::fprintf(stderr, "vormel: %s\n", why.c_str());
        }
    }
    return options;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    bool optionsEnded = false;
    bool renderOptionSeen = false;
    for (int i = 1; i < argc && line.error.empty(); ++i) {
        const std::string_view arg = argv[i];
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            line.help = true;
        } else if (!optionsEnded && (arg == "-V" || arg == "--version")) {
            line.version = true;
        } else if (!optionsEnded && arg == "--fullscreen") {
            line.fullScreen = true;
        } else if (!optionsEnded && arg == "--quit") {
            line.quit = true;
        } else if (!optionsEnded && arg == "--wallpaper") {
            line.wallpaper = true;
        } else if (!optionsEnded && name == "--monitor") {
            const std::string_view value = equals != std::string_view::npos ? arg.substr(equals + 1)
                                           : i + 1 < argc ? std::string_view(argv[++i])
                                                          : std::string_view();
            if (!ParseInteger(value, 0, kMostMonitors - 1, &line.monitor))
                line.error = "--monitor takes the number of a monitor, from 0";
        } else if (!optionsEnded && arg == "--render") {
            line.render = true;
        } else if (!optionsEnded && arg == "--list-sources") {
            line.listSources = true;
        } else if (!optionsEnded && name == "--listen") {
            line.listen = true;
            // SOURCE is optional: the next argument is it unless it is an option.
            if (equals != std::string_view::npos)
                line.source = std::string(arg.substr(equals + 1));
            else if (i + 1 < argc && argv[i + 1][0] != '-')
                line.source = argv[++i];
            if (equals != std::string_view::npos && line.source.empty())
                line.error = "--listen= takes the name or number of a source";
        } else if (!optionsEnded && IsRenderOption(name)) {
            renderOptionSeen = true;
            std::string value;
            if (equals != std::string_view::npos)
                value = std::string(arg.substr(equals + 1));
            else if (i + 1 < argc)
                value = argv[++i];
            line.error = TakeRenderOption(name, value, &line.renderOptions);
        } else if (!optionsEnded && name == "--delay") {
            // The value may be negative, so the next argument is taken whatever it begins with.
            const bool joined = equals != std::string_view::npos;
            const char* value =
                joined ? argv[i] + equals + 1 : (i + 1 < argc ? argv[++i] : nullptr);
            line.delayGiven = true;
            if (!value || !ParseDelay(value, &line.delay))
                line.error = DelayRefused("--delay", value);
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
    if (line.error.empty()) line.error = CheckRender(&line, renderOptionSeen);
    if (line.error.empty()) line.error = CheckWallpaper(line);
    // An end asked for goes alone: a file, a render or listening would say to start, and any other
    // option would be dropped without a word.
    if (line.error.empty() && line.quit && argc > 2)
        line.error = "--quit takes nothing else: it asks the running Vormel to end";
    return line;
}

const char* UsageText() {
    return "Usage: vormel [OPTION]... [FILE]\n"
           "       vormel --listen [SOURCE] [OPTION]...\n"
           "       vormel --wallpaper [--listen [SOURCE] | FILE] [--monitor N]\n"
           "       vormel --render FILE OUTPUT... [OPTION]...\n"
           "       vormel --quit\n"
           "Plays FILE, or the default sound, in a loop and draws a field of light that moves\n"
           "with its loudness. If Vormel already runs, FILE plays there instead, and --listen\n"
           "and --fullscreen act on its window; vormel --quit ends it.\n"
           "\n"
           "      --listen [SOURCE]\n"
           "                   follow what the desktop plays instead: by default the monitor\n"
           "                   of the default output, followed when it changes; SOURCE is a\n"
           "                   name or number that --list-sources shows\n"
           "      --list-sources\n"
           "                   list the sound server's sources, the default marked\n"
           "      --fps N      draw at most N frames a second (0: no limit; the default is the\n"
           "                   display's refresh rate); VORMEL_FPS=N says the same\n"
           "      --delay MS   show the sound MS milliseconds later (-1000 to 1000) than the\n"
           "                   sound server says it is heard, for what the server does not\n"
           "                   know (an amplifier, a television); a total below zero counts\n"
           "                   as zero; VORMEL_DELAY=MS says the same\n"
           "      --fullscreen start full screen\n"
           "      --wallpaper  show the scene alone as the desktop's background, behind every\n"
           "                   window, taking no input (X11; Wayland with the layer shell)\n"
           "      --monitor N  the monitor to show on, numbered from 0 (default: the primary)\n"
           "      --quit       ask the running Vormel to end, as its close button would\n"
           "  -h, --help       show this help and exit\n"
           "  -V, --version    show the version and exit\n"
           "\n"
           "With --render, draws the scene for FILE frame by frame, with no window and no sound\n"
           "device, as fast as it can; frame N shows the scene at N / FPS seconds. OUTPUT is\n"
           "      --y4m PATH   a YUV4MPEG2 video stream (4:2:0, BT.709, limited range);\n"
           "                   PATH - is standard output, for a video tool to read\n"
           "      --png FOLDER one PNG file per frame, 000000.png, 000001.png...\n"
           "      --audio PATH the sound of the same frames, WAV, 44.1 kHz stereo float\n"
           "and the options are\n"
           "      --size WxH   the picture's size (1280x720)\n"
           "      --fps N      frames a second (60)\n"
           "      --start S    begin S seconds into the sound, with the scene as it is there\n"
           "      --seconds S  render S seconds (the sound starts over when it ends); without\n"
           "                   it, the render ends with the sound\n"
           "\n"
           "In the window: drag with the left mouse button to turn and tilt the scene, with the\n"
           "right button to shift it; the slider sets the field of view; drop a sound file on\n"
           "the window to play it; L switches between listening and playing the last file.\n"
           "F11, Alt+Enter or a double-click on the scene shows it full screen; again, or Esc,\n"
           "gives the window back.\n"
           "\n"
           "A wallpaper takes no input: a later start hands it a FILE to play or --listen.\n";
}

const char* VersionText() {
    return "vormel " VORMEL_VERSION "\n";
}
