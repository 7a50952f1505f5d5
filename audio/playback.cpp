#include "audio/playback.h"

#include <cstring>

char gAudioFile[4096];
std::atomic<uint32_t> gChannel;
std::atomic<int32_t> gChannelIsModule;
int32_t gAudioStarted;

namespace {

// Each module extension in lower case behind a dot, and a closing dot: a key ".ext." is found here
// exactly when ext is one whole extension of the list.
constexpr char kModuleExtensions[] = ".mo3.it.xm.s3m.mtm.mod.umx.";

// The key of a path: from its last dot (folder names count too) to the end, lower-cased, with a
// dot appended. Empty when the path has no dot.
void ExtensionKey(const char* path, char* key) {
    const char* dot = std::strrchr(path, '.');
    size_t length = 0;
    if (dot) {
        for (const char* c = dot; *c; ++c)
            key[length++] = (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c - 'A' + 'a') : *c;
        key[length++] = '.';
    }
    key[length] = '\0';
}

bool IsModulePath(const char* path) {
    char key[sizeof(gAudioFile) + 1];
    ExtensionKey(path, key);
    return key[0] != '\0' && std::strstr(kModuleExtensions, key) != nullptr;
}

} // namespace

int32_t AudioInit(void* window) {
    if (gAudioStarted == 0) gAudioStarted = BASS_Init(1, 44100, 0, window, nullptr);
    return gAudioStarted;
}

int32_t AudioShutdown() {
    if (gAudioStarted == 0) return 0;
    int32_t result = BASS_Free();
    gAudioStarted = 0;
    return result;
}

int32_t FreeChannel() {
    DWORD channel = gChannel.load();
    if (channel == 0) return 0;
    int32_t result =
        gChannelIsModule.load() == 1 ? BASS_MusicFree(channel) : BASS_StreamFree(channel);
    // The handle goes first: the end callback relies on the module flag not changing while
    // gChannel still names its channel.
    gChannel.store(0);
    gChannelIsModule.store(0);
    return result;
}

int32_t PlayAudioFile(void* window) {
    FreeChannel();
    if (AudioInit(window) == 0) return 0;
    if (IsModulePath(gAudioFile)) {
        gChannelIsModule.store(1);
        gChannel.store(
            BASS_MusicLoad(FALSE, gAudioFile, 0, 0, BASS_MUSIC_AUTOFREE | BASS_MUSIC_PRESCAN, 0));
    } else {
        gChannelIsModule.store(0);
        gChannel.store(BASS_StreamCreateFile(FALSE, gAudioFile, 0, 0, BASS_STREAM_AUTOFREE));
    }
    DWORD channel = gChannel.load();
    if (channel == 0) return 0;
    BASS_ChannelSetSync(channel, BASS_SYNC_END | BASS_SYNC_ONETIME, 0, ChannelEndSync, nullptr);
    return BASS_ChannelPlay(channel, FALSE);
}

// Runs on the library's sync thread. By the time it runs, the interface thread may already have
// freed the channel that ended and stored a new one in gChannel (a dropped file, or the file played
// again); releasing gChannel blindly would then stop the new sound's bookkeeping while the sound
// plays on, and the next frame would open a second copy. So only the channel that ended is
// released, and only while gChannel still names it.
//
// The module flag is read before the exchange and never written here: while gChannel names the
// channel, the flag is the one stored with it; once the exchange has cleared gChannel, the
// interface thread may at once store the flag of a new sound, which a late write here would spoil.
void ChannelEndSync(HSYNC /*handle*/, DWORD channel, DWORD /*data*/, void* /*user*/) {
    int32_t isModule = gChannelIsModule.load();
    DWORD expected = channel;
    if (!gChannel.compare_exchange_strong(expected, 0)) return;
    if (isModule == 1)
        BASS_MusicFree(channel);
    else
        BASS_StreamFree(channel);
}
