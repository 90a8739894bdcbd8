#include "internal/WRegionRects.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace {

RECT normalised(const RECT& r)
{
    RECT n = r;
    if (n.left > n.right) std::swap(n.left, n.right);
    if (n.top > n.bottom) std::swap(n.top, n.bottom);
    return n;
}

// Inside an ellipse with bounding box (l,t,r,b), pixel-centre rule, exact in
// integers: (2x+1-l-r)^2 (b-t)^2 + (2y+1-t-b)^2 (r-l)^2 < (r-l)^2 (b-t)^2.
// For a pixel of the box |dx| < w and |dy| < h, so with w and h below 2^32
// every product stays below 2^128; the sum is avoided by moving one term to
// the other side, which stays non-negative.
bool inEllipse(int64_t x, int64_t y, int64_t l, int64_t t, int64_t r, int64_t b)
{
    using U = unsigned __int128;
    const int64_t dx = 2 * x + 1 - l - r, dy = 2 * y + 1 - t - b;
    const U w = U(r - l), h = U(b - t);
    const U ax = U(dx < 0 ? -dx : dx), ay = U(dy < 0 ? -dy : dy);
    if (ax >= w || ay >= h) return false;
    return ax * ax * (h * h) < w * w * (h * h - ay * ay);
}

// The first x in [from, to) for which inside(x) holds, to when none does;
// inside must be false and then true along the range.
template <typename Inside>
int64_t firstInside(int64_t from, int64_t to, const Inside& inside)
{
    while (from < to) {
        const int64_t mid = from + (to - from) / 2;
        if (inside(mid))
            to = mid;
        else
            from = mid + 1;
    }
    return from;
}

// Curved shapes and polygons are made row by row: one taller than this (no
// screen is) or a polygon whose rows times edges exceed the work bound is
// refused and stays empty, instead of taking minutes and gigabytes.
constexpr int64_t kMaxShapeRows = int64_t(1) << 20;
constexpr uint64_t kMaxPolygonWork = uint64_t(1) << 28;

} // namespace

void WRegionRects::appendBand(int32_t top, int32_t bottom, const std::vector<Span>& spans)
{
    if (spans.empty() || top >= bottom) return;
    // Previous band: the trailing rectangles sharing the last rectangle's top.
    if (!m_rects.empty() && m_rects.back().bottom == top) {
        size_t first = m_rects.size();
        while (first > 0 && m_rects[first - 1].top == m_rects.back().top)
            --first;
        bool same = m_rects.size() - first == spans.size();
        for (size_t i = 0; same && i < spans.size(); ++i)
            same = m_rects[first + i].left == spans[i].left && m_rects[first + i].right == spans[i].right;
        if (same) {
            for (size_t i = first; i < m_rects.size(); ++i)
                m_rects[i].bottom = bottom;
            return;
        }
    }
    for (const Span& s : spans)
        m_rects.push_back(RECT {s.left, top, s.right, bottom});
}

std::vector<WRegionRects::Span> WRegionRects::spansAt(int32_t y) const
{
    std::vector<Span> out;
    for (const RECT& r : m_rects) {
        if (r.top > y) break;
        if (y < r.bottom) out.push_back(Span {r.left, r.right});
    }
    return out;
}

WRegionRects WRegionRects::rectangle(const RECT& r)
{
    WRegionRects out;
    RECT n = normalised(r);
    if (n.left < n.right && n.top < n.bottom) out.m_rects.push_back(n);
    return out;
}

WRegionRects WRegionRects::ellipse(const RECT& r)
{
    WRegionRects out;
    RECT n = normalised(r);
    if (int64_t(n.bottom) - n.top > kMaxShapeRows) return out;
    for (int32_t y = n.top; y < n.bottom; ++y) {
        std::vector<Span> spans;
        // Columns left of the vertical centre line go from outside to
        // inside; a row with any pixel inside has one there, as rows are
        // symmetric about that line.
        const int64_t centre = (int64_t(n.left) + n.right + 1) >> 1;
        const int64_t x = firstInside(
            n.left, centre, [&](int64_t px) { return inEllipse(px, y, n.left, n.top, n.right, n.bottom); });
        if (x < centre) spans.push_back(Span {int32_t(x), int32_t(int64_t(n.left) + n.right - x)});
        out.appendBand(y, y + 1, spans);
    }
    return out;
}

