// The protocol rules the server thread and the workers apply to a
// connection's input: header blocks in pieces, body framing, chunked bodies;
// and the worker's connection over a real socket pair (read-ahead first,
// body deadline, 100 Continue, the send window).
#include "BodyFraming.h"
#include "ChunkedDecoder.h"
#include "ClientConnection.h"
#include "HTTPRequest.h"
#include "HeaderBlockCollector.h"
#include "WException.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

// ---- header blocks

struct BlockCase {
    const char* name;
    std::string input;
    const char* block; // the collected block
    unsigned long lines;
    bool finished;
    unsigned long taken; // bytes of input that belong to the block
};

TEST(HeaderBlockCollectorTest, BlocksInAnyPieces)
{
    const BlockCase cases[] = {
        {"crlf", "GET / HTTP/1.1\r\nHost: a\r\n\r\nBODY", "GET / HTTP/1.1\nHost: a\n", 2, true, 27},
        {"bare lf", "GET / HTTP/1.1\nHost: a\n\nBODY", "GET / HTTP/1.1\nHost: a\n", 2, true, 24},
        {"bare cr kept", "GET /a\rb HTTP/1.1\r\n\r\n", "GET /a\rb HTTP/1.1\n", 1, true, 21},
        {"nul ends the line text", std::string("GET / HTTP/1.1\r\nX: ab\0cd\r\nY: e\r\n\r\n", 34),
            "GET / HTTP/1.1\nX: ab\nY: e\n", 3, true, 34},
        // A request line without a version ends the block: nothing more is waited for.
        {"simple request", "GET /\r\nHost: a\r\n\r\n", "GET /\n", 1, true, 7},
        {"simple request, blanks", "GET /index.html \t \nrest", "GET /index.html \t \n", 1, true, 19},
        {"method only", "GET\r\n", "GET\n", 1, true, 5},
        {"leading empty line", "\r\nGET / HTTP/1.1\r\n\r\n", "", 0, true, 2},
        {"unfinished", "GET / HTTP/1.1\r\nHost", "GET / HTTP/1.1\nHost", 1, false, 20},
    };
    for (const BlockCase& c : cases) {
        // Whole, then split at every position (a CR LF split in two included).
        for (size_t split = 0; split <= c.input.size(); ++split) {
            WString raw;
            HeaderBlockCollector collector(raw);
            unsigned long taken = 0;
            unsigned long first = 0;
            ASSERT_TRUE(collector.feed(c.input.data(), (unsigned long)split, first)) << c.name;
            taken = first;
            if (!collector.isFinished()) {
                unsigned long second = 0;
                ASSERT_TRUE(collector.feed(c.input.data() + split, (unsigned long)(c.input.size() - split), second))
                    << c.name;
                taken += second;
            }
            EXPECT_STREQ(c.block, raw.getBuf()) << c.name << " split " << split;
            EXPECT_EQ(c.lines, collector.lineCount()) << c.name << " split " << split;
            EXPECT_EQ(c.finished, collector.isFinished()) << c.name << " split " << split;
            if (c.finished) {
                EXPECT_EQ(c.taken, taken) << c.name << " split " << split;
            }
        }
    }
}

TEST(HeaderBlockCollectorTest, LimitsAndReuse)
{
    WString raw;
    HeaderBlockCollector collector(raw);
    std::string longLine(HTTPRequest::MAX_LINE_LENGTH + 1, 'x');
    unsigned long taken = 0;
    EXPECT_FALSE(collector.feed(longLine.data(), (unsigned long)longLine.size(), taken));

    std::string many = "GET / HTTP/1.1\r\n";
    for (unsigned long i = 0; i < HTTPRequest::MAX_HEADER_LINES; ++i) {
        many += "X: y\r\n";
    }
    collector.reset(raw);
    EXPECT_FALSE(collector.feed(many.data(), (unsigned long)many.size(), taken));

    // A reset collector starts a new block.
    collector.reset(raw);
    ASSERT_TRUE(collector.feed("GET /x HTTP/1.1\r\n\r\n", 19, taken));
    EXPECT_TRUE(collector.isFinished());
    EXPECT_STREQ("GET /x HTTP/1.1\n", raw.getBuf());
    EXPECT_THROW(HeaderBlockCollector(raw).feed(longLine.data(), (unsigned long)longLine.size()), HTTPHeaderException);
}

// ---- body framing

