// The one sound the program plays: the audio library is started once, the file named in
// gAudioFile opens as a tracker module or a stream by its extension, and at its end the channel is
// released so that the next frame opens the same file again — the sound loops while the window is
// open.
#pragma once

#include "platform/sound/bass.h"

#include <atomic>
#include <cstdint>

// Path of the file to play: up to the platform's path limit, 4095 bytes, and a terminating zero.
extern char gAudioFile[4096];
// The channel that plays now, 0 when none. The end callback clears it on the library's thread.
extern std::atomic<uint32_t> gChannel;
// 1 when gChannel came from BASS_MusicLoad, 0 from BASS_StreamCreateFile.
extern std::atomic<int32_t> gChannelIsModule;
// What BASS_Init returned; 0 while the library is not started.
extern int32_t gAudioStarted;

// Starts the library if it is not started; returns gAudioStarted.
int32_t AudioInit(void* window);
// Frees the library if it is started; returns BASS_Free's result, or 0.
int32_t AudioShutdown();
// Frees gChannel with the call that matches its kind; returns the free's result, or 0 when nothing
// was open.
int32_t FreeChannel();
// Frees what plays, opens gAudioFile and starts it; returns BASS_ChannelPlay's result, or 0.
int32_t PlayAudioFile(void* window);
// The end-of-channel sync: releases the channel that ended.
void ChannelEndSync(HSYNC handle, DWORD channel, DWORD data, void* user);
