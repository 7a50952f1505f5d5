#include "platform/os/options.h"

#include "platform/os/window.h"

namespace {

// Made during static initialisation: until main hands its record over, "started" is about when
// the process began.
PlatformOptions gOptions;

} // namespace

void SetPlatformOptions(const PlatformOptions& options) {
    gOptions = options;
    SetFrameRateCap(options.frameRateCap);
}

const PlatformOptions& GetPlatformOptions() {
    return gOptions;
}
