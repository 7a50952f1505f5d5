#include "app/render_video.h"

#include "app/startup.h"
#include "audio/level.h"
#include "audio/playback.h"
#include "platform/os/clock.h"
#include "platform/os/options.h"
#include "platform/video/render_output.h"
#include "render/frame_render.h"
#include "render/gl_setup.h"
#include "render/projection.h"
#include "scene/frame_clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint64_t kSampleRate = 44100;
constexpr uint64_t kBytesPerSampleFrame = 8; // the audio library's lengths: float stereo

// --- Virtual time -------------------------------------------------------------------------------

// The virtual clock: its counter counts frames, fps a second, so every frame step is exactly one
// frame long, however long the frame took to draw.
int64_t gVirtualFrame;
int gFramesPerSecond = 60;

int VirtualFrequency(int64_t* frequency) {
    *frequency = gFramesPerSecond;
    return 1;
}
int VirtualCounter(int64_t* count) {
    *count = gVirtualFrame;
    return 1;
}
uint32_t VirtualMilliseconds() {
    return static_cast<uint32_t>(gVirtualFrame * 1000 / gFramesPerSecond);
}
void NoSleep(uint32_t) {} // time passes from frame to frame, and only then

const ClockFunctions kVirtualClock = {VirtualFrequency, VirtualCounter, VirtualMilliseconds,
                                      NoSleep};

// The sound's position, in 44.1 kHz frames, at which frame is heard.
uint64_t SampleOf(int64_t frame) {
    return static_cast<uint64_t>(frame) * kSampleRate / static_cast<uint64_t>(gFramesPerSecond);
}

// --- The view -----------------------------------------------------------------------------------

intptr_t RenderWindowProc(WindowHandle window, const Message& message) {
    return DefWindowProc(window, message);
}

// A window that nobody sees, the size of the picture, with the OpenGL view filling it; its
// projection is set as a resize sets it.
bool OpenView(int width, int height) {
    gMainWnd = CreateMainWindow("Vormel", width, height, RenderWindowProc);
    if (gMainWnd == nullptr) return false;
    gGlCtrl = CreateChildWindow(kGlControlClass, gMainWnd, ID_GLCTRL, 0, 0, width, height);
    if (gGlCtrl == nullptr) return false;
    gResourceFolder = ResourceFolder();
    SetupOpenGL();
    ResizeView(gGlCtrl);
    return true;
}

// --- The sound ----------------------------------------------------------------------------------

// The sound opens as on start-up, on the library's render device, whose time is the render's.
bool StartSound(const std::string& file) {
    if (file.size() >= sizeof gAudioFile) {
        std::fprintf(stderr, "vormel: the path of the sound is too long: %.60s…\n", file.c_str());
        return false;
    }
    std::memcpy(gAudioFile, file.c_str(), file.size() + 1);
    gAudioStarted = BASS_Init(BASS_DEVICE_RENDER, 44100, 0, nullptr, nullptr);
    if (gAudioStarted == 0) {
        std::fprintf(stderr, "vormel: the sound library cannot start (error %d)\n",
                     BASS_ErrorGetCode());
        return false;
    }
    // The library says on stderr why a file cannot be played.
    PlayAudioFile(gMainWnd);
    return gChannel.load() != 0;
}

// The frame before which the sound, played once from frame 0, is heard to end: the first whose
// moment lies past its last sample. 0 when the sound does not tell its length.
int64_t SoundEndFrame() {
    const QWORD bytes = BASS_ChannelGetLength(gChannel.load(), BASS_POS_BYTE);
    if (bytes == ~QWORD{0}) return 0;
    const uint64_t samples = bytes / kBytesPerSampleFrame;
    const uint64_t fps = static_cast<uint64_t>(gFramesPerSecond);
    return static_cast<int64_t>(((samples + 1) * fps + kSampleRate - 1) / kSampleRate);
}

// --- Frames -------------------------------------------------------------------------------------

// A frame that is not drawn: RenderFrame's steps that touch no OpenGL, in its order, so the scene
// (its random draws, schedules and particles) is where a drawn frame would have left it.
void SimulateFrame() {
    KeepSoundLooping();
    UpdateAudioLevel();
    AdvanceScene();
    gSceneStarted = -1;
}

// Frames done, speed against real time and time left, on one line of a terminal that rewrites
// itself four times a second, and once more at the end.
class Progress {
  public:
    Progress(int64_t first, int64_t end)
        : on_(StandardErrorIsTerminal()), first_(first), end_(end), start_(Clock::now()),
          shown_(start_) {}
    ~Progress() {
        if (!any_) return;
        Print(done_);
        std::fputc('\n', stderr);
    }
    void Show(int64_t frame) {
        done_ = frame;
        const auto now = Clock::now();
        if (!on_ || now - shown_ < std::chrono::milliseconds(250)) return;
        shown_ = now;
        any_ = true;
        Print(frame);
    }

