// Surfaces: transfers with colour keys, stretching and clip lists, device
// contexts, flipping, and recovery from (simulated) surface loss.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "Platform.h"
#include "W2DContext.h"
#include "WBitmap.h"
#include "WException.h"

using namespace gtest_support;

namespace {

class TestContext : public W2DContext {
public:
    explicit TestContext(RECT given, unsigned long backBuffers = 0) : area(given)
    {
        openDevice();
        getSurfacePrimary().create(*this, backBuffers);
    }
    void getArea(RECT& out) const override { out = area; }

private:
    RECT area;
};

// Fills an off-screen surface with a distinct colour per pixel.
void pattern(W2DSurface& s)
{
    wplat::PixelImage& img = *s.getImage();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, uint32_t(0x100000 + y * 0x100 + x));
}

class CountingReloader : public W2DContentReloader {
public:
    explicit CountingReloader(W2DSurface& s) : surface(s) { }
    void reloadContent() override
    {
        ++calls;
        surface.restore();
        pattern(surface);
    }
    W2DSurface& surface;
    int calls = 0;
};

} // namespace

TEST(Surface, DrawAtPointWritesExactlyTheSourceRectangle)
{
    TestContext ctx(RECT {0, 0, 40, 40});
    W2DSurfaceOffscreen src, dst;
    src.create(ctx, 10, 20);
    dst.create(ctx, 40, 40);
    pattern(src);
    dst.erase(0x000000);
    dst.draw(src, 5, 7);
    const wplat::PixelImage& img = *dst.getImage();
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            bool inside = x >= 5 && x < 15 && y >= 7 && y < 27;
            uint32_t expect = inside ? uint32_t(0x100000 + (y - 7) * 0x100 + (x - 5)) : 0;
            ASSERT_EQ(img.pixel(x, y), expect) << x << "," << y;
        }
}

TEST(Surface, ColourKeyIsComparedInPixelFormat)
{
    TestContext ctx(RECT {0, 0, 8, 8});
    W2DSurfaceOffscreen src, dst;
    src.create(ctx, 4, 1);
    dst.create(ctx, 4, 1);
    // Key red as COLORREF 0x000000FF: the red source pixel must not be copied.
    src.getImage()->setPixel(0, 0, 0xFF0000);
    src.getImage()->setPixel(1, 0, 0x0000FF);
    src.getImage()->setPixel(2, 0, 0x00FF00);
    src.getImage()->setPixel(3, 0, 0xFF0000);
    src.setColorKey(0x000000FF);
    EXPECT_TRUE(src.isColorKey());
    dst.erase(0x00808080);
    dst.draw(src, 0, 0);
    EXPECT_EQ(dst.getImage()->pixel(0, 0), 0x808080u);
    EXPECT_EQ(dst.getImage()->pixel(1, 0), 0x0000FFu);
    EXPECT_EQ(dst.getImage()->pixel(2, 0), 0x00FF00u);
    EXPECT_EQ(dst.getImage()->pixel(3, 0), 0x808080u);
    src.setUseColorKey(false);
    dst.draw(src, 0, 0);
    EXPECT_EQ(dst.getImage()->pixel(0, 0), 0xFF0000u);
}

TEST(Surface, StretchAndClipInvariance)
{
    TestContext ctx(RECT {0, 0, 64, 64});
    W2DSurfaceOffscreen src, full, clipped;
    src.create(ctx, 3, 3);
    pattern(src);
    full.create(ctx, 20, 20);
    clipped.create(ctx, 20, 20);
    full.erase(0);
    clipped.erase(0);
    RECT s {0, 0, 3, 3}, t {1, 2, 8, 9}; // 3 -> 7: uneven stretch
    full.draw(src, s, t);
    // Centre sampling: column x takes source (2(x-1)+1)*3/14.
    for (int x = 1; x < 8; ++x)
        EXPECT_EQ(full.getImage()->pixel(x, 2) & 0xFF, uint32_t(((2 * (x - 1) + 1) * 3) / 14)) << x;

    // Two clip lists in turn equal one transfer restricted to both.
    RECT pieces[] = {{0, 0, 4, 20}, {6, 5, 20, 7}};
    W2DRegionRectangle r1;
    r1.create(pieces[0]);
    clipped.setClipRegion(r1);
    clipped.draw(src, s, t);
    W2DRegionRectangle r2;
    r2.create(pieces[1]);
    clipped.setClipRegion(r2); // the one clipper gets a new list
    clipped.draw(src, s, t);
    EXPECT_NE(clipped.getClipRegion(), &r2); // a copy of its own
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            bool in = (x < 4) || (x >= 6 && y >= 5 && y < 7);
            ASSERT_EQ(clipped.getImage()->pixel(x, y), in ? full.getImage()->pixel(x, y) : 0u) << x << "," << y;
        }

    // Halving: every second pixel, centre-sampled.
    W2DSurfaceOffscreen big, half;
    big.create(ctx, 8, 8);
    pattern(big);
    half.create(ctx, 4, 4);
    half.draw(big, RECT {0, 0, 8, 8}, RECT {0, 0, 4, 4});
    EXPECT_EQ(half.getImage()->pixel(1, 2), big.getImage()->pixel(3, 5));
}

