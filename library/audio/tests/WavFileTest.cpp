#include "AudioTestSupport.h"
#include "WException.h"
#include "WWavFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <unistd.h>

using namespace audiotest;

namespace {

std::string samples(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = (char)(i * 7 + 3);
    return s;
}

unsigned long at32(const std::string& s, size_t offset)
{
    return (unsigned char)s[offset] | (unsigned char)s[offset + 1] << 8 | (unsigned char)s[offset + 2] << 16
        | (unsigned long)(unsigned char)s[offset + 3] << 24;
}

} // namespace

TEST(WavFile, CreateAndAppendKeepsAValidHeader)
{
    TempDir tmp;
    std::string path = tmp.path("out.wav");
    {
        WWavFile wav;
        wav.create(path.c_str(), 44100, true);
        EXPECT_EQ(wav.getBytesPerSecond(), 176400ul);
        EXPECT_EQ(wav.getChannels(), 2ul);
        EXPECT_EQ(wav.getBitsPerSample(), 16ul);
        unsigned char a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
        wav.appendSoundData(a, 4);
        // Complete after every append, before close.
        std::string mid = readFile(path);
        ASSERT_EQ(mid.size(), 48u);
        EXPECT_EQ(at32(mid, 40), 4ul);
        wav.appendSoundData(b, 4);
        wav.close();
    }
    std::string img = readFile(path);
    ASSERT_EQ(img.size(), 52u);
    EXPECT_EQ(img.substr(0, 4), "RIFF");
    EXPECT_EQ(at32(img, 4), 44ul);
    EXPECT_EQ(img.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(at32(img, 16), 16ul);
    EXPECT_EQ(img.substr(20, 4), le16(1) + le16(2));
    EXPECT_EQ(at32(img, 24), 44100ul);
    EXPECT_EQ(at32(img, 28), 176400ul);
    EXPECT_EQ(img.substr(32, 4), le16(4) + le16(16));
    EXPECT_EQ(img.substr(36, 4), "data");
    EXPECT_EQ(at32(img, 40), 8ul);

    WWavFile in(path.c_str());
    EXPECT_EQ(in.getSampleRate(), 44100ul);
    EXPECT_EQ(in.getChannels(), 2ul);
    unsigned long size = 0;
    ASSERT_TRUE(in.findSoundData(size));
    EXPECT_EQ(size, 8ul);
    unsigned char back[8];
    EXPECT_EQ(in.nextSoundData(back, 8, false), 8ul);
    EXPECT_EQ(memcmp(back, "\1\2\3\4\5\6\7\10", 8), 0);
}

TEST(WavFile, FreshlyCreatedFileHasEmptySoundData)
{
    TempDir tmp;
    std::string path = tmp.path("empty.wav");
    {
        WWavFile wav;
        wav.create(path.c_str(), 22050, false);
    }
    WWavFile in(path.c_str());
    unsigned long size = 99;
    ASSERT_TRUE(in.findSoundData(size));
    EXPECT_EQ(size, 0ul);
    WWavFile again(path.c_str());
    WString data("old");
    ASSERT_TRUE(again.getSoundData(data));
    EXPECT_EQ(data.length(), 0ul);
}

TEST(WavFile, AppendPastTheSizeFieldLimitThrows)
{
    TempDir tmp;
    std::string path = tmp.path("big.wav");
    WWavFile wav;
    wav.create(path.c_str(), 8000, false);
    unsigned char one[2] = {0, 0};
    EXPECT_THROW(wav.appendSoundData(one, 0xFFFFFFFFul), WavFileException);
    wav.appendSoundData(one, 2);
    wav.close();
    EXPECT_EQ(readFile(path).size(), 46u);
}

// Header checks and chunk walking over hand-built images.
TEST(WavFile, ReadsAndRejectsHeaders)
{
    const std::string pcm = samples(10);
    struct Case {
        const char* name;
        std::string image;
        int expect; // 0 ok, 1 "No WAV-Format file!", 2 "Invalid WAV-Format file!"
        long dataSize; // -1: findSoundData false
    } cases[] = {
        {"plain", riff(fmtChunk(1, 8000) + chunk("data", pcm)), 0, 10},
        {"list between", riff(fmtChunk(2, 44100) + chunk("LIST", samples(12)) + chunk("data", pcm)), 0, 10},
        {"odd list padded", riff(fmtChunk(1, 8000) + chunk("LIST", samples(5)) + chunk("data", pcm)), 0, 10},
        {"odd list unpadded", riff(fmtChunk(1, 8000) + chunk("LIST", samples(5), false) + chunk("data", pcm)), 0, 10},
        {"fmt of 18", riff(fmtChunk(1, 8000, 1, 18) + chunk("data", pcm)), 0, 10},
        {"no data chunk", riff(fmtChunk(1, 8000) + chunk("LIST", samples(12))), 0, -1},
        {"data placeholder size", riff(fmtChunk(1, 8000) + "data" + le32(0x7FFFF000) + pcm), 0, 10},
        {"data size all ones", riff(fmtChunk(1, 8000) + "data" + le32(0xFFFFFFFF) + pcm), 0, 10},
        {"huge chunk size", riff(fmtChunk(1, 8000) + "JUNK" + le32(0xFFFFFFF8) + pcm), 0, -1},
        {"chunk past the end", riff(fmtChunk(1, 8000) + "JUNK" + le32(100) + pcm), 0, -1},
        {"header cut short", riff(fmtChunk(1, 8000) + "dat"), 0, -1},
        {"list first", riff(chunk("LIST", samples(16)) + fmtChunk(1, 8000) + chunk("data", pcm)), 2, 0},
        {"float tag", riff(fmtChunk(1, 8000, 3, 18) + chunk("data", pcm)), 2, 0},
        {"short fmt", riff(fmtChunk(1, 8000, 1, 8) + chunk("data", pcm)), 2, 0},
        {"huge fmt", riff(fmtChunk(1, 8000, 1, 0xFFFFFFF0) + chunk("data", pcm)), 2, 0},
        {"text", "This is a plain text file, not a sound.\r\n", 1, 0},
        {"riff not wave", "RIFF" + le32(40) + "AVI " + fmtChunk(1, 8000), 1, 0},
    };
    TempDir tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = tmp.path("case.wav");
        writeFile(path, c.image);
        WWavFile wav;
        try {
            wav.open(path.c_str());
            ASSERT_EQ(c.expect, 0);
        } catch (WavFileException& e) {
            ASSERT_NE(c.expect, 0) << e.toString().getBuf();
            EXPECT_STREQ(e.getMessage(), c.expect == 1 ? "No WAV-Format file!" : "Invalid WAV-Format file!");
            EXPECT_EQ(e.getId(), -1);
            continue;
        }
        auto start = std::chrono::steady_clock::now();
        unsigned long size = 0;
        bool found = wav.findSoundData(size);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        ASSERT_EQ(found, c.dataSize >= 0);
        if (!found) continue;
        EXPECT_EQ((long)size, c.dataSize);
        std::string buf(size, '\0');
        EXPECT_EQ(wav.nextSoundData((unsigned char*)buf.data(), size, false), size);
        EXPECT_EQ(buf, pcm.substr(0, size));
    }
}

