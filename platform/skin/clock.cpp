// The clock control: an analogue clock on a picture of its face, with hour, minute and second
// hands at local time. It repaints itself once a second, just after the second changes, so the
// second hand steps with the wall clock rather than drifting against it.
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace {

constexpr const char* kClockClass = "SkinClock";
constexpr uint32_t kPastTheSecondMs = 5; // lands the tick safely after the second has changed

struct ClockState final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::Control;
    Picture face;
    uint32_t secondArgb = 0;
    uint32_t handArgb = 0;
};

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    uint32_t msToNextSecond = 1000;
};

LocalTime Now() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    LocalTime t;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.msToNextSecond = static_cast<uint32_t>(1000 - ((ms % 1000) + 1000) % 1000);
    return t;
}

// A hand from a little behind the centre out to length, at angle turns clockwise from twelve.
void Hand(cairo_t* cr, double cx, double cy, double turns, double length, double tail,
          double width) {
    const double a = turns * 2 * M_PI;
    const double dx = std::sin(a);
    const double dy = -std::cos(a);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, cx - dx * tail, cy - dy * tail);
    cairo_line_to(cr, cx + dx * length, cy + dy * length);
    cairo_stroke(cr);
}

void PaintClock(WindowHandle clock, cairo_t* cr, int width, int height) {
    const ClockState* state = GetAttachment<ClockState>(clock);
    if (!state) return;
    PaintPicture(cr, state->face.get(), width, height);
    const LocalTime t = Now();
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double r = std::min(width, height) / 2.0;
    const double seconds = t.second;
    const double minutes = t.minute + seconds / 60;
    const double hours = t.hour % 12 + minutes / 60;
    SetSourceArgb(cr, state->handArgb);
    Hand(cr, cx, cy, hours / 12, 0.48 * r, 0.08 * r, std::max(2.0, 0.075 * r));
    Hand(cr, cx, cy, minutes / 60, 0.74 * r, 0.08 * r, std::max(1.5, 0.05 * r));
    SetSourceArgb(cr, state->secondArgb);
    Hand(cr, cx, cy, seconds / 60, 0.84 * r, 0.18 * r, std::max(1.4, 0.022 * r));
    cairo_arc(cr, cx, cy, std::max(1.5, 0.06 * r), 0, 2 * M_PI);
    cairo_fill(cr);
}

void ArmTick(WindowHandle clock) {
    StartTimer(clock, kClockTickTimer, Now().msToNextSecond + kPastTheSecondMs);
}

intptr_t ClockProc(WindowHandle clock, const Message& message) {
    switch (message.id) {
    case WM_CREATE:
        SetChromePainter(clock, PaintClock);
        ArmTick(clock);
        return 0;
    case WM_TIMER:
        if (message.timerId != kClockTickTimer) break;
        InvalidateChrome(clock);
        ArmTick(clock);
        return 0;
    default:
        break;
    }
    return DefWindowProc(clock, message);
}

} // namespace

WindowHandle skClockCtrl(WindowHandle parent, const char* image, int x, int y, int width,
                         int height, int id, uint32_t secondArgb, uint32_t handArgb,
                         int /*flags: not used*/) {
    if (!CurrentSkin() || !IsWindow(parent) || !image) return nullptr;
    static const bool registered = RegisterChildClass(kClockClass, ClockProc);
    if (!registered) return nullptr;
    auto state = std::make_unique<ClockState>();
    state->face = LoadPicture(image);
    if (!state->face) return nullptr;
    state->secondArgb = secondArgb;
    state->handArgb = handArgb;
    if (width <= 0 || height <= 0) {
        width = cairo_image_surface_get_width(state->face.get());
        height = cairo_image_surface_get_height(state->face.get());
    }
    WindowHandle clock = CreateChildWindow(kClockClass, parent, id, x, y, width, height);
    if (clock) Attach(clock, std::move(state));
    return clock;
}

// Tells the skin's own controls from others, which keep other state in the same slot.
bool IsSkinClock(WindowHandle window) {
    return dynamic_cast<ClockState*>(GetWindowAttachment(window, AttachmentSlot::Control));
}
