// Listening's latency: from a sound entering the monitored output to the level the program reads.
// A private pulseaudio (the tests' own) with a null sink; a writer plays silence into it in small
// blocks and, now and then, 50 ms of a loud tone; the reader asks BASS_ChannelGetLevel of a
// recording every half millisecond until the tone shows. Measured from two moments: when the
// player handed the tone to the server (an upper bound: it includes the player's own queue), and
// when the server said the tone would be played (the write plus what it still had queued; a
// monitor hears the output as it mixes, a little before that).
//   build/bench/bench_listen [ROUNDS]
#include "platform/sound/bass.h"
#include "support/sound_server.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRate = 44100;
constexpr int kBlockFrames = 128; // about 3 ms: the writer's own share of the latency is small
constexpr double kAmplitude = 0.5;

std::atomic<int64_t> gWritten{0}; // when the tone's first block was handed to the server, ns
std::atomic<int64_t> gEntered{0}; // when the server said it would play it, ns; 0 while silent
std::atomic<bool> gStop{false};
std::atomic<bool> gLoud{false};

int64_t Nanoseconds(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

void Write(pa_simple* player) {
    std::vector<float> silence(2 * kBlockFrames, 0.0f), tone(2 * kBlockFrames);
    for (int i = 0; i < kBlockFrames; ++i)
        tone[2 * i] = tone[2 * i + 1] =
            static_cast<float>(kAmplitude * std::sin(2 * M_PI * 441.0 * i / kRate));
    bool wasLoud = false;
    int loudBlocks = 0;
    while (!gStop.load()) {
        const bool loud = gLoud.load() && loudBlocks < 50 * kRate / 1000 / kBlockFrames;
        if (loud && !wasLoud) {
            int error = 0;
            const pa_usec_t queued = pa_simple_get_latency(player, &error);
            const int64_t now = Nanoseconds(Clock::now());
            gWritten.store(now);
            gEntered.store(now + static_cast<int64_t>(queued) * 1000);
        }
        loudBlocks = loud ? loudBlocks + 1 : (gLoud.load() ? loudBlocks : 0);
        wasLoud = loud;
        int error = 0;
        if (pa_simple_write(player, loud ? tone.data() : silence.data(),
                            sizeof(float) * tone.size(), &error) < 0)
            return;
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
    SoundServer server({"speakers"});
    if (!server.Start()) return 1;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.tlength = 4 * kBlockFrames * 8;
    int error = 0;
    pa_simple* player = pa_simple_new(nullptr, "bench_listen", PA_STREAM_PLAYBACK, "speakers",
                                      "tone", &spec, nullptr, &attr, &error);
    if (!player) {
        std::fprintf(stderr, "bench_listen: cannot play: %s\n", pa_strerror(error));
        return 1;
    }
    std::thread writer(Write, player);
    BASS_RecordInit(-1);
    const HRECORD recording = BASS_RecordStart(44100, 2, BASS_SAMPLE_FLOAT, nullptr, nullptr);
    while (BASS_ChannelIsActive(recording) != BASS_ACTIVE_PLAYING)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(500ms);

    std::vector<double> library, fromWrite, frame;
    const double frameMs = 1000.0 / 60;
    for (int round = 0; round < rounds; ++round) {
        gEntered.store(0);
        gLoud.store(true);
        while (gEntered.load() == 0)
            std::this_thread::sleep_for(100us);
        while ((BASS_ChannelGetLevel(recording) & 0xFFFF) < 32768 * kAmplitude / 2)
            std::this_thread::sleep_for(500us);
        const double ms = (Nanoseconds(Clock::now()) - gEntered.load()) / 1e6;
        library.push_back(ms);
        fromWrite.push_back((Nanoseconds(Clock::now()) - gWritten.load()) / 1e6);
        // A frame every 1/60 s reads the level at the first frame after it shows; over rounds the
        // frames' phase is spread evenly.
        const double phase = frameMs * ((round * 0.618034) - std::floor(round * 0.618034));
        frame.push_back(phase + frameMs * std::ceil((ms - phase) / frameMs));
        gLoud.store(false);
        std::this_thread::sleep_for(300ms);
    }
    gStop.store(true);
    writer.join();
    pa_simple_free(player);
    BASS_RecordFree();
    std::sort(library.begin(), library.end());
    std::printf("latency from the output to the level read, %d rounds:\n", rounds);
    std::printf("  from the player's write, read as it comes   median %5.1f ms\n",
                Median(fromWrite));
    std::printf(
        "  from the server's play time, as it comes    median %5.1f ms  (min %.1f, max %.1f)\n",
        Median(library), library.front(), library.back());
    std::printf("  from the server's play time, frames at 60 Hz median %5.1f ms\n", Median(frame));
    return 0;
}
