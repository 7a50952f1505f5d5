#include "platform/sound/level_trace.h"

#include "platform/os/options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

struct Trace {
    std::FILE* file = nullptr;
    bool given_up = false;
    double readMs = 0;
    uint32_t reading = 0;
};

Trace gTrace;

double MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The file, opened at the first frame; null when no trace is asked for or it cannot be written.
std::FILE* TraceFile() {
    if (gTrace.file || gTrace.given_up) return gTrace.file;
    const char* path = GetPlatformOptions().levelTrace.c_str();
    gTrace.given_up = true;
    if (!*path) return nullptr;
    gTrace.file = std::fopen(path, "a");
    if (!gTrace.file) {
        std::fprintf(stderr, "vormel: cannot write the level trace %s: %s\n", path,
                     std::strerror(errno));
        return nullptr;
    }
    gTrace.given_up = false;
    return gTrace.file;
}

} // namespace

void TraceLevelRead(uint32_t reading) {
    if (!TraceFile()) return;
    gTrace.readMs = MonotonicMs();
    gTrace.reading = reading;
}

void TraceFrameShown() {
    std::FILE* file = TraceFile();
    if (!file) return;
    const double shownMs = MonotonicMs();
    // Each line goes out whole at once, so a reader following the file sees only whole lines.
    if (std::fprintf(file, "%.3f %.3f %u %u\n", gTrace.readMs, shownMs, gTrace.reading & 0xFFFF,
                     gTrace.reading >> 16) < 0 ||
        std::fflush(file) != 0) {
        std::fprintf(stderr, "vormel: the level trace %s cannot be written: %s; it stops here\n",
                     GetPlatformOptions().levelTrace.c_str(), std::strerror(errno));
        std::fclose(file);
        gTrace.file = nullptr;
        gTrace.given_up = true;
    }
}
