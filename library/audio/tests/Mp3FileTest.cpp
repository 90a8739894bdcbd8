#include "AudioTestSupport.h"
#include "WException.h"
#include "WMP3File.h"
#include "internal/Mp3Decoder.h"

#include <gtest/gtest.h>

#include <vector>

using namespace audiotest;

namespace {

// Decodes a whole file in pieces of the given size.
std::string decodeAll(WMP3File& mp3, unsigned long piece, bool fill)
{
    std::string out;
    std::vector<unsigned char> buf(piece);
    for (;;) {
        unsigned long n = mp3.nextSoundData(buf.data(), piece, fill);
        if (n == 0) return out;
        out.append((const char*)buf.data(), n);
        if (n < piece && fill) {
            for (unsigned long i = n; i < piece; ++i)
                EXPECT_EQ(buf[i], 0) << "not zero-filled at " << i;
        }
    }
}

} // namespace

TEST(MP3File, DecodesWholeFilesAndReplaysAfterReset)
{
    struct Case {
        const char* file;
        unsigned long rate, channels, bytes;
    } cases[] = {
        {"stereo_44k_1s.mp3", 44100, 2, 176400},
        {"mono_22k_half.mp3", 22050, 1, 22050},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WMP3File mp3(fixture(c.file).c_str());
        EXPECT_TRUE(mp3.isOpen());
        EXPECT_EQ(mp3.getSampleRate(), c.rate);
        EXPECT_EQ(mp3.getChannels(), c.channels);
        std::string first = decodeAll(mp3, 4096, true);
        EXPECT_EQ(first.size(), c.bytes);
        unsigned char after[16];
        EXPECT_EQ(mp3.nextSoundData(after, sizeof after, true), 0ul);
        mp3.reset();
        std::string second = decodeAll(mp3, 7000, false); // odd piece size: the buffer need not hold whole frames
        EXPECT_TRUE(first == second) << "replay after reset differs";
        mp3.close();
        EXPECT_FALSE(mp3.isOpen());
        EXPECT_EQ(mp3.nextSoundData(after, sizeof after, true), 0ul);
    }
}

TEST(MP3File, OpenFailures)
{
    TempDir tmp;
    WMP3File mp3;
    try {
        mp3.open(tmp.path("missing.mp3").c_str(), 1.0f);
        FAIL() << "no exception";
    } catch (WFileNotFoundException& e) {
        EXPECT_EQ(std::string(e.getMessage()), "File not found: " + tmp.path("missing.mp3"));
    }
    std::string text = tmp.path("text.mp3");
    writeFile(text, std::string(3000, 'x') + "\nnot an mp3 at all\n");
    std::string wav = tmp.path("sound.wav");
    writeFile(wav, riff(fmtChunk(1, 8000) + chunk("data", std::string(8000, '\0'))));
    std::string empty = tmp.path("empty.mp3");
    writeFile(empty, "");
    for (const std::string& path : {text, wav, empty}) {
        SCOPED_TRACE(path);
        try {
            mp3.open(path.c_str(), 1.0f);
            FAIL() << "no exception";
        } catch (WMP3FileException& e) {
            EXPECT_EQ(std::string(e.getMessage()), "Cannot open MP3 file: " + path);
            EXPECT_EQ(e.getId(), -1);
            EXPECT_EQ(e.getSysErrCode(), 0ul);
        }
        EXPECT_FALSE(mp3.isOpen());
    }
}

TEST(MP3File, OpeningAgainReplacesTheFile)
{
    WMP3File mp3(fixture("stereo_44k_1s.mp3").c_str());
    unsigned char buf[1000];
    EXPECT_EQ(mp3.nextSoundData(buf, sizeof buf, false), 1000ul);
    mp3.open(fixture("mono_22k_half.mp3").c_str(), 1.0f);
    EXPECT_EQ(mp3.getChannels(), 1ul);
    EXPECT_EQ(decodeAll(mp3, 4096, false).size(), 22050u);
}

// The push side of the decoder, as the sampler uses it.
TEST(MP3Decoder, StreamOutCallsInitWritesAndClose)
{
    struct Log {
        int inits = 0, closes = 0, writes = 0, stereo = -1;
        unsigned long rate = 0, biggest = 0, total = 0, stopAfter = 0;
        std::string pcm;
    };
    auto onInit = [](int stereo, unsigned long rate, void* user, void*) {
        auto* l = static_cast<Log*>(user);
        ++l->inits;
        l->stereo = stereo;
        l->rate = rate;
        return 0;
    };
    auto onWrite = [](const void* s, unsigned long n, void* user, void*) {
        auto* l = static_cast<Log*>(user);
        ++l->writes;
        l->biggest = std::max(l->biggest, n);
        l->total += n;
        l->pcm.append((const char*)s, n);
        return l->stopAfter && l->writes >= (int)l->stopAfter ? -1 : 0;
    };
    auto onClose = [](void* user, void*) {
        ++static_cast<Log*>(user)->closes;
        return 0;
    };

    std::string file = fixture("stereo_44k_1s.mp3");
    Log all;
    Mp3StreamOutRecord rec {onWrite, onInit, onClose, &all, file.c_str(), nullptr, 0};
    EXPECT_EQ(mp3StreamOut(file.c_str(), &rec), 0);
    EXPECT_EQ(all.inits, 1);
    EXPECT_EQ(all.closes, 1);
    EXPECT_EQ(all.stereo, 1);
    EXPECT_EQ(all.rate, 44100ul);
    EXPECT_EQ(all.total, 176400ul);
    EXPECT_LE(all.biggest, MP3_STREAM_PIECE);

    WMP3File pull(file.c_str());
    EXPECT_TRUE(decodeAll(pull, 4096, false) == all.pcm) << "push and pull decode differently";

    Log stopped;
    stopped.stopAfter = 2;
    rec.user = &stopped;
    EXPECT_EQ(mp3StreamOut(file.c_str(), &rec), 1);
    EXPECT_EQ(stopped.writes, 2);
    EXPECT_EQ(stopped.closes, 1);

    Log none;
    rec.user = &none;
    EXPECT_EQ(mp3StreamOut("/nonexistent/file.mp3", &rec), -1);
    EXPECT_EQ(none.inits + none.writes + none.closes, 0);
}