TEST(Surface, RefusedRectanglesDrawNothing)
{
    TestContext ctx(RECT {0, 0, 8, 8});
    W2DSurfaceOffscreen src, dst;
    src.create(ctx, 4, 4);
    pattern(src);
    dst.create(ctx, 8, 8);
    dst.erase(0);
    dst.draw(src, RECT {0, 0, 5, 4}, RECT {0, 0, 5, 4}); // reaches outside the source
    dst.draw(src, RECT {2, 0, 0, 4}, RECT {0, 0, 2, 4}); // inverted
    dst.draw(src, RECT {0, 0, 4, 4}, RECT {3, 3, 3, 5}); // empty target
    EXPECT_TRUE(dst.getImage()->sameAs(wplat::PixelImage(8, 8, 0)));
    // Overlapping transfer within one surface reads the old pixels.
    src.draw(src, RECT {0, 0, 3, 1}, RECT {1, 0, 4, 1});
    EXPECT_EQ(src.getImage()->pixel(1, 0), 0x100000u);
    EXPECT_EQ(src.getImage()->pixel(3, 0), 0x100002u);
}

TEST(Surface, DeviceContextDrawsIntoThePixels)
{
    TestContext ctx(RECT {0, 0, 8, 8});
    W2DSurfaceOffscreen s;
    s.create(ctx, 6, 6);
    HDC dc = s.getDC();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(static_cast<HDC>(s), dc);
    wplat::fillSolid(dc, RECT {1, 1, 3, 3}, 0x000000FF); // red as COLORREF
    s.releaseDC();
    EXPECT_EQ(static_cast<HDC>(s), nullptr);
    EXPECT_EQ(s.getImage()->pixel(2, 2), 0xFF0000u);
    EXPECT_EQ(s.getImage()->pixel(3, 3), 0u);
    s.erase(0x00FF0000); // blue
    EXPECT_EQ(s.getImage()->pixel(5, 5), 0x0000FFu);
}

TEST(Surface, LossRecovery)
{
    TestContext ctx(RECT {0, 0, 16, 16});
    W2DSurfaceOffscreen src, dst;
    src.create(ctx, 4, 4);
    dst.create(ctx, 16, 16);
    pattern(src);
    CountingReloader reloader(src);
    src.setReloader(&reloader);
    dst.erase(0);
    ctx.loseSurfaces();
    EXPECT_TRUE(src.isLost());
    EXPECT_TRUE(dst.isLost());
    dst.draw(src, 2, 2);
    EXPECT_EQ(reloader.calls, 1);
    EXPECT_FALSE(dst.isLost());
    EXPECT_EQ(dst.getImage()->pixel(2, 2), 0x100000u);

    // getDC restores once; a surface that stays lost gives no context.
    dst.simulateLoss();
    EXPECT_NE(dst.getDC(), nullptr);
    dst.releaseDC();
    dst.simulateLoss(1);
    EXPECT_EQ(dst.getDC(), nullptr);
    EXPECT_TRUE(dst.isLost());
}

