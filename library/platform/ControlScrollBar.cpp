// Scroll bars: arrows at both ends, a track and a thumb sized by the page.
// Clicks and drags become WM_HSCROLL/WM_VSCROLL requests to the parent,
// which decides the new position (SBM_SETSCROLLINFO).

#include <algorithm>

#include "internal/ControlSupport.h"

namespace wplat::controls {

namespace {

struct BarState : State {
    int minimum = 0;
    int maximum = 100;
    int page = 0;
    int position = 0;
    int trackPosition = 0;
    bool dragging = false;
    int grabOffset = 0;
};

bool vertical(HWND w)
{
    return (styleOf(w) & SBS_VERT) != 0;
}

struct Geometry {
    int arrow; // length of each arrow button
    int track; // length between the arrows
    int thumb; // length of the thumb
    int thumbAt; // thumb start, from the track start
};

int lastPosition(const BarState& s)
{
    return std::max(s.minimum, s.maximum - std::max(s.page - 1, 0));
}

Geometry geometryOf(HWND w, const BarState& s, int position)
{
    RECT r;
    getClientRect(w, r);
    int length = vertical(w) ? r.bottom : r.right;
    int thickness = vertical(w) ? r.right : r.bottom;
    Geometry g {};
    g.arrow = std::min(thickness, length / 2);
    g.track = std::max(0, length - 2 * g.arrow);
    long long span = (long long)s.maximum - s.minimum + 1;
    g.thumb = s.page > 0 && span > 0 ? (int)std::min<long long>(g.track, g.track * (long long)s.page / span) : 8;
    g.thumb = std::min(g.track, std::max(g.thumb, 8));
    int movable = lastPosition(s) - s.minimum;
    g.thumbAt = movable > 0 ? (int)((long long)(position - s.minimum) * (g.track - g.thumb) / movable) : 0;
    return g;
}

// The position whose thumb starts `pixel` into the track.
int positionAt(HWND w, const BarState& s, int pixel)
{
    Geometry g = geometryOf(w, s, s.position);
    int room = g.track - g.thumb;
    int movable = lastPosition(s) - s.minimum;
    if (room <= 0 || movable <= 0) return s.minimum;
    pixel = std::clamp(pixel, 0, room);
    return s.minimum + (int)(((long long)pixel * movable + room / 2) / room);
}

void request(HWND w, UINT code, int position)
{
    HWND parent = getParent(w);
    if (parent != nullptr)
        sendMessage(parent, vertical(w) ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM((int)code, position), (LPARAM)w);
}

void paintBar(HWND w, const BarState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    fillSolid(dc, r, RGB(0xE8, 0xE8, 0xE8));
    Geometry g = geometryOf(w, s, s.dragging ? s.trackPosition : s.position);
    auto along = [&](int from, int to) {
        return vertical(w) ? RECT {0, from, r.right, to} : RECT {from, 0, to, r.bottom};
    };
    int length = vertical(w) ? r.bottom : r.right;
    RECT first = along(0, g.arrow);
    RECT last = along(length - g.arrow, length);
    for (const RECT& a : {first, last}) {
        fillSolid(dc, a, getSysColor(COLOR_BTNFACE));
        drawFrame(dc, a, RGB(0xA0, 0xA0, 0xA0));
    }
    RECT thumb = along(g.arrow + g.thumbAt, g.arrow + g.thumbAt + g.thumb);
    fillSolid(dc, thumb, RGB(0x90, 0x90, 0x90));
}

void pressed(HWND w, BarState& s, int pixel)
{
    Geometry g = geometryOf(w, s, s.position);
    RECT r;
    getClientRect(w, r);
    int length = vertical(w) ? r.bottom : r.right;
    if (pixel < g.arrow) {
        request(w, SB_LINEUP, 0);
    } else if (pixel >= length - g.arrow) {
        request(w, SB_LINEDOWN, 0);
    } else {
        int inTrack = pixel - g.arrow;
        if (inTrack < g.thumbAt) {
            request(w, SB_PAGEUP, 0);
        } else if (inTrack >= g.thumbAt + g.thumb) {
            request(w, SB_PAGEDOWN, 0);
        } else {
            s.dragging = true;
            s.grabOffset = inTrack - g.thumbAt;
            s.trackPosition = s.position;
            setCapture(w);
            return;
        }
    }
    request(w, SB_ENDSCROLL, 0);
}

} // namespace

LRESULT scrollBarProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    BarState* s = trackState<BarState>(w, m);
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    switch (m) {
    case SBM_SETSCROLLINFO: {
        auto* info = (const SCROLLINFO*)lp;
        if (info == nullptr) return s->position;
        if ((info->fMask & SIF_RANGE) != 0) {
            s->minimum = info->nMin;
            s->maximum = std::max(info->nMax, info->nMin);
        }
        if ((info->fMask & SIF_PAGE) != 0)
            s->page = (int)std::min<UINT>(info->nPage, (UINT)(s->maximum - s->minimum + 1));
        if ((info->fMask & SIF_POS) != 0) s->position = info->nPos;
        s->position = std::clamp(s->position, s->minimum, lastPosition(*s));
        if (wp != 0) invalidateRect(w, nullptr, true);
        return s->position;
    }
    case SBM_GETSCROLLINFO: {
        auto* info = (SCROLLINFO*)lp;
        if (info == nullptr) return 0;
        if ((info->fMask & SIF_RANGE) != 0) {
            info->nMin = s->minimum;
            info->nMax = s->maximum;
        }
        if ((info->fMask & SIF_PAGE) != 0) info->nPage = (UINT)s->page;
        if ((info->fMask & SIF_POS) != 0) info->nPos = s->position;
        if ((info->fMask & SIF_TRACKPOS) != 0) info->nTrackPos = s->dragging ? s->trackPosition : s->position;
        return 1;
    }
    case SBM_SETPOS: {
        int old = s->position;
        s->position = std::clamp((int)wp, s->minimum, lastPosition(*s));
        if (lp != 0) invalidateRect(w, nullptr, true);
        return old;
    }
    case SBM_GETPOS:
        return s->position;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        pressed(w, *s, vertical(w) ? GET_Y_LPARAM(lp) : GET_X_LPARAM(lp));
        invalidateRect(w, nullptr, true);
        return 0;
    case WM_MOUSEMOVE:
        if (s->dragging) {
            Geometry g = geometryOf(w, *s, s->position);
            int pixel = (vertical(w) ? GET_Y_LPARAM(lp) : GET_X_LPARAM(lp)) - g.arrow - s->grabOffset;
            int at = positionAt(w, *s, pixel);
            if (at != s->trackPosition) {
                s->trackPosition = at;
                invalidateRect(w, nullptr, true);
                request(w, SB_THUMBTRACK, at);
            }
        }
        return 0;
    case WM_LBUTTONUP:
        if (s->dragging) {
            s->dragging = false;
            releaseCapture();
            request(w, SB_THUMBPOSITION, s->trackPosition);
            request(w, SB_ENDSCROLL, 0);
            invalidateRect(w, nullptr, true);
        }
        return 0;
    case WM_PAINT:
        paintBar(w, *s);
        return 0;
    default:
        break;
    }
    return defWindowProc(w, m, wp, lp);
}

} // namespace wplat::controls
