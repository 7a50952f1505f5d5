// Arbitrary bytes for the picture loader's header check: it reads only the bytes it is given, and
// a size it accepts is one the loader can weigh against its limits.
#include "platform/glview/image_header.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImageHeader header;
    if (ReadImageHeader(data, size, &header) != HeaderResult::Read) return 0;
    // Every format stores its sides in at most 31 bits.
    constexpr int64_t kLargestSide = 0x7FFFFFFF;
    if (header.width < 1 || header.height < 1 || header.width > kLargestSide ||
        header.height > kLargestSide)
        std::abort();
    return 0;
}