TEST(Surface, BitmapSurfaceKeysAndReloads)
{
    TempDir dir;
    // 2x1 GIF: red, then a clear pixel whose entry is green.
    writeFile(dir.path("k.gif"), makeGif(2, 1, {0xFF0000, 0x00FF00}, {{0, 0, 2, 1, {0, 1}, 0, 1, 0}}));
    wplat::PixelImage plain(2, 1, 0x123456);
    WBitmap(plain).save(dir.path("p.gif").c_str(), 0);

    TestContext ctx(RECT {0, 0, 8, 8});
    W2DSurfaceBitmap keyed, unkeyed;
    keyed.create(ctx, dir.path("k.gif").c_str());
    EXPECT_TRUE(keyed.isColorKey());
    EXPECT_EQ(keyed.getColorKey(), 0x0000FF00u);
    EXPECT_EQ(keyed.getImage()->pixel(1, 0), 0x00FF00u);
    unkeyed.create(ctx, dir.path("p.gif").c_str());
    EXPECT_FALSE(unkeyed.isColorKey());

    W2DSurfaceOffscreen target;
    target.create(ctx, 4, 1);
    target.erase(0x00FFFFFF);
    ctx.loseSurfaces();
    target.draw(keyed, 0, 0); // restores, reloads the file, transfers
    EXPECT_EQ(target.getImage()->pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(target.getImage()->pixel(1, 0), 0u); // restored to black, key pixel not copied
    EXPECT_EQ(keyed.getImage()->pixel(0, 0), 0xFF0000u);

    EXPECT_THROW(keyed.create(ctx, dir.path("none.gif").c_str()), WBitmapException);
}

TEST(Surface, PrimaryFlipAndBackBuffer)
{
    TestContext ctx(RECT {100, 50, 110, 56}, 1);
    W2DSurfacePrimary& primary = ctx.getSurfacePrimary();
    EXPECT_EQ(primary.getWidth(), 10u);
    EXPECT_EQ(primary.getHeight(), 6u);
    W2DSurfaceOffscreen back;
    primary.getBackBuffer(back);
    EXPECT_EQ(back.getWidth(), 10u); // the real size
    back.erase(0x000000FF);
    primary.flip();
    EXPECT_EQ(primary.getImage()->pixel(3, 3), 0xFF0000u);
    // The primary is addressed in its own coordinates: the area's corner.
    W2DSurfaceOffscreen dot;
    dot.create(ctx, 1, 1);
    dot.erase(0x00FF0000);
    primary.draw(dot, 100, 50);
    EXPECT_EQ(primary.getImage()->pixel(0, 0), 0x0000FFu);

    TestContext single(RECT {0, 0, 4, 4}, 0);
    W2DSurfaceOffscreen none;
    try {
        single.getSurfacePrimary().getBackBuffer(none);
        FAIL() << "no exception";
    } catch (const WDirectXException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot get attached surface");
    }
    W2DSurfaceOffscreen zero;
    EXPECT_THROW(zero.create(single, 0, 5), WDirectXException);
}

// Sizes no memory can hold, or beyond the allocation limit, are refused
// with the surface's own message, never std::bad_alloc.
TEST(Surface, ImpossibleSizesAreRefused)
{
    TestContext ctx(RECT {0, 0, 64, 48});
    struct Size {
        unsigned long width, height;
    };
    for (const Size& s : {Size {0, 10}, Size {10, 0}, Size {65537, 1}, Size {1, 65537}, Size {65536, 65536},
             Size {20000, 20000}, Size {~0ul, ~0ul}}) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        W2DSurfaceOffscreen surface;
        try {
            surface.create(ctx, s.width, s.height);
            FAIL() << "made";
        } catch (const WDirectXException& e) {
            EXPECT_STREQ(e.getMessage().getBuf(), "Cannot create offscreen surface.");
        }
        EXPECT_EQ(surface.getImage(), nullptr);
    }
    // Within the limit: made.
    W2DSurfaceOffscreen fine;
    fine.create(ctx, 65536, 2);
    EXPECT_EQ(fine.getWidth(), 65536u);
    const uint64_t saved = WBitmap::getAllocationLimit();
    WBitmap::setAllocationLimit(65536 * 2 * 4 - 1);
    W2DSurfaceOffscreen refused;
    EXPECT_THROW(refused.create(ctx, 65536, 2), WDirectXException);
    WBitmap::setAllocationLimit(saved);
}

// Transfers to and from the ends of the coordinate range, on a primary
// surface whose pixels start away from (0, 0): nothing wraps, nothing is
// written outside the pixels.
TEST(Surface, TransfersAtTheEndsOfTheCoordinateRange)
{
    TestContext ctx(RECT {100, 50, 140, 80});
    W2DSurfaceOffscreen source;
    source.create(ctx, 4, 4);
    pattern(source);
    W2DSurfacePrimary& primary = ctx.getSurfacePrimary();
    const wplat::PixelImage before = *primary.getImage();
    constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;
    primary.draw(source, hi - 1, hi - 1);
    primary.draw(source, lo, lo);
    primary.draw(source, RECT {0, 0, 4, 4}, RECT {lo, lo, lo + 4, lo + 4});
    W2DRegionRectangle everywhere;
    everywhere.create(RECT {lo, lo, hi, hi});
    primary.setClipRegion(everywhere);
    primary.draw(source, lo, 0);
    EXPECT_TRUE(primary.getImage()->sameAs(before));
    primary.draw(source, RECT {0, 0, 4, 4}, RECT {lo, lo, hi, hi}); // stretched over all of it
    EXPECT_FALSE(primary.getImage()->sameAs(before));
}
