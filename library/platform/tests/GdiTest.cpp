// Graphic objects on memory contexts: solid and pattern brushes, the focus
// frame, copies between contexts with clipping, and image-list counts.

#include <gtest/gtest.h>

#include <climits>

#include "Platform.h"

using namespace wplat;

namespace {

struct Canvas {
    HBITMAP bitmap;
    HDC dc;
    explicit Canvas(int width, int height, uint32_t fill = 0xFFFFFF)
    {
        bitmap = createBitmap(width, height);
        getBitmapImage(bitmap)->fill(fill);
        dc = createCompatibleDC(nullptr);
        selectObject(dc, toObject(bitmap));
    }
    ~Canvas()
    {
        deleteDC(dc);
        deleteObject(toObject(bitmap));
    }
    uint32_t at(int x, int y) const { return getBitmapImage(bitmap)->pixel(x, y); }
};

HBITMAP stripes()
{
    // Three columns: red, green, blue; two rows, the second darker.
    HBITMAP b = createBitmap(3, 2);
    PixelImage* image = getBitmapImage(b);
    const uint32_t top[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int x = 0; x < 3; x++) {
        image->setPixel(x, 0, top[x]);
        image->setPixel(x, 1, top[x] / 2 & 0x7F7F7F);
    }
    return b;
}

TEST(Gdi, PatternBrushesTileTheirOwnCopyFromTheContextOrigin)
{
    HBITMAP source = stripes();
    HBRUSH brush = createPatternBrush(source);
    ASSERT_NE(brush, nullptr);
    uint32_t expected[2][3];
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 3; x++)
            expected[y][x] = getBitmapImage(source)->pixel(x, y);
    deleteObject(toObject(source));
    EXPECT_EQ(createPatternBrush(source), nullptr); // a deleted bitmap makes none

    Canvas c(10, 6);
    struct Case {
        RECT area;
    } cases[] = {{RECT {0, 0, 10, 6}}, {RECT {1, 1, 8, 5}}, {RECT {4, 3, 5, 4}}};
    for (const Case& k : cases) {
        getBitmapImage(c.bitmap)->fill(0xFFFFFF);
        ASSERT_TRUE(fillRect(c.dc, k.area, brush));
        for (int y = 0; y < 6; y++)
            for (int x = 0; x < 10; x++) {
                bool inside = x >= k.area.left && x < k.area.right && y >= k.area.top && y < k.area.bottom;
                EXPECT_EQ(c.at(x, y), inside ? expected[y % 2][x % 3] : 0xFFFFFFu) << x << "," << y;
            }
    }
    // Selected into a context, the pattern fills rectangles too.
    getBitmapImage(c.bitmap)->fill(0xFFFFFF);
    selectObject(c.dc, toObject(brush));
    rectangle(c.dc, 0, 0, 5, 4);
    EXPECT_EQ(c.at(1, 1), expected[1][1]);
    EXPECT_TRUE(deleteObject(toObject(brush)));
    EXPECT_FALSE(fillRect(c.dc, RECT {0, 0, 1, 1}, brush));
}

TEST(Gdi, TheFocusFrameIsDotted)
{
    Canvas c(12, 8);
    ASSERT_TRUE(drawFocusRect(c.dc, RECT {1, 1, 11, 7}));
    for (int x = 1; x < 11; x++) {
        EXPECT_EQ(c.at(x, 1), ((x + 1) % 2 == 0) ? 0u : 0xFFFFFFu) << x;
        EXPECT_EQ(c.at(x, 6), ((x + 6) % 2 == 0) ? 0u : 0xFFFFFFu) << x;
    }
    for (int y = 2; y < 6; y++) {
        EXPECT_EQ(c.at(1, y), ((1 + y) % 2 == 0) ? 0u : 0xFFFFFFu) << y;
        EXPECT_EQ(c.at(10, y), ((10 + y) % 2 == 0) ? 0u : 0xFFFFFFu) << y;
    }
    EXPECT_EQ(c.at(5, 4), 0xFFFFFFu); // inside stays
    EXPECT_FALSE(drawFocusRect(c.dc, RECT {3, 3, 3, 9}));
}

TEST(Gdi, CopiesKeepToTheClipRectangle)
{
    Canvas from(4, 4, 0x112233);
    Canvas to(8, 8);
    ASSERT_TRUE(intersectClipRect(to.dc, RECT {2, 2, 5, 5}));
    ASSERT_TRUE(bitBlt(to.dc, 1, 1, 4, 4, from.dc, 0, 0));
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            bool copied = x >= 2 && x < 5 && y >= 2 && y < 5;
            EXPECT_EQ(to.at(x, y), copied ? 0x112233u : 0xFFFFFFu) << x << "," << y;
        }
}

TEST(Gdi, ImageListCountsThatCannotBeHadLeaveTheListAsItWas)
{
    HIMAGELIST list = imageListCreate(4, 4, ILC_COLOR32, 1, 1);
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(imageListSetImageCount(list, 3));
    for (UINT count : {(UINT)INT_MAX + 1u, UINT_MAX})
        EXPECT_FALSE(imageListSetImageCount(list, count)) << count;
    EXPECT_EQ(imageListGetImageCount(list), 3);
    EXPECT_TRUE(imageListSetImageCount(list, 0));
    EXPECT_EQ(imageListGetImageCount(list), 0);
    imageListDestroy(list);
}

} // namespace
