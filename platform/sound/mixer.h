// The mixer: the only work the device callback does. It adds every playing channel's ring into the
// output, records each channel's levels and notices when a channel's last frame has been consumed.
// It never decodes, allocates, does file I/O or takes a lock; the threads that change what it plays
// wait for it instead.
#pragma once

#include "platform/sound/channel.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <semaphore>

namespace sound {

class Mixer {
  public:
    // Device thread: fills out with frames stereo frames, the first of which is heard at heardAt
    // (steady-clock nanoseconds; the render device's meters ignore it).
    void Mix(float* out, size_t frames, int64_t heardAt);

    // Starts mixing channel, which lives in table slot slot.
    void Add(int slot, Channel* channel);
    // Stops mixing whatever slot holds. On return no pass uses that channel any more, so it may be
    // destroyed.
    void Remove(int slot);

    // Blocks until a channel has ended (or Wake is called). One wake per ending.
    void AwaitEnding() { endings_.acquire(); }
    void Wake() { endings_.release(); }

  private:
    // Adds one channel; true when it has ended.
    bool MixChannel(Channel& channel, float* out, size_t frames, int64_t heardAt);

    std::array<std::atomic<Channel*>, kMaxChannels> playing_{};
    // Odd while a pass runs: how Remove knows when a channel it took out is no longer in use.
    std::atomic<uint64_t> passes_{0};
    std::counting_semaphore<> endings_{0};
};

} // namespace sound
