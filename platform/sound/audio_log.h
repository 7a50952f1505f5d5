// The library's diagnostics on stderr, asked for with VORMEL_AUDIO_LOG (the platform's options):
// what the recording captures and obtained, and once a second the level the program reads.
#pragma once

#include <cstdint>

namespace sound {

bool AudioLog();
// With the log on, and at most once a second: "vormel: level <left> <right>" of a level word.
void LogLevel(uint32_t level);

// With the log on, "vormel: compensating N ms of output latency" whenever the latency an output or
// a recording makes up for changes. Outputs whose figure moves with each buffer (a sound server's)
// note it as it comes; what is told is each second's mean, once it has moved by 5 ms or more.
class LatencyLog {
  public:
    // A figure, in nanoseconds, noted at now (steady-clock nanoseconds).
    void Note(int64_t latency, int64_t now);
    // A figure that holds until told otherwise: told at once when it is news.
    void Tell(int64_t latency);

  private:
    int64_t sum_ = 0;
    int64_t count_ = 0;
    int64_t secondStart_ = 0;
    int64_t told_ = -1; // milliseconds; -1: nothing told yet
};

} // namespace sound
