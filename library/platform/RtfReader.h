#pragma once

// The plain text of a rich-text document: paragraphs become "\r\n", tabs
// stay, escaped characters are decoded (code page 1252 bytes and \u
// characters as UTF-8), and destinations that hold no text (font and
// colour tables, style sheets, pictures, document info, "\*" groups) are
// skipped. Formatting is dropped.

#include <string>

namespace wplat::controls {

std::string rtfToText(const std::string& rtf);

} // namespace wplat::controls
