#include "app/main_window.h"

#include "app/startup.h"
#include "audio/listening.h"
#include "audio/playback.h"
#include "platform/os/single_instance.h"
#include "render/frame_render.h"
#include "render/gl_setup.h"
#include "render/projection.h"
#include "scene/frame_clock.h"

#include <cstdio>
#include <cstring>

namespace {

// A file to play, from a drop or a later start: it keeps its case (file systems here tell
// capitals apart), and a path longer than gAudioFile holds is ignored rather than cut into another
// path. Returns what PlayAudioFile returned; TRUE when there was nothing to play.
int32_t PlayFile(const std::string& file) {
    if (file.empty() || file.size() >= sizeof gAudioFile) return TRUE;
    StopListening(); // a dropped file is what the user wants to hear now
    std::memcpy(gAudioFile, file.c_str(), file.size() + 1);
    return PlayAudioFile(gMainWnd);
}

// The first file of a drop plays.
void PlayDroppedFile(const std::vector<std::string>* files) {
    SetForegroundWindow(gMainWnd);
    if (files && !files->empty()) PlayFile(files->front());
}

// A later start's request; the window is already restored and raised. A file plays as if dropped,
// and when it does not, the start that asked is told why, in the line this copy tells its own
// standard error. A source is listened to even when listening already to another.
intptr_t ObeyHandedOver(const Message& message) {
    static const std::string kNothing;
    const std::string& text = message.text ? *message.text : kNothing;
    if (message.wParam & kHandOverFullScreen) SetWindowMode(gMainWnd, WindowMode::FullScreen);
    switch (message.wParam & kHandOverRequestMask) {
    case kHandOverPlay: {
        const int32_t played = PlayFile(text);
        if (played == 0 && message.reply) {
            const char* why = BASS_ErrorGetText();
            *message.reply = *why ? why : "cannot play " + text;
        }
        return played;
    }
    case kHandOverListen:
        if (text.size() >= sizeof gListenSource) return FALSE;
        std::memcpy(gListenSource, text.c_str(), text.size() + 1);
        StartListening();
        return TRUE;
    default:
        return FALSE;
    }
}

// The title says what is heard: "Vormel", or "Vormel — listening to <source>". Asked every tick
// while listening, since the followed output may change at any time; the window hears of it only
// on a change.
void ShowWhatIsHeard() {
    static char shown[sizeof gListenSource + 64] = "Vormel";
    char title[sizeof shown];
    BASS_DEVICEINFO source{};
    if (gRecording == 0 && std::strcmp(shown, "Vormel") == 0) return;
    if (gRecording == 0)
        std::snprintf(title, sizeof title, "Vormel");
    else if (BASS_RecordGetSource(&source))
        std::snprintf(title, sizeof title, "Vormel \u2014 listening to %s", source.description);
    else
        std::snprintf(title, sizeof title,
                      "Vormel \u2014 listening (waiting for the sound server)");
    if (std::strcmp(title, shown) == 0) return;
    std::memcpy(shown, title, sizeof title);
    SetWindowText(gMainWnd, title);
}

// The trackbar's range 1 to 100 gives 100 down to 1 degrees: to the right the view narrows.
void TakeFieldOfView(WindowHandle control) {
    if (GetChildId(control) != ID_TRACKBAR) return;
    const intptr_t position = SendMessage(control, TBM_GETPOS, 0, 0);
    ApplyFieldOfView(static_cast<int32_t>(101 - position));
    RenderFrame();
}

} // namespace

void ToggleFullScreen() {
    if (GetWindowMode(gMainWnd) == WindowMode::FullScreen)
        RestoreWindow(gMainWnd);
    else
        SetWindowMode(gMainWnd, WindowMode::FullScreen);
}

void LeaveFullScreen() {
    if (GetWindowMode(gMainWnd) == WindowMode::FullScreen) RestoreWindow(gMainWnd);
}

void PaintMainWindow(WindowHandle) {
    RenderFrame();
}

intptr_t MainWndProc(WindowHandle window, const Message& message) {
    switch (message.id) {
    case WM_DROPFILES:
        PlayDroppedFile(message.files);
        break;
    case WM_SIZE:
        ResizeView(gGlCtrl);
        RenderFrame();
        break;
    case WM_CLOSE:
        StopListening();
        FreeChannel(); // the sound stops before the window goes
        break;
    case WM_KEYDOWN: // the keys of the window, whatever has the focus
        if (message.key == VK_L) ToggleListening(gMainWnd);
        if (message.key == VK_F11) ToggleFullScreen();
        if (message.key == VK_ESCAPE) LeaveFullScreen();
        break;
    case WM_COPYDATA:
        return ObeyHandedOver(message);
    case WM_HSCROLL:
        TakeFieldOfView(message.control);
        break;
    case WM_TIMER:
        // The only place the frame step is measured; every other frame reuses it.
        gFrameStep = FrameClockElapsed();
        RenderFrame();
        ShowWhatIsHeard();
        return 0;
    case WM_PAINT:
        PaintMainWindow(window);
        return 0;
    case WM_SYSKEYDOWN:
        if (message.key == VK_RETURN) ToggleFullScreen();
        break;
    case WM_DESTROY:
        QI_DeleteGLFont(&gGlFont);
        QI_DestroyTexture(&gTextures[0], kTextureCount);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProc(window, message);
}
