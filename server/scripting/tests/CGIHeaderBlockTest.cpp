// The rules for a CGI program's header lines and its error output, fed whole
// and byte by byte.

#include "internal/CGIErrorLines.h"
#include "internal/CGIHeaderBlock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using State = CGIHeaderBlock::State;

struct HeaderCase {
    const char* name;
    std::string output;
    State state;
    unsigned status;
    std::string reason;
    std::string headerLines;
    std::string body;
};

const HeaderCase HEADER_CASES[] = {
    {"crlf", "Content-Type: text/plain\r\n\r\nhi", State::Complete, 200, "", "Content-Type: text/plain\r\n\r\n", "hi"},
    {"lf", "Content-Type: text/plain\n\nhi\n", State::Complete, 200, "", "Content-Type: text/plain\r\n\r\n", "hi\n"},
    {"mixed ends", "A: 1\nB: 2\r\n\n", State::Complete, 200, "", "A: 1\r\nB: 2\r\n\r\n", ""},
    {"status", "Status: 404 Not Found\r\nX: y\r\n\r\n", State::Complete, 404, "Not Found", "X: y\r\n\r\n", ""},
    {"status any case, blanks", "sTaTuS:\t 503   \r\n\r\n", State::Complete, 503, "", "\r\n", ""},
    {"status without reason", "Status: 204\n\n", State::Complete, 204, "", "\r\n", ""},
    {"location", "Location: /x\r\n\r\n", State::Complete, 302, "", "Location: /x\r\n\r\n", ""},
    {"location with status", "Location: /x\r\nStatus: 303 See Other\r\n\r\n", State::Complete, 303, "See Other",
        "Location: /x\r\n\r\n", ""},
    {"empty location", "Location:\r\n\r\n", State::Complete, 200, "", "Location:\r\n\r\n", ""},
    {"empty value", "X-Empty:\r\n\r\n", State::Complete, 200, "", "X-Empty:\r\n\r\n", ""},
    {"no header lines", "\r\nbody", State::Complete, 200, "", "\r\n", "body"},
    {"body looks like headers", "A: 1\n\nStatus: 500\n\n", State::Complete, 200, "", "A: 1\r\n\r\n",
        "Status: 500\n\n"},
    {"obs-text value", "X: caf\xc3\xa9\r\n\r\n", State::Complete, 200, "", "X: caf\xc3\xa9\r\n\r\n", ""},
    {"tab in value", "X: a\tb\r\n\r\n", State::Complete, 200, "", "X: a\tb\r\n\r\n", ""},
    {"incomplete", "Content-Type: text/plain\r\n", State::Incomplete, 200, "", "", ""},
    {"no colon", "Content-Type text/plain\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"empty name", ": x\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"blank before colon", "Content-Type : x\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"folded", "A: 1\r\n\tmore\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"bare CR", "A: 1\rB: 2\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"NUL in value", std::string("A: 1\0 2\r\n\r\n", 11), State::Malformed, 0, "", "", ""},
    {"escape in value", "A: \x1b[2J\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"status line", "HTTP/1.1 200 OK\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"status not a number", "Status: OK\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"status too short", "Status: 20\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"status four digits", "Status: 2000\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"status interim", "Status: 101 Switching Protocols\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"status 600", "Status: 600 Nope\r\n\r\n", State::Malformed, 0, "", "", ""},
    {"status twice", "Status: 200 OK\r\nStatus: 500 No\r\n\r\n", State::Malformed, 0, "", "", ""},
};

void expectCase(const HeaderCase& c, CGIHeaderBlock& block, State state)
{
    EXPECT_EQ(c.state, state);
    if (c.state != State::Complete) return;
    EXPECT_EQ(c.status, block.getStatusCode());
    EXPECT_EQ(c.reason, block.getReason());
    EXPECT_EQ(c.headerLines, block.getHeaderLines());
    EXPECT_EQ(c.body, block.takeBody());
}

} // namespace

