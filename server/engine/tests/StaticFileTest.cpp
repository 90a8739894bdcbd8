#include "HTTPResponse.h"
#include "ServerTestSupport.h"
#include "WRepository.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include "ZorvaneVersion.h"

using servertest::QueuedConnection;
using servertest::RecordingControl;

namespace {

const std::string SERVER = "Server: " ZORVANE_WITH_PHP " V1.1\r\n";
const std::string LAST_MODIFIED = "Mon, 01 Mar 2027 09:05:03 GMT";
const time_t MTIME = 1803891903;

FileRequest ranged(const char* range)
{
    FileRequest r;
    r.range = range;
    return r;
}

class StaticFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = folder.root;
        content.resize(1000);
        for (size_t i = 0; i < content.size(); ++i)
            content[i] = (char)('a' + i % 26);
        file = make("f.html", content);
    }
    std::string make(const std::string& name, const std::string& bytes)
    {
        folder.write(name, bytes);
        std::string path = folder.path(name);
        struct timeval times[2] = {{MTIME, 0}, {MTIME, 0}};
        utimes(path.c_str(), times);
        return path;
    }

    // Serves path and returns the bytes the client got, with the Date value
    // replaced by "<now>" after checking its form.
    std::string serve(const std::string& path, const FileRequest& r, const char* mime = "text/html")
    {
        QueuedConnection c;
        {
            HTTPResponse response(&control, &c.stream);
            response.sendFile(path.c_str(), mime, r);
        }
        std::string out = c.receive();
        static const std::regex date(
            "Date: [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT\r\n");
        std::smatch m;
        if (std::regex_search(out, m, date)) out.replace((size_t)m.position(0), (size_t)m.length(0), "Date: <now>\r\n");
        return out;
    }

    std::string ok200(size_t length, const std::string& mime = "text/html")
    {
        return "HTTP/1.1 200 OK\r\n" + SERVER + "Date: <now>\r\nContent-Type: " + mime + "\r\nLast-Modified: "
            + LAST_MODIFIED + "\r\nContent-Length: " + std::to_string(length)
            + "\r\nAccept-Ranges: bytes\r\nConnection: close\r\n\r\n";
    }

    std::string partial(uint64_t first, uint64_t last, uint64_t size)
    {
        return "HTTP/1.1 206 Partial Content\r\n" + SERVER + "Date: <now>\r\nContent-Type: text/html\r\nLast-Modified: "
            + LAST_MODIFIED + "\r\nContent-Length: " + std::to_string(last - first + 1) + "\r\nContent-Range: bytes "
            + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size)
            + "\r\nConnection: close\r\n\r\n";
    }

    std::string unsatisfiable(uint64_t size)
    {
        return "HTTP/1.1 416 Range Not Satisfiable\r\n" + SERVER + "Date: <now>\r\nContent-Range: bytes */"
            + std::to_string(size) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }

    RecordingControl control;
    servertest::TempFolder folder;
    std::string dir;
    std::string content;
    std::string file;
};

TEST_F(StaticFileTest, WholeFile)
{
    EXPECT_EQ(ok200(1000) + content, serve(file, {}));
    EXPECT_TRUE(control.hasLine(2, "Send file: " + file + ", Size=1000, MimeType=text/html"));
}

TEST_F(StaticFileTest, Conditions)
{
    const std::string notModified = "HTTP/1.1 304 Not Modified\r\n" + SERVER + "Date: <now>\r\nConnection: close\r\n\r\n";
    FileRequest r = ranged("bytes=100-199");
    r.ifModifiedSince = LAST_MODIFIED.c_str();
    EXPECT_EQ(notModified, serve(file, r));
    r.headOnly = true;
    EXPECT_EQ(notModified, serve(file, r));
    // Any other spelling of the same instant counts as modified.
    FileRequest other;
    other.ifModifiedSince = "Monday, 01-Mar-27 09:05:03 GMT";
    EXPECT_EQ(ok200(1000) + content, serve(file, other));
    other.range = "bytes=100-199";
    EXPECT_EQ(partial(100, 199, 1000) + content.substr(100, 100), serve(file, other));
    // If-Range counts only with a range: it answers the range or the whole file.
    FileRequest ifRange;
    ifRange.ifRange = LAST_MODIFIED.c_str();
    EXPECT_EQ(ok200(1000) + content, serve(file, ifRange));
    ifRange.range = "bytes=100-199";
    EXPECT_EQ(partial(100, 199, 1000) + content.substr(100, 100), serve(file, ifRange));
    for (const char* validator : {"Tue, 02 Mar 2027 09:05:03 GMT", "\"etag\""}) {
        ifRange.ifRange = validator;
        EXPECT_EQ(ok200(1000) + content, serve(file, ifRange)) << validator;
    }
}

TEST_F(StaticFileTest, Ranges)
{
    const struct {
        const char* range;
        int64_t from, to; // to < from: the whole file as a 200; from < 0: 416
    } cases[] = {
        {"bytes=100-199", 100, 199},
        {"bytes=900-", 900, 999},
        {"bytes=0-0", 0, 0},
        {"bytes=999-999", 999, 999},
        {"bytes=500-99999", 500, 999},
        {"bytes=-100", 900, 999},
        {"bytes=-5000", 0, 999},
        {"bytes=1000-", -1, 0},
        {"bytes=5000-6000", -1, 0},
        {"bytes=-0", -1, 0},
        {"bytes=300-200", 1, 0},
        {"items=1-2", 1, 0},
    };
    for (const auto& c : cases) {
        std::string expected = ok200(1000) + content;
        if (c.from < 0)
            expected = unsatisfiable(1000);
        else if (c.to >= c.from)
            expected = partial((uint64_t)c.from, (uint64_t)c.to, 1000)
                + content.substr((size_t)c.from, (size_t)(c.to - c.from + 1));
        EXPECT_EQ(expected, serve(file, ranged(c.range))) << c.range;
    }
}

