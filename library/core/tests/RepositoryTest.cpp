#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FileTestSupport.h"
#include "WFile.h"
#include "WRepository.h"
#include "internal/WRepositoryCache.h"

namespace {

std::string u32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; i++)
        s[i] = (char)(v >> (8 * i));
    return s;
}

std::string entryBytes(uint32_t offset, uint32_t size, const std::string& name)
{
    std::string e = u32(offset) + u32(size) + name;
    e.resize(269, '\0');
    return e;
}

std::string headerBytes(uint32_t byteCount, uint32_t entries)
{
    return std::string("REPOS09\0\0\0\0\0\0\0", 14) + u32(byteCount) + u32(entries);
}

// Builds an archive at name from (path, member) pairs.
void build(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files)
{
    WRepository repository;
    repository.create(name.c_str());
    for (const auto& f : files)
        repository.addFile(f.first.c_str(), f.second.c_str());
    repository.close();
}

size_t filesIn(const std::string& folder)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

std::string readAll(WFileIO& in)
{
    std::string data(in.getSize(), '\0');
    if (!data.empty()) in.read(data.data(), data.size());
    return data;
}

} // namespace

TEST(Repository, ByteLayout)
{
    TempDir dir;
    std::string a = dir.write("a.txt", "abc");
    std::string b = dir.write("b.txt", "");
    std::string archive = dir.path("two.rep");
    build(archive, {{a, "a.txt"}, {b, "b.txt"}});

    std::string expected = headerBytes(541, 2) + entryBytes(560, 3, "a.txt") + entryBytes(563, 0, "b.txt") + "abc";
    std::string actual = TempDir::slurp(archive);
    ASSERT_EQ(actual.size(), 563u);
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(filesIn(dir.root), 3u) << "the data file is removed";

    // The member read through the "$<repository>:<filename>" form.
    WFile member(("$" + archive + ":a.txt").c_str());
    EXPECT_TRUE(member.isOpen());
    EXPECT_EQ(member.getSize(), 3u);
    EXPECT_STREQ(member.getFilename(), "a.txt");
    EXPECT_EQ(member.readByte(), 'a');
    EXPECT_EQ(member.readByte(), 'b');
    EXPECT_EQ(member.readByte(), 'c');
    auto eof = expectThrow<WEOFException>([&] { member.readByte(); });
    EXPECT_STREQ(eof.getMessage(), "End of file reached.");
    EXPECT_EQ(member.getEOFBytes(), 0u);

    WFileInfo info;
    member.getFileInfo(info);
    EXPECT_EQ(info.getFileSize(), 3);
    EXPECT_GT(info.getTimeLastModified(), 0u);

    WRepositoryFile empty(archive.c_str(), "b.txt");
    EXPECT_EQ(empty.getSize(), 0u);
    WString line;
    EXPECT_FALSE(empty.readln(line));
    char c;
    expectThrow<WEOFException>([&] { empty.read(&c, 1); });
}

TEST(Repository, NamesAndReplacedMembers)
{
    TempDir dir;
    std::string first = dir.write("first", "old data");
    std::string second = dir.write("second", "new");
    std::string other = dir.write("other", "xyz");
    std::string longName(300, 'n');
    std::string archive = dir.path("names.rep");
    build(archive, {{first, "doc"}, {other, longName}, {second, "doc"}});

    std::string bytes = TempDir::slurp(archive);
    EXPECT_EQ(bytes.substr(18, 4), u32(2)) << "one entry per name";
    EXPECT_EQ(bytes.substr(14, 4), u32(2 * 269 + 8 + 3 + 3)) << "replaced bytes stay counted";
    EXPECT_EQ(bytes.substr(22 + 8, 4), std::string("doc\0", 4)) << "the name keeps its place";

    WRepositoryFile doc(archive.c_str(), "doc");
    EXPECT_EQ(readAll(doc), "new");

    std::string cut = longName.substr(0, 260);
    WRepositoryFile longMember(archive.c_str(), cut.c_str());
    EXPECT_EQ(std::string(longMember.getFilename()), cut);
    EXPECT_EQ(readAll(longMember), "xyz");

    // The path form splits at the first colon after the '$'.
    std::string colonArchive = dir.path("with");
    build(colonArchive, {{other, "x.rep:inner"}});
    WFile inner(("$" + colonArchive + ":x.rep:inner").c_str());
    EXPECT_EQ(readAll(inner), "xyz");

    // Adding needs an archive in the making and an existing file.
    WRepository idle;
    idle.addFile(other.c_str());
    WRepository repository;
    repository.create(dir.path("missing.rep").c_str());
    expectThrow<WFileNotFoundException>([&] { repository.addFile(dir.path("nope").c_str()); });
    repository.addFile(other.c_str(), "only");
    repository.close();
    WRepositoryFile only(dir.path("missing.rep").c_str(), "only");
    EXPECT_EQ(readAll(only), "xyz");
    expectThrow<WFileNotFoundException>([&] { WRepositoryFile f(dir.path("missing.rep").c_str(), "nope"); });
}

