// What the user asked of the platform, on the command line and in the environment. main reads
// both once, into this record, and hands it over before anything of the platform starts; no part
// of the platform reads the environment for itself.
#pragma once

#include <chrono>
#include <string>

struct PlatformOptions {
    // Frames a second the window's timers may tick at: -1 follows the display, 0 has no limit.
    int frameRateCap = -1;
    bool vsync = true;       // false: present frames without waiting for the display (benchmarks)
    bool glInfo = false;     // say the OpenGL version at start, when the first frame shows, and the
                             // frames presented each second
    bool audioLog = false;   // say the sound driver and format asked for and obtained
    bool renderInfo = false; // say how long a render took to run the frames before --start
    // Where each frame drawn appends when it read the sound's level, when it was shown and what it
    // read; empty: nowhere.
    std::string levelTrace;
    // Milliseconds added to the latency the sound server tells, for outputs it does not know (an
    // amplifier, a television): -1000 to 1000; a total below zero counts as zero.
    int delayMs = 0;
    // When the program started: the first frame's line counts from here.
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// Takes the options; the frame-rate cap applies to the timers at once.
void SetPlatformOptions(const PlatformOptions& options);
const PlatformOptions& GetPlatformOptions();
