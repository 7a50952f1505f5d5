// Start-up: the main window and its children, OpenGL, the skin, the default sound, the frame timer
// and the message loop; everything the program does while its window lives is driven from there.
#pragma once

#include "platform/glview/porvane.h"
#include "platform/os/window.h"

#include <cstdint>
#include <string>

inline constexpr int ID_GLCTRL = -100;
inline constexpr int ID_LABEL = -102;
inline constexpr int ID_TRACKBAR = -103;
inline constexpr int ID_CLOCK = -104;
inline constexpr uint32_t ID_FRAMETIMER = static_cast<uint32_t>(-107);
inline constexpr int ID_IMAGE = -108;

extern WindowHandle gMainWnd;
extern WindowHandle gGlCtrl;        // the OpenGL view
extern WindowProc gGlCtrlOldProc;   // the view's own procedure, behind our subclass
extern std::string gResourceFolder; // the executable's folder followed by "Resource/"
extern GLFontRecord gGlFont;

// The help label's text: CR LF ends a line, "&&" shows as one ampersand.
extern const char kHelpText[];

// What StartUp returns when the window is up and the message loop is to run.
inline constexpr int kKeepRunning = -1;

// The program's whole life on the user-interface thread: start-up, the message loop, the end.
// file, when not null, plays instead of the default sound; with listen the scene follows what the
// desktop plays (gListenSource) from the start; show is how the window first shows (Normal,
// FullScreen or Wallpaper), on monitor (-1: the primary one). Returns the exit code.
int VormelMain(const char* file, bool listen = false, WindowMode show = WindowMode::Normal,
               int monitor = -1);
// Start-up up to the frame timer: kKeepRunning, or the exit code when start-up ended early (a
// second copy, no display, no such monitor, no skin…) after releasing what it had taken.
int StartUp(const char* file, bool listen = false, WindowMode show = WindowMode::Normal,
            int monitor = -1);
// Runs the message loop, then releases the sound and the single-instance claim; the exit code.
int RunUntilQuit();
// Asks the copy that runs on this display to end, as its close button would: 0 once it was asked,
// 1 with a line when none runs or it does not answer.
int QuitRunningCopy();
