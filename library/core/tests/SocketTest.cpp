#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <csignal>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>

#include "RunBody.h"
#include "WException.h"
#include "WIPAddress.h"
#include "WServerSocket.h"
#include "WSocket.h"
#include "WSocketUtils.h"

namespace {

// A connection over loopback: `near` is the connecting side, `far` the
// accepted one.
struct Pair {
    WServerSocket listener {WIPAddress("127.0.0.1", 0), 5};
    WSocket near;
    WSocket far;

    Pair()
    {
        listener.create();
        near.init(WIPAddress("127.0.0.1", listener.getPort()));
        near.connect();
        EXPECT_TRUE(listener.accept(far));
    }
};

// Reads everything up to the peer's end of data.
std::string drain(WSocket& s)
{
    std::string all;
    char buffer[65536];
    for (;;) {
        try {
            int n = s.read(buffer, sizeof buffer, false);
            all.append(buffer, (size_t)n);
        } catch (WSocketException& e) {
            EXPECT_EQ(e.getId(), -6);
            return all;
        }
    }
}

// Line reading through the stream interface, one byte per read.
bool genericReadln(WSocket& s, WString& line)
{
    return WSocketUtils::readln(&s, line);
}

bool bufferedReadln(WSocket& s, WString& line)
{
    return s.readln(line);
}

} // namespace

class LineReading : public testing::TestWithParam<bool (*)(WSocket&, WString&)> { };

TEST_P(LineReading, LinesArriveWithoutTheirEndings)
{
    auto readln = GetParam();
    Pair p;
    std::string longLine(600, 'x');
    longLine[0] = 'A';
    longLine[599] = 'Z';
    std::string input = "GET / HTTP/1.1\r\n"
                        "a\rb\n"
                        "\n"
                        "\r\n"
        + longLine + "\r\n" + std::string("ab\0cd\n", 6) + "last";
    p.near.write(input.data(), input.size());
    p.near.close();

    struct {
        const char* text;
        unsigned long length;
    } expected[] = {
        {"GET / HTTP/1.1", 14},
        {"ab", 2},
        {"", 0},
        {"", 0},
        {longLine.c_str(), 600},
        {"ab", 2},
    };
    WString line;
    for (auto& e : expected) {
        ASSERT_TRUE(readln(p.far, line));
        EXPECT_EQ(line.length(), e.length);
        EXPECT_STREQ(line, e.text);
    }
    // "last" has no line feed: the peer's close ends the reading.
    EXPECT_FALSE(readln(p.far, line));
    EXPECT_FALSE(readln(p.far, line));
}

TEST_P(LineReading, APeerClosingMidLineGivesFalse)
{
    auto readln = GetParam();
    Pair p;
    p.near.write("abc");
    p.near.close();
    WString line("old");
    EXPECT_FALSE(readln(p.far, line));
    EXPECT_EQ(line.length(), 0ul);
}

TEST_P(LineReading, AReceiveTimeOutIsReported)
{
    auto readln = GetParam();
    Pair p;
    ASSERT_TRUE(p.far.setRecvTimeout(200));
    p.near.write("partial");
    WString line;
    Stopwatch w;
    try {
        readln(p.far, line);
        FAIL() << "no time-out";
    } catch (WSocketException& e) {
        EXPECT_STREQ(e.getMessage(), "Read timeout");
        EXPECT_EQ(e.getId(), -5);
        EXPECT_EQ(e.getSysErrCode(), (unsigned long)EAGAIN);
    }
    EXPECT_GE(w.ms(), 190);
    EXPECT_LT(w.ms(), 2000);
    // The connection still works after a time-out.
    p.near.writeln(" rest");
    ASSERT_TRUE(readln(p.far, line));
}

