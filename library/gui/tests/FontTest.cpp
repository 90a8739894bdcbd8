// Fonts and image lists.

#include <gtest/gtest.h>

#include <cstdlib>

#include "Platform.h"
#include "WException.h"
#include "WFont.h"
#include "WImageList.h"

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

TEST(Font, NewFontsAreEmpty)
{
    WFont f;
    EXPECT_EQ(f.getWeight(), 400u);
    EXPECT_EQ(f.getHeight(), 0u);
    EXPECT_EQ((HFONT)f, nullptr);
    WFont copy(f);
    EXPECT_EQ((HFONT)copy, nullptr);
}

TEST(Font, CreateRecordsTheDescriptionAndPixelHeight)
{
    // Made before any user interface exists: no abort, 96 dpi.
    WFont f("MS Sans Serif", 8, 5, 700, 0x123456);
    ASSERT_NE((HFONT)f, nullptr);
    EXPECT_EQ(f.getTrueHeight(), 11u);
    EXPECT_EQ(f.getHeight(), 8u);
    EXPECT_EQ(f.getWeight(), 700u);
    EXPECT_EQ(f.getColor(), 0x123456u);
    EXPECT_STREQ(f.getName().getBuf(), "MS Sans Serif");
    LOGFONT lf;
    ASSERT_TRUE(wplat::getFontInfo(f, lf));
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_EQ(lf.lfItalic, 1);
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(lf.lfStrikeOut, 1);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(lf.lfQuality, ANTIALIASED_QUALITY);
    EXPECT_EQ(WFont("Arial", 10, 0, 400, 0).getTrueHeight(), 13u);
}

TEST(Font, CopiesAreIndependent)
{
    WFont f("Tahoma", 9, 2, 400, 7);
    WFont copy(f);
    EXPECT_NE((HFONT)copy, (HFONT)f);
    EXPECT_EQ(copy.getHeight(), 9u);
    EXPECT_EQ(copy.getStyle(), 2u);
    EXPECT_EQ(copy.getColor(), 7u);
    f.close();
    EXPECT_NE((HFONT)copy, nullptr);
    EXPECT_EQ(f.getHeight(), 0u);
    EXPECT_EQ(f.getWeight(), 400u);
    EXPECT_STREQ(f.getName().getBuf(), "Tahoma");
    // Closing an empty font leaves its fields alone.
    f.close();
    EXPECT_STREQ(f.getName().getBuf(), "Tahoma");
}

HBITMAP strip(int width, int height, uint32_t left, uint32_t right)
{
    HBITMAP b = wplat::createBitmap(width, height);
    wplat::PixelImage* image = wplat::getBitmapImage(b);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            image->setPixel(x, y, x < width / 2 ? left : right);
    return b;
}

TEST(ImageList, CreateAddSetAndResize)
{
    WImageList list;
    EXPECT_THROW(list.addImage(strip(8, 4, 0, 0)), WImageListException);
    try {
        list.addImage(strip(8, 4, 0, 0));
    } catch (const WImageListException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot add image.");
        EXPECT_EQ(e.getId(), -2);
    }
    list.create(4, 4, 2);
    HIMAGELIST first = list;
    list.create(8, 8, 2);
    EXPECT_EQ((HIMAGELIST)list, first);
    list.addImage(strip(8, 4, 0xFF0000, 0x00FF00));
    EXPECT_EQ(list.size(), 2u);
    list.addImage(strip(4, 4, 0xFF00FF, 0x0000FF), RGB(255, 0, 255));
    EXPECT_EQ(list.size(), 3u);
    list.setImage(0, strip(4, 4, 0x0000FF, 0x0000FF));
    EXPECT_THROW(list.setImage(9, strip(4, 4, 0, 0)), WImageListException);

    // The masked image draws only its unmasked half.
    HBITMAP target = wplat::createBitmap(4, 4);
    wplat::getBitmapImage(target)->fill(0xFFFFFF);
    HDC dc = wplat::createCompatibleDC(nullptr);
    wplat::selectObject(dc, wplat::toObject(target));
    ASSERT_TRUE(wplat::imageListDraw(list, 2, dc, 0, 0));
    EXPECT_EQ(wplat::getBitmapImage(target)->pixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(wplat::getBitmapImage(target)->pixel(3, 0), 0x0000FFu);
    wplat::deleteDC(dc);

    WImageList copy;
    list.copyTo(copy);
    EXPECT_EQ(copy.size(), 3u);
    EXPECT_NE((HIMAGELIST)copy, (HIMAGELIST)list);
    list.resize(16, 16, 1);
    EXPECT_EQ(list.size(), 1u);
    // Counts that cannot be had are the list's own failure, not the allocator's.
    for (unsigned long huge : {(unsigned long)-1, 0xFFFFFFFFul, 0x80000000ul}) {
        try {
            list.resize(16, 16, huge);
            ADD_FAILURE() << huge;
        } catch (const WImageListException& e) {
            EXPECT_EQ(e.getId(), -4) << huge;
        }
    }
    EXPECT_EQ(copy.size(), 3u);
    list.destroy();
    EXPECT_EQ((HIMAGELIST)list, nullptr);
    EXPECT_THROW(list.resize(1, 1, 1), WImageListException);
}

} // namespace
