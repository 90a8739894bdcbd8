// Regions: membership by the pixel-centre rule, overlap, flat description.
#include <gtest/gtest.h>

#include <cstring>

#include "W2DRegion.h"
#include "internal/WRegionRects.h"

namespace {

RECT R(int l, int t, int r, int b)
{
    return RECT {l, t, r, b};
}

// Every pixel of the window, as '#' inside and '.' outside.
std::string picture(const W2DRegion& region, int w, int h)
{
    std::string s;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            s += region.isPointIn(x, y) ? '#' : '.';
        s += '\n';
    }
    return s;
}

} // namespace

TEST(Region, RectangleEdges)
{
    W2DRegionRectangle r;
    r.create(R(2, 3, 6, 8));
    EXPECT_EQ(r.getType(), W2DRegion::RECTANGLE);
    EXPECT_TRUE(r.isPointIn(2, 3));
    EXPECT_TRUE(r.isPointIn(5, 7));
    EXPECT_FALSE(r.isPointIn(6, 3));
    EXPECT_FALSE(r.isPointIn(2, 8));
    EXPECT_FALSE(r.isPointIn(1, 3));
    EXPECT_EQ(r.getWidth(), 4u);
    EXPECT_EQ(r.getHeight(), 5u);
}

TEST(Region, EmptyAndNeverCreated)
{
    W2DRegionRectangle never, flat, other;
    flat.create(R(5, 0, 5, 10));
    other.create(R(0, 0, 100, 100));
    for (const W2DRegion* r : {static_cast<const W2DRegion*>(&never), static_cast<const W2DRegion*>(&flat)}) {
        EXPECT_FALSE(r->isPointIn(5, 5));
        EXPECT_FALSE(r->isRectIn(R(0, 0, 100, 100)));
        EXPECT_FALSE(r->isRegionIn(other));
        EXPECT_FALSE(other.isRegionIn(*r));
        RECT box;
        r->getBoundingBox(box);
        EXPECT_EQ(box.left | box.top | box.right | box.bottom, 0);
        EXPECT_EQ(r->getWidth(), 0u);
    }
    EXPECT_EQ(static_cast<HRGN>(never), nullptr);
}

TEST(Region, OverlapIsSymmetric)
{
    struct Case {
        RECT a, b;
        bool overlap;
    } cases[] = {
        {R(0, 0, 10, 10), R(10, 0, 20, 10), false}, // shared edge
        {R(0, 0, 10, 10), R(0, 10, 10, 20), false},
        {R(0, 0, 10, 10), R(9, 9, 20, 20), true}, // one pixel
        {R(0, 0, 10, 10), R(3, 3, 4, 4), true}, // inside
        {R(0, 0, 10, 10), R(-5, -5, 0, 0), false},
    };
    for (const Case& c : cases) {
        W2DRegionRectangle a, b;
        a.create(c.a);
        b.create(c.b);
        EXPECT_EQ(a.isRegionIn(b), c.overlap);
        EXPECT_EQ(b.isRegionIn(a), c.overlap);
        EXPECT_EQ(a.isRectIn(c.b), c.overlap);
    }
}

TEST(Region, EllipseByPixelCentres)
{
    W2DRegionEllipse e;
    e.create(R(0, 0, 8, 6));
    EXPECT_EQ(picture(e, 8, 6),
        "..####..\n"
        ".######.\n"
        "########\n"
        "########\n"
        ".######.\n"
        "..####..\n");
    RECT box;
    e.getBoundingBox(box);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, 8);
    EXPECT_EQ(box.bottom, 6);
    // A circle: symmetric about both axes and about the diagonal.
    W2DRegionEllipse c;
    c.create(R(10, 10, 31, 31));
    for (int y = 10; y < 31; ++y)
        for (int x = 10; x < 31; ++x) {
            bool in = c.isPointIn(x, y);
            EXPECT_EQ(in, c.isPointIn(40 - x, y));
            EXPECT_EQ(in, c.isPointIn(x, 40 - y));
            EXPECT_EQ(in, c.isPointIn(y, x));
        }
    c.getBoundingBox(box);
    EXPECT_EQ(box.left, 10);
    EXPECT_EQ(box.top, 10);
    EXPECT_EQ(box.right, 31);
    EXPECT_EQ(box.bottom, 31);
}

