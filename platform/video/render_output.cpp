#include "platform/video/render_output.h"

#include <unistd.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

void AskToStop(int signal) {
    gStopSignal = signal;
}

} // namespace

bool RenderOutput::Open(const RenderTargets& targets) {
    targets_ = targets;
    if (!targets.y4m.empty() && (!video_.Open(targets.y4m) ||
                                 !y4m_.Start(&video_, targets.width, targets.height, targets.fps)))
        return Fail(video_.Error());
    if (!targets.pngFolder.empty() && !png_.Start(targets.pngFolder, targets.width, targets.height))
        return Fail(png_.Error());
    if (!targets.wav.empty() && (!sound_.Open(targets.wav) || !wav_.Start(&sound_)))
        return Fail(sound_.Error());
    return true;
}

void RenderOutput::TakeFrame(const uint8_t* rgba, int width, int height) {
    if (failed()) return;
    if (width != targets_.width || height != targets_.height) {
        Fail("the view is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels, not the size asked for");
        return;
    }
    if (!targets_.y4m.empty() && !y4m_.WriteFrame(rgba)) {
        Fail(video_.Error());
        return;
    }
    if (!targets_.pngFolder.empty() && !png_.WriteFrame(rgba, number_)) Fail(png_.Error());
}

void RenderOutput::TakeSound(const float* frames, size_t count) {
    if (!failed() && !targets_.wav.empty() && !wav_.Write(frames, count)) Fail(sound_.Error());
}

bool RenderOutput::Finish() {
    if (failed()) return false;
    if (!targets_.y4m.empty() && !video_.Finish()) return Fail(video_.Error());
    if (!targets_.wav.empty() && (!wav_.Complete() || !sound_.Finish()))
        return Fail(sound_.Error());
    return true;
}

bool RenderOutput::Fail(const std::string& error) {
    if (error_.empty()) error_ = error;
    video_.Discard();
    sound_.Discard();
    return false;
}

void PrepareRenderProcess() {
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int RenderStopSignal() {
    return gStopSignal;
}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}
