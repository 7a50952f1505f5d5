// The device callback's cost during a real play: plays a 30 s Ogg Vorbis stream (or as many
// seconds as the first argument says) to its end through SDL's dummy driver, then prints the
// longest and the mean time the callback spent mixing, and what decoding cost the decoder thread.
#include "platform/sound/bass.h"
#include "platform/sound/bass_stats.h"
#include "support/sound_fixtures.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex gLock;
std::condition_variable gEnded;
bool gDone = false;

void OnEnd(HSYNC, DWORD, DWORD, void*) {
    std::lock_guard<std::mutex> guard(gLock);
    gDone = true;
    gEnded.notify_all();
}

} // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    ScratchFolder folder;
    std::string path = folder.Path("music.ogg");
    if (!WriteSound(path, SoundFormat::OggVorbis, {seconds, {0.6, 0.5}, 44100, -1, 0.3})) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    if (!BASS_Init(1, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "BASS_Init failed: %d\n", BASS_ErrorGetCode());
        return 1;
    }
    ResetSoundStatistics();
    HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_AUTOFREE);
    BASS_ChannelSetSync(stream, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, OnEnd, nullptr);
    BASS_ChannelPlay(stream, FALSE);
    {
        std::unique_lock<std::mutex> guard(gLock);
        gEnded.wait(guard, [] { return gDone; });
    }
    SoundStatistics statistics{};
    GetSoundStatistics(&statistics);
    BASS_Free();

    double passes = static_cast<double>(statistics.mixPasses);
    double decodedSeconds = statistics.decodedFrames / 44100.0;
    std::printf("played %.1f s of Ogg Vorbis through the dummy driver\n", seconds);
    std::printf("callback passes: %.0f\n", passes);
    std::printf("longest callback: %.1f us\n", statistics.longestMixNanoseconds / 1e3);
    std::printf("mean callback: %.2f us\n", statistics.mixNanoseconds / 1e3 / passes);
    std::printf("decoder thread: %.4f of a core per second of audio\n",
                statistics.decodeNanoseconds / 1e9 / decodedSeconds);
    return 0;
}
