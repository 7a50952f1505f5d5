// The library's recording calls: the sources the server offers, the choice of one, and the one
// recording, whose capture runs in a Recorder. Recording shares nothing with playback but the
// handle counter, so a recording handle never equals a channel's.
//
// Locks: `lock` guards the choice, the recording and the last listing. A recorder is stopped (its
// thread joined) outside the lock, so a proc that calls into the library never waits for it.
#include "platform/sound/bass.h"

#include "platform/sound/audio_log.h"
#include "platform/sound/library.h"
#include "platform/sound/pulse_client.h"
#include "platform/sound/recorder.h"
#include "platform/sound/recording.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace sound;

namespace {

constexpr DWORD kRate = 44100;

struct Listing {
    std::vector<SourceEntry> sources;
    std::string defaultMonitor;
};

struct Recording {
    std::mutex lock;
    Listing listing;
    bool initialised = false;
    std::string source; // empty: the monitor of the default output
    std::unique_ptr<Recorder> recorder;
    DWORD handle = 0;
};

Recording& Rec() {
    // Never destroyed, as the playback table: a recorder's thread may outlive static destruction.
    static Recording* recording = new Recording;
    return *recording;
}

// Asks the server for its sources; an empty listing when no server answers.
Listing ListSources() {
    Listing listing;
    PulseClient client;
    std::string why;
    if (!client.Connect(&why) || !client.ListSources(&listing.sources)) return {};
    client.DefaultMonitor(&listing.defaultMonitor);
    return listing;
}

// Under the lock: the recorder of handle, or null.
Recorder* Find(Recording& r, DWORD handle) {
    return handle != 0 && handle == r.handle ? r.recorder.get() : nullptr;
}

// Takes the recorder out of the table, to be stopped outside the lock.
std::unique_ptr<Recorder> TakeRecorder(Recording& r) {
    r.handle = 0;
    return std::move(r.recorder);
}

} // namespace

namespace sound {

bool RecordingLevel(DWORD handle, DWORD* level) {
    Recording& r = Rec();
    std::lock_guard<std::mutex> guard(r.lock);
    Recorder* recorder = Find(r, handle);
    if (!recorder) return false;
    *level = recorder->Ended() ? Fail(BASS_ERROR_NOPLAY, DWORD{0xFFFFFFFF})
                               : Succeed(static_cast<DWORD>(recorder->Peak()));
    return true;
}

bool RecordingActive(DWORD handle, DWORD* state) {
    Recording& r = Rec();
    std::lock_guard<std::mutex> guard(r.lock);
    Recorder* recorder = Find(r, handle);
    if (!recorder) return false;
    *state = recorder->Ended()       ? BASS_ACTIVE_STOPPED
             : recorder->Capturing() ? BASS_ACTIVE_PLAYING
                                     : BASS_ACTIVE_STALLED;
    Succeed(0);
    return true;
}

bool StopRecording(DWORD handle, BOOL* result) {
    Recording& r = Rec();
    std::unique_ptr<Recorder> doomed;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        Recorder* recorder = Find(r, handle);
        if (!recorder) return false;
        // Its own thread would wait for itself; a proc ends its recording by returning FALSE.
        if (recorder->OnCaptureThread()) {
            *result = Fail(BASS_ERROR_ALREADY, FALSE);
            return true;
        }
        doomed = TakeRecorder(r);
    }
    doomed.reset();
    *result = Succeed(TRUE);
    return true;
}

} // namespace sound

BOOL BASS_RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
    if (!info) return Fail(BASS_ERROR_ILLPARAM, FALSE);
    Recording& r = Rec();
    // The question goes to the server without the lock: a server that hangs delays only this.
    Listing fresh;
    if (device == 0) fresh = ListSources();
    std::lock_guard<std::mutex> guard(r.lock);
    if (device == 0) r.listing = std::move(fresh);
    if (device >= r.listing.sources.size()) return Fail(BASS_ERROR_DEVICE, FALSE);
    const SourceEntry& source = r.listing.sources[device];
    info->name = source.name.c_str();
    info->description = source.description.c_str();
    info->flags = BASS_DEVICE_ENABLED;
    if (source.monitor) info->flags |= BASS_DEVICE_LOOPBACK;
    if (source.name == r.listing.defaultMonitor) info->flags |= BASS_DEVICE_DEFAULT;
    return Succeed(TRUE);
}

BOOL BASS_RecordInit(int device) {
    Recording& r = Rec();
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.initialised) return Fail(BASS_ERROR_ALREADY, FALSE);
    if (device < -1 || device >= static_cast<int>(r.listing.sources.size()))
        return Fail(BASS_ERROR_DEVICE, FALSE);
    r.source = device < 0 ? std::string() : r.listing.sources[device].name;
    r.initialised = true;
    return Succeed(TRUE);
}

BOOL BASS_RecordInitSource(const char* source) {
    Recording& r = Rec();
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.initialised) return Fail(BASS_ERROR_ALREADY, FALSE);
    r.source = source ? source : "";
    r.initialised = true;
    return Succeed(TRUE);
}

BOOL BASS_RecordFree() {
    Recording& r = Rec();
    std::unique_ptr<Recorder> doomed;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        if (!r.initialised) return Fail(BASS_ERROR_INIT, FALSE);
        if (r.recorder && r.recorder->OnCaptureThread()) return Fail(BASS_ERROR_ALREADY, FALSE);
        r.initialised = false;
        r.source.clear();
        doomed = TakeRecorder(r);
    }
    doomed.reset();
    return Succeed(TRUE);
}

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user) {
    if ((freq != 0 && freq != kRate) || (chans != 1 && chans != 2))
        return Fail(BASS_ERROR_FORMAT, HRECORD{0});
    if ((flags & ~BASS_SAMPLE_FLOAT) != 0) return Fail(BASS_ERROR_ILLPARAM, HRECORD{0});
    Recording& r = Rec();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.initialised) return Fail(BASS_ERROR_INIT, HRECORD{0});
    if (r.recorder) return Fail(BASS_ERROR_ALREADY, HRECORD{0});
    const HRECORD handle = NextChannelHandle();
    r.recorder = std::make_unique<Recorder>(
        Recorder::Settings{r.source, static_cast<int>(chans), proc, user, handle});
    r.handle = handle;
    return Succeed(handle);
}

BOOL BASS_RecordGetSource(BASS_DEVICEINFO* info) {
    // The caller's own copy: the recorder may change its source at any moment.
    thread_local std::string name, description;
    if (!info) return Fail(BASS_ERROR_ILLPARAM, FALSE);
    Recording& r = Rec();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.recorder) return Fail(BASS_ERROR_INIT, FALSE);
    if (!r.recorder->Source(&name, &description)) return Fail(BASS_ERROR_NOTAVAIL, FALSE);
    info->name = name.c_str();
    info->description = description.c_str();
    info->flags = BASS_DEVICE_ENABLED | (r.source.empty() ? BASS_DEVICE_DEFAULT : 0);
    return Succeed(TRUE);
}
