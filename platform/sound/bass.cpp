// The library's calls over its parts: a table of open channels, the mixer that the output device
// runs, the decoder thread, and the thread that runs end syncs.
//
// Locks: `lifecycle` orders BASS_Init against BASS_Free; `table` guards the table, each channel's
// syncs and play state, whether the library is started, and the memory of the last failed open. The
// order is lifecycle, table, then the decoder's own lock. The mixer takes no lock at all: whoever
// takes a channel away from it waits for its pass to finish (Mixer::Remove). The sync thread holds
// no lock while a sync procedure runs, so a procedure may call anything, including freeing its own
// channel.
//
// The render device has no clock: BASS_RenderMix runs the mixer on the caller's thread, decodes
// there what the rings lack, and waits for the sync thread to have run the end syncs that its mix
// caused, so the caller's next look at its channel sees the end.
//
// Not offered, because the program never asks for them: opening from memory or at an offset,
// rewinding with BASS_ChannelPlay(restart TRUE) once a channel has played, sync types other than
// END, output rates other than 44.1 kHz.
#include "platform/sound/bass.h"

#include "platform/sound/channel.h"
#include "platform/sound/decoder.h"
#include "platform/sound/failed_opens.h"
#include "platform/sound/mixer.h"
#include "platform/sound/output.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace sound;

// BASS_RenderMix mixes at most this much at a time, well within what a ring holds.
constexpr size_t kRenderBlockFrames = 4096;

thread_local int tError = BASS_OK;

// Sets the calling thread's error code and returns the call's result.
template <typename T> T Fail(int error, T result) {
    tError = error;
    return result;
}
template <typename T> T Succeed(T result) {
    tError = BASS_OK;
    return result;
}

struct Library {
    std::mutex lifecycle;
    std::mutex table;
    bool started = false;
    int device = 0;
    // Set while the sync thread runs procedures for endings it has collected; with the table.
    bool syncsBusy = false;
    std::condition_variable syncsIdle;
    // What the render device mixes into when its caller keeps nothing.
    std::array<float, kRenderBlockFrames * kSamplesPerFrame> renderScratch{};
    std::array<std::unique_ptr<Channel>, kMaxChannels> slots;
    // A channel's handle is its generation: the count of channels opened in this run. Never
    // reset, so no handle (nor sync handle) is given out twice and a stale one matches nothing.
    DWORD lastHandle = 0;
    HSYNC lastSync = 0;
    FailedOpens failedOpens;

    Mixer mixer;
    Decoder decoder;
    Output output;
    std::thread syncThread;
    std::atomic<std::thread::id> syncThreadId{};
    std::atomic<bool> stopSyncs{false};
};

Library& Lib() {
    // Never destroyed: when the program exits without BASS_Free, SDL's device thread may still be
    // mixing, and nothing may call SDL to stop it once static destruction has begun.
    static Library* library = new Library;
    return *library;
}

// Under the table lock: the slot of a live channel with this handle, or -1.
int FindSlot(const Library& library, DWORD handle) {
    if (handle == 0) return -1;
    for (int slot = 0; slot < kMaxChannels; ++slot)
        if (library.slots[slot] && library.slots[slot]->handle == handle) return slot;
    return -1;
}

// Under the table lock: a slot with no channel, or -1.
int EmptySlot(const Library& library) {
    for (int slot = 0; slot < kMaxChannels; ++slot)
        if (!library.slots[slot]) return slot;
    return -1;
}

// Under the table lock: the next handle; 0 is skipped should the counter ever wrap.
DWORD NextHandle(DWORD* last) {
    if (++*last == 0) ++*last;
    return *last;
}

bool OnSyncThread() {
    return Lib().syncThreadId.load() == std::this_thread::get_id();
}

