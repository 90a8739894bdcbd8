#pragma once

// The text of a rich-text document with the character formats it sets:
// paragraphs become "\r\n", tabs stay, escaped characters are decoded (code
// page 1252 bytes and \u characters as UTF-8), and destinations that hold
// no text (font and colour tables, style sheets, pictures, document info,
// "\*" groups) are skipped. Of the formatting, \b \i \ul \strike \fs \cf
// and \f (with the font and colour tables) are kept; the rest is dropped.

#include <string>
#include <vector>

#include "PlatformTypes.h"

namespace wplat::controls {

// A character format: what is not set follows the field's own format.
struct CharFormat {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int twips = 0; // 0: the field's size
    COLORREF color = CLR_NONE; // CLR_NONE: the field's colour
    std::string face; // empty: the field's face
    bool operator==(const CharFormat& o) const
    {
        return bold == o.bold && italic == o.italic && underline == o.underline && strike == o.strike
            && twips == o.twips && color == o.color && face == o.face;
    }
};

struct FormatSpan {
    size_t start;
    size_t length;
    CharFormat format;
};

struct RichText {
    std::string text;
    // In order, covering only the formatted stretches of the text.
    std::vector<FormatSpan> spans;
};

RichText rtfToRichText(const std::string& rtf);
std::string rtfToText(const std::string& rtf);

} // namespace wplat::controls
