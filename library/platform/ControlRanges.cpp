// Trackbars (sliders) and progress bars: a position inside a range.

#include <algorithm>
#include <optional>

#include "internal/ControlSupport.h"

namespace wplat::controls {

namespace {

struct TrackState : State {
    int minimum = 0;
    int maximum = 100;
    int position = 0;
    int tickFrequency = 1;
    int pageSize = 20;
    int lineSize = 1;
    bool dragging = false;
};

bool vertical(HWND w)
{
    return (styleOf(w) & TBS_VERT) != 0;
}

void notifyScroll(HWND w, UINT code, int position)
{
    HWND parent = getParent(w);
    if (parent == nullptr) return;
    sendMessage(parent, vertical(w) ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM((int)code, position), (LPARAM)w);
}

// The channel runs between the thumb's half widths at both ends.
const int kThumb = 10;

int channelLength(HWND w)
{
    RECT r;
    getClientRect(w, r);
    return std::max(1, (vertical(w) ? r.bottom : r.right) - kThumb);
}

int thumbOffset(HWND w, const TrackState& s)
{
    int span = std::max(1, s.maximum - s.minimum);
    return (int)((long long)(s.position - s.minimum) * channelLength(w) / span);
}

int valueAt(HWND w, const TrackState& s, int pixel)
{
    int span = s.maximum - s.minimum;
    int offset = std::clamp(pixel - kThumb / 2, 0, channelLength(w));
    return s.minimum + (int)(((long long)offset * span + channelLength(w) / 2) / channelLength(w));
}

void moveBy(HWND w, TrackState& s, int delta, UINT code)
{
    s.position = std::clamp(s.position + delta, s.minimum, s.maximum);
    invalidateRect(w, nullptr, true);
    notifyScroll(w, code, 0);
    notifyScroll(w, TB_ENDTRACK, 0);
}

void paintTrack(HWND w, TrackState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    fillSolid(dc, r, getSysColor(COLOR_BTNFACE));
    int t = thumbOffset(w, s);
    if (vertical(w)) {
        int cx = r.right / 2;
        fillSolid(dc, RECT {cx - 2, kThumb / 2, cx + 2, r.bottom - kThumb / 2}, RGB(0xA0, 0xA0, 0xA0));
        fillSolid(dc, RECT {cx - 8, t, cx + 8, t + kThumb}, RGB(0x50, 0x50, 0x50));
    } else {
        int cy = r.bottom / 2;
        fillSolid(dc, RECT {kThumb / 2, cy - 2, r.right - kThumb / 2, cy + 2}, RGB(0xA0, 0xA0, 0xA0));
        if ((styleOf(w) & TBS_AUTOTICKS) != 0 && s.tickFrequency > 0 && s.maximum > s.minimum) {
            for (int v = s.minimum; v <= s.maximum; v += s.tickFrequency) {
                int x = kThumb / 2 + (int)((long long)(v - s.minimum) * channelLength(w) / (s.maximum - s.minimum));
                fillSolid(dc, RECT {x, r.bottom - 4, x + 1, r.bottom}, RGB(0x60, 0x60, 0x60));
            }
        }
        fillSolid(dc, RECT {t, cy - 8, t + kThumb, cy + 8}, RGB(0x50, 0x50, 0x50));
    }
}

struct ProgressState : State {
    int minimum = 0;
    int maximum = 100;
    int position = 0;
    int step = 10;
};

} // namespace

namespace {

// Range, position, ticks and page size.
std::optional<LRESULT> trackRangeMessage(HWND w, TrackState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case TBM_SETRANGE:
        // Both ends as signed 16-bit values, so ranges below zero work.
        s->minimum = GET_X_LPARAM(lp);
        s->maximum = std::max(GET_Y_LPARAM(lp), s->minimum);
        s->position = std::clamp(s->position, s->minimum, s->maximum);
        if (wp != 0) invalidateRect(w, nullptr, true);
        return 0;
    case TBM_GETRANGEMIN:
        return s->minimum;
    case TBM_GETRANGEMAX:
        return s->maximum;
    case TBM_SETPOS:
        s->position = std::clamp((int)lp, s->minimum, s->maximum);
        if (wp != 0) invalidateRect(w, nullptr, true);
        return 0;
    case TBM_GETPOS:
        return s->position;
    case TBM_SETTICFREQ:
        s->tickFrequency = (int)wp;
        invalidateRect(w, nullptr, true);
        return 0;
    case TBM_GETTICFREQ:
        return s->tickFrequency;
    case TBM_SETPAGESIZE: {
        int old = s->pageSize;
        s->pageSize = (int)lp;
        return old;
    }
    case TBM_GETPAGESIZE:
        return s->pageSize;
    default:
        break;
    }
    return std::nullopt;
}

// Keys, clicks, dragging the thumb and painting.
std::optional<LRESULT> trackInputMessage(HWND w, TrackState* s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
    case WM_KEYDOWN:
        switch (wp) {
        case VK_LEFT:
        case VK_UP:
            moveBy(w, *s, -s->lineSize, TB_LINEUP);
            break;
        case VK_RIGHT:
        case VK_DOWN:
            moveBy(w, *s, s->lineSize, TB_LINEDOWN);
            break;
        case VK_PRIOR:
            moveBy(w, *s, -s->pageSize, TB_PAGEUP);
            break;
        case VK_NEXT:
            moveBy(w, *s, s->pageSize, TB_PAGEDOWN);
            break;
        case VK_HOME:
            moveBy(w, *s, s->minimum - s->position, TB_TOP);
            break;
        case VK_END:
            moveBy(w, *s, s->maximum - s->position, TB_BOTTOM);
            break;
        default:
            break;
        }
        return 0;
    case WM_LBUTTONDOWN: {
        setFocus(w);
        int pixel = vertical(w) ? GET_Y_LPARAM(lp) : GET_X_LPARAM(lp);
        int t = thumbOffset(w, *s);
        if (pixel >= t && pixel < t + kThumb) {
            s->dragging = true;
            setCapture(w);
        } else {
            bool before = pixel < t;
            moveBy(w, *s, before ? -s->pageSize : s->pageSize, before ? TB_PAGEUP : TB_PAGEDOWN);
        }
        return 0;
    }
    case WM_MOUSEMOVE:
        if (s->dragging) {
            int v = valueAt(w, *s, vertical(w) ? GET_Y_LPARAM(lp) : GET_X_LPARAM(lp));
            if (v != s->position) {
                s->position = v;
                invalidateRect(w, nullptr, true);
                notifyScroll(w, TB_THUMBTRACK, v);
            }
        }
        return 0;
    case WM_LBUTTONUP:
        if (s->dragging) {
            s->dragging = false;
            releaseCapture();
            notifyScroll(w, TB_THUMBPOSITION, s->position);
            notifyScroll(w, TB_ENDTRACK, 0);
        }
        return 0;
    case WM_PAINT:
        paintTrack(w, *s);
        return 0;
    default:
        break;
    }
    return std::nullopt;
}

} // namespace

