// Where mixed sound goes. Device 1 (and -1) is SDL's default output device, opened for 44.1 kHz
// float stereo; its callback runs the mixer. Device 0 is "no sound": a thread of ours runs the
// mixer at the pace of real time and discards the result, so channels still advance, show levels
// and end without a sound card. The render device starts nothing: its caller runs the mixer.
// Open and Close are called under the library's lifecycle lock.
#pragma once

#include "platform/sound/mixer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
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
    // Stops the no-sound clock only; touches no SDL device.
    void StopClock();

  private:
    // Returns BASS_OK, or the error code with the cause in *why.
    int OpenDevice(Mixer* mixer, std::string* why);
    void RunClock();

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
    uint32_t device_ = 0; // SDL's device id, 0 when none is open
    bool audioSubsystem_ = false;
    std::thread clock_;
    std::mutex clockLock_;
    std::condition_variable clockWake_;
    bool stopClock_ = false;
};

} // namespace sound
