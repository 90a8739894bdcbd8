// Surface sets: frame sets of animated images and rotation sets with their
// outlines, reference points, keys and refilling after loss.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "W2DContext.h"
#include "W2DSurfaceSet.h"
#include "WBitmap.h"
#include "WException.h"

using namespace gtest_support;

namespace {

class TestContext : public W2DContext {
public:
    TestContext()
    {
        openDevice();
        getSurfacePrimary().create(*this, 0);
    }
    void getArea(RECT& out) const override { out = RECT {0, 0, 64, 64}; }
};

uint32_t colourAt(int x, int y)
{
    return uint32_t(((x * 8) << 16) | ((y * 6) << 8) | 0x80);
}

// A 30x40 24-bit BMP with a distinct colour per pixel.
std::string writeSprite(const TempDir& dir)
{
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < 40; ++y) {
        std::vector<uint8_t> row;
        for (int x = 0; x < 30; ++x) {
            uint32_t c = colourAt(x, y);
            row.push_back(uint8_t(c));
            row.push_back(uint8_t(c >> 8));
            row.push_back(uint8_t(c >> 16));
        }
        rows.push_back(row);
    }
    std::string path = dir.path("sprite.bmp");
    writeFile(path, makeBmp(30, 40, 24, 0, {}, {}, rows));
    return path;
}

// Three 2x2 frames, one colour each, delays 10/20/0; index 3 clear.
std::string writeAnimation(const TempDir& dir)
{
    std::vector<GifFrame> frames = {
        {0, 0, 2, 2, {0, 0, 0, 3}, 10, 3, 1},
        {0, 0, 2, 2, {1, 1, 1, 3}, 20, 3, 1},
        {0, 0, 2, 2, {2, 2, 2, 3}, 0, 3, 1},
    };
    std::string path = dir.path("anim.gif");
    writeFile(path, makeGif(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFF00FF}, frames));
    return path;
}

} // namespace

TEST(SurfaceSet, RotationSetQuarterTurns)
{
    TempDir dir;
    TestContext ctx;
    W2DSurfaceSet set;
    POINT refs[] = {{0, 0}, {29, 39}};
    set.load(ctx, writeSprite(dir).c_str(), 4, refs, 2);
    EXPECT_DOUBLE_EQ(set.getCalibre(), 50.0);
    EXPECT_EQ(set.getFrameCount(), 4u);
    EXPECT_EQ(set.getWidth(), 50u);
    ASSERT_NE(set.getSurface(3), nullptr);
    EXPECT_EQ(set.getSurface(3)->getWidth(), 50u);

    POINT rotated[2];
    const W2DRegionPolygon* outline = set.getRegion(0, rotated, 2);
    ASSERT_NE(outline, nullptr);
    ASSERT_EQ(outline->getPointCount(), 4u);
    const POINT expect[4] = {{10, 45}, {40, 45}, {40, 5}, {10, 5}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(outline->getPoints()[k].x, expect[k].x);
        EXPECT_EQ(outline->getPoints()[k].y, expect[k].y);
    }
    // The reference points sit on the image: its top-left pixel at (10, 5).
    EXPECT_EQ(rotated[0].x, 10);
    EXPECT_EQ(rotated[0].y, 5);
    EXPECT_EQ(rotated[1].x, 39);
    EXPECT_EQ(rotated[1].y, 44);

    // Surface 0 holds the image as it is, surface 1 turned a quarter clockwise.
    const wplat::PixelImage& s0 = *set.getSurface(0)->getImage();
    const wplat::PixelImage& s1 = *set.getSurface(1)->getImage();
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x) {
            ASSERT_EQ(s0.pixel(10 + x, 5 + y), colourAt(x, y)) << x << "," << y;
            ASSERT_EQ(s1.pixel(44 - y, 10 + x), colourAt(x, y)) << x << "," << y;
        }
    set.getRegion(1, rotated, 1);
    EXPECT_EQ(rotated[0].x, 45); // the top-left corner moved to the top right
    EXPECT_EQ(rotated[0].y, 10);
    EXPECT_EQ(s0.pixel(0, 0), 0u);

    // Refilling after loss gives the same pixels.
    wplat::PixelImage before = s1;
    ctx.loseSurfaces();
    static_cast<W2DContentReloader&>(set).reloadContent();
    EXPECT_FALSE(set.getSurface(1)->isLost());
    EXPECT_TRUE(set.getSurface(1)->getImage()->sameAs(before));

    EXPECT_EQ(set.getSurface(4), nullptr);
    EXPECT_EQ(set.getRegion(4, rotated, 2), nullptr);
    EXPECT_EQ(set.getFrameDelay(4), 0u);
}

