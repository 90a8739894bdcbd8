// drawText: how text breaks into lines (pure rules, measured ten pixels a
// character), and what it draws and measures with a real font.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform.h"
#include "internal/TextLayout.h"

using namespace wplat;

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

int tenEach(const std::string& s)
{
    return 10 * (int)s.size();
}

std::string shown(const std::vector<detail::TextLine>& lines)
{
    std::string out;
    for (size_t i = 0; i < lines.size(); i++) {
        const auto& l = lines[i];
        if (i > 0) out += "|";
        out += l.text;
        if (l.underline >= 0) out += "^" + std::to_string(l.underline);
    }
    return out;
}

TEST(TextLayout, LinesBreaksWrappingAndPrefixes)
{
    struct Case {
        const char* text;
        UINT format;
        int width;
        const char* lines;
    } cases[] = {
        {"one line", DT_SINGLELINE, 20, "one line"},
        {"a\r\nb\nc\rd", DT_SINGLELINE | DT_NOPREFIX, 100, "a\r\nb\nc\rd"},
        {"a\r\nb\nc\rd", DT_LEFT, 100, "a|b|c|d"},
        {"ends with break\n", DT_LEFT, 500, "ends with break"},
        {"\n\nx", DT_LEFT, 500, "||x"},
        {"no wrap without the flag", DT_LEFT, 50, "no wrap without the flag"},
        {"the quick brown fox", DT_WORDBREAK, 100, "the quick|brown fox"},
        {"the quick brown fox", DT_WORDBREAK, 90, "the quick|brown fox"},
        {"the quick brown fox", DT_WORDBREAK, 80, "the|quick|brown|fox"},
        {"unbreakableword and more", DT_WORDBREAK, 50, "unbreakableword|and|more"},
        {"two   spaces", DT_WORDBREAK, 50, "two|spaces"},
        {"first line\nsecond line wraps here", DT_WORDBREAK, 120, "first line|second line|wraps here"},
        {"&File", DT_LEFT, 100, "File^0"},
        {"Save &As", DT_SINGLELINE, 100, "Save As^5"},
        {"Fish && Chips", DT_SINGLELINE, 200, "Fish & Chips"},
        {"&&&x", DT_SINGLELINE, 200, "&x^1"},
        {"&File", DT_SINGLELINE | DT_NOPREFIX, 100, "&File"},
        {"trailing &", DT_SINGLELINE, 200, "trailing &"},
        {"Open the &door now", DT_WORDBREAK, 100, "Open the|door now^0"},
        {"", DT_LEFT, 100, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shown(detail::layoutText(c.text, c.format, c.width, tenEach)), c.lines) << c.text;
}

class DrawText : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(startUi(), UiStart::NoDisplay); }
    void SetUp() override
    {
        bitmap = createBitmap(200, 100);
        dc = createCompatibleDC(nullptr);
        selectObject(dc, toObject(bitmap));
        getBitmapImage(bitmap)->fill(0xFFFFFF);
        setBkMode(dc, TRANSPARENT);
        setTextColor(dc, RGB(0, 0, 0));
        TEXTMETRIC m;
        getTextMetrics(dc, m);
        lineHeight = m.tmHeight;
        ascent = m.tmAscent;
    }
    void TearDown() override
    {
        deleteDC(dc);
        deleteObject(toObject(bitmap));
    }
    // Dark pixels in rows [top, bottom).
    int inkIn(int top, int bottom, int left = 0, int right = 200)
    {
        int n = 0;
        for (int y = top; y < bottom; y++)
            for (int x = left; x < right; x++)
                n += (getBitmapImage(bitmap)->pixel(x, y) & 0xFF) < 0x80 ? 1 : 0;
        return n;
    }

    HBITMAP bitmap = nullptr;
    HDC dc = nullptr;
    int lineHeight = 0;
    int ascent = 0;
};

TEST_F(DrawText, WrappedTextFillsSeveralLinesAndMeasuresThem)
{
    const char* text = "several words that cannot fit on one line";
    RECT measure {0, 0, 120, 0};
    int height = drawText(dc, text, -1, measure, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_GE(height, 2 * lineHeight);
    EXPECT_EQ(measure.bottom, height);
    EXPECT_EQ(measure.right, 120);
    RECT single {0, 0, 120, 0};
    EXPECT_EQ(drawText(dc, text, -1, single, DT_SINGLELINE | DT_CALCRECT), lineHeight);
    EXPECT_GT(single.right, 120);

    RECT area {0, 0, 120, 100};
    EXPECT_EQ(drawText(dc, text, -1, area, DT_WORDBREAK), height);
    for (int line = 0; line < height / lineHeight; line++)
        EXPECT_GT(inkIn(line * lineHeight, (line + 1) * lineHeight, 0, 120), 0) << line;
    EXPECT_EQ(inkIn(height, 100), 0);
    // Nothing beyond the rectangle.
    EXPECT_EQ(inkIn(0, 100, 120, 200), 0);
}

TEST_F(DrawText, LineBreaksStartNewLinesAndSingleLineKeepsOne)
{
    RECT area {0, 0, 200, 100};
    EXPECT_EQ(drawText(dc, "top\nbottom", -1, area, DT_LEFT), 2 * lineHeight);
    EXPECT_GT(inkIn(lineHeight, 2 * lineHeight), 0);
    getBitmapImage(bitmap)->fill(0xFFFFFF);
    EXPECT_EQ(drawText(dc, "top\nbottom", -1, area, DT_SINGLELINE), lineHeight);
    EXPECT_EQ(inkIn(lineHeight, 100), 0);
}

TEST_F(DrawText, PrefixesUnderlineTheirCharacter)
{
    RECT area {0, 0, 200, 100};
    drawText(dc, "&M", -1, area, DT_SINGLELINE);
    int underline = ascent + 1;
    SIZE m;
    getTextExtentPoint(dc, "M", 1, m);
    // A solid line under the M, as wide as it.
    for (int x = 0; x < m.cx; x++)
        EXPECT_EQ(getBitmapImage(bitmap)->pixel(x, underline), 0u) << x;
    EXPECT_EQ(getBitmapImage(bitmap)->pixel(m.cx + 2, underline), 0xFFFFFFu);

    getBitmapImage(bitmap)->fill(0xFFFFFF);
    drawText(dc, "&M", -1, area, DT_SINGLELINE | DT_NOPREFIX);
    RECT calc {0, 0, 0, 0};
    drawText(dc, "&M", -1, calc, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
    EXPECT_GT(calc.right, m.cx); // the '&' is drawn
    int solid = 0;
    for (int x = 0; x < calc.right; x++)
        solid += getBitmapImage(bitmap)->pixel(x, underline) == 0 ? 1 : 0;
    EXPECT_LT(solid, m.cx);
}

} // namespace
