// The command line: `vormel [OPTION]... [FILE]`. The original program took no arguments; these are
// what a desktop program on Linux is expected to understand.
#pragma once

#include <string>

struct CommandLine {
    bool help = false;
    bool version = false;
    std::string file;  // the sound to play instead of the default one, made absolute; empty: none
    std::string error; // why the command line was refused; empty when it was understood
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// The text --help prints, and the one line --version prints.
const char* UsageText();
const char* VersionText();
