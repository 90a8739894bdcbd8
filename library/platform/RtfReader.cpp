#include "internal/RtfReader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace wplat::controls {

namespace {

void appendUtf8(std::string& out, unsigned long cp)
{
    if (cp < 0x80) {
        out += (char)cp;
    } else if (cp < 0x800) {
        out += (char)(0xC0 | (cp >> 6));
        out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += (char)(0xE0 | (cp >> 12));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    } else {
        out += (char)(0xF0 | (cp >> 18));
        out += (char)(0x80 | ((cp >> 12) & 0x3F));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    }
}

// Code page 1252 bytes 0x80-0x9F; the rest map to the same code point.
unsigned long cp1252(unsigned char c)
{
    static const unsigned short high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                            0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    return c >= 0x80 && c < 0xA0 ? high[c - 0x80] : c;
}

bool skippedDestination(const std::string& word)
{
    static const char* const names[] = {"stylesheet", "info",   "pict",   "header",
                                         "footer",  "object",   "listtable",  "themedata", "latentstyles",
                                         "generator", "xmlnstbl", "rsidtbl",  "filetbl", "revtbl"};
    for (const char* n : names) {
        if (word == n)
            return true;
    }
    return false;
}

// What a group is: text, or one of the tables read for the formats.
enum class Destination { Text, Skipped, FontTable, ColorTable };

struct Group {
    bool skip = false;
    int unicodeSkip = 1;
    Destination destination = Destination::Text;
    CharFormat format;
};

} // namespace

