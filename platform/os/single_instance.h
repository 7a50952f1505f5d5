// One copy of the program per user and display. The first copy claims a name; a second start
// finds it taken, hands its request (raise the window, play this file) to the first copy and ends.
//
// The name is an abstract-namespace Unix socket made of the given name, the user id and the
// display the program shows on. Such a socket lives exactly as long as the process that bound
// it, so a copy that crashed or was killed never leaves a stale name behind.
//
// Start-up uses it in this order:
//   if (!ClaimSingleInstance("QGL_VORMEL") && HandToRunningCopy("QGL_VORMEL", file)) return 0;
//   ... create the main window ...
//   ListenForOtherCopies(mainWindow);
//   ... run the message loop ...
//   ReleaseSingleInstance();
//
// What travels over the socket, a second copy to the first, one request per connection:
//   4 bytes   "VRML"
//   2 bytes   the protocol's version, kHandOverVersion, little-endian
//   2 bytes   the request, little-endian: kHandOverPlay or kHandOverListen
//   4 bytes   length n of the request's text, little-endian; 0 when there is none
//   n bytes   the text, no terminator, any byte but NUL: the absolute path of a file to play, or
//   the
//             name of a source to listen to (none: the default output's monitor)
// then the sender shuts its side down. The first copy answers with the one byte kHandOverAck once
// its window has obeyed the request, and closes; a window that is closing obeys nothing, and the
// request is closed unanswered. Anything else (wrong magic, another version, a request it does
// not know, a text longer than kHandOverMaxPath, fewer or more bytes than announced, nothing
// within kHandOverReadTimeoutMs, a peer of another user) is dropped whole and the connection
// closed without an answer, so a copy of another version starts on its own rather than be
// misread.
#pragma once

#include "platform/os/window.h"

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr char kHandOverMagic[4] = {'V', 'R', 'M', 'L'};
inline constexpr uint16_t kHandOverVersion = 2;
inline constexpr uint16_t kHandOverPlay = 1;   // raise the window; play the file, if any
inline constexpr uint16_t kHandOverListen = 2; // raise the window and listen to the source
inline constexpr size_t kHandOverHeaderSize = 12;
inline constexpr size_t kHandOverMaxPath = 4095; // PATH_MAX less its terminator
inline constexpr uint8_t kHandOverAck = 0x06;
inline constexpr int kHandOverReadTimeoutMs = 500; // for the whole request, not per read

// The socket's name in the abstract namespace, its leading zero byte included: the given name,
// the user id and the display, e.g. "\0QGL_VORMEL.1000.:0".
std::string SingleInstanceAddress(const char* name);

// Binds the name. True when this process is now the first copy, and also when the name cannot be
// made at all (no socket support): then the program runs as if alone. False only when another
// process holds the name. Calling it again while the name is held returns true.
bool ClaimSingleInstance(const char* name);

// In a copy whose claim failed: asks the copy holding the name to restore and raise its window
// and, when file is neither null nor empty, to play that file as if it had been dropped on the
// window. A relative path is made absolute against this process's working folder; a path that
// would then pass kHandOverMaxPath bytes is left out, as a drop of such a path is ignored. Waits,
// trying again every millisecond, while the first copy has claimed the name but does not listen
// yet. True once the first copy has taken the request.
//
// False when this process should start after all: the first copy ended before it listened (this
// process then holds the name, as ClaimSingleInstance would have given it), the name is held by a
// process of another user, which is never told anything, or the first copy listens but keeps
// closing the connection unanswered.
bool HandToRunningCopy(const char* name, const char* file);
// The same for any request: kHandOverPlay with a file as above, or kHandOverListen with the name of
// a source (null or empty: the default output's monitor), which the first copy's main window
// receives as WM_COPYDATA.
bool HandRequestToRunningCopy(const char* name, uint16_t request, const char* text);

// In the first copy, once its main window exists: takes requests of later copies on a thread of
// its own, one connection at a time, and has the message loop obey them: the window is restored
// if minimised, raised and given focus, and a file arrives as one WM_DROPFILES holding that path,
// any other request as WM_COPYDATA with the request in wParam and its text.
// When the window is destroyed the copy stops listening and gives the name up, before anything
// handed to it could be lost: a start from then on opens a window of its own.
// False when this process holds no name (or listens already, or the thread cannot start).
bool ListenForOtherCopies(WindowHandle mainWindow);

// Stops listening and gives the name up; a later start is then the first copy. Safe to call when
// nothing was claimed, and more than once.
void ReleaseSingleInstance();
