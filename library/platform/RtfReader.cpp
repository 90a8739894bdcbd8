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
    static const unsigned short high[32] = {0x20AC, 0x81, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
        0x2030, 0x0160, 0x2039, 0x0152, 0x8D, 0x017D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013,
        0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D, 0x017E, 0x0178};
    return c >= 0x80 && c < 0xA0 ? high[c - 0x80] : c;
}

bool skippedDestination(const std::string& word)
{
    static const char* const names[] = {"stylesheet", "info", "pict", "header", "footer", "object", "listtable",
        "themedata", "latentstyles", "generator", "xmlnstbl", "rsidtbl", "filetbl", "revtbl"};
    for (const char* n : names) {
        if (word == n) return true;
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

// Reads one document: groups on a stack, the font and colour tables, and
// the text with the format of the group it is in.
class Reader {
public:
    explicit Reader(const std::string& source) : rtf(source) { }

    RichText read()
    {
        while (at < rtf.size()) {
            char c = rtf[at++];
            if (c == '{')
                stack.push_back(stack.back());
            else if (c == '}')
                closeGroup();
            else if (c == '\\')
                control();
            else if (c != '\r' && c != '\n')
                plain(c);
        }
        dropFinalParagraph();
        return result;
    }

private:
    // Text of the current group goes out with its format.
    void append(const std::string& s)
    {
        Group& g = stack.back();
        if (g.skip) return;
        if (g.destination == Destination::FontTable) {
            fontName += s;
            return;
        }
        if (g.destination != Destination::Text) return;
        std::string& out = result.text;
        if (g.format == CharFormat {}) {
            out += s;
            return;
        }
        auto& spans = result.spans;
        if (!spans.empty() && spans.back().start + spans.back().length == out.size() && spans.back().format == g.format)
            spans.back().length += s.size();
        else
            spans.push_back(FormatSpan {out.size(), s.size(), g.format});
        out += s;
    }

    void character(unsigned long codePoint)
    {
        // Characters standing in for a \u before it are dropped.
        if (pendingSkip > 0) {
            pendingSkip--;
            return;
        }
        std::string s;
        appendUtf8(s, codePoint);
        append(s);
    }

    void closeGroup()
    {
        if (stack.back().destination == Destination::FontTable && stack.size() > 1
            && stack[stack.size() - 2].destination == Destination::FontTable)
            endFontEntry();
        if (stack.size() > 1) stack.pop_back();
    }

    void plain(char c)
    {
        Destination d = stack.back().destination;
        if (pendingSkip == 0 && d == Destination::ColorTable && c == ';') {
            // An entry without components is the automatic colour.
            colors.push_back(colorGiven ? RGB(red, green, blue) : CLR_NONE);
            red = green = blue = 0;
            colorGiven = false;
        } else if (pendingSkip == 0 && d == Destination::FontTable && c == ';') {
            endFontEntry();
        } else {
            character(cp1252((unsigned char)c));
        }
    }

    void endFontEntry()
    {
        while (!fontName.empty() && (fontName.back() == ';' || fontName.back() == ' '))
            fontName.pop_back();
        if (fontNumber >= 0) fonts.emplace_back(fontNumber, fontName);
        fontNumber = -1;
        fontName.clear();
    }

    // After a backslash: a control symbol or a control word.
    void control()
    {
        if (at >= rtf.size()) return;
        char d = rtf[at];
        if (std::isalpha((unsigned char)d)) {
            word();
            return;
        }
        at++;
        if (d == '\'' && at + 2 <= rtf.size()) {
            unsigned long byte = std::strtoul(rtf.substr(at, 2).c_str(), nullptr, 16);
            at += 2;
            character(cp1252((unsigned char)byte));
        } else if (d == '*') {
            stack.back().skip = true;
        } else if (d == '\\' || d == '{' || d == '}') {
            character((unsigned char)d);
        } else if (d == '~') {
            append("\xC2\xA0");
        } else if (d == '\r' || d == '\n') {
            append("\r\n");
        }
    }

    void word()
    {
        size_t start = at;
        while (at < rtf.size() && std::isalpha((unsigned char)rtf[at]))
            at++;
        std::string name = rtf.substr(start, at - start);
        bool hasNumber = false;
        long number = 0;
        size_t numStart = at;
        if (at < rtf.size() && (rtf[at] == '-' || std::isdigit((unsigned char)rtf[at]))) {
            at++;
            while (at < rtf.size() && std::isdigit((unsigned char)rtf[at]))
                at++;
            number = std::strtol(rtf.substr(numStart, at - numStart).c_str(), nullptr, 10);
            hasNumber = true;
        }
        if (at < rtf.size() && rtf[at] == ' ') at++;
        if (!textWord(name, hasNumber, number) && !tableWord(name, hasNumber, number))
            formatWord(name, hasNumber, number);
    }

    // Words that stand for text.
    bool textWord(const std::string& name, bool hasNumber, long number)
    {
        if (name == "par" || name == "line")
            append("\r\n");
        else if (name == "tab")
            append("\t");
        else if (name == "uc" && hasNumber)
            stack.back().unicodeSkip = (int)number;
        else if (name == "u" && hasNumber) {
            pendingSkip = 0; // a \u is a character of its own, never a stand-in
            character((unsigned long)(number < 0 ? number + 65536 : number));
            pendingSkip = stack.back().unicodeSkip;
        } else if (name == "emdash")
            append("\xE2\x80\x94");
        else if (name == "endash")
            append("\xE2\x80\x93");
        else if (name == "bullet")
            append("\xE2\x80\xA2");
        else
            return false;
        return true;
    }

    // Words of the font and colour tables, and destinations to skip.
    bool tableWord(const std::string& name, bool hasNumber, long number)
    {
        Group& g = stack.back();
        if (name == "fonttbl") {
            g.destination = Destination::FontTable;
        } else if (name == "colortbl") {
            g.destination = Destination::ColorTable;
        } else if ((name == "red" || name == "green" || name == "blue") && hasNumber) {
            (name == "red" ? red : name == "green" ? green : blue) = (int)std::clamp(number, 0L, 255L);
            colorGiven = true;
        } else if (name == "f" && hasNumber && g.destination == Destination::FontTable) {
            fontNumber = number;
            fontName.clear();
        } else if (skippedDestination(name)) {
            g.skip = true;
        } else {
            return false;
        }
        return true;
    }

    // Words that change the character format of the group.
    void formatWord(const std::string& name, bool hasNumber, long number)
    {
        CharFormat& f = stack.back().format;
        bool on = !hasNumber || number != 0;
        if (name == "f" && hasNumber) {
            for (const auto& entry : fonts) {
                if (entry.first == number) f.face = entry.second;
            }
        } else if (name == "b") {
            f.bold = on;
        } else if (name == "i") {
            f.italic = on;
        } else if (name == "ul") {
            f.underline = on;
        } else if (name == "ulnone") {
            f.underline = false;
        } else if (name == "strike") {
            f.strike = on;
        } else if (name == "fs" && hasNumber) {
            f.twips = (int)number * 10; // half points
        } else if (name == "cf" && hasNumber) {
            f.color = number > 0 && (size_t)number < colors.size() ? colors[(size_t)number] : CLR_NONE;
        } else if (name == "plain") {
            f = CharFormat {};
        }
    }

    // A document ends with a paragraph mark that is not part of the text.
    void dropFinalParagraph()
    {
        std::string& out = result.text;
        if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) return;
        out.resize(out.size() - 2);
        auto& spans = result.spans;
        while (!spans.empty() && spans.back().start >= out.size())
            spans.pop_back();
        if (!spans.empty()) spans.back().length = std::min(spans.back().length, out.size() - spans.back().start);
    }

    const std::string& rtf;
    size_t at = 0;
    RichText result;
    std::vector<Group> stack {Group {}};
    int pendingSkip = 0;
    // The tables: font number -> face; colours in order (0 is "auto").
    std::vector<std::pair<long, std::string>> fonts;
    long fontNumber = -1;
    std::string fontName;
    std::vector<COLORREF> colors;
    int red = 0;
    int green = 0;
    int blue = 0;
    bool colorGiven = false;
};

} // namespace

RichText rtfToRichText(const std::string& rtf)
{
    return Reader(rtf).read();
}

std::string rtfToText(const std::string& rtf)
{
    return rtfToRichText(rtf).text;
}

} // namespace wplat::controls
