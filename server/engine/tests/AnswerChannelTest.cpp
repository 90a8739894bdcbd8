// The answer channel between a script and its connection's loop, under a
// writer and a sender that run side by side over a real TCP connection:
// random piece sizes, pauses and client windows, checked byte for byte.
#include "OutputQueue.h"
#include "WException.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace {

// The byte at position i of an answer: no two nearby blocks look alike, so
// a block out of place shows.
char byteAt(uint64_t i)
{
    uint64_t x = i / 7 * 0x9E3779B97F4A7C15ull;
    return (char)('A' + (x >> 58) % 26 + (i % 7 == 6 ? 6 : 0));
}

struct Connection {
    int server = -1; // the loop's end, non-blocking
    int client = -1;

    Connection()
    {
        int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int small = 16 * 1024; // a client that takes little at a time
        ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ::connect(client, reinterpret_cast<sockaddr*>(&address), size);
        server = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        ::close(listener);
    }
    ~Connection()
    {
        ::close(server);
        ::close(client);
    }
};

// The loop's side: told by the writer, it sends what is queued.
struct Loop final : OutputListener {
    std::mutex lock;
    std::condition_variable told;
    bool news = false;

    void outputReady() override
    {
        std::lock_guard<std::mutex> guard(lock);
        news = true;
        told.notify_one();
    }
    void waitForNews()
    {
        std::unique_lock<std::mutex> guard(lock);
        told.wait_for(guard, std::chrono::milliseconds(5), [&] { return news; });
        news = false;
    }
};

// One answer of `total` bytes written in random pieces by a worker while
// the loop sends it to a client that reads in random windows and pauses.
void runAnswer(unsigned seed, uint64_t total)
{
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    Connection connection;
    OutputQueue queue;
    Loop loop;
    queue.setListener(&loop, OutputQueue::Writer::Worker);

    unsigned writerSeed = random();
    std::thread writer([&] {
        std::mt19937 r(writerSeed);
        std::string piece;
        for (uint64_t at = 0; at < total;) {
            // Mostly flush-sized pieces, now and then one larger than the memory share.
            uint64_t n = r() % 8 == 0 ? 1 + r() % (3 * OutputQueue::MEMORY_LIMIT) : 1 + r() % 9000;
            if (n > total - at) n = total - at;
            piece.resize(n);
            for (uint64_t i = 0; i < n; ++i)
                piece[i] = byteAt(at + i);
            if (queue.append(piece.data(), piece.size())) loop.outputReady();
            at += n;
            if (r() % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(r() % 2000));
        }
        if (queue.finish()) loop.outputReady();
    });

    unsigned readerSeed = random();
    std::string got;
    std::thread reader([&] {
        std::mt19937 r(readerSeed);
        std::string buffer(64 * 1024, '\0');
        for (;;) {
            size_t window = 1 + r() % buffer.size();
            ssize_t n = ::recv(connection.client, buffer.data(), window, 0);
            if (n <= 0) break;
            got.append(buffer.data(), (size_t)n);
            if (r() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(r() % 3000));
        }
    });

    for (;;) {
        uint64_t sent = 0;
        // Finished before this flush: an empty queue after it means all went
        // out (the writer may add its last pieces between a flush and a look).
        bool finished = queue.isFinished();
        OutputQueue::Flush f = queue.flush(connection.server, 64 * 1024 + random() % (1 << 20), sent);
        ASSERT_NE(OutputQueue::Flush::Failed, f);
        if (f == OutputQueue::Flush::Empty && finished) break;
        if (f == OutputQueue::Flush::Blocked) {
            pollfd p = {connection.server, POLLOUT, 0};
            ::poll(&p, 1, 5);
        } else {
            loop.waitForNews();
        }
    }
    writer.join();
    ::shutdown(connection.server, SHUT_WR);
    reader.join();
    ASSERT_EQ(total, got.size());
    for (uint64_t i = 0; i < total; ++i)
        if (got[i] != byteAt(i)) FAIL() << "first wrong byte at " << i << " of " << total;
}

// Runs body with TMPDIR set to folder.
template <typename Body> void withTemporaryFolder(const char* folder, Body body)
{
    const char* before = ::getenv("TMPDIR");
    std::string saved = before != nullptr ? before : "";
    ::setenv("TMPDIR", folder, 1);
    body();
    if (saved.empty()) {
        ::unsetenv("TMPDIR");
    } else {
        ::setenv("TMPDIR", saved.c_str(), 1);
    }
}

TEST(AnswerChannel, BytesLeaveInTheOrderTheyWereWrittenWhateverTheClientsPace)
{
    for (unsigned seed = 1; seed <= 6; ++seed)
        runAnswer(seed, 3u << 20);
}

// Without a temporary file the writer waits for the client, as a pipe's
// writer would: nothing is lost, and the loop is never left waiting.
TEST(AnswerChannel, WithoutATemporaryFileTheWriterWaitsAndNothingIsLost)
{
    withTemporaryFolder("/nonexistent/zorvane-spill", [] {
        for (unsigned seed = 11; seed <= 13; ++seed)
            runAnswer(seed, 2u << 20);
        OutputQueue queue;
        std::string big(OutputQueue::MEMORY_LIMIT + 1, 'x');
        queue.setListener(nullptr, OutputQueue::Writer::Loop); // the loop itself never waits
        queue.append(big.data(), big.size());
        EXPECT_EQ(ENOENT, queue.takeSpillError());
        EXPECT_EQ(0, queue.takeSpillError()); // said once
        EXPECT_FALSE(queue.hasRoom());
    });
}

// A writer waiting for room fails once the client is gone, instead of
// waiting for ever.
TEST(AnswerChannel, AWaitingWriterFailsWhenTheClientGoes)
{
    withTemporaryFolder("/nonexistent/zorvane-spill", [] {
        OutputQueue queue;
        Loop loop;
        queue.setListener(&loop, OutputQueue::Writer::Worker);
        std::atomic<bool> failed {false};
        std::thread writer([&] {
            std::string big(4 * OutputQueue::MEMORY_LIMIT, 'y');
            try {
                queue.append(big.data(), big.size());
            } catch (WSocketException&) {
                failed = true;
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(failed.load());
        queue.kill();
        writer.join();
        EXPECT_TRUE(failed.load());
    });
}

} // namespace
