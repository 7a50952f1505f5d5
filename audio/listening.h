// Listening: instead of playing a file, the scene follows what the desktop plays. The audio
// library records the monitor of the default output (or a source chosen by name), and the
// recording stands in gChannel's place for the level reading. While listening no file plays and
// none is reopened; the sound device for playback is not even open.
#pragma once

#include <cstdint>

// The recording while listening (the scene follows what the desktop plays), 0 otherwise. Touched
// by the user-interface thread only.
extern uint32_t gRecording;
// The sound server's name of the source to listen to; empty: the default output's monitor.
extern char gListenSource[1024];

// Frees what plays, releases the playback device, and records gListenSource, waiting for it while
// it is missing; returns gRecording (0 when the recording cannot start: then the last file plays
// again).
uint32_t StartListening();
// Ends the recording; returns what BASS_ChannelStop returned, or 0 when not listening.
int32_t StopListening();
// The L key: from listening to playing gAudioFile again, or from playing to listening.
void ToggleListening(void* window);

// SOURCE as the command line takes it: a source's name or its number in the server's list. Writes
// the name into name (size bytes); false when the server lists no such source. With no server to
// ask, a name is taken as it is and a number is refused.
bool FindListenSource(const char* source, char* name, uint32_t size);
// The server's sources, one a line with its number, name and description, the default marked;
// false when no server answers.
bool PrintListenSources();
