// The command line: `vormel [OPTION]... [FILE]`, `vormel --listen [SOURCE]`, and `vormel --render
// FILE` with the options of a render. The original program took no arguments; these are what a
// desktop program on Linux is expected to understand, and what turning a song into a video takes.
#pragma once

#include "platform/os/options.h"

#include <string>

// What `vormel --render FILE` writes, and which part of the sound it draws.
struct RenderOptions {
    std::string y4m;       // a YUV4MPEG2 stream; "-" for standard output; empty: none
    std::string pngFolder; // numbered PNG files; empty: none
    std::string wav;       // the sound of the frames; empty: none
    int width = 1280;
    int height = 720;
    int fps = 60;
    double start = 0;    // seconds from the sound's start to the first frame
    double seconds = -1; // how long; negative: to the end of the sound, once
};

struct CommandLine {
    bool help = false;
    bool version = false;
    bool render = false;
    bool listSources = false; // --list-sources
    bool listen = false;      // --listen [SOURCE]: follow what the desktop plays from the start
    std::string source;       // SOURCE as given: a name or a number; empty: the default output
    std::string file; // the sound to play instead of the default one, made absolute; empty: none
    int fps = -1;     // --fps N without --render: frames a second at most, 0 for no limit; -1 when
                      // not given
    bool fullScreen = false; // --fullscreen: the window starts full screen
    bool wallpaper = false;  // --wallpaper: the scene alone as the desktop's background
    int monitor = -1;        // --monitor N: the monitor, numbered from 0; -1 for the primary one
    bool quit = false;       // --quit: ask the running copy to end, nothing else
    // --delay MS: milliseconds added to the output's latency the scene waits for (-1000 to 1000).
    int delay = 0;
    bool delayGiven = false;
    RenderOptions renderOptions;
    std::string error; // why the command line was refused; empty when it was understood
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// What the platform is asked for: the command line's options, then the environment's (VORMEL_FPS
// where --fps was not given, VORMEL_DELAY where --delay was not, VORMEL_VSYNC=0,
// VORMEL_LEVEL_TRACE, and the switches VORMEL_GL_INFO, VORMEL_AUDIO_LOG and VORMEL_RENDER_INFO,
// each off when unset, empty or 0 and on otherwise). environment is a null-ended list of
// NAME=VALUE entries, as environ. A value that is not understood is said in one line on standard
// error and left out; a VORMEL_DELAY that is not one, which would leave the picture out of step,
// is written into *refused instead when refused is given.
PlatformOptions ReadOptions(const CommandLine& line, const char* const* environment,
                            std::string* refused = nullptr);

// A number of frames a second as --fps and VORMEL_FPS take it: 0 to 1000. -1 when it is not one.
int ParseFrameRate(const char* text);

// The text --help prints, and the one line --version prints.
const char* UsageText();
const char* VersionText();