TEST(BodyFramingTest, WhatTheHeadSaysAboutTheBody)
{
    struct Case {
        const char* block;
        int64_t length;
        bool chunked;
        bool expectContinue;
        bool unusual;
    };
    const Case cases[] = {
        {"GET / HTTP/1.1\nHost: a\n", 0, false, false, false},
        {"POST / HTTP/1.1\nContent-Length: 12\n", 12, false, false, false},
        {"POST / HTTP/1.1\ncontent-length :  7 \n", 7, false, false, false},
        {"POST / HTTP/1.1\nContent-Length: +5\n", 0, false, false, true},
        {"POST / HTTP/1.1\nContent-Length: 5, 5\n", 0, false, false, true},
        {"POST / HTTP/1.1\nContent-Length: 5\nContent-Length: 5\n", 5, false, false, true},
        {"POST / HTTP/1.1\nContent-Length: 99999999999999999999\n", 0, false, false, true},
        {"POST / HTTP/1.1\nTransfer-Encoding: chunked\n", 0, true, false, false},
        {"POST / HTTP/1.1\nExpect: 100-Continue\nContent-Length: 3\n", 3, false, true, false},
        {"POST / HTTP/1.1\nExpect: 100-continue-ish\n", 0, false, false, false},
        // The request line is no header, whatever it holds.
        {"POST /Content-Length:9 HTTP/1.1\n", 0, false, false, false},
        {"POST / HTTP/1.1\nX-Content-Length: 9\n", 0, false, false, false},
    };
    for (const Case& c : cases) {
        BodyFraming f = scanBodyFraming(c.block);
        EXPECT_EQ(c.length, f.contentLength) << c.block;
        EXPECT_EQ(c.chunked, f.chunked) << c.block;
        EXPECT_EQ(c.expectContinue, f.expectContinue) << c.block;
        EXPECT_EQ(c.unusual, f.unusual) << c.block;
    }
}

// ---- chunked bodies

TEST(ChunkedDecoderTest, BodiesInAnyPieces)
{
    struct Case {
        const char* name;
        std::string input;
        ChunkedDecoder::Status status;
        const char* body;
        size_t consumed; // for Done
    };
    const Case cases[] = {
        {"plain", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\nNEXT", ChunkedDecoder::Status::Done, "hello world", 26},
        {"bare lf", "5\nhello\n0\n\n", ChunkedDecoder::Status::Done, "hello", 11},
        {"extension and trailer", "A;name=v\r\n0123456789\r\n0\r\nT: x\r\n\r\n", ChunkedDecoder::Status::Done,
            "0123456789", 33},
        {"upper and lower hex", "a\r\n0123456789\r\nB\r\n0123456789A\r\n0\r\n\r\n", ChunkedDecoder::Status::Done,
            "01234567890123456789A", 36},
        {"unfinished", "5\r\nhel", ChunkedDecoder::Status::More, "hel", 0},
        {"no size", "\r\nhello\r\n", ChunkedDecoder::Status::Error, "", 0},
        {"bad hex", "5x\r\nhello\r\n", ChunkedDecoder::Status::Error, "", 0},
        {"data longer than its size", "3\r\nhello\r\n", ChunkedDecoder::Status::Error, "hel", 0},
        {"size beyond 64 bits", "1000000000000000\r\n", ChunkedDecoder::Status::Error, "", 0},
        {"negative", "-5\r\nhello\r\n", ChunkedDecoder::Status::Error, "", 0},
    };
    for (const Case& c : cases) {
        for (size_t piece : {c.input.size(), (size_t)1, (size_t)3}) {
            ChunkedDecoder decoder;
            std::string out;
            size_t used = 0;
            ChunkedDecoder::Status s = ChunkedDecoder::Status::More;
            for (size_t at = 0; at < c.input.size() && s == ChunkedDecoder::Status::More; at += piece) {
                size_t n = std::min(piece, c.input.size() - at);
                size_t consumed = 0;
                s = decoder.feed(c.input.data() + at, n, consumed, out);
                used += consumed;
            }
            EXPECT_EQ(c.status, s) << c.name << " piece " << piece;
            EXPECT_EQ(c.body, out) << c.name << " piece " << piece;
            if (c.status == ChunkedDecoder::Status::Done) {
                EXPECT_EQ(c.consumed, used) << c.name << " piece " << piece;
            }
        }
    }
}

// ---- the worker's connection over a socket pair

class ClientConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2]; // the server end non-blocking, as the server accepts them
        // (the client end is made blocking again below)
        ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds));
        server = fds[0];
        client = fds[1];
        ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) & ~O_NONBLOCK);
    }
    void TearDown() override
    {
        if (client >= 0) ::close(client);
    }
    std::string receive(size_t atMost)
    {
        std::string out(atMost, '\0');
        ssize_t n = ::recv(client, out.data(), atMost, MSG_DONTWAIT);
        out.resize(n > 0 ? (size_t)n : 0);
        return out;
    }

    int server = -1;
    int client = -1;
};