LRESULT trackbarProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return answerByGroups<TrackState>(w, m, wp, lp, {trackRangeMessage, trackInputMessage});
}

LRESULT progressProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    ProgressState* s = trackState<ProgressState>(w, m);
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    int old = s->position;
    switch (m) {
    case PBM_SETRANGE: {
        LRESULT previous = MAKELPARAM(s->minimum, s->maximum);
        s->minimum = (int)LOWORD((uintptr_t)lp);
        s->maximum = std::max((int)HIWORD((uintptr_t)lp), s->minimum);
        s->position = std::clamp(s->position, s->minimum, s->maximum);
        invalidateRect(w, nullptr, true);
        return previous;
    }
    case PBM_GETRANGE:
        return wp != 0 ? s->minimum : s->maximum;
    case PBM_SETPOS:
        s->position = std::clamp((int)wp, s->minimum, s->maximum);
        break;
    case PBM_DELTAPOS:
        s->position = std::clamp(s->position + (int)wp, s->minimum, s->maximum);
        break;
    case PBM_SETSTEP: {
        int previous = s->step;
        s->step = (int)wp;
        return previous;
    }
    case PBM_STEPIT: {
        // Past the end the bar starts over from the beginning.
        int next = s->position + s->step;
        int span = s->maximum - s->minimum;
        if (span <= 0)
            next = s->minimum;
        else if (next > s->maximum)
            next = s->minimum + (next - s->minimum) % span;
        else if (next < s->minimum)
            next = s->maximum - (s->minimum - next) % span;
        s->position = next;
        break;
    }
    case PBM_GETPOS:
        return s->position;
    case WM_PAINT: {
        ControlPaint paint(w);
        HDC dc = paint.dc();
        if (dc == nullptr) return 0;
        RECT r = paint.client();
        fillSolid(dc, r, getSysColor(COLOR_BTNFACE));
        drawFrame(dc, r, RGB(0xA0, 0xA0, 0xA0));
        int span = std::max(1, s->maximum - s->minimum);
        int filled = (int)((long long)(s->position - s->minimum) * std::max(0, (int)r.right - 2) / span);
        fillSolid(dc, RECT {1, 1, 1 + filled, r.bottom - 1}, RGB(0x06, 0xB0, 0x25));
        return 0;
    }
    default:
        return defWindowProc(w, m, wp, lp);
    }
    invalidateRect(w, nullptr, true);
    return old;
}

} // namespace wplat::controls
