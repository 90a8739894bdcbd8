// Character formats of rich-edit fields, byte by byte.

#include "internal/RichFormats.h"

#include "internal/Gdi.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace wplat::controls {

namespace {

constexpr DWORD kFormatMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_SIZE | CFM_COLOR | CFM_FACE;

CharFormat fromBase(const CHARFORMAT2A& f)
{
    CharFormat c;
    c.bold = (f.dwMask & CFM_BOLD) != 0 && (f.dwEffects & CFE_BOLD) != 0;
    c.italic = (f.dwMask & CFM_ITALIC) != 0 && (f.dwEffects & CFE_ITALIC) != 0;
    c.underline = (f.dwMask & CFM_UNDERLINE) != 0 && (f.dwEffects & CFE_UNDERLINE) != 0;
    c.strike = (f.dwMask & CFM_STRIKEOUT) != 0 && (f.dwEffects & CFE_STRIKEOUT) != 0;
    c.twips = (f.dwMask & CFM_SIZE) != 0 ? f.yHeight : 0;
    c.color = (f.dwMask & CFM_COLOR) != 0 ? f.crTextColor : CLR_NONE;
    c.face = (f.dwMask & CFM_FACE) != 0 ? std::string(f.szFaceName, strnlen(f.szFaceName, sizeof f.szFaceName))
                                        : std::string();
    return c;
}

} // namespace

RichFormats::RichFormats() : baseFormat {}, palette {CharFormat {}}
{
    baseFormat.cbSize = sizeof(CHARFORMAT2A);
    baseFormat.dwEffects = CFE_AUTOBACKCOLOR;
    baseFormat.yHeight = 160;
}

CharFormat RichFormats::merged(CharFormat f, const CHARFORMAT2A& change)
{
    DWORD mask = change.dwMask;
    if ((mask & CFM_BOLD) != 0) f.bold = (change.dwEffects & CFE_BOLD) != 0;
    if ((mask & CFM_ITALIC) != 0) f.italic = (change.dwEffects & CFE_ITALIC) != 0;
    if ((mask & CFM_UNDERLINE) != 0) f.underline = (change.dwEffects & CFE_UNDERLINE) != 0;
    if ((mask & CFM_STRIKEOUT) != 0) f.strike = (change.dwEffects & CFE_STRIKEOUT) != 0;
    if ((mask & CFM_SIZE) != 0) f.twips = change.yHeight;
    if ((mask & CFM_COLOR) != 0) f.color = change.crTextColor;
    if ((mask & CFM_FACE) != 0)
        f.face = std::string(change.szFaceName, strnlen(change.szFaceName, sizeof change.szFaceName));
    return f;
}

CharFormat RichFormats::effective(uint16_t index) const
{
    if (index == 0 || index >= palette.size()) return fromBase(baseFormat);
    return palette[index];
}

uint16_t RichFormats::intern(const CharFormat& format)
{
    // The field's own format stays index 0, so a later change of it shows.
    if (format == fromBase(baseFormat)) return 0;
    for (size_t i = 1; i < palette.size(); i++) {
        if (palette[i] == format) return (uint16_t)i;
    }
    if (palette.size() >= 0xFFFF) return 0;
    palette.push_back(format);
    return (uint16_t)(palette.size() - 1);
}

void RichFormats::reset(size_t length)
{
    formatAt.assign(length, 0);
    typingSet = false;
}

void RichFormats::replace(size_t start, size_t end, size_t inserted)
{
    start = std::min(start, formatAt.size());
    end = std::clamp(end, start, formatAt.size());
    uint16_t format = typingSet ? typing : (start > 0 ? formatAt[start - 1] : (end > start ? formatAt[start] : 0));
    formatAt.erase(formatAt.begin() + (ptrdiff_t)start, formatAt.begin() + (ptrdiff_t)end);
    formatAt.insert(formatAt.begin() + (ptrdiff_t)start, inserted, format);
    if (inserted > 0) typingSet = false;
}

void RichFormats::apply(size_t start, size_t end, const CHARFORMAT2A& change)
{
    start = std::min(start, formatAt.size());
    end = std::clamp(end, start, formatAt.size());
    if (start == end) {
        uint16_t before = start > 0 ? formatAt[start - 1] : 0;
        typing = intern(merged(effective(typingSet ? typing : before), change));
        typingSet = true;
        return;
    }
    for (size_t i = start; i < end; i++)
        formatAt[i] = intern(merged(effective(formatAt[i]), change));
}

