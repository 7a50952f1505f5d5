// Files dropped from a file manager. SDL announces a drop as a begin, one event per file, and a
// completion; the window hears the whole drop at once, as one WM_DROPFILES with every path in the
// drop's order. SDL only says which SDL window took a drop, so drops go to top-level windows.
#include "platform/os/window_tree.h"

#include <string>
#include <vector>

namespace {

// The drop being gathered, and the SDL window it is made on (0: none begun).
uint32_t gDropWindow = 0;
std::vector<std::string> gDropped;

void Deliver(uint32_t sdlId, std::vector<std::string>* files) {
    OsWindow* top = TopLevelBySdlId(sdlId);
    if (top && top->acceptsFiles && !files->empty()) {
        Message m;
        m.id = WM_DROPFILES;
        m.files = files;
        Send(top, m);
    }
    files->clear();
}

} // namespace

void HandleDrop(const SDL_DropEvent& drop) {
    switch (drop.type) {
    case SDL_DROPBEGIN:
        // A drop that never completed goes out before the next one begins.
        if (gDropWindow != 0) Deliver(gDropWindow, &gDropped);
        gDropWindow = drop.windowID;
        break;
    case SDL_DROPFILE:
        if (!drop.file) break;
        if (gDropWindow != 0 && gDropWindow == drop.windowID) {
            gDropped.emplace_back(drop.file);
        } else {
            // A file announced on its own is a drop of its own.
            std::vector<std::string> alone{drop.file};
            Deliver(drop.windowID, &alone);
        }
        break;
    case SDL_DROPCOMPLETE:
        if (gDropWindow == drop.windowID) {
            gDropWindow = 0;
            Deliver(drop.windowID, &gDropped);
        }
        break;
    default: // SDL_DROPTEXT: text, not files
        break;
    }
    SDL_free(drop.file);
}

void UpdateDropSupport() {
    bool wanted = false;
    for (auto& w : AllWindows())
        wanted = wanted || w->acceptsFiles;
    // SDL marks every window of the program as a drop target, or none. The state is set event
    // by event; SDL takes drops while files or text are enabled.
    const int state = wanted ? SDL_ENABLE : SDL_DISABLE;
    for (Uint32 type : {SDL_DROPFILE, SDL_DROPTEXT, SDL_DROPBEGIN, SDL_DROPCOMPLETE})
        if (SDL_EventState(type, SDL_QUERY) != state) SDL_EventState(type, state);
}

void DragAcceptFiles(WindowHandle window, bool accept) {
    OsWindow* w = Live(window);
    if (!w) return;
    w->acceptsFiles = accept;
    UpdateDropSupport();
}
