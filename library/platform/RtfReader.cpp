#include "RtfReader.h"

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
    static const char* const names[] = {"fonttbl", "colortbl", "stylesheet", "info",   "pict",   "header",
                                         "footer",  "object",   "listtable",  "themedata", "latentstyles",
                                         "generator", "xmlnstbl", "rsidtbl",  "filetbl", "revtbl"};
    for (const char* n : names) {
        if (word == n)
            return true;
    }
    return false;
}

struct Group {
    bool skip = false;
    int unicodeSkip = 1;
};

} // namespace

std::string rtfToText(const std::string& rtf)
{
    std::string out;
    std::vector<Group> stack{Group{}};
    int pendingSkip = 0;  // characters to drop after a \u
    size_t i = 0;
    auto emit = [&](const std::string& s) {
        if (!stack.back().skip)
            out += s;
    };
    while (i < rtf.size()) {
        char c = rtf[i];
        if (c == '{') {
            stack.push_back(stack.back());
            i++;
            continue;
        }
        if (c == '}') {
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
            if (pendingSkip > 0)
                pendingSkip--;
            else if (!stack.back().skip)
                appendUtf8(out, cp1252((unsigned char)c));
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
                else if (!stack.back().skip)
                    appendUtf8(out, cp1252((unsigned char)byte));
            } else if (d == '*') {
                stack.back().skip = true;
            } else if (d == '\\' || d == '{' || d == '}') {
                if (pendingSkip > 0)
                    pendingSkip--;
                else
                    emit(std::string(1, d));
            } else if (d == '~') {
                emit("\xC2\xA0");
            } else if (d == '\r' || d == '\n') {
                emit("\r\n");
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
        if (word == "par" || word == "line")
            emit("\r\n");
        else if (word == "tab")
            emit("\t");
        else if (word == "uc" && hasNumber)
            stack.back().unicodeSkip = (int)number;
        else if (word == "u" && hasNumber) {
            if (!stack.back().skip)
                appendUtf8(out, (unsigned long)(number < 0 ? number + 65536 : number));
            pendingSkip = stack.back().unicodeSkip;
        } else if (word == "emdash")
            emit("\xE2\x80\x94");
        else if (word == "endash")
            emit("\xE2\x80\x93");
        else if (word == "bullet")
            emit("\xE2\x80\xA2");
        else if (skippedDestination(word))
            stack.back().skip = true;
    }
    // A document ends with a paragraph mark that is not part of the text.
    if (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0)
        out.resize(out.size() - 2);
    return out;
}

} // namespace wplat::controls
