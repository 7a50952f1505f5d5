#include "app/startup.h"

#include "app/main_window.h"
#include "app/program_icon.h"
#include "app/view_input.h"
#include "audio/listening.h"
#include "audio/playback.h"
#include "platform/os/single_instance.h"
#include "platform/skin/kestro.h"
#include "render/gl_setup.h"

#include <cstdio>
#include <cstring>

WindowHandle gMainWnd;
WindowHandle gGlCtrl;
WindowProc gGlCtrlOldProc;
std::string gResourceFolder;
GLFontRecord gGlFont;

// 87 characters: the label's lines, with CR LF between them.
const char kHelpText[] = "\r\nMouse button\r\n\r\nLeft: rotation, and view angle.\r\n\r\n\r\n"
                         "Play audio\r\nusing\r\ndrag && drop.";
static_assert(sizeof kHelpText - 1 == 87, "the help text is 87 characters long");

namespace {

constexpr const char* kInstanceName = "QGL_VORMEL";
constexpr int kClientWidth = 868, kClientHeight = 532;
constexpr int kViewLeft = 10, kViewTop = 10, kViewWidth = 712, kViewHeight = 512;
constexpr int kTrackbarLeft = 740, kTrackbarTop = 457, kTrackbarWidth = 120, kTrackbarHeight = 16;
constexpr uint32_t kSecondHandColour = 0x7FCB0000;     // half-transparent red
constexpr uint32_t kHourMinuteHandColour = 0x7F8F8F8F; // half-transparent grey

bool gFirstCopy = false;

// What a start that handed its request over says before it ends, and its exit code: 0 once the
// running copy has done it, 1 with a line when it could not, or cannot be reached.
int EndHandedOver(HandOver outcome, const HandOverAnswer& answer) {
    switch (outcome) {
    case HandOver::Obeyed:
        if (answer.result != 0) return 0;
        std::fprintf(stderr, "vormel: %s\n",
                     answer.line.empty() ? "the running Vormel could not do what was asked"
                                         : answer.line.c_str());
        return 1;
    case HandOver::NoAnswer:
        std::fprintf(stderr, "vormel: another Vormel runs on this display but does not answer\n");
        return 1;
    case HandOver::Refused:
        std::fprintf(stderr, "vormel: another Vormel runs on this display but refuses the request "
                             "(an older version?)\n");
        return 1;
    case HandOver::Interrupted:
    case HandOver::StartHere:
        break;
    }
    return 0;
}

// Step 1: a second copy hands its file, or its wish to listen, to the first and ends, with what
// EndHandedOver says; kKeepRunning when this copy is the first after all.
int AnotherCopyTookOver(const char* file, bool listen, WindowMode show) {
    gFirstCopy = ClaimSingleInstance(kInstanceName);
    if (gFirstCopy) return kKeepRunning;
    uint16_t request = listen ? kHandOverListen : kHandOverPlay;
    if (show == WindowMode::FullScreen) request |= kHandOverFullScreen;
    HandOverAnswer answer;
    const HandOver outcome =
        HandToRunningCopy(kInstanceName, request, listen ? gListenSource : file, &answer);
    if (outcome != HandOver::StartHere) return EndHandedOver(outcome, answer);
    gFirstCopy = true; // the first copy ended before its window appeared: this one is first now
    return kKeepRunning;
}

// Step 6.
void CreateView() {
    gGlCtrl = CreateChildWindow(kGlControlClass, gMainWnd, ID_GLCTRL, kViewLeft, kViewTop,
                                kViewWidth, kViewHeight);
    if (gGlCtrl != nullptr) gGlCtrlOldProc = SubclassWindow(gGlCtrl, GlCtrlSubclassProc);
    QI_SetAnchorMode(gGlCtrl, kAnchorStretch); // the view grows and shrinks with the window
    SetFullScreenChild(gGlCtrl);               // and alone fills the screen in full screen
}

// Step 7: the field of view's slider, 1 to 100 from 50. Its handle is not kept: the main window
// knows it by its id.
void CreateTrackbar() {
    WindowHandle trackbar = CreateChildWindow(kTrackbarClass, gMainWnd, ID_TRACKBAR, kTrackbarLeft,
                                              kTrackbarTop, kTrackbarWidth, kTrackbarHeight);
    QI_SetAnchorMode(trackbar, kAnchorRight);
    SendMessage(trackbar, TBM_SETPAGESIZE, 0, 1);
    SendMessage(trackbar, TBM_SETLINESIZE, 0, 1);
    SendMessage(trackbar, TBM_SETTICFREQ, 0, 1);
    SendMessage(trackbar, TBM_SETRANGE, TRUE, MAKELONG(1, 100));
    SendMessage(trackbar, TBM_SETPOS, TRUE, 50);
}

// Step 10.
void BuildFont() {
    std::strcpy(gGlFont.face, "Pristina");
    gGlFont.height = 14;
    gGlFont.weight = 700;
    QI_BuildGLfont(QI_GetGLDC(gGlCtrl), &gGlFont);
}

// Steps 12 to 15: the view's border, the clock, the help label and the picture.
void DressWindow() {
    int px = 0, py = 0, width = 0, height = 0;
    GetChildPosition(gGlCtrl, &px, &py);
    GetClientSize(gGlCtrl, &width, &height);
    skBorder(gGlCtrl, px - 1, py - 1, width + 2, height + 2, 0, 1);

    WindowHandle clock =
        skClockCtrl(gMainWnd, (gResourceFolder + "Clock.png").c_str(), px + width + 31, py, 0, 0,
                    ID_CLOCK, kSecondHandColour, kHourMinuteHandColour, 0);
    skSetAnchorCtrl(clock, 2);
    skCreateToolTip(clock, "Kestro clock widget");

    int cw = 0, ch = 0;
    GetClientSize(gMainWnd, &cw, &ch);
    WindowHandle label =
        CreateChildWindow(kStaticClass, gMainWnd, ID_LABEL, cw - 134, 147, 129, 216);
    SetWindowText(label, kHelpText);
    skSkinChildCtrl(label, 0);
    QI_SetAnchorMode(label, kAnchorRight);
    skSetLabelFont(label, "TREBUCHET MS", 15, skARGB(200, 255, 255, 255), 1);

    WindowHandle picture = skStaticImage(gMainWnd, (gResourceFolder + "assistant.png").c_str(),
                                         cw - 138, 143, 137, 281, ID_IMAGE);
    skSetZorder(picture, 1);
    skSetAnchorCtrl(picture, 9);
}

// Step 17: the default sound, or the file named on the command line; it waits behind listening
// for the L key.
void PlayFirstSound(const char* file, bool listen) {
    const std::string path = file ? std::string(file) : gResourceFolder + "audio.ogg";
    if (path.size() < sizeof gAudioFile) {
        std::memcpy(gAudioFile, path.c_str(), path.size() + 1);
    } else {
        std::fprintf(stderr, "vormel: the path of the sound is too long to play: %.60s…\n",
                     path.c_str());
        gAudioFile[0] = '\0';
    }
    if (listen)
        StartListening();
    else
        PlayAudioFile(gMainWnd);
}

// Step 22.
int End(int exitCode) {
    if (gFirstCopy) ReleaseSingleInstance();
    gFirstCopy = false;
    return exitCode;
}

} // namespace

