// The command line: `vormel [OPTION]... [FILE]`. The original program took no arguments; these are
// what a desktop program on Linux is expected to understand.
#pragma once

#include <string>

struct CommandLine {
    bool help = false;
    bool version = false;
    std::string file;  // the sound to play instead of the default one, made absolute; empty: none
    int fps = -1;      // --fps N: frames a second at most, 0 for no limit; -1 when not given
    std::string error; // why the command line was refused; empty when it was understood
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// A number of frames a second as --fps and VORMEL_FPS take it: 0 to 1000. -1 when it is not one.
int ParseFrameRate(const char* text);

// The text --help prints, and the one line --version prints.
const char* UsageText();
const char* VersionText();