TEST(Repository, RefusedOpensLeaveNothingBehind)
{
    TempDir dir;
    std::string a = dir.write("a", "abc");
    std::string archive = dir.path("r.rep");
    build(archive, {{a, "a"}});

    auto missing = expectThrow<WFileNotFoundException>([&] { WRepositoryFile f(archive.c_str(), "b"); });
    EXPECT_STREQ(missing.getMessage(), "File not found in repository: b");
    EXPECT_EQ(WRepositoryCache::useCount(archive.c_str()), 0u);

    std::string plain = dir.write("plain.txt", "this is no archive at all, just text");
    auto notArchive = expectThrow<WRepositoryFileException>([&] { WRepositoryFile f(plain.c_str(), "a"); });
    EXPECT_EQ(std::string(notArchive.getMessage()), "No repository file: " + plain);
    EXPECT_EQ(notArchive.getSysErrCode(), 0u);

    std::string tiny = dir.write("tiny", "REPOS");
    expectThrow<WEOFException>([&] { WRepositoryFile f(tiny.c_str(), "a"); });
    expectThrow<WFileNotFoundException>([&] { WRepositoryFile f(dir.path("absent.rep").c_str(), "a"); });

    auto write = expectThrow<WRepositoryFileException>([&] {
        WFile f(("$" + archive + ":a").c_str());
        f.writeln("x");
    });
    EXPECT_STREQ(write.getMessage(), "Writing to a repository file is not allowed.");
}

TEST(Repository, DamagedArchivesAreRefused)
{
    TempDir dir;
    const std::string data = "0123456789";
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"entry count beyond the file", headerBytes(0, 0xFFFFFFFFu) + entryBytes(291, 1, "a")},
        {"name without NUL", headerBytes(279, 1) + u32(291) + u32(1) + std::string(261, 'x') + data},
        {"offset past the end", headerBytes(279, 1) + entryBytes(5000, 1, "a") + data},
        {"size past the end", headerBytes(279, 1) + entryBytes(291, 11, "a") + data},
        {"offset and size wrap around", headerBytes(279, 1) + entryBytes(0xFFFFFFF0u, 0x20, "a") + data},
    };
    for (const Case& c : cases) {
        std::string path = dir.write("damaged.rep", c.bytes);
        auto e = expectThrow<WRepositoryFileException>([&] { WRepositoryFile f(path.c_str(), "a"); });
        EXPECT_EQ(std::string(e.getMessage()), "Damaged repository file: " + path) << c.what;
        EXPECT_EQ(WRepositoryCache::useCount(path.c_str()), 0u) << c.what;
    }

    // An intact entry next to the refused cases reads as it should.
    std::string good = dir.write("good.rep", headerBytes(279, 1) + entryBytes(291, 10, "a") + data);
    WRepositoryFile f(good.c_str(), "a");
    EXPECT_EQ(readAll(f), data);
}

