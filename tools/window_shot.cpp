// Takes a picture of a window on the X server as it shows it, and writes it as a PNG: used for the
// README's screenshot (scripts/screenshot.sh).
//   window_shot TITLE OUT.png [SECONDS]
// waits for a mapped window of that title (up to 20 s), then SECONDS more (default 3), then shoots.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

Window Find(Display* d, Window under, const char* title) {
    char* name = nullptr;
    if (XFetchName(d, under, &name) && name) {
        const bool same = std::strcmp(name, title) == 0;
        XFree(name);
        XWindowAttributes a{};
        if (same && XGetWindowAttributes(d, under, &a) && a.map_state == IsViewable) return under;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, under, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = Find(d, children[i], title);
    if (children) XFree(children);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_shot TITLE OUT.png [SECONDS]\n");
        return 2;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "window_shot: no X display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreErrors);
    Window w = 0;
    for (int tries = 0; tries < 200 && !w; ++tries, usleep(100000))
        w = Find(d, DefaultRootWindow(d), argv[1]);
    if (!w) {
        std::fprintf(stderr, "window_shot: no window titled \"%s\"\n", argv[1]);
        return 1;
    }
    sleep(static_cast<unsigned>(argc > 3 ? std::atoi(argv[3]) : 3));
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    XImage* image = XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                              static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "window_shot: the window could not be read\n");
        return 1;
    }
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, a.width, a.height);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            *reinterpret_cast<uint32_t*>(data + y * stride + x * 4) =
                static_cast<uint32_t>(XGetPixel(image, x, y) & 0xFFFFFF);
    cairo_surface_mark_dirty(s);
    const bool written = cairo_surface_write_to_png(s, argv[2]) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    XDestroyImage(image);
    XCloseDisplay(d);
    if (!written) std::fprintf(stderr, "window_shot: %s could not be written\n", argv[2]);
    return written ? 0 : 1;
}
