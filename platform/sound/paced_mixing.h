// The mixer at the pace of real time where no device runs it: each 10 ms block is mixed when its
// time has come, measured from the start so that rounding in the waits never adds up to drift, and
// thrown away. Channels advance, show their levels and end as if a sound card played them. The
// no-sound device runs it for good; the sound server's output between its tries.
#pragma once

#include "platform/sound/mixer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sound {

class PacedMixing {
  public:
    // Mixes until until, or until Stop; false when stopped. Each block is heard as it is mixed,
    // plus delay (nanoseconds; never before it is mixed).
    bool Run(Mixer* mixer, std::chrono::steady_clock::time_point until, int64_t delay);
    // Any thread: ends the Run under way, and every later one, until Rearm.
    void Stop();
    void Rearm();

  private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
};

} // namespace sound
