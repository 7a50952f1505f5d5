// Loading the skin: finding the skin file, reading it, parsing it and loading its pictures, all
// before anything of it is used, so that a fault leaves the engine as it was.
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"

#include "platform/os/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

std::shared_ptr<const Skin> gSkin;

// Far more than any skin: the parser refuses one past its own limit with its own message, and a
// file beyond this is not read at all.
constexpr uint64_t kReadLimit = 1 << 20;

void Report(const std::string& where, const std::string& what) {
    std::fprintf(stderr, "vormel: %s: %s\n", where.c_str(), what.c_str());
}

bool IsRegularFile(const std::string& path) {
    struct stat s {};
    return stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

// Where the file named is: beside the executable, else in its Resource/ folder. Empty when in
// neither, with the places looked at in *looked.
std::string FindSkinFile(const std::string& name, std::string* looked) {
    if (name.find('/') != std::string::npos) return name;
    const std::string folder = ExecutableFolder();
    const std::string resources = ResourceFolder();
    for (const std::string& candidate : {folder + name, resources + name})
        if (IsRegularFile(candidate)) return candidate;
    *looked = "not found beside the program (" + folder + ") or in " + resources;
    return std::string();
}

// The whole file. False with errno set when it cannot be read.
bool ReadText(const std::string& path, std::string* text) {
    std::vector<uint8_t> bytes;
    if (const int error = ReadWholeFile(path, kReadLimit, &bytes)) {
        errno = error;
        return false;
    }
    text->assign(bytes.begin(), bytes.end());
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

std::shared_ptr<const Skin> CurrentSkin() {
    return gSkin;
}

int skInitEngine(const char* file, const char* /*key: not used*/) {
    const std::string name = file ? file : "";
    if (name.empty()) {
        Report("skin", "no skin file named");
        return 0;
    }
    std::string looked;
    const std::string path = FindSkinFile(name, &looked);
    if (path.empty()) {
        Report(name, looked);
        return 0;
    }
    std::string text;
    if (!ReadText(path, &text)) {
        Report(path, std::string("cannot read it: ") + std::strerror(errno));
        return 0;
    }
    auto skin = std::make_shared<Skin>();
    SkinFileError error;
    SkinFileLines lines;
    if (!ParseSkinText(text, &skin->file, &error, &lines)) {
        Report(error.line > 0 ? path + ":" + std::to_string(error.line) : path, error.message);
        return 0;
    }
    const std::string iconPath = FolderOf(path) + skin->file.captionIcon;
    skin->icon = LoadPicture(iconPath);
    if (!skin->icon) {
        Report(path + ":" + std::to_string(lines.captionIcon),
               "cannot read the picture " + iconPath);
        return 0;
    }
    gSkin = std::move(skin);
    return 1;
}

uint32_t skARGB(int a, int r, int g, int b) {
    auto part = [](int v) { return static_cast<uint32_t>(v) & 0xFFu; };
    return part(a) << 24 | part(r) << 16 | part(g) << 8 | part(b);
}

WindowSkin* WindowSkinOf(WindowHandle window) {
    return GetAttachment<WindowSkin>(GetTopLevelWindow(window));
}

WindowSkin* EnsureWindowSkin(WindowHandle window) {
    WindowHandle top = GetTopLevelWindow(window);
    if (!top || !gSkin) return nullptr;
    if (WindowSkin* existing = GetAttachment<WindowSkin>(top)) return existing;
    auto state = std::make_unique<WindowSkin>();
    state->skin = gSkin;
    WindowSkin* ws = Attach(top, std::move(state));
    if (ws) SetChromePainter(top, PaintWindowSkin);
    return ws;
}