  private:
    using Clock = std::chrono::steady_clock;

    void Print(int64_t frame) const {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        const double done = static_cast<double>(frame - first_);
        const double speed = elapsed > 0 ? done / gFramesPerSecond / elapsed : 0;
        std::fprintf(stderr, "\rvormel: frame %lld", static_cast<long long>(frame));
        if (end_ > first_) {
            const double left =
                speed > 0 ? static_cast<double>(end_ - frame) / (speed * gFramesPerSecond) : 0;
            std::fprintf(stderr, " of %lld, %.2fx real time, %d:%02d left  ",
                         static_cast<long long>(end_), speed, static_cast<int>(left) / 60,
                         static_cast<int>(left) % 60);
        } else {
            std::fprintf(stderr, ", %.2fx real time  ", speed);
        }
    }

    bool on_;
    bool any_ = false;
    int64_t first_;
    int64_t end_;
    int64_t done_ = 0;
    Clock::time_point start_;
    Clock::time_point shown_;
};

struct Span {
    int64_t first = 0; // the first frame written
    int64_t end = -1;  // the frame after the last; -1: the frame at which the sound has ended
};

// With VORMEL_RENDER_INFO=1, once the frames before --start have run unseen: how many, and how
// long they took (bench_render reads it).
void ReportUnseenFrames(int64_t frames, std::chrono::steady_clock::time_point since) {
    if (frames <= 0 || !GetPlatformOptions().renderInfo) return;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
    std::fprintf(stderr, "vormel: %lld frames run unseen in %.3f ms\n",
                 static_cast<long long>(frames), ms);
}

// Runs frames 0 to span.end, drawing and writing from span.first on. Before each frame the sound
// is mixed up to the moment the frame shows, so its level and its end are those of that moment.
// Returns the exit code.
int RunFrames(const Span& span, RenderOutput* output) {
    std::vector<float> sound(2 * (kSampleRate / static_cast<uint64_t>(gFramesPerSecond) + 1));
    const bool once = span.end < 0;
    const int64_t known = once ? SoundEndFrame() : span.end;
    Progress progress(span.first, known);
    const auto started = std::chrono::steady_clock::now();
    for (int64_t frame = 0;; ++frame) {
        if (const int signal = RenderStopSignal()) return 128 + signal;
        if (frame > 0) {
            const auto count = static_cast<DWORD>(SampleOf(frame) - SampleOf(frame - 1));
            BASS_RenderMix(sound.data(), count);
            if (frame > span.first) output->TakeSound(sound.data(), count);
        }
        if (frame == span.end || (once && gChannel.load() == 0)) {
            if (frame > span.first) return 0;
            std::fprintf(stderr, "vormel: --start is past the end of the sound\n");
            return 1;
        }
        gVirtualFrame = frame;
        gFrameStep = FrameClockElapsed();
        if (frame < span.first) {
            SimulateFrame();
            continue;
        }
        if (frame == span.first) ReportUnseenFrames(frame, started);
        output->SetFrameNumber(frame);
        RenderFrame();
        if (output->failed()) return 1;
        progress.Show(frame + 1);
    }
}

} // namespace

int RenderVideo(const std::string& file, const RenderOptions& options) {
    // First: a reader that has gone away must not kill the process while the header goes out.
    PrepareRenderProcess();
    RenderOutput output;
    RenderTargets targets{options.y4m,   options.pngFolder, options.wav,
                          options.width, options.height,    options.fps};
    if (!output.Open(targets)) {
        std::fprintf(stderr, "vormel: %s\n", output.Error().c_str());
        return 1;
    }
    gFramesPerSecond = options.fps;
    gVirtualFrame = 0;
    SetClockFunctions(&kVirtualClock);
    if (RegisterOffscreenPorvaneClass() == 0) {
        std::fprintf(stderr, "vormel: no OpenGL to render with\n");
        return 99;
    }
    if (!OpenView(options.width, options.height) || !SetFrameSink(gGlCtrl, &output)) {
        std::fprintf(stderr, "vormel: no OpenGL view of %d x %d pixels to render into\n",
                     options.width, options.height);
        return 99;
    }
    int exitCode = 1;
    if (StartSound(file)) {
        Span span;
        span.first = std::lrint(options.start * options.fps);
        if (options.seconds >= 0) span.end = span.first + std::lrint(options.seconds * options.fps);
        exitCode = RunFrames(span, &output);
    }
    if (exitCode == 0 && !output.Finish()) exitCode = 1;
    if (output.failed()) std::fprintf(stderr, "vormel: %s\n", output.Error().c_str());
    if (exitCode > 128) std::fprintf(stderr, "vormel: the render was stopped\n");
    SetFrameSink(gGlCtrl, nullptr);
    FreeChannel();
    AudioShutdown();
    return exitCode;
}