TEST_F(StaticFileTest, HeadAnswersAsGetWithoutTheBody)
{
    FileRequest r;
    r.headOnly = true;
    EXPECT_EQ(ok200(1000), serve(file, r));
    r.range = "bytes=10-19";
    EXPECT_EQ(partial(10, 19, 1000), serve(file, r));
    r.range = "bytes=1000-";
    EXPECT_EQ(unsatisfiable(1000), serve(file, r));
}

TEST_F(StaticFileTest, EmptyFile)
{
    std::string empty = make("empty.txt", "");
    EXPECT_EQ(ok200(0, "text/plain"), serve(empty, {}, "text/plain"));
    EXPECT_EQ(ok200(0, "text/plain"), serve(empty, ranged("bytes=-10"), "text/plain"));
    EXPECT_EQ(unsatisfiable(0), serve(empty, ranged("bytes=0-"), "text/plain"));
}

TEST_F(StaticFileTest, ChunkBoundariesAndLargeFiles)
{
    for (size_t size : {65535u, 65536u, 65537u, 300001u}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = (char)(i * 7 + i / 251);
        std::string path = make("big" + std::to_string(size), bytes);
        EXPECT_EQ(ok200(size, "application/octet-stream") + bytes, serve(path, {}, "application/octet-stream")) << size;
        size_t first = 70000 % size;
        std::string got = serve(path, ranged(("bytes=" + std::to_string(first) + "-").c_str()));
        EXPECT_EQ(partial(first, size - 1, size) + bytes.substr(first), got) << size;
    }
}

TEST_F(StaticFileTest, FilesBeyondFourGiB)
{
    const uint64_t size = (4ull << 30) + 10;
    std::string path = dir + "/huge.bin";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, (off_t)(size - 10)) != 0 || pwrite(fd, "0123456789", 10, (off_t)(size - 10)) != 10) {
        close(fd);
        GTEST_SKIP() << "no room for a sparse 4 GiB file";
    }
    close(fd);
    struct timeval times[2] = {{MTIME, 0}, {MTIME, 0}};
    utimes(path.c_str(), times);

    EXPECT_EQ(partial(size - 10, size - 1, size) + "0123456789", serve(path, ranged("bytes=4294967296-")));
    EXPECT_EQ(partial(size - 4, size - 2, size) + "678", serve(path, ranged("bytes=4294967302-4294967304")));
    EXPECT_EQ(partial(size - 3, size - 1, size) + "789", serve(path, ranged("bytes=-3")));
    FileRequest head;
    head.headOnly = true;
    EXPECT_EQ(ok200(size), serve(path, head));
    EXPECT_TRUE(control.hasLine(2, "Send file: " + path + ", Size=4294967306, MimeType=text/html"));
}

TEST_F(StaticFileTest, ArchiveMembers)
{
    std::string archive = dir + "/pack.rep";
    {
        WRepository repository;
        repository.create(archive.c_str());
        repository.addFile(file.c_str(), "m.html");
        repository.close();
    }
    std::string member = "$" + archive + ":m.html";
    std::string whole = serve(member, {});
    ASSERT_EQ(0u, whole.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(std::string::npos,
        whole.find("\r\nContent-Length: 1000\r\nAccept-Ranges: bytes\r\nConnection: close\r\n\r\n" + content));
    std::string tail = serve(member, ranged("bytes=-10"));
    EXPECT_NE(std::string::npos,
        tail.find("\r\nContent-Length: 10\r\nContent-Range: bytes 990-999/1000\r\nConnection: close\r\n\r\n"
            + content.substr(990)));
}

std::string errorPage(const std::string& message)
{
    return "HTTP/1.1 500 Internal Server Error\r\n" + SERVER + "Content-Type: text/html\r\nConnection: close\r\n\r\n"
        + "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>500 Internal Server "
          "Error</title>\n</head><body>\n<h1>Internal Server Error</h1>\n<p>"
        + message + "</p>\n</body></html>\n";
}

TEST_F(StaticFileTest, DirectoriesAndSpecialFilesAreNeverSent)
{
    std::string sub = dir + "/sub";
    mkdir(sub.c_str(), 0755);
    EXPECT_EQ(errorPage("Cannot open file: " + sub), serve(sub, {}));
    EXPECT_TRUE(control.hasLine(
        -1, "Cannot send file: " + sub + ", WFileException: Cannot open file: " + sub + " (id=-2, syserr=00000015h)"));

    std::string fifo = dir + "/fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    auto start = std::chrono::steady_clock::now();
    std::string out = serve(fifo, {});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(0u, out.find("HTTP/1.1 500 Internal Server Error\r\n"));

    EXPECT_EQ(0u, serve("/dev/zero", {}).find("HTTP/1.1 500 Internal Server Error\r\n"));

    std::string missing = dir + "/missing";
    EXPECT_EQ(errorPage("File not found: " + missing), serve(missing, {}));
}

} // namespace
