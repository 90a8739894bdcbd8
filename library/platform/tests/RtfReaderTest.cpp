// The rich-text reader: the text of a document and the character formats
// its control words set, group by group.

#include <gtest/gtest.h>

#include "internal/RtfReader.h"

namespace {

TEST(RtfFormats, SpansFollowTheControlWordsAndGroups)
{
    wplat::controls::RichText doc = wplat::controls::rtfToRichText(
        "{\\rtf1{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Courier New;}}{\\colortbl;\\red255\\green0\\blue0;"
        "\\red0\\green0\\blue255;}plain \\b bold\\b0  {\\i it} \\ul u\\ulnone  \\cf1 red\\cf0  \\fs48 big\\fs24  "
        "\\f1 mono\\plain  end\\par}");
    EXPECT_EQ(doc.text, "plain bold it u red big mono end");
    struct Want {
        const char* text;
        bool bold, italic, underline;
        int twips;
        COLORREF color;
        const char* face;
    } wants[] = {{"bold", true, false, false, 0, CLR_NONE, ""}, {"it", false, true, false, 0, CLR_NONE, ""},
        {"u", false, false, true, 0, CLR_NONE, ""}, {"red", false, false, false, 0, RGB(255, 0, 0), ""},
        {"big", false, false, false, 480, CLR_NONE, ""}, {"mono", false, false, false, 240, CLR_NONE, "Courier New"}};
    for (const Want& w : wants) {
        size_t at = doc.text.find(w.text);
        const wplat::controls::FormatSpan* found = nullptr;
        for (const auto& span : doc.spans) {
            if (span.start <= at && at < span.start + span.length) found = &span;
        }
        ASSERT_NE(found, nullptr) << w.text;
        EXPECT_EQ(found->format.bold, w.bold) << w.text;
        EXPECT_EQ(found->format.italic, w.italic) << w.text;
        EXPECT_EQ(found->format.underline, w.underline) << w.text;
        EXPECT_EQ(found->format.twips, w.twips) << w.text;
        EXPECT_EQ(found->format.color, w.color) << w.text;
        EXPECT_EQ(found->format.face, w.face) << w.text;
    }
    // "plain" and "end" carry no format.
    for (const char* word : {"plain", "end"}) {
        size_t at = doc.text.find(word);
        for (const auto& span : doc.spans)
            EXPECT_FALSE(span.start <= at && at < span.start + span.length) << word;
    }
}

TEST(RtfFormats, PlainTextKeepsItsOldReading)
{
    struct Case {
        const char* rtf;
        const char* text;
    } cases[] = {
        {"{\\rtf1 a\\u8364?b}",
            "a\xE2\x82\xAC"
            "b"},
        {"{\\rtf1\\uc2 \\u8364??x}",
            "\xE2\x82\xAC"
            "x"},
        {"{\\rtf1 \\u8364\\u8364 ?x}",
            "\xE2\x82\xAC\xE2\x82\xAC"
            "x"},
        {"{\\rtf1 \\'e9\\~\\{\\}}", "\xC3\xA9\xC2\xA0{}"},
        {"{\\rtf1{\\*\\generator x;}{\\info{\\title t}}kept\\par}", "kept"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wplat::controls::rtfToText(c.rtf), c.text) << c.rtf;
    EXPECT_EQ(wplat::controls::rtfToText("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
                                         "\\f0 Hello \\b World\\b0\\par caf\\'e9 \\{x\\}\\tab end\\par}"),
        "Hello World\r\ncaf\xC3\xA9 {x}\tend");
}

} // namespace