// A line may be MAX_LINE_LENGTH characters (CRs not counted); one more and
// the reader gives up instead of growing the line without bound.
TEST_P(LineReading, LinesAreCapped)
{
    auto readln = GetParam();
    Pair p;
    std::string full(WSocket::MAX_LINE_LENGTH, 'y');
    full.insert(100, "\r\r");
    std::thread writer([&] {
        try {
            p.near.write(full.data(), full.size());
            p.near.write("\n");
            std::string endless(64 * 1024, 'z');
            for (int i = 0; i < 8; i++) // four times the cap, then the end
                p.near.write(endless.data(), endless.size());
        } catch (WSocketException&) {
            // the reader may have let go already
        }
        p.near.close();
    });
    WString line;
    ASSERT_TRUE(readln(p.far, line));
    EXPECT_EQ(line.length(), WSocket::MAX_LINE_LENGTH);
    try {
        readln(p.far, line);
        ADD_FAILURE() << "a line of " << line.length() << " characters";
    } catch (WSocketException& e) {
        EXPECT_STREQ(e.getMessage(), "Line too long.");
        EXPECT_EQ(e.getId(), -4);
        EXPECT_EQ(e.getSysErrCode(), (unsigned long)EMSGSIZE);
    }
    EXPECT_LE(line.length(), WSocket::MAX_LINE_LENGTH);
    p.far.close();
    writer.join();
}

INSTANTIATE_TEST_SUITE_P(BothReaders, LineReading, testing::Values(&bufferedReadln, &genericReadln));

TEST(SocketTest, BytesAfterTheLinesStayForRead)
{
    Pair p;
    std::string body(10000, '\0');
    for (size_t i = 0; i < body.size(); i++)
        body[i] = (char)(i * 7);
    std::string request = "POST /x HTTP/1.1\r\nContent-Length: 10000\r\n\r\n" + body;
    p.near.write(request.data(), request.size());
    p.near.close();

    WString line;
    ASSERT_TRUE(p.far.readln(line));
    EXPECT_STREQ(line, "POST /x HTTP/1.1");
    ASSERT_TRUE(p.far.readln(line));
    ASSERT_TRUE(p.far.readln(line));
    EXPECT_EQ(line.length(), 0ul);
    // A peek sees the first body bytes without taking them.
    char peeked[4];
    ASSERT_EQ(p.far.read(peeked, 4, true), 4);
    EXPECT_EQ(std::string(peeked, 4), body.substr(0, 4));
    EXPECT_EQ(drain(p.far), body);
}

TEST(SocketTest, InterruptedCallsAreRetried)
{
    // A signal handler installed without restart makes blocking calls fail
    // with EINTR, as a script runtime's timer signal does.
    struct sigaction handler {
    }, previous {};
    handler.sa_handler = [](int) {};
    sigemptyset(&handler.sa_mask);
    sigaction(SIGUSR1, &handler, &previous);

    Pair p;
    WString line;
    std::atomic<bool> done {false};
    std::thread reader([&] {
        EXPECT_TRUE(p.far.readln(line));
        done = true;
    });
    for (int i = 0; i < 5; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pthread_kill(reader.native_handle(), SIGUSR1);
    }
    EXPECT_FALSE(done.load());
    p.near.writeln("after the signals");
    reader.join();
    EXPECT_STREQ(line, "after the signals");
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST(SocketTest, WritelnEndsWithABareLineFeed)
{
    Pair p;
    p.near.writeln("one");
    p.near.writeln(WString("two"));
    p.near.write(WString("three"));
    p.near.close();
    EXPECT_EQ(drain(p.far), "one\ntwo\nthree");
}

TEST(SocketTest, PeerCloseAndNothingReady)
{
    Pair p;
    char buffer[16];
    EXPECT_EQ(p.far.read(buffer, 0, false), 0);
    ASSERT_TRUE(p.far.setNonBlocking(true));
    EXPECT_EQ(p.far.read(buffer, sizeof buffer, false), 0);
    EXPECT_EQ(p.far.getEOFBytes(), 0ul);
    p.near.write("hi");
    ASSERT_TRUE(p.far.setNonBlocking(false));
    EXPECT_EQ(p.far.read(buffer, sizeof buffer, false), 2);
    EXPECT_EQ(p.far.getEOFBytes(), 2ul);
    p.near.close();
    try {
        p.far.read(buffer, sizeof buffer, false);
        FAIL() << "no exception";
    } catch (WSocketException& e) {
        EXPECT_STREQ(e.getMessage(), "Connection was closed.");
        EXPECT_EQ(e.getId(), -6);
        EXPECT_EQ(e.getSysErrCode(), 0ul);
    }
}

TEST(SocketTest, NonBlockingLineReadingWaitsForTheLine)
{
    Pair p;
    ASSERT_TRUE(p.far.setNonBlocking(true));
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        p.near.write("slow ");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        p.near.writeln("line");
    });
    WString line;
    EXPECT_TRUE(p.far.readln(line));
    EXPECT_STREQ(line, "slow line");
    writer.join();
}

