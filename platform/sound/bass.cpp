// The library's playback calls: opening, playing, measuring and freeing channels, and the render
// device's mix. The table and threads they work on are in library.h.
//
// Not offered, because the program never asks for them: opening from memory or at an offset,
// rewinding with BASS_ChannelPlay(restart TRUE) once a channel has played, sync types other than
// END, output rates other than 44.1 kHz.
#include "platform/sound/bass.h"

#include "platform/sound/audio_log.h"
#include "platform/sound/library.h"
#include "platform/sound/recording.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace sound;

namespace {

// Opens path as a stream or a module, decodes its first frames and enters it in the table.
DWORD CreateChannel(bool module, BOOL mem, const void* file, QWORD offset, QWORD length,
                    DWORD flags) {
    Library& library = Lib();
    if (mem || offset != 0 || length != 0) return Fail(BASS_ERROR_ILLPARAM, DWORD{0});
    {
        std::lock_guard<std::mutex> guard(library.table);
        if (!library.started) return Fail(BASS_ERROR_INIT, DWORD{0});
    }
    const char* path = file ? static_cast<const char*>(file) : "";
    const FileIdentity identity = IdentityOf(path);
    const auto now = FailedOpens::Clock::now();
    int error = BASS_OK;
    {
        std::lock_guard<std::mutex> guard(library.table);
        if (library.failedOpens.Refuse(path, module, identity, now, &error)) {
            Fail(error, DWORD{0});
            tErrorText = library.failedOpenText;
            return 0;
        }
    }
    std::string reason;
    auto source =
        module ? OpenModuleSource(path, &error, &reason) : OpenStreamSource(path, &error, &reason);
    std::unique_ptr<Channel> channel;
    if (source) {
        bool autoFree = (flags & (module ? BASS_MUSIC_AUTOFREE : BASS_STREAM_AUTOFREE)) != 0;
        channel = std::make_unique<Channel>(std::move(source), module, autoFree);
        // A file that opens but yields no sound (a header without data, a stream cut off before
        // its first frame) is refused now rather than ending the moment it starts.
        if (DecodeAhead(*channel) == 0) {
            error = BASS_ERROR_FILEFORM;
            reason = channel->source->Trouble();
            if (reason.empty()) reason = "it holds no sound";
        }
    }
    if (error != BASS_OK) {
        const std::string text =
            std::string("cannot play ") + (module ? "the module " : "") + path + ": " + reason;
        bool news = false;
        {
            std::lock_guard<std::mutex> guard(library.table);
            news = library.failedOpens.Failed(path, module, identity, error, now);
            library.failedOpenText = text;
        }
        if (news && *path) std::fprintf(stderr, "vormel: %s\n", text.c_str());
        Fail(error, DWORD{0});
        tErrorText = text;
        return 0;
    }

    std::lock_guard<std::mutex> guard(library.table);
    library.failedOpens.Opened(path, module);
    if (!library.started) return Fail(BASS_ERROR_INIT, DWORD{0});
    int slot = EmptySlot(library);
    if (slot < 0) return Fail(BASS_ERROR_MEM, DWORD{0});
    channel->handle = NextChannelHandle();
    channel->frames = channel->source->Frames();
    library.slots[slot] = std::move(channel);
    // On the render device the mixer's caller decodes, at the pace it mixes.
    if (library.device == BASS_DEVICE_RENDER)
        library.slots[slot]->meter.KeepExactWindow();
    else
        library.decoder.Add(slot, library.slots[slot].get());
    return Succeed(library.slots[slot]->handle);
}

// Under the table lock: act(library, slot, channel) on the live channel with this handle; failed,
// with the error said, when the library is not started or no channel has the handle.
template <typename T, typename Act> T WithChannel(DWORD handle, T failed, Act act) {
    Library& library = Lib();
    std::lock_guard<std::mutex> guard(library.table);
    if (!library.started) return Fail(BASS_ERROR_INIT, failed);
    const int slot = FindSlot(library, handle);
    if (slot < 0) return Fail(BASS_ERROR_HANDLE, failed);
    return act(library, slot, *library.slots[slot]);
}

DWORD ChannelLevel(DWORD handle) {
    constexpr DWORD kNoLevel = 0xFFFFFFFF;
    return WithChannel(handle, kNoLevel, [](Library&, int, const Channel& channel) {
        if (!channel.playing || channel.ended.load()) return Fail(BASS_ERROR_NOPLAY, kNoLevel);
        return Succeed(channel.meter.Peak());
    });
}

} // namespace

BOOL BASS_Init(int device, DWORD /*freq*/, DWORD /*flags*/, void* /*window*/,
               const void* /*clsid*/) {
    if ((device < -1 || device > 1) && device != BASS_DEVICE_RENDER)
        return Fail(BASS_ERROR_DEVICE, FALSE);
    // A sync procedure runs while the library is started, and BASS_Free waits for it.
    if (OnSyncThread()) return Fail(BASS_ERROR_ALREADY, FALSE);
    Library& library = Lib();
    std::lock_guard<std::mutex> life(library.lifecycle);
    {
        std::lock_guard<std::mutex> guard(library.table);
        if (library.started) return Fail(BASS_ERROR_ALREADY, FALSE);
    }
    // Output first: a start that fails (the program retries it every frame) creates no thread.
    int error = library.output.Open(device, &library.mixer);
    if (error != BASS_OK) return Fail(error, FALSE);
    StartThreads(library);
    std::lock_guard<std::mutex> guard(library.table);
    library.started = true;
    library.device = device;
    return Succeed(TRUE);
}

