// A Wayland compositor with the layer shell, for the wallpaper's tests: Debian's sway, headless,
// drawing with pixman, with two outputs side by side (HEADLESS-1 at the left, HEADLESS-2 at its
// right) on its own grey and no wallpaper of its own. sway refuses to run as root, so under root it
// runs as the unprivileged user nobody, in a runtime folder of its own that nobody owns; the tests
// reach it as its clients whoever they run as.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kSwayOutputWidth = 1280;
inline constexpr int kSwayOutputHeight = 720;
// What sway shows where nothing is: a quarter grey, 63 in each channel.
inline constexpr int kSwayDesktopGrey = 63;

class Sway {
  public:
    Sway();
    ~Sway();
    Sway(const Sway&) = delete;
    Sway& operator=(const Sway&) = delete;
    bool running() const { return pid_ > 0; }
    // The variables a client of it needs.
    std::vector<std::string> Environment() const;
    // What an output ("HEADLESS-2") shows: RGB bytes, top row first, through grim.
    bool Screenshot(const char* output, int* width, int* height, std::vector<uint8_t>* rgb) const;
    // One of sway's own commands, as swaymsg sends it ("focus output HEADLESS-2").
    bool Command(const std::string& command) const;

  private:
    bool Run(const std::vector<std::string>& words) const;

    int pid_ = 0;
    std::string folder_;
    std::string socket_;
};
