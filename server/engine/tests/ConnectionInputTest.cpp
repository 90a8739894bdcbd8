// The protocol rules the event loops apply to a connection's input: header
// blocks in pieces, chunked bodies; and a connection's body
// and output queue over a real socket pair (memory, temporary file and file
// ranges in order, a shrunk file, a gone client, a worker's stream).
#include "ChunkedDecoder.h"
#include "ClientConnection.h"
#include "HTTPRequest.h"
#include "HeaderBlockCollector.h"
#include "OutputQueue.h"
#include "RequestBody.h"
#include "ServerTestSupport.h"
#include "WException.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// ---- header blocks

struct BlockCase {
    const char* name;
    std::string input;
    std::string block; // the collected block
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
        {"nul kept for the parser", std::string("GET / HTTP/1.1\r\nX: ab\0cd\r\nY: e\r\n\r\n", 34),
            std::string("GET / HTTP/1.1\nX: ab\0cd\nY: e\n", 29), 3, true, 34},
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
            EXPECT_EQ(c.block, std::string(raw.getBuf(), raw.length())) << c.name << " split " << split;
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

// ---- a connection's body and output queue over a socket pair

class OutputQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2]; // the server end non-blocking, as the server accepts them
        ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds));
        server = fds[0];
        client = fds[1];
        ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) & ~O_NONBLOCK);
    }
    void TearDown() override
    {
        ::close(server);
        ::close(client);
    }
    std::string drain(OutputQueue& queue) { return servertest::drainQueue(queue, server, client); }
    int tempFile(const std::string& data)
    {
        char path[] = "/tmp/zorvane-queue-XXXXXX";
        int fd = ::mkstemp(path);
        ::unlink(path);
        EXPECT_EQ((ssize_t)data.size(), ::write(fd, data.data(), data.size()));
        return fd;
    }

    int server = -1;
    int client = -1;
};

TEST_F(OutputQueueTest, MemorySpilledOutputAndFileRangesLeaveInOrder)
{
    OutputQueue queue;
    std::string big(3 * OutputQueue::MEMORY_LIMIT, 'm'); // beyond memory: to the temporary file
    std::string file(100000, 'f');
    int fd = tempFile(file);
    EXPECT_TRUE(queue.append("HEAD\n", 5, "body", 4)); // the loop must look
    EXPECT_FALSE(queue.append(big.data(), big.size())); // it is going to already
    EXPECT_FALSE(queue.appendFile(fd, 10, 500, "/f")); // the queue takes fd over
    EXPECT_FALSE(queue.append("tail", 4));
    EXPECT_TRUE("HEAD\nbody" + big + file.substr(10, 500) + "tail" == drain(queue));
    EXPECT_FALSE(queue.isFinished());
    EXPECT_TRUE(queue.append("x", 1)); // empty again: the loop must be told
    EXPECT_FALSE(queue.finish());
    EXPECT_TRUE(queue.isFinished());
    EXPECT_EQ("x", drain(queue));
}

// A script that writes faster than its client reads keeps the queue from ever
// running empty: the temporary file must not keep what was already sent.
TEST_F(OutputQueueTest, SentOutputLeavesTheTemporaryFile)
{
    char folder[] = "/tmp/zorvane-spill-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(folder));
    const char* before = ::getenv("TMPDIR");
    std::string saved = before != nullptr ? before : "";
    ::setenv("TMPDIR", folder, 1);
    const size_t MiB = 1 << 20;
    const int chunks = 40;
    OutputQueue queue;
    std::string got;
    char buffer[65536];
    for (int i = 0; i < chunks; ++i) {
        std::string chunk(MiB, (char)('a' + i % 26));
        queue.append(chunk.data(), chunk.size());
        // Everything but the newest chunk goes out.
        while (got.size() < (size_t)i * MiB) {
            uint64_t sent = 0;
            queue.flush(server, (uint64_t)i * MiB - got.size(), sent);
            ssize_t n;
            while ((n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
                got.append(buffer, (size_t)n);
        }
    }
    // The spill file is the queue's only descriptor in the folder.
    long long held = -1;
    for (int fd = 0; fd < 1024; ++fd) {
        char link[64];
        char target[512];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = ::readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        struct stat st;
        if (std::string(target).rfind(folder, 0) == 0 && ::fstat(fd, &st) == 0) held = (long long)st.st_blocks * 512;
    }
    if (saved.empty()) {
        ::unsetenv("TMPDIR");
    } else {
        ::setenv("TMPDIR", saved.c_str(), 1);
    }
    ASSERT_GE(held, 0);
    EXPECT_LT(held, 16LL * (long long)MiB) << "of " << chunks << " MiB passed through";
    got += drain(queue);
    ASSERT_EQ((size_t)chunks * MiB, got.size());
    for (int i = 0; i < chunks; ++i)
        EXPECT_EQ((char)('a' + i % 26), got[(size_t)i * MiB + MiB / 2]) << i;
    queue.reset();
    ::rmdir(folder);
}

TEST_F(OutputQueueTest, AShrunkFileOrAGoneClientEndsTheAnswer)
{
    OutputQueue queue;
    int fd = tempFile("short");
    queue.appendFile(fd, 0, 1000, "/docs/short.txt");
    uint64_t sent = 0;
    EXPECT_EQ(OutputQueue::Flush::Truncated, queue.flush(server, 1 << 20, sent));
    EXPECT_EQ("/docs/short.txt", queue.brokenFile());

    queue.reset();
    queue.append("a", 1);
    queue.kill();
    EXPECT_EQ(OutputQueue::Flush::Failed, queue.flush(server, 1 << 20, sent));
    try {
        queue.append("b", 1);
        FAIL() << "a write after the client went";
    } catch (WSocketException& e) {
        EXPECT_EQ(-3, e.getId());
    }
}

TEST_F(OutputQueueTest, AWorkersStreamReadsTheBodyAndTellsTheLoopOnce)
{
    struct Listener final : OutputListener {
        virtual ~Listener() = default;
        void outputReady() override { ++told; }
        int told = 0;
    } listener;
    RequestBody body;
    std::string text = "first line\r\nsecond\n" + std::string(RequestBody::MEMORY_LIMIT, 'b');
    ASSERT_TRUE(body.append(text.data(), 100));
    ASSERT_TRUE(body.append(text.data() + 100, text.size() - 100)); // now in a file
    OutputQueue queue;
    ClientConnection c;
    c.attach(queue, &body, ClientConnection::Server::Worker, &listener);
    WString line;
    EXPECT_TRUE(c.readln(line));
    EXPECT_STREQ("first line", line.getBuf());
    EXPECT_TRUE(c.readln(line));
    EXPECT_STREQ("second", line.getBuf());
    std::string rest(text.size(), '\0');
    size_t got = 0;
    while (int n = c.read(rest.data() + got, 7000, false))
        got += (size_t)n;
    EXPECT_TRUE(text.substr(19) == rest.substr(0, got)) << got;
    EXPECT_EQ(0u, c.pendingBytes());
    c.write("one");
    c.write("two");
    EXPECT_EQ(1, listener.told);
    EXPECT_EQ("onetwo", drain(queue));
    c.write("three");
    EXPECT_EQ(2, listener.told);
}

} // namespace
