// Buttons, static texts, edit fields and rich-edit fields: texts, check
// states, colours, focus-loss clean-up, typing and the notifications that
// reach the parent.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ControlTestSupport.h"
#include "WControlButton.h"
#include "WControlEdit.h"
#include "WControlRichText.h"
#include "WControlStatic.h"
#include "WException.h"
#include "WFont.h"

using namespace controltest;

namespace {

class TextControls : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startUp("ZvTextControlsTest"); }
    void SetUp() override
    {
        parent = makeParent();
        ASSERT_NE(parent, nullptr);
    }
    void TearDown() override { wplat::destroyWindow(parent); }

    std::string tempFile(const char* name, const std::string& content)
    {
        std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    HWND parent = nullptr;
};

TEST_F(TextControls, CheckBoxAttachedByIdKeepsItsState)
{
    makeItem(parent, "BUTTON", BS_AUTOCHECKBOX, 1009, "Start");
    Owner owner(parent);
    WControlButton box(&owner, "autostart", 1009);
    box.setChecked(false);
    EXPECT_FALSE(box.isChecked());
    box.setChecked(true);
    EXPECT_TRUE(box.isChecked());
    // A click on an automatic box toggles it and tells the parent.
    click(box.getWindowHandle());
    EXPECT_FALSE(box.isChecked());
    auto commands = notesOf(WM_COMMAND);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].id, 1009u);
    EXPECT_EQ(commands[0].code, BN_CLICKED);
    EXPECT_EQ(commands[0].from, box.getWindowHandle());
}

TEST_F(TextControls, IndeterminateIsNotChecked)
{
    makeItem(parent, "BUTTON", BS_AUTO3STATE, 1010);
    Owner owner(parent);
    WControlButton box(&owner, "three", 1010);
    wplat::sendMessage(box.getWindowHandle(), BM_SETCHECK, BST_INDETERMINATE, 0);
    EXPECT_EQ(wplat::sendMessage(box.getWindowHandle(), BM_GETCHECK, 0, 0), (LRESULT)BST_INDETERMINATE);
    EXPECT_FALSE(box.isChecked());
}

TEST_F(TextControls, CreatedCheckBoxesAndRadiosDoNotToggleThemselves)
{
    Owner owner(parent);
    WControlButton check(&owner, "check", "Check", 5, 5, 100, 20, WControlButton::STYLE_CHECKBOX);
    WControlButton radio(&owner, "radio", "Radio", 5, 30, 100, 20, WControlButton::STYLE_RADIOBUTTON);
    HWND h = check.getWindowHandle();
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x50000000 | WS_TABSTOP | BS_CHECKBOX));
    EXPECT_EQ(wplat::getWindowText(h), "Check");
    EXPECT_EQ((HFONT)wplat::sendMessage(h, WM_GETFONT, 0, 0), (HFONT)g_systemInfo.getDefaultFont());
    click(h);
    click(radio.getWindowHandle());
    EXPECT_FALSE(check.isChecked());
    EXPECT_FALSE(radio.isChecked());
    // The program decides: it sets the state on the click notification.
    auto commands = notesOf(WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].id, 0u);
    EXPECT_EQ(commands[1].from, radio.getWindowHandle());
    radio.setChecked(true);
    EXPECT_TRUE(radio.isChecked());
}

