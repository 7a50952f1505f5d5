// The common controls' registration and what their painters share.
#include "platform/os/controls.h"

void RegisterCommonControls() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    RegisterChildClass(kStaticClass, LabelProc);
    RegisterChildClass(kTrackbarClass, TrackbarProc);
}

void SetSourceArgb(cairo_t* cr, uint32_t argb) {
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                          (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
}