// Frees the channel named by handle if it is of the kind asked for.
BOOL FreeHandle(DWORD handle, bool module) {
    Library& library = Lib();
    std::unique_ptr<Channel> doomed;
    {
        std::lock_guard<std::mutex> guard(library.table);
        if (!library.started) return Fail(BASS_ERROR_INIT, FALSE);
        int slot = FindSlot(library, handle);
        if (slot < 0 || library.slots[slot]->isModule != module)
            return Fail(BASS_ERROR_HANDLE, FALSE);
        library.mixer.Remove(slot);
        library.decoder.Remove(slot);
        doomed = std::move(library.slots[slot]);
    }
    // Closing the decoder may touch the disk; nobody else can reach the channel now.
    doomed.reset();
    return Succeed(TRUE);
}

struct DueSync {
    Sync sync;
    DWORD channel;
};

struct DueFree {
    DWORD channel;
    bool module;
};

// Under the table lock: takes the syncs and automatic frees of channels that ended since the last
// look. END syncs fire once per channel, since a channel ends once, so they all go.
void CollectEndings(Library& library, std::vector<DueSync>* syncs, std::vector<DueFree>* frees) {
    for (auto& channel : library.slots) {
        if (!channel || channel->endHandled || !channel->ended.load(std::memory_order_acquire))
            continue;
        channel->endHandled = true;
        library.syncsBusy = true;
        for (const Sync& sync : channel->syncs)
            syncs->push_back({sync, channel->handle});
        channel->syncs.clear();
        if (channel->autoFree) frees->push_back({channel->handle, channel->isModule});
    }
}

void RunSyncs(Library& library) {
    library.syncThreadId.store(std::this_thread::get_id());
    std::vector<DueSync> syncs;
    std::vector<DueFree> frees;
    for (;;) {
        library.mixer.AwaitEnding();
        if (library.stopSyncs.load()) return;
        {
            std::lock_guard<std::mutex> guard(library.table);
            CollectEndings(library, &syncs, &frees);
        }
        for (const DueSync& due : syncs)
            due.sync.proc(due.sync.handle, due.channel, 0, due.sync.user);
        // A procedure may have freed its channel already; then this free just fails.
        for (const DueFree& due : frees)
            FreeHandle(due.channel, due.module);
        syncs.clear();
        frees.clear();
        {
            std::lock_guard<std::mutex> guard(library.table);
            library.syncsBusy = false;
        }
        library.syncsIdle.notify_all();
    }
}

// Under the table lock: a channel has ended and its syncs have not run yet.
bool EndingsPending(const Library& library) {
    if (library.syncsBusy) return true;
    for (const auto& channel : library.slots)
        if (channel && !channel->endHandled && channel->ended.load(std::memory_order_acquire))
            return true;
    return false;
}

// Under the table lock, render device: mixes frames frames into out, first decoding into each
// playing channel's ring what it lacks. Nothing else decodes or mixes on this device.
void RenderBlock(Library& library, float* out, size_t frames) {
    for (auto& channel : library.slots)
        if (channel && channel->playing && !channel->ended.load()) DecodeAhead(*channel);
    library.mixer.Mix(out, frames);
}

void StartThreads(Library& library) {
    library.decoder.Start();
    library.stopSyncs.store(false);
    library.syncThread = std::thread([&library] { RunSyncs(library); });
}

void StopThreads(Library& library) {
    library.output.Close();
    if (library.syncThread.joinable()) {
        library.stopSyncs.store(true);
        library.mixer.Wake();
        library.syncThread.join();
        library.syncThreadId.store(std::thread::id());
    }
    library.decoder.Stop();
}