TEST_F(TextControls, PushedLookAndReleaseOutside)
{
    Owner owner(parent);
    WControlButton push(&owner, "push", "OK", 5, 5, 80, 24, WControlButton::STYLE_PUSHBUTTON);
    HWND h = push.getWindowHandle();
    EXPECT_FALSE(push.isPushed());
    push.setPushed(true);
    EXPECT_TRUE(push.isPushed());
    push.setPushed(false);
    // Pressed, dragged off and released: no click.
    wplat::sendMessage(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_TRUE(push.isPushed());
    wplat::sendMessage(h, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 5));
    EXPECT_FALSE(push.isPushed());
    wplat::sendMessage(h, WM_LBUTTONUP, 0, MAKELPARAM(300, 5));
    EXPECT_TRUE(notesOf(WM_COMMAND).empty());
    // Space presses it from the keyboard.
    wplat::sendMessage(h, WM_KEYDOWN, VK_SPACE, 0);
    wplat::sendMessage(h, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(notesOf(WM_COMMAND).size(), 1u);
}

TEST_F(TextControls, AutomaticRadiosClearTheirGroup)
{
    HWND a = makeItem(parent, "BUTTON", BS_AUTORADIOBUTTON | WS_GROUP, 201);
    HWND b = makeItem(parent, "BUTTON", BS_AUTORADIOBUTTON, 202);
    HWND c = makeItem(parent, "BUTTON", BS_AUTORADIOBUTTON | WS_GROUP, 203);
    wplat::sendMessage(a, BM_SETCHECK, BST_CHECKED, 0);
    wplat::sendMessage(c, BM_SETCHECK, BST_CHECKED, 0);
    click(b);
    EXPECT_EQ(wplat::sendMessage(a, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(wplat::sendMessage(b, BM_GETCHECK, 0, 0), 1);
    // Another group is left alone.
    EXPECT_EQ(wplat::sendMessage(c, BM_GETCHECK, 0, 0), 1);
}

TEST_F(TextControls, DefaultHeightFollowsTheDefaultFont)
{
    Owner owner(parent);
    WControlStatic label(&owner, "label", 5, 5, 100, 0, WControlStatic::STYLE_STATICEDGE);
    WControlEdit edit(&owner, "edit", 5, 40, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    EXPECT_EQ(label.getWindowHeight(), 24u);
    EXPECT_EQ(edit.getWindowHeight(), 24u);
    EXPECT_EQ(wplat::getWindowLongPtr(label.getWindowHandle(), GWL_EXSTYLE), (LONG_PTR)WS_EX_STATICEDGE);
    EXPECT_EQ(wplat::getWindowLongPtr(edit.getWindowHandle(), GWL_EXSTYLE), (LONG_PTR)WS_EX_CLIENTEDGE);
    EXPECT_EQ(wplat::getWindowLongPtr(edit.getWindowHandle(), GWL_STYLE), (LONG_PTR)(0x50010000 | 0x80));
    label.setText("Host:");
    EXPECT_EQ(wplat::getWindowText(label.getWindowHandle()), "Host:");
    WControlEdit multi(&owner, "multi", 5, 70, 100, 60, WControlEdit::STYLE_MULTILINE, false);
    EXPECT_EQ(multi.getWindowHeight(), 60u);
    EXPECT_EQ(wplat::getWindowLongPtr(multi.getWindowHandle(), GWL_STYLE), (LONG_PTR)(0x50010000 | 0x201044));
}

TEST_F(TextControls, EditTextReadsWholeAndGrowsTheString)
{
    Owner owner(parent);
    WControlEdit edit(&owner, "edit", 5, 5, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    WString text;
    edit.getText(text);
    EXPECT_EQ(text.length(), 0u);
    EXPECT_STREQ(text.getBuf(), "");
    edit.setText("abc");
    edit.getText(text);
    EXPECT_EQ(text.length(), 3u);
    EXPECT_STREQ(text.getBuf(), "abc");
    std::string longer(3000, 'x');
    edit.setText(longer.c_str());
    WString small(4);
    edit.getText(small);
    EXPECT_EQ(small.length(), 3000u);
    EXPECT_EQ(std::string(small.getBuf()), longer);
}

TEST_F(TextControls, LeavingAnEditFieldTrimsIt)
{
    Owner owner(parent);
    WControlEdit edit(&owner, "edit", 5, 5, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    WControlEdit other(&owner, "other", 5, 40, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    WString text;
    struct Case {
        const char* typed;
        const char* kept;
    } cases[] = {{"  word  ", "word"}, {"    ", ""}, {"a b", "a b"}, {"\tx\t", "x"}};
    for (const Case& c : cases) {
        wplat::setFocus(edit.getWindowHandle());
        edit.setText(c.typed);
        wplat::setFocus(other.getWindowHandle());
        edit.getText(text);
        EXPECT_STREQ(text.getBuf(), c.kept) << "'" << c.typed << "'";
    }
    EXPECT_TRUE(edit.isTextControl());
}

TEST_F(TextControls, ColoursAndTheirBrush)
{
    Owner owner(parent);
    WControlEdit edit;
    EXPECT_EQ(edit.getBackColorBrush(), nullptr);
    EXPECT_EQ(edit.getBackColor(), 0xFFFFFFu);
    // Colours may be set before the window exists.
    edit.setColor(0, 0x0000FF);
    edit.create(&owner, "edit", 5, 5, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    HBRUSH brush = edit.getBackColorBrush();
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(edit.getBackColor(), 0x0000FFu);
    EXPECT_EQ(edit.getTextColor(), 0u);
    {
        // A copy shares the brush; it stays valid while either holds it.
        WControlEdit copy(edit);
        EXPECT_EQ(copy.getBackColorBrush(), brush);
    }
    EXPECT_EQ(edit.getBackColorBrush(), brush);
    HWND h = edit.getWindowHandle();
    edit.destroy();
    EXPECT_FALSE(wplat::isWindow(h));
    EXPECT_EQ(edit.getBackColorBrush(), nullptr);
    EXPECT_EQ(edit.getBackColor(), 0xFFFFFFu);
    EXPECT_EQ(edit.getTextColor(), 0u);
}

TEST_F(TextControls, TypingHonoursCaseReadOnlyAndTellsTheParent)
{
    HWND item = makeItem(parent, "EDIT", ES_AUTOHSCROLL, 1002);
    Owner owner(parent);
    WControlEdit edit(&owner, "host", 1002);
    edit.setUppercase(true);
    EXPECT_NE(wplat::getWindowLongPtr(item, GWL_STYLE) & ES_UPPERCASE, 0);
    notes().clear();
    for (char c : std::string("ab1"))
        wplat::sendMessage(item, WM_CHAR, (WPARAM)c, 0);
    WString text;
    edit.getText(text);
    EXPECT_STREQ(text.getBuf(), "AB1");
    auto changes = notesOf(WM_COMMAND);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].id, 1002u);
    EXPECT_EQ(changes[0].code, EN_CHANGE);
    edit.setUppercase(false);
    edit.setLowercase(true);
    wplat::sendMessage(item, WM_CHAR, 'Q', 0);
    wplat::sendMessage(item, WM_CHAR, VK_BACK, 0);
    wplat::sendMessage(item, WM_CHAR, VK_BACK, 0);
    wplat::sendMessage(item, WM_CHAR, 'Z', 0);
    edit.getText(text);
    EXPECT_STREQ(text.getBuf(), "ABz");
    EXPECT_EQ(wplat::getWindowLongPtr(item, GWL_STYLE) & (ES_UPPERCASE | ES_LOWERCASE), (LONG_PTR)ES_LOWERCASE);
    edit.setReadOnly(true);
    wplat::sendMessage(item, WM_CHAR, 'x', 0);
    edit.getText(text);
    EXPECT_STREQ(text.getBuf(), "ABz");
    edit.setReadOnly(false);
    // Selection and replacement, then keys that move and delete.
    wplat::sendMessage(item, EM_SETSEL, 1, 2);
    DWORD start = 0, end = 0;
    wplat::sendMessage(item, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(end, 2u);
    wplat::sendMessage(item, EM_REPLACESEL, 0, (LPARAM) "--");
    edit.getText(text);
    EXPECT_STREQ(text.getBuf(), "A--z");
    wplat::sendMessage(item, WM_KEYDOWN, VK_HOME, 0);
    wplat::sendMessage(item, WM_KEYDOWN, VK_DELETE, 0);
    edit.getText(text);
    EXPECT_STREQ(text.getBuf(), "--z");
    // The limit holds whatever is typed.
    wplat::sendMessage(item, EM_LIMITTEXT, 4, 0);
    wplat::sendMessage(item, WM_KEYDOWN, VK_END, 0);
    for (char c : std::string("123"))
        wplat::sendMessage(item, WM_CHAR, (WPARAM)c, 0);
    edit.getText(text);
    EXPECT_STREQ(text.getBuf(), "--z1");
}

TEST_F(TextControls, MultiLineFieldsTakeReturn)
{
    Owner owner(parent);
    WControlEdit single(&owner, "single", 5, 5, 100, 0, WControlEdit::STYLE_SINGLELINE, true);
    WControlEdit multi(&owner, "multi", 5, 40, 100, 60, WControlEdit::STYLE_MULTILINE, true);
    for (WControlEdit* e : {&single, &multi}) {
        for (WPARAM c : {(WPARAM)'a', (WPARAM)VK_RETURN, (WPARAM)'b'})
            wplat::sendMessage(e->getWindowHandle(), WM_CHAR, c, 0);
    }
    WString text;
    single.getText(text);
    EXPECT_STREQ(text.getBuf(), "ab");
    multi.getText(text);
    EXPECT_STREQ(text.getBuf(), "a\r\nb");
    MSG ret {multi.getWindowHandle(), WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    LRESULT code = wplat::sendMessage(multi.getWindowHandle(), WM_GETDLGCODE, VK_RETURN, (LPARAM)&ret);
    EXPECT_NE(code & DLGC_WANTALLKEYS, 0);
    // Backspace removes a line break as one character.
    wplat::sendMessage(multi.getWindowHandle(), WM_KEYDOWN, VK_LEFT, 0);
    wplat::sendMessage(multi.getWindowHandle(), WM_CHAR, VK_BACK, 0);
    multi.getText(text);
    EXPECT_STREQ(text.getBuf(), "ab");
}

TEST_F(TextControls, RichTextFontFollowsWeightAndStyle)
{
    Owner owner(parent);
    WControlRichText rich(&owner, "rich", 5, 5, 200, 100, WControlRichText::STYLE_EDITABLE, true);
    HWND h = rich.getWindowHandle();
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x50010000 + 0x40C4));
    struct Case {
        unsigned long weight;
        unsigned long style;
        DWORD effects;
    } cases[] = {{500, 0, 0}, {700, 0, CFE_BOLD}, {650, 0, 0},
        {900, WFont::STYLE_ITALIC | WFont::STYLE_STRIKEOUT, CFE_BOLD | CFE_ITALIC | CFE_STRIKEOUT},
        {400, WFont::STYLE_UNDERLINE, CFE_UNDERLINE}};
    for (const Case& c : cases) {
        WFont font("Arial", 12, c.style, c.weight, 0x112233);
        rich.setFont(font, true);
        CHARFORMAT2A f {};
        f.cbSize = sizeof f;
        wplat::sendMessage(h, EM_GETCHARFORMAT, SCF_SELECTION, (LPARAM)&f);
        EXPECT_EQ(f.dwEffects & 0x3F, c.effects) << c.weight;
        EXPECT_NE(f.dwEffects & CFE_AUTOBACKCOLOR, 0u);
        EXPECT_EQ(f.yHeight, 240);
        EXPECT_EQ(f.crTextColor, 0x112233u);
        EXPECT_STREQ(f.szFaceName, "Arial");
    }
}

TEST_F(TextControls, RichTextSelectionAndRanges)
{
    Owner owner(parent);
    WControlRichText rich(&owner, "rich", 5, 5, 200, 100, WControlRichText::STYLE_EDITABLE, true);
    rich.setText("Hello wide world");
    EXPECT_EQ(rich.getTextLength(), 16u);
    rich.setSelection(6, 10);
    unsigned long start = 0, end = 0;
    rich.getSelection(start, end);
    EXPECT_EQ(start, 6u);
    EXPECT_EQ(end, 10u);
    WString text;
    rich.getTextSelected(text);
    EXPECT_STREQ(text.getBuf(), "wide");
    EXPECT_EQ(text.length(), 4u);
    WString range(2);
    rich.getTextRange(range, 0, 5);
    EXPECT_STREQ(range.getBuf(), "Hello");
    // Ranges past the end, up to the largest ("all"), take what there is.
    struct Case {
        unsigned long start;
        unsigned long end;
        const char* text;
    } cases[] = {{0, (unsigned long)-1, "Hello wide world"}, {6, (unsigned long)-1, "wide world"},
        {11, 0x100000000ul, "world"}, {20, (unsigned long)-1, ""}, {10, 6, ""}};
    for (const Case& c : cases) {
        WString got;
        rich.getTextRange(got, c.start, c.end);
        EXPECT_STREQ(got.getBuf(), c.text) << c.start << "-" << c.end;
    }
    rich.replaceSelection("big");
    rich.getText(text);
    EXPECT_STREQ(text.getBuf(), "Hello big world");
    // Rich fields are not trimmed when they lose the focus.
    rich.setText("  padded  ");
    wplat::setFocus(rich.getWindowHandle());
    wplat::setFocus(parent);
    rich.getText(text);
    EXPECT_STREQ(text.getBuf(), "  padded  ");
    WString trimmed;
    EXPECT_TRUE(rich.formatText(trimmed));
    EXPECT_STREQ(trimmed.getBuf(), "padded");
}

TEST_F(TextControls, RichTextLoadsFiles)
{
    Owner owner(parent);
    WControlRichText rich(&owner, "rich", 5, 5, 200, 100, WControlRichText::STYLE_READONLY, false);
    WString text;
    rich.setText("old");
    rich.loadFile(tempFile("zv_empty.txt", "").c_str(), false);
    rich.getText(text);
    EXPECT_EQ(text.length(), 0u);
    std::string big(10000, 'q');
    rich.loadFile(tempFile("zv_plain.txt", "line one\r\n" + big).c_str(), false);
    EXPECT_EQ(rich.getTextLength(), 10u + big.size());
    rich.loadFile(tempFile("zv_doc.rtf",
                      "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
                      "\\f0 Hello \\b World\\b0\\par caf\\'e9 \\{x\\}\\tab end\\par}")
                      .c_str(),
        true);
    rich.getText(text);
    EXPECT_STREQ(text.getBuf(), "Hello World\r\ncaf\xC3\xA9 {x}\tend");
    EXPECT_THROW(rich.loadFile((::testing::TempDir() + "zv_missing.txt").c_str(), false), WException);
}

TEST_F(TextControls, ClickedLinksAreNotified)
{
    Owner owner(parent);
    WControlRichText rich(&owner, "rich", 5, 5, 300, 100, WControlRichText::STYLE_READONLY, false);
    rich.setText("http://example.org");
    HWND h = rich.getWindowHandle();
    click(h);
    EXPECT_TRUE(notesOf(WM_NOTIFY).empty());
    rich.setURLDetection(true);
    EXPECT_EQ(wplat::sendMessage(h, EM_GETEVENTMASK, 0, 0), (LRESULT)ENM_LINK);
    click(h);
    auto links = notesOf(WM_NOTIFY);
    ASSERT_EQ(links.size(), 2u); // button down and up
    EXPECT_EQ(links[1].code, EN_LINK);
    EXPECT_EQ(links[1].from, h);
    EXPECT_EQ(links[1].range.cpMin, 0);
    EXPECT_EQ(links[1].range.cpMax, 18);
}

TEST_F(TextControls, LongTextScrollsToKeepTheCaretInView)
{
    Owner owner(parent);
    WControlEdit edit(&owner, "path", 5, 5, 60, 0, WControlEdit::STYLE_SINGLELINE, true);
    HWND h = edit.getWindowHandle();
    std::string path = "/home/someone/documents/www/projects/site/public";
    edit.setText(path.c_str());
    wplat::sendMessage(h, EM_SETSEL, path.size(), path.size());
    paintNow(h);
    // A click at the left edge lands in the scrolled text, not at its start.
    click(h, 3, 10);
    DWORD start = 0;
    wplat::sendMessage(h, EM_GETSEL, (WPARAM)&start, 0);
    EXPECT_GT(start, 10u);
    EXPECT_LT(start, path.size());
    wplat::sendMessage(h, WM_KEYDOWN, VK_HOME, 0);
    paintNow(h);
    click(h, 3, 10);
    wplat::sendMessage(h, EM_GETSEL, (WPARAM)&start, 0);
    EXPECT_EQ(start, 0u);
}

TEST_F(TextControls, EveryKindPaintsItself)
{
    Owner owner(parent);
    WControlButton push(&owner, "push", "OK", 5, 5, 80, 24, WControlButton::STYLE_PUSHBUTTON);
    WControlButton check(&owner, "check", "Check", 5, 35, 100, 20, WControlButton::STYLE_CHECKBOX);
    WControlStatic label(&owner, "label", 5, 60, 100, 0, WControlStatic::STYLE_PLAIN);
    WControlEdit edit(&owner, "edit", 5, 90, 100, 0, WControlEdit::STYLE_PASSWORD, true);
    WControlRichText rich(&owner, "rich", 120, 5, 150, 80, WControlRichText::STYLE_EDITABLE, true);
    label.setText("Port:");
    edit.setText("secret");
    rich.setText("line one\r\nline two");
    rich.setBackColor(0x00FFFF);
    edit.setColor(0x0000FF, 0xFFFF00);
    for (HWND h : {push.getWindowHandle(), check.getWindowHandle(), label.getWindowHandle(), edit.getWindowHandle(),
             rich.getWindowHandle()}) {
        auto pixels = paintNow(h);
        ASSERT_FALSE(pixels.empty());
        EXPECT_GE(colourCount(pixels), 2u) << wplat::getClassName(h);
    }
    auto pixelOf = [](HWND h, int x, int y) {
        const wplat::PixelImage* image = wplat::getBackingImage(h);
        return image != nullptr ? image->pixel(x, y) : 0xFFFFFFFFu;
    };
    // Colours as set: the rich field's background (BGR 0x00FFFF is yellow),
    // the button's grey frame on the button face. The edit field's own colour
    // is its panel's to hand out; this parent hands out none: window white.
    EXPECT_EQ(pixelOf(edit.getWindowHandle(), 90, 3), 0xFFFFFFu);
    EXPECT_EQ(pixelOf(rich.getWindowHandle(), 140, 70), 0xFFFF00u);
    EXPECT_EQ(pixelOf(push.getWindowHandle(), 0, 0), 0x808080u);
    EXPECT_EQ(pixelOf(push.getWindowHandle(), 2, 12), wplat::getSysColor(COLOR_BTNFACE));
    auto unchecked = paintNow(check.getWindowHandle());
    check.setChecked(true);
    EXPECT_NE(paintNow(check.getWindowHandle()), unchecked);
}

} // namespace

namespace {

TEST_F(TextControls, ButtonsShowPrefixesTheFocusAndATick)
{
    Owner owner(parent);
    WControlButton push(&owner, "push", "&Start", 5, 5, 90, 28, WControlButton::STYLE_PUSHBUTTON);
    WControlButton plain(&owner, "plain", "Start", 5, 40, 90, 28, WControlButton::STYLE_PUSHBUTTON);
    HWND h = push.getWindowHandle();
    // The prefix is not drawn: the label is as wide as without it, and underlined.
    auto columnsWithInk = [](const std::vector<uint32_t>& pixels, int width, int top, int bottom) {
        int left = width, right = -1;
        for (int y = top; y < bottom; y++)
            for (int x = 4; x < width - 4; x++)
                if ((pixels[(size_t)(y * width + x)] & 0xFF) < 0x80) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return right - left;
    };
    wplat::setFocus(parent);
    auto withPrefix = paintNow(h);
    auto without = paintNow(plain.getWindowHandle());
    EXPECT_NEAR(columnsWithInk(withPrefix, 90, 4, 24), columnsWithInk(without, 90, 4, 24), 1);
    EXPECT_NE(withPrefix, without); // the underline
    // Focus: a dotted frame three pixels in, every other pixel dark.
    EXPECT_EQ(withPrefix[(size_t)(3 * 90 + 10)] & 0xFFFFFF, 0xF0F0F0u);
    wplat::setFocus(h);
    auto focused = paintNow(h);
    int dark = 0;
    for (int x = 3; x < 87; x++)
        dark += focused[(size_t)(3 * 90 + x)] == 0 ? 1 : 0;
    EXPECT_EQ(dark, 42);

    // A ticked box shows a tick, not a filled square.
    WControlButton check(&owner, "check", "Check", 5, 80, 90, 20, WControlButton::STYLE_CHECKBOX);
    check.setChecked(true);
    auto ticked = paintNow(check.getWindowHandle());
    int by = (20 - 13) / 2;
    auto at = [&](int x, int y) { return ticked[(size_t)((by + y) * 90 + 1 + x)] & 0xFFFFFF; };
    EXPECT_EQ(at(3, 3), 0xFFFFFFu); // the top left inside stays white
    EXPECT_EQ(at(4, 7), 0x000000u); // on the tick's short stroke
    EXPECT_EQ(at(10, 3), 0x000000u); // at the end of its long stroke
    EXPECT_EQ(at(9, 9), 0xFFFFFFu); // below the long stroke
}

} // namespace

namespace {

TEST_F(TextControls, StaticTextsWrapTheirWords)
{
    Owner owner(parent);
    WControlStatic label(&owner, "label", 5, 5, 90, 60, WControlStatic::STYLE_PLAIN);
    label.setText("several words that need more than one line");
    auto pixels = paintNow(label.getWindowHandle());
    ASSERT_EQ(pixels.size(), (size_t)(90 * 60));
    int h = textHeightOn(label.getWindowHandle());
    ASSERT_GT(h, 0);
    auto inkInRows = [&](int top, int bottom) {
        int n = 0;
        for (int y = top; y < std::min(bottom, 60); y++)
            for (int x = 0; x < 90; x++)
                n += (pixels[(size_t)(y * 90 + x)] & 0xFF) < 0x80 ? 1 : 0;
        return n;
    };
    EXPECT_GT(inkInRows(0, h), 0);
    EXPECT_GT(inkInRows(h, 2 * h), 0);
    EXPECT_GT(inkInRows(2 * h, 3 * h), 0);
}

} // namespace

namespace {

TEST_F(TextControls, ControlASelectsTheWholeField)
{
    Owner owner(parent);
    WControlEdit field(&owner, "field", 5, 5, 120, 22, WControlEdit::STYLE_SINGLELINE, true);
    field.setText("select me");
    HWND h = field.getWindowHandle();
    wplat::setFocus(h);
    auto press = [&](WPARAM key, bool down) {
        wplat::postMessage(h, down ? WM_KEYDOWN : WM_KEYUP, key, 0);
        MSG msg;
        while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove))
            wplat::dispatchMessage(msg);
    };
    // A plain 'A' is no command; with Ctrl held it selects all.
    press('A', true);
    press('A', false);
    DWORD start = 1, end = 1;
    wplat::sendMessage(h, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(start, end);
    press(VK_CONTROL, true);
    press('A', true);
    press('A', false);
    press(VK_CONTROL, false);
    wplat::sendMessage(h, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 9u);
}

} // namespace
