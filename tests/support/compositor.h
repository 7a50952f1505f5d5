// A Wayland compositor of the test's own: weston on its X11 backend, as one window at the top of
// the test's X server (its headless backend has no seat, which SDL needs). What the X server's user
// does (pointer, keys) reaches weston's clients through that window, and what they draw can be
// read back from the X server's screen.
#pragma once

#include <string>

inline constexpr unsigned char kDesktopColour[3] = {255, 0, 255};
// Its one output, at the top left of the X server's screen. It leaves a strip below it, where the
// pointer waits while weston starts: weston follows the X server's pointer only once it has seen
// it come in.
inline constexpr int kOutputWidth = 1280;
inline constexpr int kOutputHeight = 1000;

class Compositor {
  public:
    // On $DISPLAY (a screen larger than the output), with a magenta desktop (kDesktopColour) and no
    // panel, so that a client's window stands out, whatever its colours.
    Compositor();
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;
    bool running() const { return pid_ > 0; }
    // The values of WAYLAND_DISPLAY and XDG_RUNTIME_DIR for its clients.
    const std::string& display() const { return socket_; }
    const std::string& runtimeFolder() const { return folder_; }
    // Ends it abruptly, as a crash would.
    void Kill();

  private:
    int pid_ = 0;
    std::string folder_;
    std::string socket_;
};