void RichFormats::applyAll(const CHARFORMAT2A& change)
{
    CHARFORMAT2A next = baseFormat;
    DWORD mask = change.dwMask;
    next.dwMask |= mask;
    const DWORD effects = CFE_BOLD | CFE_ITALIC | CFE_UNDERLINE | CFE_STRIKEOUT | CFE_PROTECTED | CFE_LINK;
    next.dwEffects = (next.dwEffects & ~(mask & effects)) | (change.dwEffects & mask & effects);
    next.dwEffects = (next.dwEffects & ~CFE_AUTOBACKCOLOR) | (change.dwEffects & CFE_AUTOBACKCOLOR);
    if ((mask & CFM_SIZE) != 0) next.yHeight = change.yHeight;
    if ((mask & CFM_COLOR) != 0) next.crTextColor = change.crTextColor;
    if ((mask & CFM_FACE) != 0) {
        memcpy(next.szFaceName, change.szFaceName, sizeof next.szFaceName);
        next.szFaceName[31] = '\0';
    }
    baseFormat = next;
    // Everything now shows the field's format.
    palette.assign(1, CharFormat {});
    std::fill(formatAt.begin(), formatAt.end(), 0);
    typingSet = false;
}

void RichFormats::applySpans(size_t offset, const std::vector<FormatSpan>& spans)
{
    CharFormat field = fromBase(baseFormat);
    for (const FormatSpan& span : spans) {
        CharFormat f = span.format;
        // What the document leaves open follows the field.
        f.bold = f.bold || field.bold;
        f.italic = f.italic || field.italic;
        f.underline = f.underline || field.underline;
        f.strike = f.strike || field.strike;
        if (f.twips == 0) f.twips = field.twips;
        if (f.color == CLR_NONE) f.color = field.color;
        if (f.face.empty()) f.face = field.face;
        uint16_t index = intern(f);
        size_t from = std::min(offset + span.start, formatAt.size());
        size_t to = std::min(from + span.length, formatAt.size());
        std::fill(formatAt.begin() + (ptrdiff_t)from, formatAt.begin() + (ptrdiff_t)to, index);
    }
}

CHARFORMAT2A RichFormats::query(size_t start, size_t end) const
{
    start = std::min(start, formatAt.size());
    end = std::clamp(end, start, formatAt.size());
    CharFormat first
        = effective(start < end ? formatAt[start] : (typingSet ? typing : (start > 0 ? formatAt[start - 1] : 0)));
    DWORD mask = kFormatMask;
    for (size_t i = start; i < end; i++) {
        CharFormat f = effective(formatAt[i]);
        if (f.bold != first.bold) mask &= ~CFM_BOLD;
        if (f.italic != first.italic) mask &= ~CFM_ITALIC;
        if (f.underline != first.underline) mask &= ~CFM_UNDERLINE;
        if (f.strike != first.strike) mask &= ~CFM_STRIKEOUT;
        if (f.twips != first.twips) mask &= ~CFM_SIZE;
        if (f.color != first.color) mask &= ~CFM_COLOR;
        if (f.face != first.face) mask &= ~CFM_FACE;
    }
    CHARFORMAT2A out = baseFormat;
    out.dwMask = mask | (baseFormat.dwMask & ~kFormatMask);
    out.dwEffects = (baseFormat.dwEffects & ~(DWORD)(CFE_BOLD | CFE_ITALIC | CFE_UNDERLINE | CFE_STRIKEOUT))
        | (first.bold ? CFE_BOLD : 0) | (first.italic ? CFE_ITALIC : 0) | (first.underline ? CFE_UNDERLINE : 0)
        | (first.strike ? CFE_STRIKEOUT : 0);
    out.yHeight = first.twips;
    out.crTextColor = first.color == CLR_NONE ? 0 : first.color;
    memset(out.szFaceName, 0, sizeof out.szFaceName);
    strncpy(out.szFaceName, first.face.c_str(), sizeof out.szFaceName - 1);
    return out;
}

