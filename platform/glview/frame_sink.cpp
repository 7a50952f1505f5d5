// The view's frames handed to a sink, and the offscreen windows a render draws in.
#include "platform/glview/frame_sink.h"

#include "platform/glview/glview_internal.h"
#include "platform/glview/porvane.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

WindowHandle gSinkView = nullptr;
FrameSink* gSink = nullptr;
std::vector<uint8_t> gPixels; // one frame, bottom row first

} // namespace

bool SetFrameSink(WindowHandle view, FrameSink* sink) {
    if (!sink) {
        gSinkView = nullptr;
        gSink = nullptr;
        std::vector<uint8_t>().swap(gPixels);
        return true;
    }
    const ViewFramebuffer* fb = ViewOf(view);
    if (!fb) return false;
    int width = 0;
    int height = 0;
    ViewPictureSize(view, *fb, &width, &height);
    gPixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    gSinkView = view;
    gSink = sink;
    return true;
}

bool SendFrameToSink(WindowHandle view) {
    if (!gSink || view != gSinkView) return false;
    const ViewFramebuffer* fb = ViewOf(view);
    if (!fb) return false;
    int width = 0;
    int height = 0;
    ViewPictureSize(view, *fb, &width, &height);
    // Grows only when the view did: a steady render reads into the same buffer every frame.
    gPixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    ReadViewPicture(*fb, width, height, gPixels.data());
    gSink->TakeFrame(gPixels.data(), width, height);
    return true;
}

int RegisterOffscreenPorvaneClass() {
    // The window system accepts SDL's offscreen driver only when it is asked for by name, so that
    // a program meant for the desktop never opens windows nobody can see.
    if (!SDL_WasInit(SDL_INIT_VIDEO)) setenv("SDL_VIDEODRIVER", "offscreen", 1);
    // The driver's shader cache stays on: with it off, the end of an EGL render trips
    // LeakSanitizer's check of the process, and a render is not a window a user waits to close.
    return RegisterViewClass();
}
