// The library's table and its threads: the end syncs run here, on a thread of their own.
//
// The render device has no clock: BASS_RenderMix runs the mixer on the caller's thread, decodes
// there what the rings lack, and waits for the sync thread to have run the end syncs that its mix
// caused, so the caller's next look at its channel sees the end.
#include "platform/sound/library.h"

#include <vector>

namespace sound {

namespace {

std::atomic<DWORD> gLastChannelHandle{0};

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

} // namespace

Library& Lib() {
    // Never destroyed: when the program exits without BASS_Free, SDL's device thread may still be
    // mixing, and nothing may call SDL to stop it once static destruction has begun.
    static Library* library = new Library;
    return *library;
}

DWORD NextChannelHandle() {
    DWORD handle = gLastChannelHandle.fetch_add(1) + 1;
    return handle != 0 ? handle : gLastChannelHandle.fetch_add(1) + 1;
}

DWORD NextHandle(DWORD* last) {
    if (++*last == 0) ++*last;
    return *last;
}

int FindSlot(const Library& library, DWORD handle) {
    if (handle == 0) return -1;
    for (int slot = 0; slot < kMaxChannels; ++slot)
        if (library.slots[slot] && library.slots[slot]->handle == handle) return slot;
    return -1;
}

int EmptySlot(const Library& library) {
    for (int slot = 0; slot < kMaxChannels; ++slot)
        if (!library.slots[slot]) return slot;
    return -1;
}

bool OnSyncThread() {
    return Lib().syncThreadId.load() == std::this_thread::get_id();
}

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

bool EndingsPending(const Library& library) {
    if (library.syncsBusy) return true;
    for (const auto& channel : library.slots)
        if (channel && !channel->endHandled && channel->ended.load(std::memory_order_acquire))
            return true;
    return false;
}

void RenderBlock(Library& library, float* out, size_t frames) {
    for (auto& channel : library.slots)
        if (channel && channel->playing && !channel->ended.load()) DecodeAhead(*channel);
    library.mixer.Mix(out, frames, 0);
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

} // namespace sound
