// What the mixer and the decoders record for the statistics of bass_stats.h.
#pragma once

#include <cstdint>

namespace sound {

void RecordMixPass(uint64_t nanoseconds);
void RecordDecode(uint64_t frames, uint64_t nanoseconds);

} // namespace sound
