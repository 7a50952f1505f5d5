// The trackbar, class "MSCTLS_TRACKBAR32": a horizontal slider over a range of whole positions,
// with a tick below its channel every so many positions (the first and last always), drawn into
// the chrome with cairo. The user drags its thumb (the drag goes on outside the control), pages
// toward a press in the channel (repeating while the button is held), and steps it with the arrow,
// Page Up/Down, Home and End keys while it has the focus. Every change the user makes is sent to
// the parent as WM_HSCROLL; positions set by the program are not.
#include "platform/os/controls.h"
#include "platform/os/window_tree.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace {

// Geometry, in pixels from the control's top left corner. The thumb is 9 pixels wide, centred
// on the column of its position; the first and last positions lie kEnds in from the edges, so
// the thumb stays whole at either end.
constexpr int kThumbHalf = 4;
constexpr int kEnds = kThumbHalf + 1;
constexpr double kThumbTop = 1.5;  // pixel centres of the thumb's outline
constexpr double kThumbBody = 8.5; // the square part ends here,
constexpr double kThumbTip = 12.5; // and its point here, above the ticks
constexpr int kChannelTop = 4;
constexpr int kChannelHeight = 4;
constexpr int kTickTop = 13;
constexpr int kTickLength = 3; // the first and last ticks are one pixel longer

// While the button is held in the channel the page steps repeat, after a pause, as a key does.
constexpr uint32_t kRepeatTimer = 1;
constexpr uint32_t kRepeatDelayMs = 500;
constexpr uint32_t kRepeatIntervalMs = 100;

enum class MouseAction { None, Dragging, Paging };

struct TrackbarState final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::Control;
    TrackbarStyle style;
    int min = 0;
    int max = 100;
    int pos = 0;
    int lineSize = 1;
    int pageSize = 20;
    int tickFrequency = 1;
    MouseAction mouse = MouseAction::None;
    int grabOffset = 0;    // pointer column minus the thumb's column, kept through a drag
    int pageDirection = 0; // -1 toward the minimum, +1 toward the maximum
    int pointerX = 0;      // where the pointer is while paging
};

TrackbarState* StateOf(WindowHandle trackbar) {
    return GetAttachment<TrackbarState>(trackbar);
}

int WidthOf(WindowHandle trackbar) {
    int width = 0;
    int height = 0;
    GetClientSize(trackbar, &width, &height);
    return width;
}

// The pixels between the first position's column and the last one's.
int Span(int width) {
    return std::max(0, width - 1 - 2 * kEnds);
}

int ColumnOf(const TrackbarState& s, int width, int pos) {
    if (s.max <= s.min) return kEnds;
    return kEnds + static_cast<int>(std::lrint(static_cast<double>(pos - s.min) * Span(width) /
                                               (s.max - s.min)));
}

// The position whose column is nearest to x.
int PositionAt(const TrackbarState& s, int width, int x) {
    const int span = Span(width);
    if (span == 0 || s.max <= s.min) return s.min;
    const double p = s.min + static_cast<double>(x - kEnds) * (s.max - s.min) / span;
    return static_cast<int>(std::clamp<double>(std::lrint(p), s.min, s.max));
}

// Tells the parent; false when the trackbar did not survive the parent's answer.
bool Notify(WindowHandle trackbar, intptr_t code) {
    OsWindow* bar = Live(trackbar);
    if (!bar || !bar->parent) return bar != nullptr;
    Message m;
    m.id = WM_HSCROLL;
    m.control = bar;
    m.wParam = code;
    Send(bar->parent, m);
    return Live(trackbar) != nullptr;
}

// Moves the thumb for the user: redrawn, and the parent told, if the position changed.
bool MoveTo(WindowHandle trackbar, TrackbarState* s, int pos, intptr_t code) {
    pos = std::clamp(pos, s->min, s->max);
    if (pos == s->pos) return true;
    s->pos = pos;
    InvalidateChrome(trackbar);
    return Notify(trackbar, code);
}

// --- Drawing ------------------------------------------------------------------------------------

void PaintTicks(const TrackbarState& s, cairo_t* cr, int width) {
    SetSourceArgb(cr, s.style.tickArgb);
    const int step = s.tickFrequency < 1 ? 1 : s.tickFrequency;
    int lastColumn = -1;
    auto tick = [&](int pos, int extra) {
        const int column = ColumnOf(s, width, pos);
        if (column == lastColumn && extra == 0) return;
        lastColumn = column;
        cairo_rectangle(cr, column, kTickTop - extra, 1, kTickLength + extra);
    };
    tick(s.min, 1);
    // Positions from the minimum in steps; wide steps across a narrow control share columns.
    for (long long p = static_cast<long long>(s.min) + step; p < s.max; p += step)
        tick(static_cast<int>(p), 0);
    if (s.max > s.min) tick(s.max, 1);
    cairo_fill(cr);
}

