// What `vormel --render` costs: the program beside this benchmark renders a song of music-like
// noise into a YUV4MPEG2 stream (to /dev/null, so the disk is not measured) with no display.
//
//   bench_render [SECONDS]        720p at 30 fps: speed against real time and time per frame; the
//                                 same at the on-screen view's size (712 x 512) for bench_frames;
//                                 what --start costs per frame it skips; the largest memory used
//   bench_render --long           the same memory figure over a 10-minute song against a 1-minute
//                                 one: memory is flat when the two are alike
#include "support/sound_fixtures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Measure {
    bool ok = false;
    double seconds = 0; // wall time
    long maxRssKb = 0;
};

std::string Program() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/')) + "/../vormel";
}

// Runs the program with args, its output thrown away, and times it.
Measure Run(std::vector<std::string> args) {
    args.insert(args.begin(), {Program(), "--render"});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Measure m;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        m.maxRssKb = usage.ru_maxrss;
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return m;
}

// A song: a tone and noise through the Vorbis encoder, so decoding costs what music costs.
bool WriteSong(const std::string& path, double seconds) {
    Signal song;
    song.seconds = seconds;
    song.amplitudes = {0.6, 0.5};
    song.noise = 0.3;
    return WriteSound(path, SoundFormat::OggVorbis, song);
}

void ReportSpeed(const char* what, const Measure& m, double seconds, int fps) {
    const double frames = seconds * fps;
    std::printf("%-28s %6.0f frames in %6.2f s: %5.2fx real time, %6.2f ms a frame, %ld MB\n", what,
                frames, m.seconds, seconds / m.seconds, 1000 * m.seconds / frames,
                m.maxRssKb / 1024);
}

int Speed(const std::string& song, double seconds) {
    const std::string length = std::to_string(seconds);
    const Measure hd = Run({song, "--size", "1280x720", "--fps", "30", "--y4m", "-"});
    const Measure view = Run({song, "--size", "712x512", "--fps", "30", "--y4m", "-"});
    // Skipping: the last second alone against the first, the difference spread over the frames
    // that were run without being drawn.
    const std::string last = std::to_string(seconds - 1);
    const Measure head =
        Run({song, "--size", "1280x720", "--fps", "30", "--seconds", "1", "--y4m", "-"});
    const Measure tail = Run({song, "--size", "1280x720", "--fps", "30", "--start", last,
                              "--seconds", "1", "--y4m", "-"});
    if (!hd.ok || !view.ok || !head.ok || !tail.ok) {
        std::fprintf(stderr, "bench_render: a render failed\n");
        return 1;
    }
    ReportSpeed("720p30 y4m", hd, seconds, 30);
    ReportSpeed("712x512 at 30 fps y4m", view, seconds, 30);
    std::printf("--start: %.1f us a skipped frame (%.0f frames skipped)\n",
                1e6 * (tail.seconds - head.seconds) / ((seconds - 1) * 30), (seconds - 1) * 30);
    return 0;
}

int Memory(const std::string& shortSong, const std::string& longSong) {
    const Measure one = Run({shortSong, "--size", "1280x720", "--fps", "30", "--y4m", "-"});
    const Measure ten = Run({longSong, "--size", "1280x720", "--fps", "30", "--y4m", "-"});
    if (!one.ok || !ten.ok) {
        std::fprintf(stderr, "bench_render: a render failed\n");
        return 1;
    }
    ReportSpeed("720p30 y4m, 1 minute", one, 60, 30);
    ReportSpeed("720p30 y4m, 10 minutes", ten, 600, 30);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    ScratchFolder folder;
    if (argc > 1 && std::strcmp(argv[1], "--long") == 0) {
        const std::string one = folder.Path("one.ogg"), ten = folder.Path("ten.ogg");
        if (!WriteSong(one, 60) || !WriteSong(ten, 600)) return 1;
        return Memory(one, ten);
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30;
    if (!(seconds >= 2)) {
        std::fprintf(stderr, "usage: bench_render [SECONDS, 2 or more] | --long\n");
        return 2;
    }
    const std::string song = folder.Path("song.ogg");
    if (!WriteSong(song, seconds)) return 1;
    return Speed(song, seconds);
}
