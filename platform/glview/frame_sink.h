// Frames for files instead of a screen. While a view has a sink, QI_UpdateGLWindow reads the view's
// picture and hands it to the sink instead of composing and presenting the window, so a frame made
// for a file is drawn by exactly the calls that draw one for the screen.
#pragma once

#include "platform/os/window.h"

#include <cstdint>

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // One frame of the view: width x height RGBA pixels, bottom row first, as OpenGL reads them.
    // The pixels are valid for the call only.
    virtual void TakeFrame(const uint8_t* rgba, int width, int height) = 0;
};

// Sends the view's frames to sink from now on; null sends them to the screen again. One view at a
// time has a sink. The pixel buffer is made here, for the view's size, not at every frame. False
// when view is not an OpenGL view.
bool SetFrameSink(WindowHandle view, FrameSink* sink);

// QI_UpdateGLWindow's hook, with the view's context current: when the view has a sink, reads its
// picture into the sink, leaving every GL state as it was, and returns true.
bool SendFrameToSink(WindowHandle view);

// Makes the OpenGL view's class for drawing without a screen: SDL's offscreen video driver gives
// windows that nobody sees, with a compatibility context made through EGL (Mesa's software
// renderer where there is no GPU), whether or not a display exists. Call it before anything else
// starts SDL's video. 0 when no such context can be made.
int RegisterOffscreenPorvaneClass();
