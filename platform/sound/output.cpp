#include "platform/sound/output.h"

#include "platform/os/options.h"
#include "platform/sound/audio_log.h"
#include "platform/sound/bass.h"
#include "platform/sound/level_meter.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace sound {

namespace {

// About 11.6 ms per callback: levels follow the sound closely without waking the device too often.
constexpr Uint16 kDeviceFrames = 512;
// How long a failed start of the sound device is remembered.
constexpr auto kFailureMemory = std::chrono::seconds(10);
// How long a start waits for the sound server's first answer: about a frame. A local server
// answers in a millisecond or two, and one that is not there at once; a server that takes longer
// is played through anyway, once it answers.
constexpr auto kServerPatience = std::chrono::milliseconds(15);

void SDLCALL DeviceCallback(void* output, Uint8* stream, int bytes) {
    size_t frames = static_cast<size_t>(bytes) / (kSamplesPerFrame * sizeof(float));
    static_cast<Output*>(output)->MixForDevice(reinterpret_cast<float*>(stream), frames);
}

// Whether the default output is the sound server's: when SDL is asked for no driver by name, or
// for a sound server's.
bool ServerFirst(const std::string& driver) {
    return driver.empty() || driver.rfind("pulse", 0) == 0 || driver.rfind("pipewire", 0) == 0;
}

// With the log on, the latency an output compensates, when it does not change.
void TellLatency(int64_t latency) {
    LatencyLog log;
    log.Tell(latency);
}

// Asked for, says which device format was asked for and which was obtained.
void LogFormat(const SDL_AudioSpec& wanted, const SDL_AudioSpec& obtained) {
    if (!AudioLog()) return;
    std::fprintf(stderr,
                 "audio: driver %s, asked %d Hz %d ch %d frames, got %d Hz %d ch %d frames\n",
                 SDL_GetCurrentAudioDriver(), wanted.freq, wanted.channels, wanted.samples,
                 obtained.freq, obtained.channels, obtained.samples);
}

// Asked for, says that a start of the device failed, at every real attempt.
void LogFailure(const SDL_AudioSpec& wanted) {
    if (!AudioLog()) return;
    const char* driver = SDL_GetCurrentAudioDriver();
    std::fprintf(stderr, "audio: driver %s, asked %d Hz %d ch %d frames, failed: %s\n",
                 driver ? driver : "none", wanted.freq, wanted.channels, wanted.samples,
                 SDL_GetError());
}

// ALSA's library reports every failed probe of a missing sound card on stderr itself, eight lines
// at each of our attempts. Our own line says it once; its chatter stays for the sound log.
// The library is the one SDL loads, so its error handler is set before SDL opens it, and it stays
// loaded so the handler stays set.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
    static bool done = false;
    if (done || AudioLog()) return;
    done = true;
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set) set(QuietAlsaError);
}

} // namespace

int Output::Open(int device, Mixer* mixer) {
    mixer_ = mixer;
    delay_ = int64_t{GetPlatformOptions().delayMs} * 1000000;
    // The render device's time is its caller's: nothing runs the mixer but BASS_RenderMix.
    if (device == BASS_DEVICE_RENDER) return BASS_OK;
    if (device == 0) {
        paced_.Rearm();
        clock_ = std::thread(
            [this] { paced_.Run(mixer_, std::chrono::steady_clock::time_point::max(), delay_); });
        TellLatency(delay_);
        return BASS_OK;
    }
    // The program retries a failed start on every frame. On a machine without sound, SDL's probe
    // of its drivers takes about 100 ms, so a failure is answered from memory for a while, unless
    // the driver asked for has changed since; the sound server is asked again with SDL.
    const char* hint = SDL_GetHint(SDL_HINT_AUDIODRIVER);
    std::string driver = hint ? hint : "";
    auto now = std::chrono::steady_clock::now();
    if (lastStart_.error != BASS_OK && driver == lastStart_.driver &&
        now - lastStart_.when < kFailureMemory)
        return lastStart_.error;
    if (ServerFirst(driver) &&
        server_.Start(mixer, delay_, kServerPatience) != ServerOutput::Verdict::NoServer) {
        if (AudioLog()) std::fprintf(stderr, "audio: playing through the sound server\n");
        lastStart_ = {BASS_OK, driver, now};
        return BASS_OK;
    }
    std::string why;
    int error = OpenDevice(&why);
    // One line while the device keeps failing; another only once it has worked in between, or
    // fails for another reason.
    if (error != BASS_OK && why != reported_)
        std::fprintf(stderr, "vormel: no sound: %s\n", why.c_str());
    reported_ = error != BASS_OK ? why : std::string();
    lastStart_ = {error, driver, now};
    return error;
}

int Output::OpenDevice(std::string* why) {
    SilenceAlsa();
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = kDeviceFrames;
    wanted.callback = DeviceCallback;
    wanted.userdata = this;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        LogFailure(wanted);
        *why = std::string("no sound driver could be started: ") + SDL_GetError();
        return BASS_ERROR_DRIVER;
    }
    audioSubsystem_ = true;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the hardware takes, so the mixer always sees
    // 44.1 kHz float stereo.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device_ == 0) {
        LogFailure(wanted);
        const char* driver = SDL_GetCurrentAudioDriver();
        *why = std::string("the sound device of ") + (driver ? driver : "SDL") +
               " could not be opened: " + SDL_GetError();
        Close();
        return BASS_ERROR_DEVICE;
    }
    LogFormat(wanted, obtained);
    const int64_t latency = int64_t{obtained.samples} * 1000000000 / std::max(obtained.freq, 1);
    deviceLatency_.store(latency, std::memory_order_relaxed);
    TellLatency(latency + delay_);
    SDL_PauseAudioDevice(device_, 0);
    return BASS_OK;
}

// The buffer being filled is heard once the one the device plays now has been.
void Output::MixForDevice(float* out, size_t frames) {
    const int64_t now = SteadyNow();
    const int64_t latency = deviceLatency_.load(std::memory_order_relaxed);
    mixer_->Mix(out, frames, now + std::max<int64_t>(latency + delay_, 0));
}

void Output::StopClock() {
    server_.Stop();
    if (!clock_.joinable()) return;
    paced_.Stop();
    clock_.join();
}

void Output::Close() {
    StopClock();
    if (device_ != 0) SDL_CloseAudioDevice(device_);
    device_ = 0;
    if (audioSubsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audioSubsystem_ = false;
}

} // namespace sound