TEST(WavFile, FormatRecordIsKept)
{
    TempDir tmp;
    std::string path = tmp.path("f.wav");
    writeFile(path, riff(fmtChunk(2, 22050, 1, 18) + chunk("data", samples(4))));
    WWavFile wav(path.c_str());
    EXPECT_EQ(wav.getSampleRate(), 22050ul);
    EXPECT_EQ(wav.getChannels(), 2ul);
    EXPECT_EQ(wav.getBytesPerSecond(), 88200ul);
    EXPECT_EQ(wav.getBitsPerSample(), 16ul);
    EXPECT_TRUE(wav.isOpen());
    EXPECT_STREQ(wav.getFileName(), path.c_str());
}

TEST(WavFile, FileErrorsComeFromTheFile)
{
    TempDir tmp;
    std::string path = tmp.path("short.wav");
    writeFile(path, "RIFF");
    WWavFile wav;
    EXPECT_THROW(wav.open(path.c_str()), WEOFException);
    EXPECT_THROW(wav.open(tmp.path("missing.wav").c_str()), WFileNotFoundException);
}

TEST(WavFile, FillMarkAndReset)
{
    TempDir tmp;
    std::string path = tmp.path("fill.wav");
    const std::string pcm = samples(1000);
    writeFile(path, riff(fmtChunk(1, 8000) + chunk("data", pcm)));
    WWavFile wav(path.c_str());
    unsigned long size = 0;
    ASSERT_TRUE(wav.findSoundData(size));
    ASSERT_EQ(size, 1000ul);

    unsigned char first[100];
    EXPECT_EQ(wav.nextSoundData(first, 100, false), 100ul);
    wav.mark();
    unsigned char a[50], b[50];
    EXPECT_EQ(wav.nextSoundData(a, 50, false), 50ul);
    wav.reset();
    EXPECT_EQ(wav.nextSoundData(b, 50, false), 50ul);
    EXPECT_EQ(memcmp(a, b, 50), 0);
    EXPECT_EQ(memcmp(a, pcm.data() + 100, 50), 0);

    wav.reset();
    std::string buf(4096, '\x55');
    EXPECT_EQ(wav.nextSoundData((unsigned char*)buf.data(), 4096, true), 900ul);
    EXPECT_EQ(buf.substr(0, 900), pcm.substr(100));
    EXPECT_EQ(buf.substr(900), std::string(4096 - 900, '\0'));
    buf.assign(4096, '\x55');
    EXPECT_EQ(wav.nextSoundData((unsigned char*)buf.data(), 4096, true), 0ul);
    EXPECT_EQ(buf, std::string(4096, '\0'));
    buf.assign(16, '\x55');
    EXPECT_EQ(wav.nextSoundData((unsigned char*)buf.data(), 16, false), 0ul);
    EXPECT_EQ(buf, std::string(16, '\x55'));
}

