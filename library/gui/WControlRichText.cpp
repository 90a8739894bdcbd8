#include "WControlRichText.h"

#include <algorithm>
#include <cstring>

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"
#include "WException.h"
#include "WFile.h"

namespace {

// Feeds the control from the open file; the end of the file is a short read.
DWORD readFromFile(uintptr_t cookie, uint8_t* buffer, long count, long* done)
{
    WFile* file = (WFile*)cookie;
    *done = 0;
    if (file == nullptr) return 1;
    try {
        file->read(buffer, (unsigned long)count);
        *done = count;
    } catch (const WEOFException&) {
        *done = (long)file->getEOFBytes();
    } catch (...) {
        return 1;
    }
    return 0;
}

// Grows the text to hold the characters from start to end; without a window
// it empties the text and answers false.
bool makeRoom(HWND window, WString& text, unsigned long start, unsigned long end)
{
    unsigned long n = end > start ? end - start : 0;
    if (n >= text.getBufLength()) text.resize(n);
    if (window == nullptr) {
        text.truncate(0);
        return false;
    }
    return true;
}

} // namespace

WControlRichText::WControlRichText(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    create(owner, controlName, dialogItemId);
}

WControlRichText::WControlRichText(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style, bool clientEdge)
{
    create(owner, controlName, x, y, width, height, style, clientEdge);
}

void WControlRichText::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlRichText::create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style, bool clientEdge)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    unsigned long bits = style == STYLE_EDITABLE ? 0x40C4 : style == STYLE_READONLY ? 0x48C4 : 0;
    WControl::create(owner, controlName,
        WWindowStyle("RICHEDIT20A", 0x50010000 + bits, clientEdge ? WS_EX_CLIENTEDGE : 0), x, y, width, height);
    if (g_systemInfo.hasDefaultFont()) setFont(g_systemInfo.getDefaultFont(), true);
}

void WControlRichText::setText(const char* text)
{
    wplat::sendMessage(window, WM_SETTEXT, 0, (LPARAM)(text != nullptr ? text : ""));
}

void WControlRichText::getText(WString& text) const
{
    wcontrols::readWindowText(window, text);
}

unsigned long WControlRichText::getTextLength() const
{
    return (unsigned long)wplat::sendMessage(window, WM_GETTEXTLENGTH, 0, 0);
}

void WControlRichText::getSelection(unsigned long& start, unsigned long& end) const
{
    CHARRANGE range {0, 0};
    wplat::sendMessage(window, EM_EXGETSEL, 0, (LPARAM)&range);
    start = (unsigned long)range.cpMin;
    end = (unsigned long)range.cpMax;
}

void WControlRichText::setSelection(unsigned long start, unsigned long end)
{
    CHARRANGE range {(int32_t)start, (int32_t)end};
    wplat::sendMessage(window, EM_EXSETSEL, 0, (LPARAM)&range);
}

void WControlRichText::replaceSelection(const char* text)
{
    wplat::sendMessage(window, EM_REPLACESEL, 0, (LPARAM)(text != nullptr ? text : ""));
}

void WControlRichText::hideSelection(bool hide)
{
    wplat::sendMessage(window, EM_HIDESELECTION, hide ? 1 : 0, 0);
}

void WControlRichText::getTextSelected(WString& text) const
{
    unsigned long start = 0;
    unsigned long end = 0;
    getSelection(start, end);
    if (!makeRoom(window, text, start, end)) return;
    LRESULT copied = wplat::sendMessage(window, EM_GETSELTEXT, 0, (LPARAM)text.getBuf());
    text.truncate((unsigned long)(copied > 0 ? copied : 0));
}

void WControlRichText::getTextRange(WString& text, unsigned long start, unsigned long end) const
{
    // A range past the end (up to (unsigned long)-1, "all") takes what there is.
    unsigned long length = getTextLength();
    start = std::min(start, length);
    end = std::clamp(end, start, length);
    if (!makeRoom(window, text, start, end)) return;
    TEXTRANGEA range {{(int32_t)start, (int32_t)end}, text.getBuf()};
    LRESULT copied = wplat::sendMessage(window, EM_GETTEXTRANGE, 0, (LPARAM)&range);
    text.truncate((unsigned long)(copied > 0 ? copied : 0));
}

void WControlRichText::setRichTextMode()
{
    wplat::sendMessage(window, EM_SETTEXTMODE, TM_RICHTEXT, 0);
}

void WControlRichText::setPlainTextMode()
{
    wplat::sendMessage(window, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
}

void WControlRichText::setURLDetection(bool on)
{
    setEventMask(ENM_LINK);
    wplat::sendMessage(window, EM_AUTOURLDETECT, on ? 1 : 0, 0);
}

void WControlRichText::setBackColor(unsigned long color)
{
    wplat::sendMessage(window, EM_SETBKGNDCOLOR, 0, (LPARAM)color);
}

void WControlRichText::setFont(const WFont& font, bool all)
{
    CHARFORMAT2A format;
    memset(&format, 0, sizeof format);
    format.cbSize = sizeof format;
    format.dwMask = 0xE000003F;
    unsigned long weight = font.getWeight();
    if (weight == 600 || weight == 700 || weight == 800 || weight == 900) format.dwEffects |= CFE_BOLD;
    if ((font.getStyle() & WFont::STYLE_ITALIC) != 0) format.dwEffects |= CFE_ITALIC;
    if ((font.getStyle() & WFont::STYLE_UNDERLINE) != 0) format.dwEffects |= CFE_UNDERLINE;
    if ((font.getStyle() & WFont::STYLE_STRIKEOUT) != 0) format.dwEffects |= CFE_STRIKEOUT;
    format.dwEffects |= CFE_AUTOBACKCOLOR;
    format.yHeight = (int32_t)(font.getHeight() * 20);
    format.crTextColor = (COLORREF)font.getColor();
    strncpy(format.szFaceName, font.getName().getBuf(), sizeof format.szFaceName - 1);
    wplat::sendMessage(window, EM_SETCHARFORMAT, all ? SCF_ALL : SCF_SELECTION, (LPARAM)&format);
}

void WControlRichText::loadFile(const char* path, bool rtf)
{
    WFile file;
    file.open(path, false);
    EDITSTREAM stream {(uintptr_t)&file, 0, readFromFile};
    wplat::sendMessage(window, EM_STREAMIN, rtf ? SF_RTF : SF_TEXT, (LPARAM)&stream);
    file.close();
}

bool WControlRichText::formatText(WString& text) const
{
    getText(text);
    text.trim();
    return true;
}

void WControlRichText::setEventMask(unsigned long mask)
{
    wplat::sendMessage(window, EM_SETEVENTMASK, 0, (LPARAM)mask);
}
