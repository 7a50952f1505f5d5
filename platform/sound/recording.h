// The recording as the channel calls see it: BASS_ChannelGetLevel, BASS_ChannelIsActive and
// BASS_ChannelStop ask here first, since a recording handle works wherever a channel's does.
#pragma once

#include "platform/sound/bass.h"

namespace sound {

// Each is false, changing nothing, when handle is not the recording.
bool RecordingLevel(DWORD handle, DWORD* level);
bool RecordingActive(DWORD handle, DWORD* state);
bool StopRecording(DWORD handle, BOOL* result);

} // namespace sound
