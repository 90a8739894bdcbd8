#pragma once
// A set of pixels kept as y-x banded rectangles: bands top to bottom, each
// band one run of disjoint, non-touching rectangles left to right, and no two
// touching bands with the same runs. Shapes are rasterised by the pixel-centre
// rule: pixel (x, y) belongs to a shape when (x + 1/2, y + 1/2) lies inside it.

#include <cstdint>
#include <vector>

#include "W2DTypes.h"

class WRegionRects {
public:
    enum class Combine { And, Or, Diff, Xor };

    WRegionRects() = default;

    static WRegionRects rectangle(const RECT& r);
    static WRegionRects ellipse(const RECT& r);
    static WRegionRects roundRectangle(const RECT& r, unsigned long ellipseWidth, unsigned long ellipseHeight);
    // Non-zero winding at pixel centres.
    static WRegionRects polygon(const POINT* points, unsigned long count);
    static WRegionRects fromRects(const RECT* rects, unsigned long count);
    static WRegionRects combine(const WRegionRects& a, const WRegionRects& b, Combine op);

    bool isEmpty() const { return m_rects.empty(); }
    const std::vector<RECT>& rects() const { return m_rects; }
    // (0,0,0,0) when empty.
    RECT bounds() const;
    bool contains(int x, int y) const;
    // Some pixel of r lies in the set.
    bool overlaps(const RECT& r) const;
    bool intersects(const WRegionRects& other) const;
    void offset(int dx, int dy);
    bool operator==(const WRegionRects& other) const;

private:
    struct Span {
        int32_t left;
        int32_t right;
        bool operator==(const Span& o) const { return left == o.left && right == o.right; }
    };
    // Appends one band; merges it into the previous band when that touches it
    // and has the same spans.
    void appendBand(int32_t top, int32_t bottom, const std::vector<Span>& spans);
    // The spans of the band that covers row y (empty if none).
    std::vector<Span> spansAt(int32_t y) const;

    std::vector<RECT> m_rects;
};
