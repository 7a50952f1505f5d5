#include "audio/listening.h"

#include "audio/playback.h"
#include "platform/sound/bass.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

uint32_t gRecording;
char gListenSource[1024];

namespace {

// The device number of the source named name in a fresh listing, -1 when there is none.
int DeviceOf(const char* name) {
    BASS_DEVICEINFO info{};
    for (DWORD device = 0; BASS_RecordGetDeviceInfo(device, &info); ++device)
        if (std::strcmp(info.name, name) == 0) return static_cast<int>(device);
    return -1;
}

bool IsNumber(const char* text) {
    if (!*text) return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

} // namespace

// The source is chosen by its name alone: the library's capture thread looks for it, and waits
// for it while it is missing (unplugged, or its server not started yet), so the window never waits
// on the sound server and a chosen source is never swapped for another.
uint32_t StartListening() {
    StopListening();
    FreeChannel();
    // Captured sound is measured, never played: the output device is not needed meanwhile.
    AudioShutdown();
    BASS_RecordFree();
    if (BASS_RecordInitSource(gListenSource))
        gRecording = BASS_RecordStart(44100, 2, BASS_SAMPLE_FLOAT, nullptr, nullptr);
    if (gRecording == 0) {
        std::fprintf(stderr, "vormel: cannot listen (error %d); playing the sound again\n",
                     BASS_ErrorGetCode());
        BASS_RecordFree();
        return 0;
    }
    return gRecording;
}

int32_t StopListening() {
    if (gRecording == 0) return 0;
    const int32_t result = BASS_ChannelStop(gRecording);
    BASS_RecordFree();
    gRecording = 0;
    return result;
}

void ToggleListening(void* window) {
    if (gRecording != 0) {
        StopListening();
        PlayAudioFile(window);
    } else {
        StartListening();
    }
}

bool FindListenSource(const char* source, char* name, uint32_t size) {
    BASS_DEVICEINFO info{};
    const bool listed = BASS_RecordGetDeviceInfo(0, &info);
    const char* found = nullptr;
    if (IsNumber(source)) {
        const unsigned long device = std::strtoul(source, nullptr, 10);
        if (listed && device <= 0xFFFF && BASS_RecordGetDeviceInfo(device, &info))
            found = info.name;
    } else if (!listed || DeviceOf(source) >= 0) {
        found = source;
    }
    if (!found || std::strlen(found) >= size) return false;
    std::memcpy(name, found, std::strlen(found) + 1);
    return true;
}

bool PrintListenSources() {
    BASS_DEVICEINFO info{};
    if (!BASS_RecordGetDeviceInfo(0, &info)) return false;
    for (DWORD device = 0; BASS_RecordGetDeviceInfo(device, &info); ++device)
        std::printf("%u %s  %s%s\n", device, info.name, info.description,
                    (info.flags & BASS_DEVICE_DEFAULT) ? "  (default)" : "");
    return true;
}
