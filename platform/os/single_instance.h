// One copy of the program per user and display. The first copy claims a name; a second start
// finds it taken, hands its request (raise the window, play this file, listen, go full screen,
// end) to the first copy and ends.
//
// The name is an abstract-namespace Unix socket made of the given name, the user id and the
// display the program shows on. Such a socket lives exactly as long as the process that bound
// it, so a copy that crashed or was killed never leaves a stale name behind.
//
// Start-up uses it in this order:
//   if (!ClaimSingleInstance("QGL_VORMEL")) switch (HandToRunningCopy("QGL_VORMEL", ...)) ...
//   ... create the main window ...
//   ListenForOtherCopies(mainWindow);
//   ... run the message loop ...
//   ReleaseSingleInstance();
//
// What travels over the socket, a second copy to the first, one request per connection:
//   4 bytes   "VRML"
//   2 bytes   the layout's version, kHandOverVersion, little-endian
//   2 bytes   the request, little-endian: kHandOverPlay, kHandOverListen or kHandOverQuit; a play
//             or a listen may add kHandOverFullScreen
//   4 bytes   length n of the request's text, little-endian; 0 when there is none
//   n bytes   the text, no terminator, any byte but NUL: the absolute path of a file to play, or
//             the name of a source to listen to (none: the default output's monitor)
// then the sender shuts its side down. The first copy answers once its window has obeyed the
// request, and closes:
//   1 byte    kHandOverAck
//   4 bytes   what the window answered, signed, little-endian: for a file, whether it plays
//             (0: it does not)
//   4 bytes   length m of the window's line about it, little-endian; 0 for none
//   m bytes   the line, without "vormel: " and without an end of line
// A window that is closing obeys nothing, and the request is closed unanswered. Anything else
// (wrong magic, another version, a request it does not know, a text longer than kHandOverMaxPath,
// fewer or more bytes than announced, a client not done within kHandOverReadTimeoutMs, a peer of
// another user) is dropped whole and the connection closed without an answer.
//
// The version names the layout and changes only when a copy could misread the bytes. New requests
// are new numbers, which an older copy refuses whole (an older copy neither ends nor goes full
// screen when asked to, and is not told half of a request); the answer grew behind its first
// byte, which is all that older copies send and read: a bare kHandOverAck is an obeyed request
// with nothing to say.
#pragma once

#include "platform/os/window.h"

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr char kHandOverMagic[4] = {'V', 'R', 'M', 'L'};
inline constexpr uint16_t kHandOverVersion = 2;
inline constexpr uint16_t kHandOverPlay = 1;   // raise the window; play the file, if any
inline constexpr uint16_t kHandOverListen = 2; // raise the window and listen to the source
inline constexpr uint16_t kHandOverQuit = 3;   // end, as the window's close button would
inline constexpr uint16_t kHandOverRequestMask = 0x00FF;
inline constexpr uint16_t kHandOverFullScreen = 0x0100; // and show full screen
inline constexpr size_t kHandOverHeaderSize = 12;
inline constexpr size_t kHandOverMaxPath = 4095; // PATH_MAX less its terminator
inline constexpr uint8_t kHandOverAck = 0x06;
inline constexpr size_t kHandOverAnswerHeaderSize = 9;
inline constexpr size_t kHandOverMaxLine = 8192;   // a path and what is wrong with it
inline constexpr int kHandOverReadTimeoutMs = 500; // for the whole request, not per read
// How long a later copy waits for the running copy to take its request, from its first try: a
// copy that is stopped, hangs, or is not Vormel at all does not hold a start up for longer.
inline constexpr int kHandOverWaitMs = 5000;

// The socket's name in the abstract namespace, its leading zero byte included: the given name,
// the user id and the display, e.g. "\0QGL_VORMEL.1000.:0". The display is named by its number,
// and by its host when it has one, however DISPLAY spells it (":1", ":01", ":1.0" and "unix:1"
// are one display); a Wayland display by its socket's path.
std::string SingleInstanceAddress(const char* name);

// Binds the name. True when this process is now the first copy, and also when the name cannot be
// made at all (no socket support): then the program runs as if alone. False only when another
// process holds the name. Calling it again while the name is held returns true.
bool ClaimSingleInstance(const char* name);

// How a request handed to the running copy went.
enum class HandOver {
    Obeyed,      // the running copy's window did it; the answer says how it went
    StartHere,   // nobody to hand it to: this process should start after all
    NoAnswer,    // a copy holds the name but did not answer within kHandOverWaitMs
    Refused,     // it kept closing the connection unanswered (an older copy, say, that does not
                 // know the request, or a window that went on closing) for kHandOverWaitMs
    Interrupted, // SIGTERM, SIGINT or SIGHUP came while this process waited
};

// What the running copy's window answered to an obeyed request.
struct HandOverAnswer {
    int32_t result = 1; // 0: it could not (a file that does not play)
    std::string line;   // what it said about it; may be empty
};

// In a copy whose claim failed: asks the copy holding the name to restore and raise its window and
// to do the request: kHandOverPlay with a file to play as if it had been dropped on the window
// (null or empty: only the raise), kHandOverListen with the name of a source (null or empty: the
// default output's monitor), either with kHandOverFullScreen; or kHandOverQuit, which does not
// raise the window. A relative path is made absolute against this process's working folder; a
// path that would then pass kHandOverMaxPath bytes is left out, as a drop of such a path is
// ignored. The answer, when not null, receives the window's answer.
//
// Waits, trying again every millisecond, while the first copy has claimed the name but does not
// listen yet, or refuses (its window closing), or does not answer; never longer than
// kHandOverWaitMs in all, and not at all once SIGTERM, SIGINT or SIGHUP comes.
//
// StartHere when the first copy ended before it took the request (this process then holds the
// name, as ClaimSingleInstance would have given it), and when the name is held by a process of
// another user, which is never told anything.
HandOver HandToRunningCopy(const char* name, uint16_t request, const char* text,
                           HandOverAnswer* answer = nullptr);

// In the first copy, once its main window exists: takes requests of later copies on a thread of
// its own, reading every connection at once, each within its own kHandOverReadTimeoutMs, so idle
// ones hold no real request up. The message loop obeys the requests one at a time: the window is
// restored if minimised, raised and given focus, and hears WM_COPYDATA with the request in wParam
// and its text, and with a reply where it may put a line for the copy that asked; what it returns
// is the answer's result. A quit is answered, then the window hears WM_CLOSE, as from its close
// button.
// When the window is destroyed the copy stops listening and gives the name up, before anything
// handed to it could be lost: a start from then on opens a window of its own.
// False when this process holds no name (or listens already, or the thread cannot start).
bool ListenForOtherCopies(WindowHandle mainWindow);

// Stops listening and gives the name up; a later start is then the first copy. Safe to call when
// nothing was claimed, and more than once.
void ReleaseSingleInstance();
