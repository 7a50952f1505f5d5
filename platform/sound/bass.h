// Our audio library: the BASS_* calls the program makes, with the arguments it makes them with.
// Output (44.1 kHz float stereo) goes through the sound server with libpulse where one answers,
// otherwise through SDL audio; streams decode through libsndfile,
// modules through libopenmpt. Decoding runs ahead on a thread of the library into lock-free rings;
// the device callback only mixes from the rings and records levels. End syncs run on one thread
// dedicated to them. Every call is safe from any thread, in any order, with any handle: a freed or
// unknown handle makes the call fail without harm. Recording (BASS_Record*) captures from the sound
// server through libpulse on a thread of its own, with no output device at all.
#pragma once

#include <cstdint>

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HMUSIC = DWORD;
using HSYNC = DWORD;
using HRECORD = DWORD;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

// A sync callback: sync handle, channel handle, data, the user pointer given to
// BASS_ChannelSetSync.
using SYNCPROC = void(HSYNC handle, DWORD channel, DWORD data, void* user);

// A recording callback: the recording, a block of what was captured (32-bit float samples,
// interleaved), its length in bytes, and the user pointer given to BASS_RecordStart. It runs on
// the library's capture thread; returning FALSE ends the recording.
using RECORDPROC = BOOL(HRECORD handle, const void* buffer, DWORD length, void* user);

// A source of sound that the library can record from.
struct BASS_DEVICEINFO {
    const char* name;        // the sound server's name for it ("alsa_output.pci-0000.monitor")
    const char* description; // what a person reads ("Monitor of Built-in Audio")
    DWORD flags;             // BASS_DEVICE_*
};
inline constexpr DWORD BASS_DEVICE_ENABLED = 1;
inline constexpr DWORD BASS_DEVICE_DEFAULT = 2;  // what BASS_RecordInit(-1) records now
inline constexpr DWORD BASS_DEVICE_LOOPBACK = 8; // the monitor of an output: what it plays

// BASS_ChannelIsActive.
inline constexpr DWORD BASS_ACTIVE_STOPPED = 0;
inline constexpr DWORD BASS_ACTIVE_PLAYING = 1;
inline constexpr DWORD BASS_ACTIVE_STALLED = 2; // waiting for sound: a recording without a server

inline constexpr DWORD BASS_SAMPLE_FLOAT = 0x100;
inline constexpr DWORD BASS_MUSIC_PRESCAN = 0x20000;
inline constexpr DWORD BASS_STREAM_AUTOFREE = 0x40000;
inline constexpr DWORD BASS_MUSIC_AUTOFREE = 0x40000;
inline constexpr DWORD BASS_SYNC_END = 2;
inline constexpr DWORD BASS_SYNC_ONETIME = 0x80000000;
inline constexpr DWORD BASS_POS_BYTE = 0;

// The render device: no output and no clock of its own. Channels advance only as far as
// BASS_RenderMix mixes them, so a render in virtual time hears exactly what a listener would,
// however fast or slow the frames are drawn.
inline constexpr int BASS_DEVICE_RENDER = -2;

// Error codes of BASS_ErrorGetCode.
inline constexpr int BASS_OK = 0;
inline constexpr int BASS_ERROR_MEM = 1;
inline constexpr int BASS_ERROR_FILEOPEN = 2;
inline constexpr int BASS_ERROR_DRIVER = 3;
inline constexpr int BASS_ERROR_HANDLE = 5;
inline constexpr int BASS_ERROR_FORMAT = 6;
inline constexpr int BASS_ERROR_INIT = 8;
inline constexpr int BASS_ERROR_ALREADY = 14;
inline constexpr int BASS_ERROR_ILLPARAM = 20;
inline constexpr int BASS_ERROR_DEVICE = 23;
inline constexpr int BASS_ERROR_NOPLAY = 24;
inline constexpr int BASS_ERROR_NOTAVAIL = 37;
inline constexpr int BASS_ERROR_FILEFORM = 41;
inline constexpr int BASS_ERROR_ENDED = 45;
inline constexpr int BASS_ERROR_UNKNOWN = -1;

// Starts output. device 1 (or -1) is the default output device: the sound server's when one
// answers within a frame (or later: the start does not wait for it), unless SDL_AUDIODRIVER names
// another driver; otherwise SDL's. device 0 is "no sound": channels
// still decode and advance in real time, so levels and end syncs work without a sound card;
// BASS_DEVICE_RENDER advances them only through BASS_RenderMix. window and clsid are accepted and
// not used. Non-zero on success.
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* window, const void* clsid);
// Frees every channel and stops output. Non-zero on success.
BOOL BASS_Free();

