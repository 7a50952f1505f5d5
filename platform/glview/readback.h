// Reading back what the view drew and what the window showed, for tests and diagnostics. Frames
// never call these; they save and restore every GL state they touch.
#pragma once

#include "platform/os/window.h"

#include <cstdint>
#include <vector>

// RGBA bytes, top row first.
struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

// The view's own picture: its framebuffer, at the size of its client area.
bool ReadViewPixels(WindowHandle glControl, PixelImage* image);

// While kept, every QI_UpdateGLWindow copies the composed window before presenting it, and
// ReadPresentedPixels returns the last copy (the whole drawable area of the window).
void KeepPresentedFrames(WindowHandle window, bool keep);
bool ReadPresentedPixels(WindowHandle window, PixelImage* image);
