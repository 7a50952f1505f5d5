// Start-up: the main window and its children, OpenGL, the default sound, the frame timer and the
// message loop; everything the program does while its window lives is driven from there.
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

// The program's whole life on the user-interface thread; returns the exit code.
int VormelMain();
