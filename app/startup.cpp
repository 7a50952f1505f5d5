#include "app/startup.h"

#include "app/main_window.h"
#include "app/view_input.h"
#include "audio/playback.h"
#include "render/gl_setup.h"

#include <cstdio>
#include <cstring>

WindowHandle gMainWnd;
WindowHandle gGlCtrl;
WindowProc gGlCtrlOldProc;
std::string gResourceFolder;
GLFontRecord gGlFont;

namespace {

constexpr int kClientWidth = 868, kClientHeight = 532;
constexpr int kViewLeft = 10, kViewTop = 10, kViewWidth = 712, kViewHeight = 512;

void CreateView() {
    gGlCtrl = CreateChildWindow(kGlControlClass, gMainWnd, ID_GLCTRL, kViewLeft, kViewTop,
                                kViewWidth, kViewHeight);
    if (gGlCtrl != nullptr) gGlCtrlOldProc = SubclassWindow(gGlCtrl, GlCtrlSubclassProc);
    QI_SetAnchorMode(gGlCtrl, kAnchorStretch); // the view grows and shrinks with the window
}

void BuildFont() {
    std::strcpy(gGlFont.face, "Pristina");
    gGlFont.height = 14;
    gGlFont.weight = 700;
    QI_BuildGLfont(QI_GetGLDC(gGlCtrl), &gGlFont);
}

void PlayDefaultSound() {
    const std::string path = gResourceFolder + "audio.ogg";
    if (path.size() < sizeof gAudioFile) std::memcpy(gAudioFile, path.c_str(), path.size() + 1);
    PlayAudioFile(gMainWnd);
}

} // namespace

int VormelMain() {
    if (RegisterPorvaneClass() == 0) {
        std::fprintf(stderr, "vormel: no display with OpenGL to open the window on\n");
        return 99;
    }
    QI_LoadDLL(nullptr);
    gMainWnd = CreateMainWindow("Vormel", kClientWidth, kClientHeight, MainWndProc);
    if (gMainWnd == nullptr) {
        std::fprintf(stderr, "vormel: the main window could not be created\n");
        return 0;
    }
    CreateView();
    gResourceFolder = ExecutableFolder() + "Resource/";
    SetupOpenGL();
    BuildFont();
    PlayDefaultSound();
    ShowMainWindow(gMainWnd);
    StartTimer(gMainWnd, ID_FRAMETIMER, 1);
    const int exitCode = RunMessageLoop();
    StopTimer(gMainWnd, ID_FRAMETIMER);
    FreeChannel();
    AudioShutdown();
    return exitCode;
}