BOOL BASS_Free() {
    // BASS_Free waits for the sync thread; from a sync procedure it would wait for itself.
    if (OnSyncThread()) return Fail(BASS_ERROR_UNKNOWN, FALSE);
    Library& library = Lib();
    std::lock_guard<std::mutex> life(library.lifecycle);
    {
        std::lock_guard<std::mutex> guard(library.table);
        if (!library.started) return Fail(BASS_ERROR_INIT, FALSE);
        library.started = false;
    }
    library.syncsIdle.notify_all(); // a render mix waiting for syncs waits no more
    StopThreads(library);
    std::lock_guard<std::mutex> guard(library.table);
    for (int slot = 0; slot < kMaxChannels; ++slot) {
        library.mixer.Remove(slot);
        library.decoder.Remove(slot);
        library.slots[slot].reset();
    }
    return Succeed(TRUE);
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    return CreateChannel(false, mem, file, offset, length, flags);
}

HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                      DWORD /*freq*/) {
    return CreateChannel(true, mem, file, offset, length, flags);
}

BOOL BASS_StreamFree(HSTREAM handle) {
    return FreeHandle(handle, false);
}

BOOL BASS_MusicFree(HMUSIC handle) {
    return FreeHandle(handle, true);
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD /*param*/, SYNCPROC* proc, void* user) {
    if ((type & ~BASS_SYNC_ONETIME) != BASS_SYNC_END || !proc)
        return Fail(BASS_ERROR_ILLPARAM, HSYNC{0});
    return WithChannel(handle, HSYNC{0}, [&](Library& library, int, Channel& channel) {
        const HSYNC sync = NextHandle(&library.lastSync);
        channel.syncs.push_back({sync, proc, user});
        return Succeed(sync);
    });
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    return WithChannel(handle, FALSE, [restart](Library& library, int slot, Channel& channel) {
        if (channel.ended.load()) return Fail(BASS_ERROR_ENDED, FALSE);
        if (channel.playing) return restart ? Fail(BASS_ERROR_ILLPARAM, FALSE) : Succeed(TRUE);
        channel.playing = true;
        library.mixer.Add(slot, &channel);
        return Succeed(TRUE);
    });
}

DWORD BASS_ChannelGetLevel(DWORD handle) {
    DWORD level = 0xFFFFFFFF;
    if (!RecordingLevel(handle, &level)) level = ChannelLevel(handle);
    if (level != 0xFFFFFFFF) LogLevel(level);
    return level;
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    DWORD state = BASS_ACTIVE_STOPPED;
    if (RecordingActive(handle, &state)) return state;
    return WithChannel(handle, BASS_ACTIVE_STOPPED, [](Library&, int, const Channel& channel) {
        return Succeed(channel.playing && !channel.ended.load() ? BASS_ACTIVE_PLAYING
                                                                : BASS_ACTIVE_STOPPED);
    });
}

BOOL BASS_ChannelStop(DWORD handle) {
    BOOL result = FALSE;
    if (StopRecording(handle, &result)) return result;
    return WithChannel(handle, FALSE, [](Library& library, int slot, Channel& channel) {
        if (channel.playing) library.mixer.Remove(slot);
        channel.playing = false;
        return Succeed(TRUE);
    });
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
    constexpr QWORD kUnknown = ~QWORD{0};
    if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_ILLPARAM, kUnknown);
    return WithChannel(handle, kUnknown, [](Library&, int, const Channel& channel) {
        if (channel.frames == 0) return Fail(BASS_ERROR_UNKNOWN, kUnknown);
        return Succeed(QWORD{channel.frames * kSamplesPerFrame * sizeof(float)});
    });
}

DWORD BASS_RenderMix(float* out, DWORD frames) {
    constexpr DWORD kFailed = 0xFFFFFFFF;
    Library& library = Lib();
    std::unique_lock<std::mutex> lock(library.table);
    if (!library.started || library.device != BASS_DEVICE_RENDER)
        return Fail(BASS_ERROR_INIT, kFailed);
    for (size_t done = 0; done < frames;) {
        const size_t block = std::min<size_t>(frames - done, kRenderBlockFrames);
        float* target = out ? out + done * kSamplesPerFrame : library.renderScratch.data();
        RenderBlock(library, target, block);
        done += block;
    }
    // The sync thread takes the table lock to collect the endings, and the procedures it runs
    // may free channels; waiting releases the lock.
    library.syncsIdle.wait(lock, [&] { return !library.started || !EndingsPending(library); });
    return Succeed(frames);
}

int BASS_ErrorGetCode() {
    return tError;
}

const char* BASS_ErrorGetText() {
    return tErrorText.c_str();
}
