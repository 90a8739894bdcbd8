#pragma once

// The character formats of a rich-edit field: the field's own format and,
// for every byte of the text, the format it is shown in. Text changes and
// format requests keep both in step; painting asks for fonts and colours.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "../ControlTypes.h"
#include "../Platform.h"
#include "RtfReader.h"

namespace wplat::controls {

class RichFormats {
public:
    RichFormats();

    // The field's own format (EM_GETCHARFORMAT without SCF_SELECTION).
    const CHARFORMAT2A& base() const { return baseFormat; }
    // New text of `length` bytes, all in the field's format.
    void reset(size_t length);
    // Bytes [start, end) replaced by `inserted` bytes, which take the format
    // chosen for an empty selection, else the one before them.
    void replace(size_t start, size_t end, size_t inserted);
    // EM_SETCHARFORMAT with SCF_SELECTION: [start, end), or the format of
    // what is typed next when the range is empty.
    void apply(size_t start, size_t end, const CHARFORMAT2A& change);
    // EM_SETCHARFORMAT for the whole field (SCF_ALL or the default format).
    void applyAll(const CHARFORMAT2A& change);
    // Formats read from a document, laid over the field's format from `offset`.
    void applySpans(size_t offset, const std::vector<FormatSpan>& spans);
    // EM_GETCHARFORMAT with SCF_SELECTION: the format of [start, end), its
    // mask telling which attributes are the same all through.
    CHARFORMAT2A query(size_t start, size_t end) const;

    // Shown formats: an index per byte, and what an index looks like.
    uint16_t at(size_t byte) const { return byte < formatAt.size() ? formatAt[byte] : 0; }
    size_t size() const { return formatAt.size(); }
    // Where the run of one format that starts at `byte` ends, at most `limit`.
    size_t runEnd(size_t byte, size_t limit) const
    {
        size_t end = byte;
        while (end < limit && at(end) == at(byte))
            end++;
        return end;
    }
    LOGFONT font(uint16_t index, const LOGFONT& field, int dpi) const;
    COLORREF color(uint16_t index, COLORREF field) const;

private:
    // A complete format: index 0 follows the field's format.
    CharFormat effective(uint16_t index) const;
    uint16_t intern(const CharFormat& format);
    static CharFormat merged(CharFormat format, const CHARFORMAT2A& change);

    CHARFORMAT2A baseFormat;
    std::vector<CharFormat> palette;
    std::vector<uint16_t> formatAt;
    uint16_t typing = 0;
    bool typingSet = false;
};

} // namespace wplat::controls

namespace wplat::controls {

// Measures and draws a rich-edit field's text in its formats, on one
// device context; the fonts it makes are released with it.
class RichPainter {
public:
    RichPainter(HWND field, const RichFormats& formats, HDC dc);
    ~RichPainter();
    RichPainter(const RichPainter&) = delete;
    RichPainter& operator=(const RichPainter&) = delete;

    struct Line {
        size_t from;
        size_t length;
        int top;
        int height;
    };
    // Lines starting at `starts` (their ends without the line break), the
    // first at `top`; each as high as its tallest format, at least `minimum`.
    std::vector<Line> layout(const std::string& text, const std::vector<size_t>& starts, int top, int minimum);
    // Width of text[from, to) in its formats.
    int width(const std::string& text, size_t from, size_t to);
    // Draws text[from, to) from x on the base line `baseline`; colours of
    // the formats unless `fieldColorOnly`.
    void draw(
        const std::string& text, size_t from, size_t to, int x, int baseline, COLORREF fieldColor, bool fieldColorOnly);

private:
    HFONT fontFor(uint16_t index);
    int ascent(uint16_t index);

    const RichFormats& formats;
    HDC dc;
    LOGFONT field;
    int dpi;
    std::vector<std::pair<uint16_t, HFONT>> fonts;
};

} // namespace wplat::controls
