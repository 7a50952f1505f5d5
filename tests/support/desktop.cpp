#include "support/desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cstring>

struct FakeDesktop::Connection {
    Display* display = nullptr;
    ~Connection() {
        if (display) XCloseDisplay(display);
    }
};

namespace {

bool HasTitle(Display* display, Window window, const char* title) {
    char* name = nullptr;
    if (!XFetchName(display, window, &name) || !name) return false;
    const bool same = std::strcmp(name, title) == 0;
    XFree(name);
    return same;
}

int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

// Windows come and go while the tree is walked (a program that just ended, say): the errors
// that asking about a vanished window raises are expected, not fatal.
class IgnoredXErrors {
  public:
    explicit IgnoredXErrors(Display* display)
        : display_(display), previous_(XSetErrorHandler(IgnoreXError)) {}
    ~IgnoredXErrors() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }

  private:
    Display* display_;
    int (*previous_)(Display*, XErrorEvent*);
};

Window FindIn(Display* display, Window under, const char* title) {
    if (HasTitle(display, under, title)) return under;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = FindIn(display, children[i], title);
    if (children) XFree(children);
    return found;
}

Window FindByTitle(Display* display, Window under, const char* title) {
    IgnoredXErrors ignored(display);
    return FindIn(display, under, title);
}

} // namespace

// Does what act does to the window of that title, and waits until the server has done it.
template <typename Action> bool FakeDesktop::Act(const char* title, Action act) {
    Display* d = x_->display;
    const Window w = FindByTitle(d, DefaultRootWindow(d), title);
    if (!w) return false;
    act(d, w);
    XSync(d, False);
    return true;
}

FakeDesktop::FakeDesktop(const char* display) : x_(std::make_unique<Connection>()) {
    x_->display = XOpenDisplay(display);
}

FakeDesktop::~FakeDesktop() = default;

bool FakeDesktop::connected() const {
    return x_->display != nullptr;
}

void FakeDesktop::MovePointer(int screenX, int screenY) {
    XTestFakeMotionEvent(x_->display, -1, screenX, screenY, CurrentTime);
    XSync(x_->display, False);
}

void FakeDesktop::PressButton(int button) {
    XTestFakeButtonEvent(x_->display, static_cast<unsigned int>(button), True, CurrentTime);
    XSync(x_->display, False);
}

void FakeDesktop::ReleaseButton(int button) {
    XTestFakeButtonEvent(x_->display, static_cast<unsigned int>(button), False, CurrentTime);
    XSync(x_->display, False);
}

void FakeDesktop::TypeKey(const char* keysymName, const char* modifier) {
    Display* d = x_->display;
    const KeyCode held = modifier ? XKeysymToKeycode(d, XStringToKeysym(modifier)) : 0;
    const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysymName));
    if (held) XTestFakeKeyEvent(d, held, True, CurrentTime);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    if (held) XTestFakeKeyEvent(d, held, False, CurrentTime);
    XSync(d, False);
}

void FakeDesktop::FocusUnderPointer() {
    XSetInputFocus(x_->display, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(x_->display, False);
}

bool FakeDesktop::ResizeWindow(const char* title, int width, int height) {
    return Act(title, [&](Display* d, Window w) {
        XResizeWindow(d, w, static_cast<unsigned int>(width), static_cast<unsigned int>(height));
    });
}

// What a window manager sends when the user clicks the close button.
bool FakeDesktop::AskToClose(const char* title) {
    Display* d = x_->display;
    const Window w = FindByTitle(d, DefaultRootWindow(d), title);
    if (!w) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &event);
    XSync(d, False);
    return true;
}

bool FakeDesktop::DestroyWindow(const char* title) {
    return Act(title, [&](Display* d, Window w) { XDestroyWindow(d, w); });
}

bool FakeDesktop::KillClient(const char* title) {
    return Act(title, [&](Display* d, Window w) { XKillClient(d, w); });
}

bool FakeDesktop::IsShown(const char* title) {
    Display* d = x_->display;
    IgnoredXErrors ignored(d);
    const Window w = FindByTitle(d, DefaultRootWindow(d), title);
    XWindowAttributes attributes{};
    return w && XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsViewable;
}

bool FakeDesktop::ReadProperty(const char* title, const char* property,
                               std::vector<unsigned long>* items) {
    Display* d = x_->display;
    IgnoredXErrors ignored(d);
    const Window w = FindByTitle(d, DefaultRootWindow(d), title);
    if (!w) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const bool read =
        XGetWindowProperty(d, w, XInternAtom(d, property, False), 0, 1 << 24, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        type != None && format == 32;
    if (read) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items->assign(values, values + count);
    }
    if (data) XFree(data);
    return read;
}

