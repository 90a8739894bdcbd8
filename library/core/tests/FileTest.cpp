#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "FileTestSupport.h"
#include "WFile.h"

namespace {

std::vector<std::string> allLines(const std::string& path)
{
    WFile file(path.c_str());
    std::vector<std::string> lines;
    WString line;
    while (file.readln(line))
        lines.emplace_back(line.getBuf(), line.length());
    // Once at the end, the reader keeps answering false.
    EXPECT_FALSE(file.readln(line));
    EXPECT_EQ(line.length(), 0u);
    return lines;
}

struct LineCase {
    const char* what;
    std::string content;
    std::vector<std::string> lines;
};

} // namespace

TEST(File, ReadLines)
{
    const std::string a127(127, 'a'), y300(300, 'y'), z128(128, 'z');
    const std::vector<LineCase> cases = {
        {"CR LF, last line without LF", "a\r\nb", {"a", "b"}},
        {"single line with LF", "x\n", {"x"}},
        {"empty file", "", {}},
        {"long line", y300 + "\r\n" + "next\n", {y300, "next"}},
        {"CR at the end of a block stays in the line", a127 + "\rbc\n", {a127 + "\rbc"}},
        {"CR LF split over two blocks", a127 + "\r\nz", {a127, "z"}},
        {"full block without line end", z128, {z128}},
        {"NUL bytes stay", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
        {"lone CR at the end of the file", "a\r", {"a"}},
        {"only a CR", "\r", {""}},
        {"empty lines", "\n\n", {"", ""}},
        {"LF only line ends", "one\ntwo\n", {"one", "two"}},
    };
    TempDir dir;
    for (const LineCase& c : cases) {
        std::string path = dir.write("lines.txt", c.content);
        EXPECT_EQ(allLines(path), c.lines) << c.what;
    }
}

TEST(File, ReadLineLeavesPositionAfterLineFeed)
{
    TempDir dir;
    WFile file(dir.write("f", "ab\r\ncd").c_str());
    WString line;
    ASSERT_TRUE(file.readln(line));
    EXPECT_EQ(file.getPos(), 4u);
    EXPECT_EQ(file.readByte(), 'c');
}

TEST(File, OpenFailures)
{
    TempDir dir;
    std::string missing = dir.path("missing.txt");
    auto notFound = expectThrow<WFileNotFoundException>([&] { WFile f(missing.c_str()); });
    EXPECT_EQ(std::string(notFound.getMessage()), "File not found: " + missing);
    EXPECT_EQ(notFound.getId(), -1);
    EXPECT_EQ(notFound.getSysErrCode(), (unsigned long)ENOENT);

    // A path through a plain file also names nothing that exists.
    dir.write("plain", "x");
    expectThrow<WFileNotFoundException>([&] { WFile f(dir.path("plain/x").c_str()); });

    auto folder = expectThrow<WFileException>([&] { WFile f(dir.root.c_str()); });
    EXPECT_EQ(std::string(folder.getMessage()), "Cannot open file: " + dir.root);
    EXPECT_EQ(folder.getId(), -2);
    EXPECT_EQ(folder.getSysErrCode(), (unsigned long)EISDIR);

    // A FIFO without a writer must neither block nor be taken for a file.
    std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expectThrow<WFileException>([&] { WFile f(fifo.c_str()); });
    expectThrow<WFileException>([&] {
        WFile f;
        f.create(fifo.c_str(), false);
    });
    expectThrow<WFileException>([&] {
        WFile f;
        f.open("/dev/null", false);
    });

    auto format = expectThrow<WRepositoryFileException>([] { WFile f("$no-colon"); });
    EXPECT_STREQ(format.getMessage(), "Unknown repository file format. $<repository>:<filename>");
    EXPECT_EQ(format.getSysErrCode(), 0u);

    expectThrow<WFileException>([&] {
        WFile f;
        f.create(dir.path("no/such/dir").c_str(), false);
    });
}

TEST(File, CreateTruncatesOrAppends)
{
    TempDir dir;
    std::string path = dir.write("log.txt", "old content\r\n");
    {
        WFile log;
        log.create(path.c_str(), true);
        EXPECT_EQ(log.getPos(), 13u) << "append starts at the end";
        log.writeln("first");
        // Even after moving back, appended lines go to the end.
        log.setPos(0);
        log.writeln(WString("second"));
    }
    EXPECT_EQ(dir.read("log.txt"), "old content\r\nfirst\r\nsecond\r\n");

    {
        WFile a, b;
        a.create(path.c_str(), true);
        b.create(path.c_str(), true);
        a.writeln("from a");
        b.writeln("from b");
        a.writeln("again a");
    }
    EXPECT_EQ(dir.read("log.txt"), "old content\r\nfirst\r\nsecond\r\nfrom a\r\nfrom b\r\nagain a\r\n");

    WFile fresh;
    fresh.create(path.c_str(), false);
    EXPECT_EQ(fresh.getSize(), 0u);
    fresh.write("abc");
    fresh.write(WString("de"));
    fresh.write("fgh", 2);
    fresh.flush();
    fresh.close();
    EXPECT_EQ(dir.read("log.txt"), "abcdefg");
}

TEST(File, ShortReadsReportDeliveredBytes)
{
    TempDir dir;
    WFile file(dir.write("four", "1234").c_str());
    char buffer[10];
    auto eof = expectThrow<WEOFException>([&] { file.read(buffer, 10); });
    EXPECT_STREQ(eof.getMessage(), "End of file reached.");
    EXPECT_EQ(eof.getId(), -1);
    EXPECT_EQ(file.getEOFBytes(), 4u);
    EXPECT_EQ(std::string(buffer, 4), "1234");

    file.setPos(2);
    EXPECT_EQ(file.readByte(), '3');
    EXPECT_EQ(file.readByte(), '4');
    expectThrow<WEOFException>([&] { file.readByte(); });
    EXPECT_EQ(file.getEOFBytes(), 0u);

    // read(WString&) fills the reserved capacity.
    file.setPos(0);
    WString three(3);
    file.read(three);
    EXPECT_STREQ(three, "123");
    WString more(8);
    expectThrow<WEOFException>([&] { file.read(more); });
    EXPECT_STREQ(more, "4");
    EXPECT_EQ(file.getEOFBytes(), 1u);
}

TEST(File, PositionsAndMarks)
{
    TempDir dir;
    WFile file(dir.write("digits", "0123456789").c_str());
    EXPECT_EQ(file.getSize(), 10u);

    file.setPosMode(WFileIO::POS_END);
    file.setPos(-3);
    EXPECT_EQ(file.getPos(), 7u);
    file.mark();
    EXPECT_EQ(file.readByte(), '7');
    file.skip(1);
    EXPECT_EQ(file.readByte(), '9');
    file.reset();
    EXPECT_EQ(file.getPos(), 7u) << "reset counts from the start whatever the mode";
    file.setPos(0);
    EXPECT_EQ(file.getPos(), 10u) << "the mode stays at the end";

    file.setPosMode(WFileIO::POS_CURRENT);
    file.setPos(-4);
    EXPECT_EQ(file.getPos(), 6u);

    file.setPosMode(WFileIO::POS_BEGIN);
    auto bad = expectThrow<WFileException>([&] { file.setPos(-1); });
    EXPECT_STREQ(bad.getMessage(), "Cannot set file pointer.");
    EXPECT_EQ(bad.getId(), -5);
    EXPECT_EQ(bad.getSysErrCode(), (unsigned long)EINVAL);
}

TEST(File, FailuresOfAClosedOrReadOnlyFile)
{
    TempDir dir;
    std::string path = dir.write("ro", "data");
    WFile file(path.c_str());
    auto write = expectThrow<WFileException>([&] { file.write("x"); });
    EXPECT_STREQ(write.getMessage(), "Cannot write file.");
    EXPECT_EQ(write.getId(), -3);
    EXPECT_EQ(write.getSysErrCode(), (unsigned long)EBADF);

    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(std::string(file.getFilename()), path) << "the name outlives close";
    file.close();
    char c;
    auto read = expectThrow<WFileException>([&] { file.read(&c, 1); });
    EXPECT_EQ(read.getId(), -4);
    EXPECT_STREQ(expectThrow<WFileException>([&] { file.getPos(); }).getMessage(), "Cannot get file pointer.");
    EXPECT_STREQ(expectThrow<WFileException>([&] { file.getSize(); }).getMessage(), "Cannot get file size.");
    EXPECT_STREQ(expectThrow<WFileException>([&] { file.flush(); }).getMessage(), "Cannot flush file.");
}

TEST(File, HandlesAndStreams)
{
    TempDir dir;
    std::string path = dir.write("s", "stream text");
    WFile file(path.c_str());
    ASSERT_TRUE(file.isOpen());
    int fd = file.getFileHandle();
    EXPECT_EQ((int)(WFileHandle)file, fd);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptors never leak into children";
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);

    // A read-only file still gets a stream, made once.
    FILE* stream = file.getFileStream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ((FILE*)file, stream);
    char text[7] = {};
    EXPECT_EQ(fread(text, 1, 6, stream), 6u);
    EXPECT_STREQ(text, "stream");
    file.close();

    WFile created;
    created.create(dir.path("new").c_str(), false);
    EXPECT_NE(fcntl(created.getFileHandle(), F_GETFD) & FD_CLOEXEC, 0);
    FILE* rw = created.getFileStream();
    ASSERT_NE(rw, nullptr);
    EXPECT_GE(fputs("via stream", rw), 0);
    created.flush();
    created.close();
    EXPECT_EQ(dir.read("new"), "via stream");
}

TEST(File, FileInfo)
{
    TempDir dir;
    std::string path = dir.write("info.bin", "12345");
    WFile file(path.c_str());
    WFileInfo info;
    file.getFileInfo(info);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(std::string(info.getFilename()), path);
    EXPECT_EQ(info.getFileType(), 128u);
    EXPECT_EQ(info.getFileSize(), 5);
    EXPECT_EQ(info.getTimeLastModified(), (unsigned long long)st.st_mtime);
    EXPECT_EQ(info.getTimeLastAccess(), (unsigned long long)st.st_atime);
    EXPECT_GT(info.getTimeCreation(), 0u);
    EXPECT_LE(info.getTimeCreation(), info.getTimeLastModified());
}
