// Where mixed sound goes. Device 1 (and -1) is the default output: through the sound server with
// libpulse where one answers (it tells how long the sound takes to be heard), otherwise through
// SDL's default output device, opened for 44.1 kHz float stereo, whose callback runs the mixer. A
// driver asked of SDL by name (SDL_AUDIODRIVER, other than a sound server's) is SDL's. Device 0 is
// "no sound": a thread of ours runs the mixer at the pace of real time and discards the result, so
// channels still advance, show levels and end without a sound card. The render device starts
// nothing: its caller runs the mixer. Each pass tells the mixer when its first frame will be heard:
// the output's latency plus the correction the user asked for (--delay), never less than nothing.
// Open and Close are called under the library's lifecycle lock.
#pragma once

#include "platform/sound/mixer.h"
#include "platform/sound/paced_mixing.h"
#include "platform/sound/server_output.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace sound {

class Output {
  public:
    ~Output() { Close(); }
    // Starts output for device and keeps it running; returns BASS_OK or the library error code.
    int Open(int device, Mixer* mixer);
    // Stops output; on return the mixer is not running and will not run again.
    void Close();
    // Stops the no-sound clock and the server's output only; touches no SDL device.
    void StopClock();

    // SDL's device thread: one pass of the mixer into the device's buffer.
    void MixForDevice(float* out, size_t frames);

  private:
    // Returns BASS_OK, or the error code with the cause in *why.
    int OpenDevice(std::string* why);

    // The last start of the sound device: its result, the driver asked for, and when.
    struct Attempt {
        int error = 0;
        std::string driver;
        std::chrono::steady_clock::time_point when;
    };
    Attempt lastStart_;
    // The cause of the failure last told on stderr; empty while the device works.
    std::string reported_;

    Mixer* mixer_ = nullptr;
    // The user's correction, and for SDL's device the one buffer it holds ahead of what plays
    // (all SDL tells of its latency), in nanoseconds.
    int64_t delay_ = 0;
    // Set once the device is open, read by SDL's thread, which SDL starts before it.
    std::atomic<int64_t> deviceLatency_{0};
    uint32_t device_ = 0; // SDL's device id, 0 when none is open
    bool audioSubsystem_ = false;
    ServerOutput server_;
    std::thread clock_;
    PacedMixing paced_;
};

} // namespace sound
