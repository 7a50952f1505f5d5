// One open sound as the library's threads share it: its decoder, the ring that the decoder keeps
// ahead of the mixer, its level meter, and the flags that carry its life from thread to thread.
#pragma once

#include "platform/sound/bass.h"
#include "platform/sound/frame_ring.h"
#include "platform/sound/level_meter.h"
#include "platform/sound/source.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace sound {

// Channels open at once. The program holds one; the rest is room for tests and spare handles.
inline constexpr int kMaxChannels = 64;
// About 370 ms of sound decoded ahead: far more than the longest gap between decoder passes.
inline constexpr size_t kRingFrames = 16384;

struct Sync {
    HSYNC handle;
    SYNCPROC* proc;
    void* user;
};

struct Channel {
    Channel(std::unique_ptr<Source> decoder, bool module, bool freeAtEnd)
        : isModule(module), autoFree(freeAtEnd), source(std::move(decoder)), ring(kRingFrames) {}

    const bool isModule;
    const bool autoFree;
    // The length the file tells, in frames (0: not told); set before the channel is published.
    uint64_t frames = 0;

    // Used by whoever decodes: the opening thread until the channel is published, then the
    // decoder thread.
    std::unique_ptr<Source> source;
    FrameRing ring;
    // Set once every frame of the source is in the ring.
    std::atomic<bool> drained{false};

    // Filled by the mixer, read by anyone.
    LevelMeter meter;
    // Set by the mixer when it has consumed the last frame.
    std::atomic<bool> ended{false};

    // Under the library's table lock.
    DWORD handle = 0;
    bool playing = false;
    bool endHandled = false;
    std::vector<Sync> syncs;
};

} // namespace sound