TEST(SurfaceSet, AnimatedImagesCycleFramesAndKeys)
{
    TempDir dir;
    TestContext ctx;
    std::string path = writeAnimation(dir);

    W2DSurfaceSet frames(ctx, path.c_str());
    ASSERT_EQ(frames.getFrameCount(), 3u);
    EXPECT_EQ(frames.getFrameDelay(0), 100u);
    EXPECT_EQ(frames.getFrameDelay(1), 200u);
    EXPECT_EQ(frames.getFrameDelay(2), 0u);
    EXPECT_EQ(frames.getSurface(1)->getImage()->pixel(0, 0), 0x00FF00u);
    // The clear corner shows the key colour, and the key is set.
    EXPECT_EQ(frames.getSurface(1)->getImage()->pixel(1, 1), 0xFF00FFu);
    EXPECT_TRUE(frames.getSurface(1)->isColorKey());
    EXPECT_EQ(frames.getSurface(1)->getColorKey(), 0x00FF00FFu);
    POINT none[1] = {{-1, -1}};
    EXPECT_EQ(frames.getRegion(0, none, 1), nullptr);
    EXPECT_EQ(none[0].x, -1);

    W2DSurfaceSet turned;
    POINT refs[] = {{0, 0}, {1, 1}, {1, 0}};
    turned.load(ctx, path.c_str(), 6, refs, 3);
    ASSERT_EQ(turned.getFrameCount(), 6u);
    const unsigned long delays[] = {100, 200, 0, 100, 200, 0};
    for (unsigned long f = 0; f < 6; ++f)
        EXPECT_EQ(turned.getFrameDelay(f), delays[f]) << f;
    POINT two[3] = {{-1, -1}, {-1, -1}, {-1, -1}};
    turned.getRegion(0, two, 2);
    EXPECT_NE(two[1].x, -1);
    EXPECT_EQ(two[2].x, -1); // only maxPoints copied

    // Null points with a count: no points, no crash.
    W2DSurfaceSet bare;
    bare.load(ctx, path.c_str(), 2, nullptr, 5);
    POINT p[1] = {{-1, -1}};
    EXPECT_NE(bare.getRegion(0, p, 1), nullptr);
    EXPECT_EQ(p[0].x, -1);
}

// Step and point counts no memory could hold, and sets whose surfaces
// together pass the allocation limit, are refused with the surface message
// before anything is made.
TEST(SurfaceSet, SizesBeyondTheLimitsAreRefused)
{
    TempDir dir;
    TestContext ctx;
    const std::string sprite = writeSprite(dir);
    const POINT point {1, 1};
    const uint64_t saved = WBitmap::getAllocationLimit();
    struct Case {
        const char* name;
        unsigned long steps;
        unsigned long points;
        uint64_t limit;
    };
    // A 30 x 40 sprite turns in squares of 50 x 50: 10,000 bytes each.
    for (const Case& c : {Case {"steps that wrap the point table", ~0ul, 2, saved},
             Case {"points that wrap the point table", 4, ~0ul / 2, saved},
             Case {"steps beyond any memory", 1ul << 40, 0, saved},
             Case {"steps beyond the limit", 100, 0, 100 * 10000 - 1}}) {
        SCOPED_TRACE(c.name);
        WBitmap::setAllocationLimit(c.limit);
        W2DSurfaceSet set;
        try {
            set.load(ctx, sprite.c_str(), c.steps, &point, c.points);
            FAIL() << "loaded";
        } catch (const WDirectXException& e) {
            EXPECT_STREQ(e.getMessage().getBuf(), "Cannot create offscreen surface.");
        }
        EXPECT_EQ(set.getFrameCount(), 0u);
    }
    WBitmap::setAllocationLimit(100 * 10000);
    W2DSurfaceSet fits;
    fits.load(ctx, sprite.c_str(), 100, nullptr, 0);
    EXPECT_EQ(fits.getFrameCount(), 100u);
    WBitmap::setAllocationLimit(saved);
}