void PaintThumb(WindowHandle trackbar, const TrackbarState& s, cairo_t* cr, int width) {
    const double c = ColumnOf(s, width, s.pos) + 0.5;
    cairo_move_to(cr, c - kThumbHalf, kThumbTop);
    cairo_line_to(cr, c + kThumbHalf, kThumbTop);
    cairo_line_to(cr, c + kThumbHalf, kThumbBody);
    cairo_line_to(cr, c, kThumbTip);
    cairo_line_to(cr, c - kThumbHalf, kThumbBody);
    cairo_close_path(cr);
    SetSourceArgb(cr,
                  s.mouse == MouseAction::Dragging ? s.style.thumbDraggedArgb : s.style.thumbArgb);
    cairo_fill_preserve(cr);
    SetSourceArgb(cr, GetFocus() == trackbar ? s.style.focusArgb : s.style.thumbEdgeArgb);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void PaintTrackbar(WindowHandle trackbar, cairo_t* cr, int width, int height) {
    const TrackbarState* s = StateOf(trackbar);
    if (!s) return;
    if (s->style.backgroundArgb >> 24) {
        SetSourceArgb(cr, s->style.backgroundArgb);
        cairo_paint(cr);
    }
    // The channel reaches a little past the first and last positions, sunk into the window:
    // dark inside, lit along its lower and right edges.
    const int left = kEnds - 2;
    const int right = width - kEnds + 2;
    SetSourceArgb(cr, s->style.channelArgb);
    cairo_rectangle(cr, left, kChannelTop, right - left, kChannelHeight);
    cairo_fill(cr);
    SetSourceArgb(cr, s->style.channelEdgeArgb);
    cairo_rectangle(cr, left, kChannelTop + kChannelHeight - 1, right - left, 1);
    cairo_rectangle(cr, right - 1, kChannelTop, 1, kChannelHeight);
    cairo_fill(cr);
    if (height > kTickTop) PaintTicks(*s, cr, width);
    PaintThumb(trackbar, *s, cr, width);
}

// --- The user -----------------------------------------------------------------------------------

void PageStep(WindowHandle trackbar, TrackbarState* s) {
    MoveTo(trackbar, s, s->pos + s->pageDirection * s->pageSize,
           s->pageDirection < 0 ? TB_PAGEUP : TB_PAGEDOWN);
}

void PressButton(WindowHandle trackbar, TrackbarState* s, int x) {
    if (GetFocus() != trackbar) SetFocus(trackbar);
    if (!Live(trackbar) || s->mouse != MouseAction::None) return;
    const int column = ColumnOf(*s, WidthOf(trackbar), s->pos);
    SetCapture(trackbar);
    if (std::abs(x - column) <= kThumbHalf) {
        s->mouse = MouseAction::Dragging;
        s->grabOffset = x - column;
        InvalidateChrome(trackbar);
        return;
    }
    s->mouse = MouseAction::Paging;
    s->pageDirection = x < column ? -1 : 1;
    s->pointerX = x;
    StartTimer(trackbar, kRepeatTimer, kRepeatDelayMs);
    PageStep(trackbar, s);
}

void MovePointer(WindowHandle trackbar, TrackbarState* s, int x) {
    if (s->mouse == MouseAction::Paging) s->pointerX = x;
    if (s->mouse != MouseAction::Dragging) return;
    MoveTo(trackbar, s, PositionAt(*s, WidthOf(trackbar), x - s->grabOffset), TB_THUMBTRACK);
}

// The pointer is still beyond the thumb, on the side the paging goes: one more page.
void RepeatPage(WindowHandle trackbar, TrackbarState* s) {
    if (s->mouse != MouseAction::Paging) return;
    StartTimer(trackbar, kRepeatTimer, kRepeatIntervalMs);
    const int column = ColumnOf(*s, WidthOf(trackbar), s->pos);
    const int beyond = (s->pointerX - column) * s->pageDirection;
    if (beyond > kThumbHalf) PageStep(trackbar, s);
}

// The mouse lets go: after a drag the parent hears where the thumb was left, then that the
// action ended. withCapture: the trackbar still holds the capture and gives it up.
void EndMouseAction(WindowHandle trackbar, TrackbarState* s, bool withCapture) {
    const MouseAction action = std::exchange(s->mouse, MouseAction::None);
    if (action == MouseAction::None) return;
    StopTimer(trackbar, kRepeatTimer);
    InvalidateChrome(trackbar);
    if (withCapture) ReleaseCapture();
    if (action == MouseAction::Dragging && !Notify(trackbar, TB_THUMBPOSITION)) return;
    Notify(trackbar, TB_ENDTRACK);
}

void PressKey(WindowHandle trackbar, TrackbarState* s, uint32_t key) {
    switch (key) {
    case VK_LEFT:
    case VK_UP:
        MoveTo(trackbar, s, s->pos - s->lineSize, TB_LINEUP);
        break;
    case VK_RIGHT:
    case VK_DOWN:
        MoveTo(trackbar, s, s->pos + s->lineSize, TB_LINEDOWN);
        break;
    case VK_PRIOR:
        MoveTo(trackbar, s, s->pos - s->pageSize, TB_PAGEUP);
        break;
    case VK_NEXT:
        MoveTo(trackbar, s, s->pos + s->pageSize, TB_PAGEDOWN);
        break;
    case VK_HOME:
        MoveTo(trackbar, s, s->min, TB_TOP);
        break;
    case VK_END:
        MoveTo(trackbar, s, s->max, TB_BOTTOM);
        break;
    default:
        break;
    }
}

// --- The program --------------------------------------------------------------------------------

void Redraw(WindowHandle trackbar, intptr_t redraw) {
    if (redraw) InvalidateChrome(trackbar);
}

// The 16-bit halves of TBM_SETRANGE are signed, so a range may lie below zero. Given the wrong
// way round, the ends are swapped rather than leaving a range with no positions.
void SetRange(TrackbarState* s, intptr_t lParam) {
    const int low = static_cast<int16_t>(lParam & 0xFFFF);
    const int high = static_cast<int16_t>((lParam >> 16) & 0xFFFF);
    s->min = std::min(low, high);
    s->max = std::max(low, high);
    s->pos = std::clamp(s->pos, s->min, s->max);
}

intptr_t SetStep(int* step, intptr_t lParam) {
    const intptr_t previous = *step;
    *step = static_cast<int>(std::clamp<intptr_t>(lParam, 1, INT32_MAX));
    return previous;
}

intptr_t ControlMessage(WindowHandle trackbar, TrackbarState* s, const Message& m) {
    switch (m.id) {
    case TBM_GETPOS:
        return s->pos;
    case TBM_SETPOS:
        s->pos = static_cast<int>(std::clamp<intptr_t>(m.lParam, s->min, s->max));
        Redraw(trackbar, m.wParam);
        return 0;
    case TBM_SETRANGE:
        SetRange(s, m.lParam);
        Redraw(trackbar, m.wParam);
        return 0;
    case TBM_SETTICFREQ:
        s->tickFrequency = static_cast<int>(std::clamp<intptr_t>(m.wParam, 0, INT32_MAX));
        InvalidateChrome(trackbar);
        return 0;
    case TBM_SETPAGESIZE:
        return SetStep(&s->pageSize, m.lParam);
    case TBM_SETLINESIZE:
        return SetStep(&s->lineSize, m.lParam);
    default:
        return DefWindowProc(trackbar, m);
    }
}

} // namespace

