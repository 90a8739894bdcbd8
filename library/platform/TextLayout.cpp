// Line breaking, word wrapping and prefixes of drawText.

#include "internal/TextLayout.h"

namespace wplat::detail {

namespace {

// Takes the prefixes out of one line.
TextLine stripPrefixes(const std::string& raw, bool prefixes)
{
    TextLine line;
    if (!prefixes) {
        line.text = raw;
        return line;
    }
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '&' && i + 1 < raw.size()) {
            i++;
            if (raw[i] != '&' && line.underline < 0) line.underline = (int)line.text.size();
        }
        line.text.push_back(raw[i]);
    }
    return line;
}

// Breaks one line into pieces no wider than `width`, at spaces.
void wrap(const TextLine& line, int width, const MeasureText& measure, std::vector<TextLine>& out)
{
    const std::string& s = line.text;
    size_t start = 0;
    while (start < s.size()) {
        if (measure(s.substr(start)) <= width) {
            break;
        }
        // The longest run of words from `start` that fits.
        size_t breakAt = std::string::npos;
        for (size_t space = s.find(' ', start); space != std::string::npos; space = s.find(' ', space + 1)) {
            if (space > start && measure(s.substr(start, space - start)) > width) break;
            breakAt = space;
        }
        if (breakAt == std::string::npos || breakAt == start) {
            // A word wider than the width stands alone.
            size_t end = s.find(' ', start + 1);
            if (end == std::string::npos) break;
            breakAt = end;
        }
        // The line ends before the run of spaces it breaks at.
        size_t cut = s.find_last_not_of(' ', breakAt);
        cut = cut == std::string::npos || cut < start ? start : cut + 1;
        TextLine piece;
        piece.text = s.substr(start, cut - start);
        if (line.underline >= (int)start && line.underline < (int)cut) piece.underline = line.underline - (int)start;
        out.push_back(piece);
        // The spaces at the break are not carried to the next line.
        start = s.find_first_not_of(' ', breakAt);
        if (start == std::string::npos) return;
    }
    TextLine rest;
    rest.text = s.substr(start);
    if (line.underline >= (int)start) rest.underline = line.underline - (int)start;
    out.push_back(rest);
}

} // namespace

std::vector<TextLine> layoutText(const std::string& text, UINT format, int width, const MeasureText& measure)
{
    bool prefixes = (format & DT_NOPREFIX) == 0;
    std::vector<TextLine> out;
    if ((format & DT_SINGLELINE) != 0) {
        out.push_back(stripPrefixes(text, prefixes));
        return out;
    }
    size_t start = 0;
    for (;;) {
        size_t end = text.find_first_of("\r\n", start);
        std::string raw = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        TextLine line = stripPrefixes(raw, prefixes);
        if ((format & DT_WORDBREAK) != 0)
            wrap(line, width, measure, out);
        else
            out.push_back(line);
        if (end == std::string::npos) break;
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (start >= text.size()) break; // a break at the very end opens no further line
    }
    return out;
}

} // namespace wplat::detail
