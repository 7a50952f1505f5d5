// Decoding ahead: one thread of the library keeps every channel's ring full, so the mixer always
// finds decoded frames waiting and never has to decode itself.
#pragma once

#include "platform/sound/channel.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace sound {

// Decodes into channel's ring until the ring is full or the source ends; returns the frames added.
// Only one thread may decode a channel at a time.
size_t DecodeAhead(Channel& channel);

class Decoder {
  public:
    ~Decoder() { Stop(); }
    void Start();
    void Stop();

    // Hands channel, which lives in table slot slot, to the decoder thread.
    void Add(int slot, Channel* channel);
    // Takes slot's channel back; waits for a pass that may be decoding it.
    void Remove(int slot);

  private:
    void Run();

    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::array<Channel*, kMaxChannels> channels_{};
    std::thread thread_;
};

} // namespace sound
