// The library's diagnostics on stderr, asked for with VORMEL_AUDIO_LOG (the platform's options):
// what the recording captures and obtained, and once a second the level the program reads.
#pragma once

#include <cstdint>

namespace sound {

bool AudioLog();
// With the log on, and at most once a second: "vormel: level <left> <right>" of a level word.
void LogLevel(uint32_t level);

} // namespace sound