LOGFONT RichFormats::font(uint16_t index, const LOGFONT& field, int dpi) const
{
    CharFormat f = effective(index);
    LOGFONT out = field;
    out.lfWeight = f.bold ? 700 : (field.lfWeight >= 600 ? 400 : field.lfWeight);
    out.lfItalic = f.italic ? 1 : 0;
    out.lfUnderline = f.underline ? 1 : 0;
    out.lfStrikeOut = f.strike ? 1 : 0;
    if (f.twips > 0) out.lfHeight = -(int32_t)std::lround((double)f.twips * dpi / 1440.0);
    if (!f.face.empty()) {
        memset(out.lfFaceName, 0, sizeof out.lfFaceName);
        strncpy(out.lfFaceName, f.face.c_str(), sizeof out.lfFaceName - 1);
    }
    return out;
}

COLORREF RichFormats::color(uint16_t index, COLORREF field) const
{
    CharFormat f = effective(index);
    return f.color != CLR_NONE ? f.color : field;
}

} // namespace wplat::controls

namespace wplat::controls {

RichPainter::RichPainter(HWND window, const RichFormats& f, HDC context)
    : formats(f), dc(context), field {}, dpi(screenDpi())
{
    auto font = (HFONT)sendMessage(window, WM_GETFONT, 0, 0);
    field = detail::fontOf(font);
}

RichPainter::~RichPainter()
{
    for (auto& made : fonts)
        deleteObject(toObject(made.second));
}

HFONT RichPainter::fontFor(uint16_t index)
{
    for (auto& made : fonts) {
        if (made.first == index) return made.second;
    }
    HFONT font = createFontIndirect(formats.font(index, field, dpi));
    fonts.emplace_back(index, font);
    return font;
}

int RichPainter::ascent(uint16_t index)
{
    selectObject(dc, toObject(fontFor(index)));
    TEXTMETRIC tm {};
    getTextMetrics(dc, tm);
    return tm.tmAscent;
}

int RichPainter::width(const std::string& text, size_t from, size_t to)
{
    int total = 0;
    to = std::min(to, text.size());
    for (size_t at = from; at < to;) {
        uint16_t index = formats.at(at);
        size_t end = formats.runEnd(at, to);
        selectObject(dc, toObject(fontFor(index)));
        SIZE size {0, 0};
        getTextExtentPoint(dc, text.data() + at, (int)(end - at), size);
        total += size.cx;
        at = end;
    }
    return total;
}

std::vector<RichPainter::Line> RichPainter::layout(
    const std::string& text, const std::vector<size_t>& starts, int top, int minimum)
{
    std::vector<Line> lines;
    for (size_t n = 0; n < starts.size(); n++) {
        size_t from = starts[n];
        size_t to = n + 1 < starts.size() ? starts[n + 1] : text.size();
        while (to > from && (text[to - 1] == '\n' || text[to - 1] == '\r'))
            to--;
        int height = minimum;
        for (size_t at = from; at < std::max(to, from + 1) && at <= text.size(); at++) {
            selectObject(dc, toObject(fontFor(formats.at(at))));
            TEXTMETRIC tm {};
            getTextMetrics(dc, tm);
            height = std::max(height, (int)tm.tmHeight);
            // Runs of one format need one look.
            while (at + 1 < to && formats.at(at + 1) == formats.at(at))
                at++;
        }
        lines.push_back(Line {from, to - from, top, height});
        top += height;
    }
    return lines;
}

void RichPainter::draw(
    const std::string& text, size_t from, size_t to, int x, int baseline, COLORREF fieldColor, bool fieldColorOnly)
{
    to = std::min(to, text.size());
    for (size_t at = from; at < to;) {
        uint16_t index = formats.at(at);
        size_t end = formats.runEnd(at, to);
        HFONT font = fontFor(index);
        int top = baseline - ascent(index);
        selectObject(dc, toObject(font));
        setTextColor(dc, fieldColorOnly ? fieldColor : formats.color(index, fieldColor));
        setBkMode(dc, TRANSPARENT);
        std::string piece = text.substr(at, end - at);
        textOut(dc, x, top, piece.c_str(), (int)piece.size());
        SIZE size {0, 0};
        getTextExtentPoint(dc, piece.c_str(), (int)piece.size(), size);
        x += size.cx;
        at = end;
    }
}

} // namespace wplat::controls
