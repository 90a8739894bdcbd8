// The file stream: reads with short ends, seeks, facts, reference counts,
// over plain files and repository members.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "WFileStream.h"
#include "WRepository.h"

using namespace gtest_support;

namespace {

std::vector<uint8_t> hundredBytes()
{
    std::vector<uint8_t> b(100);
    for (int i = 0; i < 100; ++i)
        b[size_t(i)] = uint8_t(i);
    return b;
}

} // namespace

TEST(FileStream, InterfacesAndCounts)
{
    TempDir dir;
    writeFile(dir.path("f"), hundredBytes());
    WFileStream s;
    s.setRefCount(1);
    s.getFile().open(dir.path("f").c_str(), false);
    void* out = &s;
    EXPECT_EQ(s.QueryInterface(IID_ISequentialStream, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(s.QueryInterface(IID_IStream, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(&s));
    EXPECT_EQ(s.QueryInterface(IID_IUnknown, &out), S_OK); // count is now 3
    s.AddRef();
    s.AddRef();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(s.Release(), 5u);
    IStream* clone = nullptr;
    EXPECT_EQ(s.Clone(&clone), S_FALSE);
    EXPECT_EQ(s.Commit(0), S_FALSE);
    EXPECT_EQ(s.SetSize(1), S_FALSE);
}

TEST(FileStream, ReadSeekStat)
{
    TempDir dir;
    writeFile(dir.path("f"), hundredBytes());
    WFileStream s;
    s.setRefCount(1);
    s.getFile().open(dir.path("f").c_str(), false);
    uint8_t buffer[100];
    unsigned long done = 0;
    EXPECT_EQ(s.Seek(60, 0, nullptr), S_OK);
    EXPECT_EQ(s.Read(buffer, 100, &done), S_OK);
    EXPECT_EQ(done, 40u);
    EXPECT_EQ(buffer[0], 60);

    uint64_t position = 0;
    EXPECT_EQ(s.Seek(-10, 2, &position), S_OK);
    EXPECT_EQ(position, 90u);
    EXPECT_EQ(s.Read(buffer, 10, &done), S_OK);
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(buffer[0], 90);
    EXPECT_EQ(buffer[9], 99);
    EXPECT_EQ(s.Seek(-5, 1, &position), S_OK);
    EXPECT_EQ(position, 95u);

    STATSTG stat;
    stat.name = "untouched";
    EXPECT_EQ(s.Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_STREQ(stat.name.getBuf(), "untouched");
    EXPECT_EQ(stat.type, STGTY_STREAM);
    EXPECT_EQ(stat.cbSize, 100u);
    EXPECT_EQ(stat.grfMode, 0x80000000u);
    EXPECT_EQ(stat.grfLocksSupported, 1u);
    // 100-ns units since 1601: at least the seconds between 1601 and 1970.
    uint64_t mtime = (uint64_t(stat.mtime.dwHighDateTime) << 32) | stat.mtime.dwLowDateTime;
    EXPECT_GT(mtime, 11644473600ull * 10000000ull);
    EXPECT_EQ(s.Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_STREQ(stat.name.getBuf(), dir.path("f").c_str());
}

TEST(FileStream, WriteAndFailures)
{
    TempDir dir;
    {
        WFileStream s;
        s.setRefCount(1);
        s.getFile().create(dir.path("w").c_str(), false);
        unsigned long done = 0;
        EXPECT_EQ(s.Write("hello", 5, &done), S_OK);
        EXPECT_EQ(done, 5u);
    }
    EXPECT_EQ(readFile(dir.path("w")).size(), 5u);
    // Reading a stream whose file is not open fails quietly with 0 bytes.
    WFileStream closed;
    unsigned long done = 77;
    uint8_t b[4];
    EXPECT_EQ(closed.Read(b, 4, &done), S_FALSE);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(closed.Write(b, 4, &done), S_FALSE);
    STATSTG stat;
    EXPECT_EQ(closed.Stat(&stat, STATFLAG_NONAME), S_FALSE);
}

TEST(FileStream, RepositoryMember)
{
    TempDir dir;
    writeFile(dir.path("m"), hundredBytes());
    std::string repo = dir.path("data");
    WRepository r;
    r.create(repo.c_str());
    r.addFile(dir.path("m").c_str(), "m.bin");
    r.close();
    WFileStream s;
    s.setRefCount(1);
    s.getFile().open(("$" + repo + ":m.bin").c_str(), false);
    uint8_t buffer[10];
    unsigned long done = 0;
    uint64_t position = 0;
    EXPECT_EQ(s.Seek(-10, 2, &position), S_OK);
    EXPECT_EQ(position, 90u);
    EXPECT_EQ(s.Read(buffer, 10, &done), S_OK);
    EXPECT_EQ(buffer[0], 90);
    EXPECT_EQ(s.Read(buffer, 10, &done), S_OK);
    EXPECT_EQ(done, 0u);
}
