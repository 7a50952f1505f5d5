// The source side of XDND (version 5): own the XdndSelection, Enter, Position, wait for the
// target's Status, Drop, serve the target's request for the data, wait for Finished.
#include "support/xdnd_source.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <poll.h>

namespace {

constexpr long kVersion = 5;
constexpr auto kAnswerTimeout = std::chrono::seconds(5);

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

struct Atoms {
    explicit Atoms(Display* d)
        : aware(XInternAtom(d, "XdndAware", False)), enter(XInternAtom(d, "XdndEnter", False)),
          position(XInternAtom(d, "XdndPosition", False)),
          status(XInternAtom(d, "XdndStatus", False)), leave(XInternAtom(d, "XdndLeave", False)),
          drop(XInternAtom(d, "XdndDrop", False)), finished(XInternAtom(d, "XdndFinished", False)),
          selection(XInternAtom(d, "XdndSelection", False)),
          copy(XInternAtom(d, "XdndActionCopy", False)),
          uriList(XInternAtom(d, "text/uri-list", False)) {}
    Atom aware, enter, position, status, leave, drop, finished, selection, copy, uriList;
};

// Windows come and go while the tree is walked (another test's window closing, say); asking about
// one that just vanished is no fault of the drop.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

bool HasTitle(Display* d, Window w, const char* title) {
    char* name = nullptr;
    if (!XFetchName(d, w, &name) || !name) return false;
    const bool same = std::strcmp(name, title) == 0;
    XFree(name);
    return same;
}

Window FindIn(Display* d, Window under, const char* title) {
    if (HasTitle(d, under, title)) return under;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, under, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = FindIn(d, children[i], title);
    if (children) XFree(children);
    return found;
}

Window FindByTitle(Display* d, const char* title) {
    auto previous = XSetErrorHandler(IgnoreXError);
    const Window w = FindIn(d, DefaultRootWindow(d), title);
    XSync(d, False);
    XSetErrorHandler(previous);
    return w;
}

// The XDND version the window speaks, 0 when it takes no drops.
long AwareVersion(Display* d, Window w, const Atoms& atoms) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    long version = 0;
    if (XGetWindowProperty(d, w, atoms.aware, 0, 1, False, XA_ATOM, &type, &format, &count, &after,
                           &data) == Success &&
        type == XA_ATOM && format == 32 && count == 1)
        version = static_cast<long>(*reinterpret_cast<Atom*>(data));
    if (data) XFree(data);
    return version;
}

// RFC 3986: unreserved characters and the path's slashes stay, every other byte is %XX.
std::string FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || std::strchr("-._~/", c);
        if (plain && c != 0) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0xF];
        }
    }
    return uri;
}

class Drag {
  public:
    Drag(Display* d, Window target, long version, const std::string& uris)
        : d_(d), atoms_(d), target_(target), version_(version), uris_(uris) {
        source_ = XCreateSimpleWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, 0);
    }
    ~Drag() { XDestroyWindow(d_, source_); }

    bool Run() {
        XSetSelectionOwner(d_, atoms_.selection, source_, CurrentTime);
        if (XGetSelectionOwner(d_, atoms_.selection) != source_) return false;
        // Three types fit in the message itself; the list needs no XdndTypeList.
        Send(atoms_.enter,
             {static_cast<long>(source_), version_ << 24, static_cast<long>(atoms_.uriList), 0, 0});
        Send(atoms_.position, {static_cast<long>(source_), 0, Middle(), CurrentTime,
                               static_cast<long>(atoms_.copy)});
        XEvent status;
        if (!WaitFor(atoms_.status, &status) || !(status.xclient.data.l[1] & 1)) {
            Send(atoms_.leave, {static_cast<long>(source_), 0, 0, 0, 0});
            return false;
        }
        Send(atoms_.drop, {static_cast<long>(source_), 0, CurrentTime, 0, 0});
        XEvent finished;
        if (!WaitFor(atoms_.finished, &finished)) return false;
        return version_ < 5 || (finished.xclient.data.l[1] & 1);
    }

  private:
    // Root coordinates of the target's middle, packed as XdndPosition takes them.
    long Middle() {
        XWindowAttributes attributes{};
        XGetWindowAttributes(d_, target_, &attributes);
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(d_, target_, DefaultRootWindow(d_), attributes.width / 2,
                              attributes.height / 2, &x, &y, &child);
        return (static_cast<long>(x) << 16) | (y & 0xFFFF);
    }

    void Send(Atom type, std::initializer_list<long> data) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.display = d_;
        event.xclient.window = target_;
        event.xclient.message_type = type;
        event.xclient.format = 32;
        int i = 0;
        for (long value : data)
            event.xclient.data.l[i++] = value;
        XSendEvent(d_, target_, False, NoEventMask, &event);
        XFlush(d_);
    }

    // The target asks for the files in the type offered; anything else is refused.
    void Serve(const XSelectionRequestEvent& request) {
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.display = d_;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.time = request.time;
        reply.xselection.property = None;
        if (request.selection == atoms_.selection && request.target == atoms_.uriList &&
            request.property != None) {
            XChangeProperty(d_, request.requestor, request.property, atoms_.uriList, 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(uris_.data()),
                            static_cast<int>(uris_.size()));
            reply.xselection.property = request.property;
        }
        XSendEvent(d_, request.requestor, False, NoEventMask, &reply);
        XFlush(d_);
    }

    // Waits for the target's message of this type, serving data requests meanwhile.
    bool WaitFor(Atom type, XEvent* found) {
        const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
        for (;;) {
            while (XPending(d_)) {
                XEvent event;
                XNextEvent(d_, &event);
                if (event.type == SelectionRequest) Serve(event.xselectionrequest);
                if (event.type == ClientMessage && event.xclient.message_type == type) {
                    *found = event;
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{ConnectionNumber(d_), POLLIN, 0};
            poll(&p, 1, static_cast<int>(left.count()));
        }
    }

    Display* d_;
    Atoms atoms_;
    Window target_;
    long version_;
    std::string uris_;
    Window source_ = 0;
};

} // namespace

bool DropFiles(const char* title, const std::vector<std::string>& paths) {
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) return false;
    Display* d = display.get();
    const Window target = FindByTitle(d, title);
    if (!target) return false;
    const long version = std::min(AwareVersion(d, target, Atoms(d)), kVersion);
    if (version == 0) return false;
    std::string uris;
    for (const std::string& path : paths)
        uris += FileUri(path) + "\r\n";
    return Drag(d, target, version, uris).Run();
}