RichText rtfToRichText(const std::string& rtf)
{
    RichText result;
    std::string& out = result.text;
    std::vector<Group> stack{Group{}};
    int pendingSkip = 0;  // characters to drop after a \u
    // The tables: font number -> face; colours in order (0 is "auto").
    std::vector<std::pair<long, std::string>> fonts;
    long fontNumber = -1;
    std::string fontName;
    std::vector<COLORREF> colors;
    int red = 0, green = 0, blue = 0;
    bool colorGiven = false;
    size_t i = 0;
    // Text of the current group goes out with its format.
    auto append = [&](const std::string& s) {
        Group& g = stack.back();
        if (g.skip)
            return;
        if (g.destination == Destination::FontTable) {
            fontName += s;
            return;
        }
        if (g.destination != Destination::Text)
            return;
        if (g.format == CharFormat{}) {
            out += s;
            return;
        }
        if (!result.spans.empty() && result.spans.back().start + result.spans.back().length == out.size() &&
            result.spans.back().format == g.format)
            result.spans.back().length += s.size();
        else
            result.spans.push_back(FormatSpan{out.size(), s.size(), g.format});
        out += s;
    };
    auto emitCodePoint = [&](unsigned long cp) {
        std::string s;
        appendUtf8(s, cp);
        append(s);
    };
    auto endFontEntry = [&] {
        while (!fontName.empty() && (fontName.back() == ';' || fontName.back() == ' '))
            fontName.pop_back();
        if (fontNumber >= 0)
            fonts.emplace_back(fontNumber, fontName);
        fontNumber = -1;
        fontName.clear();
    };
    while (i < rtf.size()) {
        char c = rtf[i];
        if (c == '{') {
            stack.push_back(stack.back());
            i++;
            continue;
        }
        if (c == '}') {
            if (stack.back().destination == Destination::FontTable && stack.size() > 1 &&
                stack[stack.size() - 2].destination == Destination::FontTable)
                endFontEntry();
            if (stack.size() > 1)
                stack.pop_back();
            i++;
            continue;
        }
        if (c == '\r' || c == '\n') {
            i++;
            continue;
        }
        if (c != '\\') {
            if (pendingSkip > 0) {
                pendingSkip--;
            } else if (stack.back().destination == Destination::ColorTable && c == ';') {
                // An entry without components is the automatic colour.
                colors.push_back(colorGiven ? RGB(red, green, blue) : CLR_NONE);
                red = green = blue = 0;
                colorGiven = false;
            } else if (stack.back().destination == Destination::FontTable && c == ';') {
                endFontEntry();
            } else {
                emitCodePoint(cp1252((unsigned char)c));
            }
            i++;
            continue;
        }
        // A control word or symbol.
        i++;
        if (i >= rtf.size())
            break;
        char d = rtf[i];
        if (!std::isalpha((unsigned char)d)) {
            i++;
            if (d == '\'' && i + 2 <= rtf.size()) {
                unsigned long byte = std::strtoul(rtf.substr(i, 2).c_str(), nullptr, 16);
                i += 2;
                if (pendingSkip > 0)
                    pendingSkip--;
                else
                    emitCodePoint(cp1252((unsigned char)byte));
            } else if (d == '*') {
                stack.back().skip = true;
            } else if (d == '\\' || d == '{' || d == '}') {
                if (pendingSkip > 0)
                    pendingSkip--;
                else
                    append(std::string(1, d));
            } else if (d == '~') {
                append("\xC2\xA0");
            } else if (d == '\r' || d == '\n') {
                append("\r\n");
            }
            continue;
        }
        size_t start = i;
        while (i < rtf.size() && std::isalpha((unsigned char)rtf[i]))
            i++;
        std::string word = rtf.substr(start, i - start);
        bool hasNumber = false;
        long number = 0;
        size_t numStart = i;
        if (i < rtf.size() && (rtf[i] == '-' || std::isdigit((unsigned char)rtf[i]))) {
            i++;
            while (i < rtf.size() && std::isdigit((unsigned char)rtf[i]))
                i++;
            number = std::strtol(rtf.substr(numStart, i - numStart).c_str(), nullptr, 10);
            hasNumber = true;
        }
        if (i < rtf.size() && rtf[i] == ' ')
            i++;
        Group& g = stack.back();
        CharFormat& f = g.format;
        bool on = !hasNumber || number != 0;
        if (word == "par" || word == "line")
            append("\r\n");
        else if (word == "tab")
            append("\t");
        else if (word == "uc" && hasNumber)
            g.unicodeSkip = (int)number;
        else if (word == "u" && hasNumber) {
            emitCodePoint((unsigned long)(number < 0 ? number + 65536 : number));
            pendingSkip = g.unicodeSkip;
        } else if (word == "emdash")
            append("\xE2\x80\x94");
        else if (word == "endash")
            append("\xE2\x80\x93");
        else if (word == "bullet")
            append("\xE2\x80\xA2");
        else if (word == "fonttbl")
            g.destination = Destination::FontTable;
        else if (word == "colortbl")
            g.destination = Destination::ColorTable;
        else if ((word == "red" || word == "green" || word == "blue") && hasNumber) {
            (word == "red" ? red : word == "green" ? green : blue) = (int)std::clamp(number, 0L, 255L);
            colorGiven = true;
        }
        else if (word == "f" && hasNumber) {
            if (g.destination == Destination::FontTable) {
                fontNumber = number;
                fontName.clear();
            } else {
                for (const auto& entry : fonts) {
                    if (entry.first == number)
                        f.face = entry.second;
                }
            }
        } else if (word == "b")
            f.bold = on;
        else if (word == "i")
            f.italic = on;
        else if (word == "ul")
            f.underline = on;
        else if (word == "ulnone")
            f.underline = false;
        else if (word == "strike")
            f.strike = on;
        else if (word == "fs" && hasNumber)
            f.twips = (int)number * 10;  // half points
        else if (word == "cf" && hasNumber)
            f.color = number > 0 && (size_t)number < colors.size() ? colors[(size_t)number] : CLR_NONE;
        else if (word == "plain")
            f = CharFormat{};
        else if (skippedDestination(word))
            g.skip = true;
    }
    // A document ends with a paragraph mark that is not part of the text.
    if (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) {
        out.resize(out.size() - 2);
        while (!result.spans.empty() && result.spans.back().start >= out.size())
            result.spans.pop_back();
        if (!result.spans.empty())
            result.spans.back().length = std::min(result.spans.back().length, out.size() - result.spans.back().start);
    }
    return result;
}

std::string rtfToText(const std::string& rtf)
{
    return rtfToRichText(rtf).text;
}

} // namespace wplat::controls