TEST(CGIHeaderBlock, Rules)
{
    for (const HeaderCase& c : HEADER_CASES) {
        SCOPED_TRACE(c.name);
        CGIHeaderBlock whole;
        expectCase(c, whole, whole.feed(c.output.data(), c.output.size()));

        CGIHeaderBlock bytewise;
        State state = State::Incomplete;
        for (char ch : c.output)
            state = bytewise.feed(&ch, 1);
        expectCase(c, bytewise, state);
    }
}

TEST(CGIHeaderBlock, EndOfOutput)
{
    CGIHeaderBlock nothing;
    EXPECT_EQ(State::Malformed, nothing.finish());
    EXPECT_FALSE(nothing.hasOutput());

    CGIHeaderBlock partial;
    partial.feed("A: 1\r\n", 6);
    EXPECT_EQ(State::Malformed, partial.finish());
    EXPECT_TRUE(partial.hasOutput());
    EXPECT_STREQ("The CGI program's output ended within its header lines.", partial.getProblem());

    CGIHeaderBlock complete;
    complete.feed("A: 1\n\n", 6);
    EXPECT_EQ(State::Complete, complete.finish());
    complete.feed("more", 4);
    EXPECT_EQ("more", complete.takeBody());
    EXPECT_EQ("", complete.takeBody());
}

TEST(CGIHeaderBlock, SizeLimit)
{
    std::string line = "X-A: " + std::string(1000, 'a') + "\r\n";
    CGIHeaderBlock many;
    State state = State::Incomplete;
    size_t fed = 0;
    while (state == State::Incomplete && fed <= CGIHeaderBlock::MAX_BYTES + line.size()) {
        state = many.feed(line.data(), line.size());
        fed += line.size();
    }
    EXPECT_EQ(State::Malformed, state);
    EXPECT_LE(fed, CGIHeaderBlock::MAX_BYTES + line.size());
    EXPECT_STREQ("The CGI program's header lines are too large.", many.getProblem());

    // One endless line is refused just as soon.
    CGIHeaderBlock endless;
    std::string piece(4096, 'a');
    state = State::Incomplete;
    for (fed = 0; state == State::Incomplete && fed <= 2 * CGIHeaderBlock::MAX_BYTES; fed += piece.size())
        state = endless.feed(piece.data(), piece.size());
    EXPECT_EQ(State::Malformed, state);
    EXPECT_LE(fed, CGIHeaderBlock::MAX_BYTES + piece.size());
}

TEST(CGIErrorLines, LinesEscapedCutAndCapped)
{
    struct {
        const char* name;
        std::string input;
        std::vector<std::string> lines;
    } cases[] = {
        {"lines", "one\ntwo\r\nthree", {"one", "two", "three"}},
        {"blank lines dropped", "\n\r\n\nx\n", {"x"}},
        {"control bytes", "a\x1b[31mb\tc\x7f\rd\n", {"a\\x1b[31mb\tc\\x7f\\x0dd"}},
        {"CR pairs", "a\r\r\nb\r", {"a\\x0d", "b"}},
        {"long line", std::string(CGIErrorLines::MAX_LINE + 5, 'x') + "\n",
            {std::string(CGIErrorLines::MAX_LINE, 'x'), "xxxxx"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool bytewise : {false, true}) {
            std::vector<std::string> got;
            CGIErrorLines lines([&](const std::string& l) { got.push_back(l); });
            if (bytewise) {
                for (char ch : c.input)
                    lines.feed(&ch, 1);
            } else {
                lines.feed(c.input.data(), c.input.size());
            }
            lines.finish();
            EXPECT_EQ(c.lines, got);
        }
    }

    std::vector<std::string> got;
    CGIErrorLines flood([&](const std::string& l) { got.push_back(l); });
    std::string block(1000, 'e');
    block.back() = '\n';
    for (int i = 0; i < 100; i++)
        flood.feed(block.data(), block.size());
    flood.finish();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ("(34464 more bytes of error output dropped)", got.back());
    EXPECT_EQ(67u, got.size()); // 65 whole lines, the cut one, the note
}