TEST_F(ClientConnectionTest, ReadAheadComesFirstThenTheSocket)
{
    ClientConnection c;
    c.attach(server, "abc", 3);
    ASSERT_EQ(3, ::send(client, "def", 3, 0));
    char buffer[8] = {};
    EXPECT_EQ(2, c.read(buffer, 2, true));
    EXPECT_EQ(2, c.read(buffer, 2, false));
    EXPECT_EQ(std::string("ab"), std::string(buffer, 2));
    EXPECT_EQ(1, c.read(buffer, 8, false));
    EXPECT_EQ('c', buffer[0]);
    EXPECT_EQ(3, c.read(buffer, 8, false));
    EXPECT_EQ(std::string("def"), std::string(buffer, 3));
    ::close(client);
    client = -1;
    try {
        c.read(buffer, 8, false);
        FAIL() << "no end";
    } catch (WSocketException& e) {
        EXPECT_EQ(-6, e.getId());
    }
}

TEST_F(ClientConnectionTest, ContinueIsSentBeforeTheFirstWaitOnly)
{
    ClientConnection c;
    c.attach(server, nullptr, 0);
    c.setExpectContinue(true);
    c.setReceiveTimeout(200);
    char buffer[8];
    EXPECT_THROW(c.read(buffer, 8, false), WSocketException);
    EXPECT_EQ("HTTP/1.1 100 Continue\r\n\r\n", receive(100));
    EXPECT_THROW(c.read(buffer, 8, false), WSocketException);
    EXPECT_EQ("", receive(100));
}

TEST_F(ClientConnectionTest, BodyDeadlineEndsATricklingBody)
{
    ClientConnection c;
    c.attach(server, "x", 1);
    c.setReceiveTimeout(1000);
    c.setBodyDeadline(ClientConnection::monotonicMs() + 300);
    std::thread trickle([this] {
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::send(client, "y", 1, MSG_NOSIGNAL);
        }
    });
    auto started = std::chrono::steady_clock::now();
    std::string body;
    char buffer[8];
    try {
        for (;;) {
            int n = c.read(buffer, sizeof buffer, false);
            body.append(buffer, (size_t)n);
        }
    } catch (WSocketException& e) {
        EXPECT_EQ(-5, e.getId());
    }
    auto took = std::chrono::steady_clock::now() - started;
    trickle.join();
    EXPECT_LT(took, std::chrono::milliseconds(450));
    EXPECT_EQ('x', body[0]);
    EXPECT_LT(body.size(), 10u);
}

TEST_F(ClientConnectionTest, TwoPartsInOneSendAndTheSendWindow)
{
    ClientConnection c;
    c.attach(server, nullptr, 0);
    c.write("HEAD\n", 5, "body", 4);
    EXPECT_EQ("HEAD\nbody", receive(100));

    // A peer that takes nothing: the send is cut after a window without progress.
    c.setSendWindow(200);
    std::string block(256 * 1024, 'z');
    auto started = std::chrono::steady_clock::now();
    try {
        for (int i = 0; i < 1000; ++i) {
            c.write(block.data(), block.size());
        }
        FAIL() << "never cut";
    } catch (WSocketException& e) {
        EXPECT_EQ(-3, e.getId());
    }
    EXPECT_TRUE(c.wasCut());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(ClientConnectionTest, FileToASlowPeerIsOfferedToTheHandoff)
{
    struct Taker final : FileSendHandoff {
        virtual ~Taker() = default;
        bool takeFileSend(ClientConnection& connection, int, uint64_t offset, uint64_t count, const char*) override
        {
            at = offset;
            left = count;
            fd = connection.detach();
            return true;
        }
        uint64_t at = 0;
        uint64_t left = 0;
        int fd = -1;
    } taker;
    char path[] = "/tmp/zorvane-conn-XXXXXX";
    int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    ::unlink(path);
    std::string data(8 * 1024 * 1024, 'f');
    ASSERT_EQ((ssize_t)data.size(), ::write(file, data.data(), data.size()));

    ClientConnection c;
    c.attach(server, nullptr, 0);
    c.setFileSendHandoff(&taker);
    bool handedOff = false;
    uint64_t sent = c.sendFile(file, 0, data.size(), "/x", handedOff);
    EXPECT_TRUE(handedOff);
    EXPECT_EQ(data.size(), sent + taker.left);
    EXPECT_EQ(sent, taker.at);
    EXPECT_EQ(-1, c.getHandle());
    EXPECT_EQ(server, taker.fd);
    ::close(taker.fd);
    ::close(file);
}

} // namespace