TEST(Region, RoundRectangleCorners)
{
    W2DRegionRoundRectangle r;
    r.create(R(0, 0, 10, 6), 4, 4);
    EXPECT_EQ(picture(r, 10, 6),
        ".########.\n"
        "##########\n"
        "##########\n"
        "##########\n"
        "##########\n"
        ".########.\n");
    EXPECT_EQ(r.getEllipseWidth(), 4u);
    // Corner ellipses as large as the rectangle make an ellipse.
    W2DRegionRoundRectangle full;
    full.create(R(0, 0, 8, 6), 100, 100);
    W2DRegionEllipse e;
    e.create(R(0, 0, 8, 6));
    EXPECT_EQ(picture(full, 8, 6), picture(e, 8, 6));
}

TEST(Region, PolygonWindingAndRectangleEquivalence)
{
    POINT square[] = {{2, 1}, {7, 1}, {7, 5}, {2, 5}};
    W2DRegionPolygon p;
    p.create(square, 4);
    W2DRegionRectangle r;
    r.create(R(2, 1, 7, 5));
    EXPECT_EQ(picture(p, 10, 8), picture(r, 10, 8));
    EXPECT_TRUE(*static_cast<HRGN>(p) == *static_cast<HRGN>(r));

    // A pentagram: its centre is inside under non-zero winding.
    POINT star[] = {{50, 0}, {79, 90}, {2, 34}, {98, 34}, {21, 90}};
    W2DRegionPolygon s;
    s.create(star, 5);
    EXPECT_TRUE(s.isPointIn(50, 50));
    EXPECT_TRUE(s.isPointIn(50, 5));
    EXPECT_FALSE(s.isPointIn(5, 80));

    // A triangle: the diagonal edge keeps pixels whose centre is left of it.
    POINT tri[] = {{0, 0}, {4, 0}, {0, 4}};
    W2DRegionPolygon t;
    t.create(tri, 3);
    EXPECT_EQ(picture(t, 4, 4),
        "###.\n"
        "##..\n"
        "#...\n"
        "....\n");
}

TEST(Region, PolygonCopyAndRecreate)
{
    POINT pts[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    auto* source = new W2DRegionPolygon;
    source->create(pts, 4);
    W2DRegionPolygon copy(*source);
    delete source;
    EXPECT_EQ(copy.getPointCount(), 4u);
    EXPECT_EQ(copy.getPoints()[2].x, 10);
    EXPECT_TRUE(copy.isPointIn(5, 5));

    POINT tri[] = {{0, 0}, {4, 0}, {0, 4}};
    copy.create(tri, 3);
    EXPECT_EQ(copy.getPointCount(), 3u);
    EXPECT_EQ(copy.getPoints()[1].x, 4);
    EXPECT_FALSE(copy.isPointIn(5, 5));

    copy.create(nullptr, 5); // no points, no crash
    EXPECT_EQ(copy.getPointCount(), 0u);
}

TEST(Region, FlatDescriptionIsCached)
{
    W2DRegionEllipse e;
    e.create(R(0, 0, 8, 6));
    RGNDATA* first = e;
    RGNDATA* second = e;
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->rdh.dwSize, sizeof(RGNDATAHEADER));
    EXPECT_EQ(first->rdh.iType, 1u);
    // Bands: row 0, row 1, rows 2-3, row 4, row 5.
    ASSERT_EQ(first->rdh.nCount, 5u);
    EXPECT_EQ(first->rdh.rcBound.right, 8);
    const RECT& band = first->rects()[2];
    EXPECT_EQ(band.top, 2);
    EXPECT_EQ(band.bottom, 4);
    EXPECT_EQ(band.left, 0);
    EXPECT_EQ(band.right, 8);

    e.create(R(0, 0, 4, 4));
    RGNDATA* third = e;
    EXPECT_EQ(third->rdh.rcBound.right, 4);
}

