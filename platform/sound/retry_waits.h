// The waits between tries at a sound server that does not answer: 1 s, 2 s, 4 s ... up to 30 s,
// and 1 s again once it has answered. The output and the recording keep one each.
#pragma once

#include <algorithm>
#include <chrono>

namespace sound {

class RetryWaits {
  public:
    std::chrono::seconds Next() {
        const std::chrono::seconds wait = next_;
        next_ = std::min(next_ * 2, kLongest);
        return wait;
    }
    void Reset() { next_ = kFirst; }

  private:
    static constexpr std::chrono::seconds kFirst{1};
    static constexpr std::chrono::seconds kLongest{30};
    std::chrono::seconds next_ = kFirst;
};

} // namespace sound
