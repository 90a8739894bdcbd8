#pragma once

// Where drawText breaks its text into lines: line breaks, word wrapping to
// a width, and '&' prefixes. A pure function over a measuring callback, so
// the rules are tested without fonts.

#include <functional>
#include <string>
#include <vector>

#include "../PlatformTypes.h"

namespace wplat::detail {

struct TextLine {
    std::string text;
    // Byte offset in `text` of the character a prefix underlines, or -1.
    int underline = -1;
};

// Pixel width of a text in the current font.
using MeasureText = std::function<int(const std::string&)>;

// Lines of `text` as drawText shows it with `format` in `width` pixels.
// Without DT_SINGLELINE, CR LF, LF and CR end lines; with DT_WORDBREAK a
// line wider than `width` breaks after the last space that fits (a word
// wider than the width stands alone on its line). Unless DT_NOPREFIX, "&&"
// shows one '&' and "&x" shows x underlined.
std::vector<TextLine> layoutText(const std::string& text, UINT format, int width, const MeasureText& measure);

} // namespace wplat::detail