TEST(SocketTest, LargeBlocksArriveWholeAtASlowReader)
{
    Pair p;
    p.near.setSendBufSize(16384);
    p.far.setRecvBufSize(16384);
    const size_t SIZE = 6 * 1024 * 1024;
    std::vector<char> block(SIZE);
    for (size_t i = 0; i < SIZE; i++)
        block[i] = (char)(i * 31 + (i >> 13));

    std::string received;
    RunBody reader([&] {
        char buffer[32768];
        int rounds = 0;
        for (;;) {
            try {
                int n = p.far.read(buffer, sizeof buffer, false);
                received.append(buffer, (size_t)n);
            } catch (WSocketException&) {
                return;
            }
            if (++rounds % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2)); // a slow reader
        }
    });
    ASSERT_TRUE(reader.start());
    p.near.write(block.data(), block.size());
    p.near.close();
    ASSERT_TRUE(reader.t().join(20000));
    ASSERT_EQ(received.size(), SIZE);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), received.begin()));
}

TEST(SocketTest, SendTimeOutEndsAWriteToAPeerThatDoesNotRead)
{
    Pair p;
    p.near.setSendBufSize(4096);
    p.far.setRecvBufSize(4096);
    ASSERT_TRUE(p.near.setSendTimeout(200));
    std::vector<char> block(8 * 1024 * 1024, 'x');
    Stopwatch w;
    try {
        p.near.write(block.data(), block.size());
        FAIL() << "the write did not time out";
    } catch (WSocketException& e) {
        EXPECT_STREQ(e.getMessage(), "Cannot write into socket.");
        EXPECT_EQ(e.getId(), -3);
        EXPECT_EQ(e.getSysErrCode(), (unsigned long)EAGAIN);
    }
    EXPECT_LT(w.ms(), 3000);
}

TEST(SocketTest, WritingToAClosedPeerFailsWithoutEndingTheProcess)
{
    Pair p;
    p.far.close();
    std::vector<char> block(65536, 'y');
    try {
        for (int i = 0; i < 1000; i++)
            p.near.write(block.data(), block.size());
        FAIL() << "writes kept succeeding";
    } catch (WSocketException& e) {
        EXPECT_EQ(e.getId(), -3);
        EXPECT_TRUE(e.getSysErrCode() == EPIPE || e.getSysErrCode() == ECONNRESET) << e.getSysErrCode();
    }
    WSocket none;
    EXPECT_THROW(none.write("x"), WSocketException);
}

TEST(SocketTest, CopiesShareOneDescriptor)
{
    Pair p;
    {
        WSocket copy(p.far);
        EXPECT_EQ(copy.getHandle(), p.far.getHandle());
    } // the copy gives up its share; the connection goes on
    p.far.writeln("still open");
    WString line;
    ASSERT_TRUE(p.near.readln(line));
    EXPECT_STREQ(line, "still open");

    // close() ends the connection for every copy, but the descriptor stays
    // valid (and its number taken) while another copy holds it.
    WSocket other(p.far);
    p.far.close();
    EXPECT_FALSE(p.far.isOpen());
    ASSERT_TRUE(other.isOpen());
    EXPECT_EQ(drain(p.near), "");
    EXPECT_NE(fcntl(other.getHandle(), F_GETFD), -1);
    p.near.writeln("to the other copy");
    ASSERT_TRUE(other.readln(line)); // only the sending side was shut
    EXPECT_STREQ(line, "to the other copy");
    EXPECT_THROW(other.writeln("x"), WSocketException);
}