// Coordinates anywhere in the 32-bit range: widths up to 2^32 - 1, shapes
// at the very edges equal to the same shapes moved from the origin, and no
// intermediate value wraps (the sanitizer pass checks the arithmetic).
TEST(Region, ExtremeCoordinates)
{
    constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;
    W2DRegionRectangle all;
    all.create(R(lo, lo, hi, hi));
    EXPECT_EQ(all.getWidth(), 4294967295ul);
    EXPECT_EQ(all.getHeight(), 4294967295ul);
    EXPECT_TRUE(all.isPointIn(0, 0));
    EXPECT_TRUE(all.isPointIn(lo, lo));
    EXPECT_FALSE(all.isPointIn(hi, 0));

    // Each shape at (0,0) and moved to a far corner has the same pixels.
    struct Corner {
        const char* name;
        int32_t dx, dy;
    };
    for (const Corner& c : {Corner {"bottom right", hi - 12, hi - 10}, Corner {"top left", lo, lo},
             Corner {"top right", hi - 12, lo}, Corner {"bottom left", lo, hi - 10}}) {
        SCOPED_TRACE(c.name);
        auto moved = [&](int l, int t, int r, int b) { return R(l + c.dx, t + c.dy, r + c.dx, b + c.dy); };
        W2DRegionRoundRectangle home, far;
        home.create(R(0, 0, 12, 10), 8, 6);
        far.create(moved(0, 0, 12, 10), 8, 6);
        W2DRegionEllipse eHome, eFar;
        eHome.create(R(0, 0, 12, 10));
        eFar.create(moved(0, 0, 12, 10));
        POINT tri[] = {{0, 0}, {12, 5}, {0, 10}};
        POINT triFar[] = {{c.dx, c.dy}, {12 + c.dx, 5 + c.dy}, {c.dx, 10 + c.dy}};
        W2DRegionPolygon pHome, pFar;
        pHome.create(tri, 3);
        pFar.create(triFar, 3);
        for (auto [a, b] :
            {std::pair<const W2DRegion*, const W2DRegion*> {&home, &far}, {&eHome, &eFar}, {&pHome, &pFar}}) {
            WRegionRects shifted = *static_cast<HRGN>(*a);
            shifted.offset(c.dx, c.dy);
            EXPECT_TRUE(shifted == *static_cast<HRGN>(*b));
            EXPECT_EQ(a->getWidth(), b->getWidth());
        }
    }

    // Shapes spanning the whole range: flat ones are made, symmetric; ones
    // too tall to make row by row stay empty, quickly.
    W2DRegionEllipse wide;
    wide.create(R(lo, -2, hi, 2));
    EXPECT_TRUE(wide.isPointIn(0, 0));
    EXPECT_TRUE(wide.isPointIn(-1, -1));
    EXPECT_FALSE(wide.isPointIn(lo, -2));
    RECT box;
    wide.getBoundingBox(box);
    EXPECT_EQ(int64_t(box.left) + box.right, int64_t(lo) + hi);
    W2DRegionRoundRectangle wideRound;
    wideRound.create(R(lo, -3, hi, 3), 4000000000ul, 4);
    EXPECT_TRUE(wideRound.isPointIn(0, -3));
    EXPECT_FALSE(wideRound.isPointIn(lo, -3));
    POINT spike[] = {{lo, 0}, {hi, 1}, {lo, 2}};
    W2DRegionPolygon thin;
    thin.create(spike, 3);
    EXPECT_TRUE(thin.isPointIn(lo, 0));
    W2DRegionEllipse tall;
    tall.create(R(0, lo, 10, hi));
    EXPECT_FALSE(tall.isPointIn(5, 0));
    EXPECT_EQ(tall.getWidth(), 0u);
}
