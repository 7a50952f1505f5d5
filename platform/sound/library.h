// The audio library's shared state, as its calls see it: the table of open channels, the mixer
// that the output device runs, the decoder thread, and the thread that runs end syncs. The
// BASS_* calls (bass.cpp for playback, record.cpp for recording) are thin procedures over it.
//
// Locks: `lifecycle` orders BASS_Init against BASS_Free; `table` guards the table, each channel's
// syncs and play state, whether the library is started, and the memory of the last failed open. The
// order is lifecycle, table, then the decoder's own lock. The mixer takes no lock at all: whoever
// takes a channel away from it waits for its pass to finish (Mixer::Remove). The sync thread holds
// no lock while a sync procedure runs, so a procedure may call anything, including freeing its own
// channel.
#pragma once

#include "platform/sound/bass.h"
#include "platform/sound/channel.h"
#include "platform/sound/decoder.h"
#include "platform/sound/failed_opens.h"
#include "platform/sound/mixer.h"
#include "platform/sound/output.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sound {

// BASS_RenderMix mixes at most this much at a time, well within what a ring holds.
inline constexpr size_t kRenderBlockFrames = 4096;

// The calling thread's last error, for BASS_ErrorGetCode, and its words, for BASS_ErrorGetText.
inline thread_local int tError = BASS_OK;
inline thread_local std::string tErrorText;

// Sets the calling thread's error code and returns the call's result.
template <typename T> T Fail(int error, T result) {
    tError = error;
    tErrorText.clear();
    return result;
}
template <typename T> T Succeed(T result) {
    tError = BASS_OK;
    tErrorText.clear();
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
    HSYNC lastSync = 0;
    FailedOpens failedOpens;
    std::string failedOpenText; // what the remembered failure said

    Mixer mixer;
    Decoder decoder;
    Output output;
    std::thread syncThread;
    std::atomic<std::thread::id> syncThreadId{};
    std::atomic<bool> stopSyncs{false};
};

Library& Lib();

// A new handle for a channel or a recording: the count of handles given out in this run. Never
// reset, so no handle is given out twice and a stale one matches nothing, whatever its kind.
DWORD NextChannelHandle();
// Under the table lock: the next sync handle; 0 is skipped should the counter ever wrap.
DWORD NextHandle(DWORD* last);

// Under the table lock: the slot of a live channel with this handle, or -1.
int FindSlot(const Library& library, DWORD handle);
// Under the table lock: a slot with no channel, or -1.
int EmptySlot(const Library& library);

bool OnSyncThread();
// Frees the channel named by handle if it is of the kind asked for.
BOOL FreeHandle(DWORD handle, bool module);

// Under the table lock: a channel has ended and its syncs have not run yet.
bool EndingsPending(const Library& library);
// Under the table lock, render device: mixes frames frames into out, first decoding into each
// playing channel's ring what it lacks. Nothing else decodes or mixes on this device.
void RenderBlock(Library& library, float* out, size_t frames);

void StartThreads(Library& library);
void StopThreads(Library& library);

} // namespace sound
