// Rich-edit fields show their character formats: the field's font, formats
// of selections, and those a loaded document sets, checked in the pixels
// they paint.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ControlTestSupport.h"
#include "WControlRichText.h"

using namespace controltest;

namespace {

class RichTextFormat : public OwnedControlsTest {
protected:
    static void SetUpTestSuite() { startUp("ZvRichTextFormatTest"); }
    void SetUp() override
    {
        OwnedControlsTest::SetUp();
        if (HasFatalFailure()) return;
        rich.create(owner.get(), "rich", 0, 0, 360, 80, WControlRichText::STYLE_READONLY, false);
        h = rich.getWindowHandle();
        rich.setBackColor(0xFFFFFF);
    }
    void TearDown() override
    {
        rich.destroy();
        OwnedControlsTest::TearDown();
    }

    // The columns [left, right) and rows [top, bottom) holding pixels of `colour`.
    struct Ink {
        int left = 100000, right = -1, top = 100000, bottom = -1;
        bool any() const { return right >= 0; }
        int height() const { return bottom - top; }
    };
    Ink inkOf(const std::vector<uint32_t>& pixels, bool (*match)(uint32_t))
    {
        Ink ink;
        RECT r;
        wplat::getClientRect(h, r);
        for (int y = 0; y < r.bottom; y++)
            for (int x = 0; x < r.right; x++)
                if (match(pixels[(size_t)(y * r.right + x)])) {
                    ink.left = std::min(ink.left, x);
                    ink.right = std::max(ink.right, x + 1);
                    ink.top = std::min(ink.top, y);
                    ink.bottom = std::max(ink.bottom, y + 1);
                }
        return ink;
    }
    static bool reddish(uint32_t p)
    {
        return ((p >> 16) & 0xFF) > 0xC0 && ((p >> 8) & 0xFF) < 0x60 && (p & 0xFF) < 0x60;
    }
    static bool bluish(uint32_t p)
    {
        return (p & 0xFF) > 0xC0 && ((p >> 16) & 0xFF) < 0x60 && ((p >> 8) & 0xFF) < 0x60;
    }
    static bool dark(uint32_t p) { return ((p >> 16) & 0xFF) < 0x60 && ((p >> 8) & 0xFF) < 0x60 && (p & 0xFF) < 0x60; }

    // Width of the text in a memory context's default font.
    static int plainWidth(const std::string& text)
    {
        HDC dc = wplat::createCompatibleDC(nullptr);
        SIZE size {0, 0};
        wplat::getTextExtentPoint(dc, text.c_str(), (int)text.size(), size);
        wplat::deleteDC(dc);
        return size.cx;
    }

    std::string tempFile(const std::string& content)
    {
        std::string path = ::testing::TempDir() + "zv_format.rtf";
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
        return path;
    }

    CHARFORMAT2A formatOf(unsigned long from, unsigned long to)
    {
        rich.setSelection(from, to);
        CHARFORMAT2A f {};
        f.cbSize = sizeof f;
        wplat::sendMessage(h, EM_GETCHARFORMAT, SCF_SELECTION, (LPARAM)&f);
        return f;
    }

    WControlRichText rich;
    HWND h = nullptr;
};

TEST_F(RichTextFormat, ADocumentsFormatsAreShown)
{
    rich.loadFile(tempFile("{\\rtf1{\\colortbl;\\red255\\green0\\blue0;}plain \\cf1 red\\cf0  \\fs48 BIG\\fs16  "
                           "\\b bold\\b0  end\\par}")
                      .c_str(),
        true);
    WString text;
    rich.getText(text);
    ASSERT_STREQ(text.getBuf(), "plain red BIG bold end");
    auto pixels = paintNow(h);
    Ink red = inkOf(pixels, reddish);
    ASSERT_TRUE(red.any());
    // Red is where "red" is, and only there.
    int plain = plainWidth("plain ");
    EXPECT_GE(red.left, plain - 2);
    EXPECT_LT(red.right - red.left, plain);
    // "BIG" at 24 points stands far taller than the rest.
    Ink all = inkOf(pixels, dark);
    EXPECT_GE(all.height(), 2 * red.height());

    EXPECT_EQ(formatOf(6, 9).crTextColor, RGB(255, 0, 0));
    EXPECT_EQ(formatOf(10, 13).yHeight, 480);
    EXPECT_NE(formatOf(14, 18).dwEffects & CFE_BOLD, 0u);
    EXPECT_EQ(formatOf(0, 5).dwEffects & CFE_BOLD, 0u);
    // A selection over parts in several colours has no single colour.
    EXPECT_EQ(formatOf(0, 9).dwMask & CFM_COLOR, 0u);
    EXPECT_NE(formatOf(0, 5).dwMask & CFM_COLOR, 0u);
}

TEST_F(RichTextFormat, SelectionFormatsApplyToTheSelectionAndWhatIsTypedThere)
{
    rich.setText("left right");
    CHARFORMAT2A blue {};
    blue.cbSize = sizeof blue;
    blue.dwMask = CFM_COLOR | CFM_BOLD;
    blue.crTextColor = RGB(0, 0, 255);
    blue.dwEffects = CFE_BOLD;
    rich.setSelection(5, 10);
    ASSERT_EQ(wplat::sendMessage(h, EM_SETCHARFORMAT, SCF_SELECTION, (LPARAM)&blue), 1);
    rich.setSelection(0, 0);
    auto pixels = paintNow(h);
    Ink ink = inkOf(pixels, bluish);
    ASSERT_TRUE(ink.any());
    EXPECT_GE(ink.left, plainWidth("left ") - 2);
    EXPECT_TRUE(inkOf(pixels, dark).any()); // "left" stays black

    // Text typed at the end of the blue part is blue too; at the start, black.
    rich.setSelection(10, 10);
    rich.replaceSelection("!");
    EXPECT_EQ(formatOf(10, 11).crTextColor, RGB(0, 0, 255));
    rich.setSelection(0, 0);
    rich.replaceSelection(">");
    EXPECT_EQ(formatOf(0, 1).dwEffects & CFE_BOLD, 0u);
    // A format chosen at an empty selection is the one typed next.
    CHARFORMAT2A italic {};
    italic.cbSize = sizeof italic;
    italic.dwMask = CFM_ITALIC;
    italic.dwEffects = CFE_ITALIC;
    rich.setSelection(1, 1);
    wplat::sendMessage(h, EM_SETCHARFORMAT, SCF_SELECTION, (LPARAM)&italic);
    rich.replaceSelection("x");
    EXPECT_NE(formatOf(1, 2).dwEffects & CFE_ITALIC, 0u);
    EXPECT_EQ(formatOf(2, 3).dwEffects & CFE_ITALIC, 0u);
}

TEST_F(RichTextFormat, TheFieldsFontIsShownAsSet)
{
    rich.setText("Sample");
    WFont small("Arial", 8, 0, 400, 0x000000);
    rich.setFont(small, true);
    Ink before = inkOf(paintNow(h), dark);
    WFont large("Arial", 20, 0, 700, RGB(255, 0, 0));
    rich.setFont(large, true);
    auto pixels = paintNow(h);
    Ink after = inkOf(pixels, reddish);
    ASSERT_TRUE(before.any());
    ASSERT_TRUE(after.any());
    EXPECT_GT(after.height(), before.height() * 2);
    EXPECT_GT(after.right - after.left, (before.right - before.left) * 2);
    EXPECT_FALSE(inkOf(pixels, dark).any());
}

} // namespace