WRegionRects WRegionRects::roundRectangle(const RECT& r, unsigned long ellipseWidth, unsigned long ellipseHeight)
{
    // All arithmetic in 64 bits: coordinates may span the whole 32-bit range.
    RECT n = normalised(r);
    const int64_t w = int64_t(n.right) - n.left, h = int64_t(n.bottom) - n.top;
    const int64_t ew = static_cast<int64_t>(std::min<uint64_t>(ellipseWidth, uint64_t(w)));
    const int64_t eh = static_cast<int64_t>(std::min<uint64_t>(ellipseHeight, uint64_t(h)));
    if (ew < 2 || eh < 2) return rectangle(n);
    WRegionRects out;
    if (h > kMaxShapeRows) return out;
    for (int32_t y = n.top; y < n.bottom; ++y) {
        // Rows above the top corners' centre line or below the bottom ones'.
        const bool upper = 2 * int64_t(y) + 1 < 2 * int64_t(n.top) + eh;
        const bool lower = 2 * int64_t(y) + 1 > 2 * int64_t(n.bottom) - eh;
        int32_t left = n.left;
        if (upper || lower) {
            // Within the corner's left half, outside then inside the corner.
            const int64_t ct = upper ? int64_t(n.top) : int64_t(n.bottom) - eh;
            left = int32_t(firstInside(n.left, n.right, [&](int64_t px) {
                return 2 * px + 1 >= 2 * int64_t(n.left) + ew
                    || inEllipse(px, y, n.left, ct, int64_t(n.left) + ew, ct + eh);
            }));
        }
        const int32_t right = int32_t(int64_t(n.left) + n.right - left); // symmetric
        std::vector<Span> spans;
        if (left < right) spans.push_back(Span {left, right});
        out.appendBand(y, y + 1, spans);
    }
    return out;
}

WRegionRects WRegionRects::polygon(const POINT* points, unsigned long count)
{
    WRegionRects out;
    if (points == nullptr || count < 3) return out;
    int32_t top = points[0].y, bottom = points[0].y;
    for (unsigned long i = 1; i < count; ++i) {
        top = std::min(top, points[i].y);
        bottom = std::max(bottom, points[i].y);
    }
    const int64_t rows = int64_t(bottom) - top;
    if (rows > kMaxShapeRows || uint64_t(rows) * count > kMaxPolygonWork) return out;
    struct Crossing {
        double x;
        int dir;
    };
    std::vector<Crossing> crossings;
    for (int32_t y = top; y < bottom; ++y) {
        crossings.clear();
        for (unsigned long i = 0; i < count; ++i) {
            const POINT& a = points[i];
            const POINT& b = points[(i + 1) % count];
            if (a.y == b.y) continue;
            // The centre line 2y+1 never meets an integer vertex row exactly.
            int64_t lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
            if (2 * int64_t(y) + 1 < 2 * lo || 2 * int64_t(y) + 1 > 2 * hi) continue;
            const double num = double(2 * int64_t(y) + 1 - 2 * int64_t(a.y)) * double(int64_t(b.x) - a.x);
            const double x = a.x + num / double(2 * (int64_t(b.y) - a.y));
            crossings.push_back(Crossing {x, b.y > a.y ? 1 : -1});
        }
        std::sort(crossings.begin(), crossings.end(), [](const Crossing& p, const Crossing& q) { return p.x < q.x; });
        std::vector<Span> spans;
        int winding = 0;
        for (size_t i = 0; i + 1 < crossings.size(); ++i) {
            winding += crossings[i].dir;
            if (winding == 0) continue;
            // Pixels whose centre x+1/2 lies in [xa, xb).
            double xa = crossings[i].x, xb = crossings[i + 1].x;
            // Rounding may carry a crossing a hair past its edge's ends.
            const double lowest = double(INT32_MIN), highest = double(INT32_MAX);
            const int32_t from = static_cast<int32_t>(std::clamp(std::ceil(xa - 0.5), lowest, highest));
            const int32_t to = static_cast<int32_t>(std::clamp(std::ceil(xb - 0.5), lowest, highest));
            if (from >= to) continue;
            if (!spans.empty() && spans.back().right >= from)
                spans.back().right = std::max(spans.back().right, to);
            else
                spans.push_back(Span {from, to});
        }
        out.appendBand(y, y + 1, spans);
    }
    return out;
}