TEST(Repository, SharedDirectoryCache)
{
    TempDir dir;
    std::string a = dir.write("a", "first member");
    std::string b = dir.write("b", "second member");
    std::string archive = dir.path("shared.rep");
    build(archive, {{a, "a"}, {b, "b"}});
    {
        WRepositoryFile one(archive.c_str(), "a");
        WRepositoryFile two(archive.c_str(), "b");
        EXPECT_EQ(WRepositoryCache::useCount(archive.c_str()), 2u);
        // Each reader has its own read-only handle and position.
        EXPECT_NE(one.getFileHandle(), two.getFileHandle());
        EXPECT_EQ(fcntl(one.getFileHandle(), F_GETFL) & O_ACCMODE, O_RDONLY);
        EXPECT_NE(fcntl(one.getFileHandle(), F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_NE(one.getFileStream(), nullptr);
        EXPECT_EQ(readAll(two), "second member");
        EXPECT_EQ(readAll(one), "first member");

        // Opening without a member takes the directory too.
        WRepositoryFile bare(archive.c_str(), nullptr);
        EXPECT_EQ(WRepositoryCache::useCount(archive.c_str()), 3u);
        EXPECT_EQ(bare.getSize(), 0u);
        char c;
        expectThrow<WEOFException>([&] { bare.read(&c, 1); });
        bare.load("b");
        EXPECT_EQ(readAll(bare), "second member");
    }
    EXPECT_EQ(WRepositoryCache::useCount(archive.c_str()), 0u);

    // Many threads opening members at once keep the counts straight.
    std::atomic<int> failures {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; i++) {
                try {
                    WFile f(("$" + archive + ":" + (t % 2 ? "a" : "b")).c_str());
                    if (readAll(f) != (t % 2 ? "first member" : "second member")) failures++;
                } catch (const WException&) {
                    failures++;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(WRepositoryCache::useCount(archive.c_str()), 0u);
}

TEST(Repository, PositionsStayInsideTheMember)
{
    TempDir dir;
    std::string lines = dir.write("lines", std::string("one\r\ntw\0o\r\nthree", 16));
    std::string next = dir.write("next", "NEXT MEMBER\n");
    std::string archive = dir.path("pos.rep");
    build(archive, {{lines, "lines"}, {next, "next"}});

    WRepositoryFile f(archive.c_str(), "lines");
    WString line;
    ASSERT_TRUE(f.readln(line));
    EXPECT_STREQ(line, "one");
    EXPECT_EQ(f.getPos(), 5u);
    ASSERT_TRUE(f.readln(line));
    EXPECT_EQ(std::string(line.getBuf(), line.length()), std::string("tw\0o", 4));
    ASSERT_TRUE(f.readln(line));
    EXPECT_STREQ(line, "three") << "the line ends with the member, not in the next one";
    EXPECT_EQ(f.getPos(), 16u);
    EXPECT_FALSE(f.readln(line));

    f.setPos(0);
    EXPECT_EQ(f.getPos(), 0u);
    f.setPos(16);
    EXPECT_EQ(f.getPos(), 16u);
    expectThrow<WFileException>([&] { f.setPos(17); });
    expectThrow<WFileException>([&] { f.setPos(-1); });

    f.setPosMode(WFileIO::POS_END);
    f.setPos(-5);
    EXPECT_EQ(f.getPos(), 11u);
    f.mark();
    EXPECT_EQ(f.readByte(), 't');
    f.reset();
    EXPECT_EQ(f.getPos(), 11u);
    auto past = expectThrow<WFileException>([&] { f.setPos(1); });
    EXPECT_STREQ(past.getMessage(), "Cannot set file pointer.");
    EXPECT_EQ(past.getId(), -5);
    expectThrow<WFileException>([&] { f.setPos(-17); });

    f.setPosMode(WFileIO::POS_CURRENT);
    f.setPos(100);
    EXPECT_EQ(f.getPos(), 16u) << "forward moves stop at the member's end";
    f.skip(-16);
    EXPECT_EQ(f.getPos(), 0u);
    expectThrow<WFileException>([&] { f.skip(-1); });

    // Reads never run into the next member.
    char buffer[32];
    f.setPosMode(WFileIO::POS_BEGIN);
    f.setPos(11);
    expectThrow<WEOFException>([&] { f.read(buffer, sizeof buffer); });
    EXPECT_EQ(f.getEOFBytes(), 5u);
    EXPECT_EQ(std::string(buffer, 5), "three");
}

// The data file is made exclusively: a link planted at "<archive>.tmp" is
// left alone, and the file it points to is never truncated or written.
TEST(Repository, APlantedLinkIsNeverFollowed)
{
    TempDir dir;
    std::string a = dir.write("a.txt", "abc");
    std::string victim = dir.write("victim.txt", "precious");
    std::string archive = dir.path("one.rep");
    ASSERT_EQ(symlink(victim.c_str(), (archive + ".tmp").c_str()), 0);
    build(archive, {{a, "a.txt"}});
    EXPECT_EQ(TempDir::slurp(victim), "precious");
    WRepositoryFile member(archive.c_str(), "a.txt");
    EXPECT_EQ(readAll(member), "abc");
    EXPECT_EQ(filesIn(dir.root), 4u); // a.txt, victim.txt, the link and the archive
}