// Opens a file (mem FALSE: file is a zero-terminated path) as a stream. Returns 0 on failure.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
// Opens a tracker module (mem FALSE: file is a zero-terminated path). Returns 0 on failure.
HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                      DWORD freq);
BOOL BASS_StreamFree(HSTREAM handle);
BOOL BASS_MusicFree(HMUSIC handle);

// Registers proc to run when the channel's end is heard; with BASS_SYNC_ONETIME it runs once.
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
// Peak levels of the 20 ms now being heard: left in the low word, right in the high word, each
// 0 to 32768. (DWORD)-1 when the handle is not a playing channel or a recording. "Heard" is at the
// listener's ears: the sound mixed is read once the output's latency (as the sound server tells
// it, or SDL's one buffer) and the correction of the platform's options (--delay) have passed;
// a recording of an output's monitor likewise once that output plays what was captured. On the
// render device the 20 ms are exactly those that BASS_RenderMix mixed last, sample by sample. A
// recording reads 0 while its source sends nothing (no server, an output that has gone idle).
DWORD BASS_ChannelGetLevel(DWORD handle);
// The length of the decoded sound in bytes of 44.1 kHz float stereo (8 bytes a frame), mode
// BASS_POS_BYTE; (QWORD)-1 when it is not known before the sound has played.
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
// Render device only: mixes the next `frames` stereo frames of every playing channel into out
// (2 * frames floats; null discards them), decoding on the calling thread, and returns once the
// end syncs of the channels that ended within them have run. Returns frames, or (DWORD)-1 when
// the library is not started on the render device.
DWORD BASS_RenderMix(float* out, DWORD frames);
// Playing channel: stops it (BASS_ChannelPlay starts it again where it stopped). Recording: ends
// it and frees its handle.
BOOL BASS_ChannelStop(DWORD handle);
// BASS_ACTIVE_PLAYING while a channel plays or a recording captures sound; BASS_ACTIVE_STALLED
// while a recording waits for its source (no sound server yet); BASS_ACTIVE_STOPPED for a channel
// that has not started or has ended, and for a freed or unknown handle.
DWORD BASS_ChannelIsActive(DWORD handle);

// Recording, from the sound server's sources (PulseAudio, or PipeWire's pulse server); it needs no
// BASS_Init, and what it captures is measured, never played. Device numbers count the sources of
// the last listing: BASS_RecordGetDeviceInfo(0, ...) asks the server again, later numbers read
// that listing. FALSE past the last source, or with no server. The strings stay valid until the
// next listing.
BOOL BASS_RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
// Chooses what to record: device -1 is the monitor of the default output, followed when the
// default output changes; another number is that source of the last listing, by its name.
// Connects nothing yet: a recording waits for its server and comes back when the server does.
BOOL BASS_RecordInit(int device);
// Chooses a source by the server's name for it (null or empty: as BASS_RecordInit(-1)) without
// asking the server anything: the recording looks for the source itself, and waits for it while
// the server is missing or does not have it.
BOOL BASS_RecordInitSource(const char* source);
// Ends the recording, if any, and forgets the choice of BASS_RecordInit.
BOOL BASS_RecordFree();
// Starts recording at freq 44100 (0: the same) with chans 1 or 2; flags 0 or BASS_SAMPLE_FLOAT
// (samples are always float). proc may be null. One recording at a time. The handle answers
// BASS_ChannelGetLevel, on the same scale and over the same 20 ms as a playing channel, and
// BASS_ChannelIsActive and BASS_ChannelStop. 0 on failure.
HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user);
// The source being recorded now (following the default output, it changes), in strings that stay
// valid until the calling thread's next call. FALSE while nothing is recorded or no server answers.
BOOL BASS_RecordGetSource(BASS_DEVICEINFO* info);

// The error code of the calling thread's last call.
int BASS_ErrorGetCode();
// The same in words, when the library has words for it: a sound that cannot be opened says which
// and why ("cannot play /music/a.ogg: ..."), as the library tells it once on standard error, and
// every time here. Empty otherwise. Valid until the calling thread's next call.
const char* BASS_ErrorGetText();