namespace {

// The window's contents as RGBA bytes, top row first.
bool CaptureWindow(Display* d, Window w, int* width, int* height, std::vector<uint8_t>* rgba) {
    XWindowAttributes attributes{};
    if (!w || !XGetWindowAttributes(d, w, &attributes)) return false;
    XImage* image = XGetImage(d, w, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) return false;
    *width = attributes.width;
    *height = attributes.height;
    rgba->resize(static_cast<size_t>(*width) * static_cast<size_t>(*height) * 4);
    for (int y = 0; y < *height; ++y) {
        for (int x = 0; x < *width; ++x) {
            // A 24-bit TrueColor visual: red, green and blue in the usual masks.
            const unsigned long pixel = XGetPixel(image, x, y);
            uint8_t* out = &(*rgba)[(static_cast<size_t>(y) * static_cast<size_t>(*width) + x) * 4];
            out[0] = static_cast<uint8_t>((pixel >> 16) & 0xFF);
            out[1] = static_cast<uint8_t>((pixel >> 8) & 0xFF);
            out[2] = static_cast<uint8_t>(pixel & 0xFF);
            out[3] = 255;
        }
    }
    XDestroyImage(image);
    return true;
}

} // namespace

bool FakeDesktop::Capture(const char* title, int* width, int* height, std::vector<uint8_t>* rgba) {
    Display* d = x_->display;
    IgnoredXErrors ignored(d);
    return CaptureWindow(d, FindByTitle(d, DefaultRootWindow(d), title), width, height, rgba);
}

bool FakeDesktop::CaptureScreen(int* width, int* height, std::vector<uint8_t>* rgba) {
    Display* d = x_->display;
    IgnoredXErrors ignored(d);
    return CaptureWindow(d, DefaultRootWindow(d), width, height, rgba);
}

bool FakeDesktop::Minimise(const char* title) {
    Display* d = x_->display;
    const Window w = FindByTitle(d, DefaultRootWindow(d), title);
    if (!w) return false;
    // A window manager that runs is asked, as a taskbar would; without one, do what it would.
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False),
                       0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data);
    if (data) XFree(data);
    if (count == 1)
        XIconifyWindow(d, w, DefaultScreen(d));
    else
        XUnmapWindow(d, w);
    XSync(d, False);
    return true;
}

bool FakeDesktop::Restore(const char* title) {
    return Act(title, [&](Display* d, Window w) { XMapWindow(d, w); });
}

std::vector<std::string> FakeDesktop::AtomNames(const char* title, const char* property) {
    std::vector<unsigned long> atoms;
    std::vector<std::string> names;
    if (!ReadProperty(title, property, &atoms)) return names;
    for (unsigned long atom : atoms) {
        char* name = XGetAtomName(x_->display, static_cast<Atom>(atom));
        names.emplace_back(name ? name : "");
        if (name) XFree(name);
    }
    return names;
}

bool FakeDesktop::PointerIsOver(const char* title) {
    Display* d = x_->display;
    IgnoredXErrors ignored(d);
    const Window target = FindByTitle(d, DefaultRootWindow(d), title);
    Window under = DefaultRootWindow(d);
    for (;;) {
        if (target && under == target) return true;
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(d, under, &root, &child, &rx, &ry, &wx, &wy, &mask) || !child)
            return false;
        under = child;
    }
}

bool FakeDesktop::OpenWindow(const char* title, int x, int y, int width, int height) {
    Display* d = x_->display;
    const int screen = DefaultScreen(d);
    const Window w = XCreateSimpleWindow(
        d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
        0, BlackPixel(d, screen), WhitePixel(d, screen));
    XStoreName(d, w, title);
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x, hints.y = y, hints.width = width, hints.height = height;
    XSetWMNormalHints(d, w, &hints);
    XMapRaised(d, w);
    XSync(d, False);
    return true;
}

bool FakeDesktop::Raise(const char* title) {
    Display* d = x_->display;
    const Window w = FindByTitle(d, DefaultRootWindow(d), title);
    if (!w) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // from a pager: the user asked
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XSync(d, False);
    return true;
}

bool FakeDesktop::WindowPosition(const char* title, int* x, int* y) {
    Display* d = x_->display;
    IgnoredXErrors ignored(d);
    const Window w = FindByTitle(d, DefaultRootWindow(d), title);
    Window child = 0;
    return w && XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, x, y, &child);
}