intptr_t TrackbarProc(WindowHandle trackbar, const Message& message) {
    if (message.id == WM_CREATE) {
        Attach(trackbar, std::make_unique<TrackbarState>());
        SetChromePainter(trackbar, PaintTrackbar);
        return 0;
    }
    TrackbarState* s = StateOf(trackbar);
    if (!s) return DefWindowProc(trackbar, message);
    switch (message.id) {
    case WM_LBUTTONDOWN:
        PressButton(trackbar, s, message.x);
        return 0;
    case WM_MOUSEMOVE:
        MovePointer(trackbar, s, message.x);
        return 0;
    case WM_LBUTTONUP:
        EndMouseAction(trackbar, s, true);
        return 0;
    case WM_CAPTURECHANGED:
        EndMouseAction(trackbar, s, false);
        return 0;
    case WM_TIMER:
        if (message.timerId == kRepeatTimer) RepeatPage(trackbar, s);
        return 0;
    case WM_KEYDOWN:
        PressKey(trackbar, s, message.key);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateChrome(trackbar); // the thumb's outline shows the focus
        return 0;
    default:
        return ControlMessage(trackbar, s, message);
    }
}

void SetTrackbarStyle(WindowHandle trackbar, const TrackbarStyle& style) {
    if (TrackbarState* s = StateOf(trackbar)) {
        s->style = style;
        InvalidateChrome(trackbar);
    }
}