int StartUp(const char* file, bool listen, WindowMode show, int monitor) {
    if (const int handedOver = AnotherCopyTookOver(file, listen, show); handedOver != kKeepRunning)
        return handedOver;
    if (RegisterPorvaneClass() == 0) {
        std::fprintf(stderr, "vormel: no display with OpenGL to open the window on\n");
        return 99;
    }
    if (monitor >= CountMonitors()) {
        std::fprintf(stderr, "vormel: there is no monitor %d: this desktop has %d, from 0\n",
                     monitor, CountMonitors());
        return End(2);
    }
    QI_LoadDLL(nullptr);
    gMainWnd = CreateMainWindow("Vormel", kClientWidth, kClientHeight, MainWndProc);
    if (gMainWnd == nullptr) {
        std::fprintf(stderr, "vormel: the main window could not be created\n");
        return End(0);
    }
    if (show == WindowMode::Wallpaper && !PrepareWallpaper(gMainWnd)) {
        std::fprintf(stderr, "vormel: this desktop offers no background layer for a wallpaper\n");
        return End(1);
    }
    SetWindowIcon(gMainWnd, kProgramIconPng, kProgramIconPngSize);
    CreateView();
    CreateTrackbar();
    gResourceFolder = ResourceFolder();
    SetupOpenGL();
    BuildFont();
    // The skin engine says itself, on standard error, what was wrong with the skin.
    if (skInitEngine("Podcast.sks", nullptr) == 0) return End(0);
    skSkinWindow(gMainWnd, "Dock|Undock|Minimize|Maximize|Restore|Close");
    DressWindow();
    DragAcceptFiles(gMainWnd, true);
    PlayFirstSound(file, listen);
    ShowMainWindow(gMainWnd, show, monitor);
    SetForegroundWindow(gMainWnd);
    SetFocus(gMainWnd);
    ListenForOtherCopies(gMainWnd);
    StartTimer(gMainWnd, ID_FRAMETIMER, 1);
    return kKeepRunning;
}

int RunUntilQuit() {
    const int exitCode = RunMessageLoop();
    StopTimer(gMainWnd, ID_FRAMETIMER);
    StopListening();
    FreeChannel();
    AudioShutdown();
    return End(exitCode);
}

int QuitRunningCopy() {
    HandOverAnswer answer;
    const HandOver outcome =
        ClaimSingleInstance(kInstanceName)
            ? HandOver::StartHere
            : HandToRunningCopy(kInstanceName, kHandOverQuit, nullptr, &answer);
    if (outcome != HandOver::StartHere) return EndHandedOver(outcome, answer);
    ReleaseSingleInstance();
    std::fprintf(stderr, "vormel: no Vormel runs on this display to quit\n");
    return 1;
}

int VormelMain(const char* file, bool listen, WindowMode show, int monitor) {
    const int started = StartUp(file, listen, show, monitor);
    return started == kKeepRunning ? RunUntilQuit() : started;
}