TEST(SocketTest, HandingOverLeavesOneOwner)
{
    Pair p;
    WSocket worker;
    worker = p.far;
    worker = worker; // self-assignment keeps it
    p.far.release();
    EXPECT_FALSE(p.far.isOpen());
    int fd = worker.getHandle();
    worker.writeln("from worker");
    worker.close(); // the sole owner: the descriptor goes at once
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(drain(p.near), "from worker\n");

    // Without the release the receiver's close still ends the connection.
    Pair q;
    WSocket second(q.far);
    second.writeln("served");
    second.close();
    EXPECT_EQ(drain(q.near), "served\n");
    EXPECT_TRUE(q.far.isOpen());
}

TEST(SocketTest, TheLastShareClosesTheConnection)
{
    Pair p;
    {
        WSocket a(p.far), b;
        b.init(a);
        p.far.release();
        a.release();
        b.writeln("bye");
        WSocket later;
        later = b;
        b.release();
        EXPECT_TRUE(later.isOpen());
    } // the last share shuts the connection down and closes it
    EXPECT_EQ(drain(p.near), "bye\n");
}

TEST(SocketTest, ShutdownSendEndsTheDataButKeepsReceiving)
{
    Pair p;
    p.far.writeln("answer");
    ASSERT_TRUE(p.far.shutdownSend());
    EXPECT_EQ(drain(p.near), "answer\n");
    p.near.writeln("late");
    WString line;
    ASSERT_TRUE(p.far.readln(line));
    EXPECT_STREQ(line, "late");
}

TEST(SocketTest, DescriptorsAreCloseOnExec)
{
    Pair p;
    for (WSocket* s : {(WSocket*)&p.listener, &p.near, &p.far})
        EXPECT_TRUE(fcntl(s->getHandle(), F_GETFD) & FD_CLOEXEC);
    WSocket made;
    made.create(false);
    EXPECT_TRUE(fcntl(made.getHandle(), F_GETFD) & FD_CLOEXEC);
    made.create(true);
    int type = 0;
    socklen_t size = sizeof type;
    getsockopt(made.getHandle(), SOL_SOCKET, SO_TYPE, &type, &size);
    EXPECT_EQ(type, SOCK_DGRAM);
}

TEST(SocketTest, EndpointsAndOptions)
{
    Pair p;
    WIPAddress local, peer, untouched(1234ul, 99ul);
    p.far.getLocalName(local);
    p.far.getPeerName(peer);
    EXPECT_STREQ(local.getIpAddressStr(), "127.0.0.1");
    EXPECT_EQ(local.getPort(), p.listener.getPort());
    WIPAddress nearLocal;
    p.near.getLocalName(nearLocal);
    EXPECT_EQ(peer.getPort(), nearLocal.getPort());
    EXPECT_EQ(p.far.getPort(), peer.getPort()); // accept stores the peer's address

    WSocket none;
    none.getPeerName(untouched); // a failing query leaves the value alone
    EXPECT_EQ(untouched.getPort(), 99ul);
    EXPECT_FALSE(none.setRecvTimeout(10));
    EXPECT_FALSE(none.setReuseAddress(true));
    EXPECT_TRUE(p.far.setRecvBufSize(65535));
    EXPECT_TRUE(p.far.setSendBufSize(65535));
    EXPECT_TRUE(p.far.setRecvTimeout(30000));
    EXPECT_TRUE(p.far.setReuseAddress(true));
}

TEST(SocketTest, ConnectFailureNamesTheAddress)
{
    WServerSocket probe(WIPAddress("127.0.0.1", 0), 1);
    probe.create();
    unsigned long port = probe.getPort();
    probe.close(); // nobody listens there now
    WSocket s(WIPAddress("127.0.0.1", port));
    try {
        s.connect();
        FAIL() << "connected";
    } catch (WSocketException& e) {
        EXPECT_STREQ(e.getMessage(), WFormattedString("Cannot connect to 127.0.0.1:%u", (unsigned)port));
        EXPECT_EQ(e.getId(), -2);
        EXPECT_EQ(e.getSysErrCode(), (unsigned long)ECONNREFUSED);
    }
}