WRegionRects WRegionRects::fromRects(const RECT* rects, unsigned long count)
{
    WRegionRects out;
    for (unsigned long i = 0; i < count; ++i)
        out = combine(out, rectangle(rects[i]), Combine::Or);
    return out;
}

WRegionRects WRegionRects::combine(const WRegionRects& a, const WRegionRects& b, Combine op)
{
    std::set<int32_t> edges;
    for (const RECT& r : a.m_rects) {
        edges.insert(r.top);
        edges.insert(r.bottom);
    }
    for (const RECT& r : b.m_rects) {
        edges.insert(r.top);
        edges.insert(r.bottom);
    }
    WRegionRects out;
    if (edges.empty()) return out;
    auto inside = [op](bool ina, bool inb) {
        switch (op) {
        case Combine::And:
            return ina && inb;
        case Combine::Or:
            return ina || inb;
        case Combine::Diff:
            return ina && !inb;
        case Combine::Xor:
            return ina != inb;
        }
        return false;
    };
    std::vector<int32_t> ys(edges.begin(), edges.end());
    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        std::vector<Span> sa = a.spansAt(ys[i]), sb = b.spansAt(ys[i]);
        std::set<int32_t> xs;
        for (const Span& s : sa) {
            xs.insert(s.left);
            xs.insert(s.right);
        }
        for (const Span& s : sb) {
            xs.insert(s.left);
            xs.insert(s.right);
        }
        auto covered = [](const std::vector<Span>& spans, int32_t x) {
            for (const Span& s : spans)
                if (s.left <= x && x < s.right) return true;
            return false;
        };
        std::vector<Span> spans;
        std::vector<int32_t> vx(xs.begin(), xs.end());
        for (size_t j = 0; j + 1 < vx.size(); ++j) {
            if (!inside(covered(sa, vx[j]), covered(sb, vx[j]))) continue;
            if (!spans.empty() && spans.back().right == vx[j])
                spans.back().right = vx[j + 1];
            else
                spans.push_back(Span {vx[j], vx[j + 1]});
        }
        out.appendBand(ys[i], ys[i + 1], spans);
    }
    return out;
}

RECT WRegionRects::bounds() const
{
    if (m_rects.empty()) return RECT {0, 0, 0, 0};
    RECT b = m_rects.front();
    for (const RECT& r : m_rects) {
        b.left = std::min(b.left, r.left);
        b.right = std::max(b.right, r.right);
        b.bottom = std::max(b.bottom, r.bottom);
    }
    return b;
}

bool WRegionRects::contains(int x, int y) const
{
    for (const RECT& r : m_rects)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    return false;
}

bool WRegionRects::overlaps(const RECT& q) const
{
    RECT n = normalised(q);
    for (const RECT& r : m_rects)
        if (std::max(n.left, r.left) < std::min(n.right, r.right)
            && std::max(n.top, r.top) < std::min(n.bottom, r.bottom))
            return true;
    return false;
}

bool WRegionRects::intersects(const WRegionRects& other) const
{
    for (const RECT& r : other.m_rects)
        if (overlaps(r)) return true;
    return false;
}

void WRegionRects::offset(int dx, int dy)
{
    for (RECT& r : m_rects) {
        r.left += dx;
        r.right += dx;
        r.top += dy;
        r.bottom += dy;
    }
}

bool WRegionRects::operator==(const WRegionRects& other) const
{
    if (m_rects.size() != other.m_rects.size()) return false;
    for (size_t i = 0; i < m_rects.size(); ++i) {
        const RECT &a = m_rects[i], &b = other.m_rects[i];
        if (a.left != b.left || a.top != b.top || a.right != b.right || a.bottom != b.bottom) return false;
    }
    return true;
}
