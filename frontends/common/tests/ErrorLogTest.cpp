// error.log: control bytes from clients are escaped, and whatever stands at
// the name (a FIFO with or without a reader) never blocks the writer.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ErrorLog.h"

namespace {

// A temporary folder that is the current directory while the test runs.
class ErrorLogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/zorvane-errorlog-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        folder = name;
        char buffer[PATH_MAX];
        ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
        previous = buffer;
        ASSERT_EQ(::chdir(folder.c_str()), 0);
    }
    void TearDown() override
    {
        ::unlink((folder + "/" + ErrorLog::FILE_NAME).c_str());
        EXPECT_EQ(::chdir(previous.c_str()), 0);
        ::rmdir(folder.c_str());
    }

    static std::string readAll(const char* path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string folder;
    std::string previous;
};

} // namespace

TEST(ErrorLogEscapeTest, ControlBytesAreWrittenAsEscapes)
{
    using ErrorLog::LineBreaks;
    const struct {
        const char* text;
        LineBreaks breaks;
        const char* expected;
    } cases[] = {
        {"plain text", LineBreaks::Escape, "plain text"},
        {"Unknown HTTP method '\x1b[2J'", LineBreaks::Escape, "Unknown HTTP method '\\x1b[2J'"},
        {"bell\x07 del\x7f tab\t", LineBreaks::Escape, "bell\\x07 del\\x7f tab\\x09"},
        {"forged\nline\r", LineBreaks::Escape, "forged\\x0aline\\x0d"},
        {"forged\nline", LineBreaks::Keep, "forged\nline"},
        {"GET / HTTP/1.1\nX: \x1b[H\r\n", LineBreaks::Keep, "GET / HTTP/1.1\nX: \\x1b[H\\x0d\n"},
        {"outer\r\n   ->inner", LineBreaks::Escape, "outer\r\n   ->inner"},
        {"outer\r\n  ->inner", LineBreaks::Escape, "outer\\x0d\\x0a  ->inner"},
        {"caf\xc3\xa9 \\x1b", LineBreaks::Escape, "caf\xc3\xa9 \\x1b"},
        {"\x01\x1f", LineBreaks::Escape, "\\x01\\x1f"},
        {"", LineBreaks::Escape, ""},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(ErrorLog::escapeControlBytes(c.text, c.breaks).getBuf(), c.expected) << c.text;
    }
    EXPECT_STREQ(ErrorLog::escapeControlBytes(nullptr, LineBreaks::Escape).getBuf(), "");
}

TEST_F(ErrorLogFileTest, LinesAreAppendedEscaped)
{
    EXPECT_EQ(ErrorLog::append("Mon Dec  7 23:16:28 2026", "first \x1b[31m"), ErrorLog::Result::Written);
    EXPECT_EQ(ErrorLog::append("Mon Dec  7 23:16:29 2026", "second\nforged"), ErrorLog::Result::Written);
    EXPECT_EQ(readAll(ErrorLog::FILE_NAME),
        "Mon Dec  7 23:16:28 2026: first \\x1b[31m\r\n"
        "Mon Dec  7 23:16:29 2026: second\\x0aforged\r\n");
}

TEST_F(ErrorLogFileTest, FifoAtTheNameIsNeverWritten)
{
    ASSERT_EQ(::mkfifo(ErrorLog::FILE_NAME, 0644), 0);
    auto started = std::chrono::steady_clock::now();
    // Without a reader: opening would wait for one if it were not non-blocking.
    EXPECT_EQ(ErrorLog::append("t", "no reader"), ErrorLog::Result::NotRegularFile);
    // With a reader: the open succeeds, but nothing goes into the pipe.
    int reader = ::open(ErrorLog::FILE_NAME, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(ErrorLog::append("t", "with reader"), ErrorLog::Result::NotRegularFile);
    char buffer[64];
    EXPECT_LE(::read(reader, buffer, sizeof buffer), 0);
    ::close(reader);
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 1000);
    struct stat info;
    ASSERT_EQ(::stat(ErrorLog::FILE_NAME, &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(ErrorLogFileTest, FolderAtTheNameIsReported)
{
    ASSERT_EQ(::mkdir(ErrorLog::FILE_NAME, 0755), 0);
    EXPECT_NE(ErrorLog::append("t", "folder"), ErrorLog::Result::Written);
    ::rmdir(ErrorLog::FILE_NAME);
}