TEST(WavFile, WalksChunksOneByOne)
{
    TempDir tmp;
    std::string path = tmp.path("chunks.wav");
    writeFile(path, riff(fmtChunk(1, 8000) + chunk("LIST", "abc") + chunk("fact", "wxyz") + chunk("data", "12")));
    WWavFile wav(path.c_str());
    WString id;
    unsigned long size = 0;
    ASSERT_TRUE(wav.nextDataChunkInfo(id, size));
    EXPECT_STREQ(id, "LIST");
    EXPECT_EQ(size, 3ul);
    wav.skip(size);
    ASSERT_TRUE(wav.nextDataChunkInfo(id, size));
    EXPECT_STREQ(id, "fact");
    unsigned char content[4];
    wav.nextDataChunk(content, 4);
    EXPECT_EQ(memcmp(content, "wxyz", 4), 0);
    ASSERT_TRUE(wav.nextDataChunkInfo(id, size));
    EXPECT_STREQ(id, "data");
    wav.skip(size);
    EXPECT_FALSE(wav.nextDataChunkInfo(id, size));

    WWavFile whole(path.c_str());
    WString data;
    ASSERT_TRUE(whole.getSoundData(data));
    EXPECT_STREQ(data, "12");
    EXPECT_EQ(data.length(), 2ul);
}

TEST(WavFile, AutoRemoveDeletesTheFile)
{
    TempDir tmp;
    std::string path = tmp.path("temp.wav");
    {
        WWavFile wav;
        wav.create(path.c_str(), 8000, false);
        wav.setAutoRemove(true);
    }
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    {
        WWavFile wav;
        wav.create(path.c_str(), 8000, false);
    }
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
}
