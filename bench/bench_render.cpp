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
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct Measure {
    bool ok = false;
    double seconds = 0;      // wall time
    std::vector<long> rssKb; // the resident memory, every 100 ms
    long Peak() const { return rssKb.empty() ? 0 : *std::max_element(rssKb.begin(), rssKb.end()); }
    // The resident memory when the part done of the run was `part`.
    long At(double part) const {
        return rssKb.empty() ? 0 : rssKb[static_cast<size_t>(part * (rssKb.size() - 1))];
    }
};

// VmRSS of a process, in KB. (Its rusage would count the memory of this process too: the child
// shares it until it executes the program.)
long ResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

std::string Program() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/')) + "/../vormel";
}

// Runs the program with args, its output thrown away, and times it. With info, the program also
// tells what it measures of itself (VORMEL_RENDER_INFO), and *info holds its standard error.
Measure Run(std::vector<std::string> args, std::string* info = nullptr) {
    args.insert(args.begin(), {Program(), "--render"});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries = {"VORMEL_RENDER_INFO=1"};
    for (char** e = environ; *e; ++e)
        entries.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : entries)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string errors = "/tmp/bench_render-" + std::to_string(getpid()) + ".txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (info)
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    Measure m;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), info ? envp.data() : environ) ==
        0) {
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (const long kb = ResidentKb(pid)) m.rssKb.push_back(kb);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    if (info) {
        std::ifstream in(errors);
        info->assign(std::istreambuf_iterator<char>(in), {});
        std::remove(errors.c_str());
    }
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
    std::printf("%-24s %6.0f frames in %6.2f s: %5.2fx real time, %5.2f ms a frame, "
                "memory %ld MB at most\n",
                what, frames, m.seconds, seconds / m.seconds, 1000 * m.seconds / frames,
                m.Peak() / 1024);
}

int Speed(const std::string& song, double seconds) {
    const Measure hd = Run({song, "--size", "1280x720", "--fps", "30", "--y4m", "-"});
    const Measure view = Run({song, "--size", "712x512", "--fps", "30", "--y4m", "-"});
    // Skipping: the render of the last second times the frames before it, which it runs unseen.
    // The quickest of three: the machine's other work only ever adds to it.
    const std::string last = std::to_string(seconds - 1);
    bool skipped = true;
    long long frames = 0;
    double fastest = 1e300;
    for (int i = 0; i < 3; ++i) {
        std::string info;
        const Measure t = Run({song, "--size", "1280x720", "--fps", "30", "--start", last,
                               "--seconds", "1", "--y4m", "-"},
                              &info);
        double ms = 0;
        skipped = skipped && t.ok &&
                  std::sscanf(info.c_str(), "vormel: %lld frames run unseen in %lf ms", &frames,
                              &ms) == 2 &&
                  frames > 0;
        fastest = std::min(fastest, ms);
    }
    if (!hd.ok || !view.ok || !skipped) {
        std::fprintf(stderr, "bench_render: a render failed\n");
        return 1;
    }
    ReportSpeed("720p30 y4m", hd, seconds, 30);
    ReportSpeed("712x512 at 30 fps y4m", view, seconds, 30);
    std::printf("--start: %.1f us a skipped frame (%lld frames skipped)\n",
                1e3 * fastest / static_cast<double>(frames), frames);
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
    std::printf("memory over the 10 minutes: %ld MB at 10%%, %ld MB at 50%%, %ld MB at 95%%\n",
                ten.At(0.1) / 1024, ten.At(0.5) / 1024, ten.At(0.95) / 1024);
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