// A program that exits without BASS_Free must not leave our threads decoding while static
// destruction takes their libraries away. They stop without a call to SDL; a device that is still
// open goes on mixing the empty table until the process ends.
struct StopAtExit {
    ~StopAtExit() {
        Library& library = Lib();
        library.output.StopClock();
        if (library.syncThread.joinable()) {
            library.stopSyncs.store(true);
            library.mixer.Wake();
            library.syncThread.join();
        }
        library.decoder.Stop();
        for (int slot = 0; slot < kMaxChannels; ++slot)
            library.mixer.Remove(slot);
    }
} gStopAtExit;

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
        if (library.failedOpens.Refuse(path, module, identity, now, &error))
            return Fail(error, DWORD{0});
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
            reason = "it holds no sound";
        }
    }
    if (error != BASS_OK) {
        bool news = false;
        {
            std::lock_guard<std::mutex> guard(library.table);
            news = library.failedOpens.Failed(path, module, identity, error, now);
        }
        if (news && *path)
            std::fprintf(stderr, "vormel: cannot play %s%s: %s\n", module ? "the module " : "",
                         path, reason.c_str());
        return Fail(error, DWORD{0});
    }

    std::lock_guard<std::mutex> guard(library.table);
    library.failedOpens.Opened(path, module);
    if (!library.started) return Fail(BASS_ERROR_INIT, DWORD{0});
    int slot = EmptySlot(library);
    if (slot < 0) return Fail(BASS_ERROR_MEM, DWORD{0});
    channel->handle = NextHandle(&library.lastHandle);
    channel->frames = channel->source->Frames();
    library.slots[slot] = std::move(channel);
    // On the render device the mixer's caller decodes, at the pace it mixes.
    if (library.device == BASS_DEVICE_RENDER)
        library.slots[slot]->meter.KeepExactWindow();
    else
        library.decoder.Add(slot, library.slots[slot].get());
    return Succeed(library.slots[slot]->handle);
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
    Library& library = Lib();
    std::lock_guard<std::mutex> guard(library.table);
    if (!library.started) return Fail(BASS_ERROR_INIT, HSYNC{0});
    int slot = FindSlot(library, handle);
    if (slot < 0) return Fail(BASS_ERROR_HANDLE, HSYNC{0});
    HSYNC sync = NextHandle(&library.lastSync);
    library.slots[slot]->syncs.push_back({sync, proc, user});
    return Succeed(sync);
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    Library& library = Lib();
    std::lock_guard<std::mutex> guard(library.table);
    if (!library.started) return Fail(BASS_ERROR_INIT, FALSE);
    int slot = FindSlot(library, handle);
    if (slot < 0) return Fail(BASS_ERROR_HANDLE, FALSE);
    Channel& channel = *library.slots[slot];
    if (channel.ended.load()) return Fail(BASS_ERROR_ENDED, FALSE);
    if (channel.playing) return restart ? Fail(BASS_ERROR_ILLPARAM, FALSE) : Succeed(TRUE);
    channel.playing = true;
    library.mixer.Add(slot, &channel);
    return Succeed(TRUE);
}

DWORD BASS_ChannelGetLevel(DWORD handle) {
    constexpr DWORD kNoLevel = 0xFFFFFFFF;
    Library& library = Lib();
    std::lock_guard<std::mutex> guard(library.table);
    if (!library.started) return Fail(BASS_ERROR_INIT, kNoLevel);
    int slot = FindSlot(library, handle);
    if (slot < 0) return Fail(BASS_ERROR_HANDLE, kNoLevel);
    const Channel& channel = *library.slots[slot];
    if (!channel.playing || channel.ended.load()) return Fail(BASS_ERROR_NOPLAY, kNoLevel);
    return Succeed(channel.meter.Peak());
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
    constexpr QWORD kUnknown = ~QWORD{0};
    if (mode != BASS_POS_BYTE) return Fail(BASS_ERROR_ILLPARAM, kUnknown);
    Library& library = Lib();
    std::lock_guard<std::mutex> guard(library.table);
    if (!library.started) return Fail(BASS_ERROR_INIT, kUnknown);
    int slot = FindSlot(library, handle);
    if (slot < 0) return Fail(BASS_ERROR_HANDLE, kUnknown);
    const QWORD frames = library.slots[slot]->frames;
    if (frames == 0) return Fail(BASS_ERROR_UNKNOWN, kUnknown);
    return Succeed(frames * kSamplesPerFrame * sizeof(float));
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
