// Our audio library: the BASS_* calls the program makes, with the arguments it makes them with.
// Output goes through SDL audio (44.1 kHz float stereo); streams decode through libsndfile,
// modules through libopenmpt. Decoding runs ahead on a thread of the library into lock-free rings;
// the device callback only mixes from the rings and records levels. End syncs run on one thread
// dedicated to them. Every call is safe from any thread, in any order, with any handle: a freed or
// unknown handle makes the call fail without harm.
#pragma once

#include <cstdint>

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HMUSIC = DWORD;
using HSYNC = DWORD;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

// A sync callback: sync handle, channel handle, data, the user pointer given to
// BASS_ChannelSetSync.
using SYNCPROC = void(HSYNC handle, DWORD channel, DWORD data, void* user);

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
inline constexpr int BASS_ERROR_FILEFORM = 41;
inline constexpr int BASS_ERROR_ENDED = 45;
inline constexpr int BASS_ERROR_UNKNOWN = -1;

// Starts output. device 1 (or -1) is the default output device; device 0 is "no sound": channels
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
// 0 to 32768. (DWORD)-1 when the handle is not a playing channel. On the render device the 20 ms
// are exactly those that BASS_RenderMix mixed last, sample by sample.
DWORD BASS_ChannelGetLevel(DWORD handle);
// The length of the decoded sound in bytes of 44.1 kHz float stereo (8 bytes a frame), mode
// BASS_POS_BYTE; (QWORD)-1 when it is not known before the sound has played.
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
// Render device only: mixes the next `frames` stereo frames of every playing channel into out
// (2 * frames floats; null discards them), decoding on the calling thread, and returns once the
// end syncs of the channels that ended within them have run. Returns frames, or (DWORD)-1 when
// the library is not started on the render device.
DWORD BASS_RenderMix(float* out, DWORD frames);
// The error code of the calling thread's last call.
int BASS_ErrorGetCode();
