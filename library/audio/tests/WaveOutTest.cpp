#include "AudioTestSupport.h"
#include "internal/WaveOut.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace audiotest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

WaveFormat pcm(unsigned channels, unsigned long rate)
{
    WaveFormat f {};
    f.formatTag = 1;
    f.channels = (uint16_t)channels;
    f.samplesPerSec = (uint32_t)rate;
    f.blockAlign = (uint16_t)(2 * channels);
    f.avgBytesPerSec = (uint32_t)(f.blockAlign * rate);
    f.bitsPerSample = 16;
    return f;
}

// Records the Done messages a device delivers.
struct Listener {
    std::mutex mutex;
    std::vector<WaveHeader*> done;
    std::vector<std::thread::id> threads;
    std::atomic<int> opens {0}, closes {0};

    static void callback(WaveOutDevice*, WaveMessage m, void* instance, WaveHeader* h)
    {
        auto* self = static_cast<Listener*>(instance);
        if (m == WaveMessage::Open)
            ++self->opens;
        else if (m == WaveMessage::Close)
            ++self->closes;
        else {
            EXPECT_TRUE(h->flags & WAVE_HEADER_DONE);
            EXPECT_FALSE(h->flags & WAVE_HEADER_INQUEUE);
            std::lock_guard<std::mutex> lock(self->mutex);
            self->done.push_back(h);
            self->threads.push_back(std::this_thread::get_id());
        }
    }

    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return done.size();
    }

    bool waitFor(size_t n, milliseconds limit)
    {
        auto end = Clock::now() + limit;
        while (count() < n && Clock::now() < end)
            std::this_thread::sleep_for(milliseconds(1));
        return count() >= n;
    }
};

// Blocks of a recognisable byte pattern.
struct Blocks {
    std::vector<std::string> data;
    std::vector<WaveHeader> headers;

    Blocks(size_t count, size_t bytes) : data(count), headers(count)
    {
        for (size_t i = 0; i < count; ++i) {
            data[i].assign(bytes, (char)('a' + i));
            headers[i] = WaveHeader {};
            headers[i].data = (unsigned char*)data[i].data();
            headers[i].bufferLength = (uint32_t)bytes;
        }
    }
};

} // namespace

TEST(WaveOut, OpenRefusals)
{
    Listener l;
    WaveOutDevice* d = nullptr;
    WaveFormat good = pcm(2, 44100);
    {
        WaveOutChoice choice("fail");
        EXPECT_EQ(waveOutOpen(&d, &good, Listener::callback, &l), WAVE_NO_DRIVER);
        EXPECT_EQ(d, nullptr);
    }
    {
        WaveOutChoice choice("nonsense");
        EXPECT_EQ(waveOutOpen(&d, &good, Listener::callback, &l), WAVE_BAD_DEVICE_ID);
    }
    {
        WaveOutChoice choice("file:/nonexistent-dir/x.wav");
        EXPECT_EQ(waveOutOpen(&d, &good, Listener::callback, &l), WAVE_NO_DRIVER);
    }
    WaveOutChoice choice("null");
    WaveFormat bad[4] = {good, good, good, good};
    bad[0].formatTag = 3;
    bad[1].bitsPerSample = 8;
    bad[2].avgBytesPerSec = 1000;
    bad[3].channels = 6;
    for (WaveFormat& f : bad)
        EXPECT_EQ(waveOutOpen(&d, &f, Listener::callback, &l), WAVE_BAD_FORMAT);
    EXPECT_EQ(l.opens, 0);
}

TEST(WaveOut, NullDevicePlaysInOrderAtRealTimePace)
{
    WaveOutChoice choice("null");
    Listener l;
    WaveOutDevice* d = nullptr;
    WaveFormat f = pcm(1, 8000); // 16000 bytes per second
    ASSERT_EQ(waveOutOpen(&d, &f, Listener::callback, &l), WAVE_OK);
    EXPECT_EQ(l.opens, 1);
    Blocks b(4, 800); // 50 ms each
    auto start = Clock::now();
    for (auto& h : b.headers) {
        EXPECT_EQ(waveOutWrite(d, &h), WAVE_UNPREPARED);
        ASSERT_EQ(waveOutPrepare(d, &h), WAVE_OK);
        ASSERT_EQ(waveOutWrite(d, &h), WAVE_OK);
    }
    EXPECT_EQ(waveOutWrite(d, &b.headers[3]), WAVE_STILL_PLAYING);
    EXPECT_EQ(waveOutUnprepare(d, &b.headers[3]), WAVE_STILL_PLAYING);
    EXPECT_EQ(waveOutClose(d), WAVE_STILL_PLAYING);
    ASSERT_TRUE(l.waitFor(1, milliseconds(2000)));
    EXPECT_GE(Clock::now() - start, milliseconds(45));
    ASSERT_TRUE(l.waitFor(4, milliseconds(2000)));
    auto took = Clock::now() - start;
    EXPECT_GE(took, milliseconds(195));
    EXPECT_LT(took, milliseconds(600));
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(l.done[i], &b.headers[i]);
        EXPECT_NE(l.threads[i], std::this_thread::get_id());
        EXPECT_EQ(waveOutUnprepare(d, &b.headers[i]), WAVE_OK);
    }
    EXPECT_GE(waveOutStats().maxQueued, 4u);
    EXPECT_EQ(waveOutClose(d), WAVE_OK);
    EXPECT_EQ(l.closes, 1);
}

TEST(WaveOut, ResetReturnsEveryBlockBeforeItReturns)
{
    WaveOutChoice choice("null");
    Listener l;
    WaveOutDevice* d = nullptr;
    WaveFormat f = pcm(2, 44100);
    ASSERT_EQ(waveOutOpen(&d, &f, Listener::callback, &l), WAVE_OK);
    Blocks b(6, 17640); // 100 ms each
    for (auto& h : b.headers) {
        waveOutPrepare(d, &h);
        ASSERT_EQ(waveOutWrite(d, &h), WAVE_OK);
    }
    std::this_thread::sleep_for(milliseconds(20));
    auto start = Clock::now();
    EXPECT_EQ(waveOutReset(d), WAVE_OK);
    EXPECT_LT(Clock::now() - start, milliseconds(250));
    EXPECT_EQ(l.count(), 6u);
    for (auto& h : b.headers)
        EXPECT_EQ(waveOutUnprepare(d, &h), WAVE_OK);
    // The device goes on working after a reset.
    waveOutPrepare(d, &b.headers[0]);
    ASSERT_EQ(waveOutWrite(d, &b.headers[0]), WAVE_OK);
    EXPECT_TRUE(l.waitFor(7, milliseconds(2000)));
    EXPECT_EQ(waveOutReset(d), WAVE_OK);
    EXPECT_EQ(waveOutClose(d), WAVE_OK);
}

TEST(WaveOut, FileDeviceRecordsWhatWasPlayed)
{
    TempDir tmp;
    std::string path = tmp.path("played.wav");
    WaveOutChoice choice("file:" + path);
    Listener l;
    WaveOutDevice* d = nullptr;
    WaveFormat f = pcm(2, 22050); // 88200 bytes per second
    ASSERT_EQ(waveOutOpen(&d, &f, Listener::callback, &l), WAVE_OK);
    Blocks b(3, 4400); // 50 ms each
    for (auto& h : b.headers) {
        waveOutPrepare(d, &h);
        waveOutWrite(d, &h);
    }
    ASSERT_TRUE(l.waitFor(3, milliseconds(2000)));
    ASSERT_EQ(waveOutClose(d), WAVE_OK);
    std::string img = readFile(path);
    EXPECT_EQ(img, riff(fmtChunk(2, 22050) + chunk("data", b.data[0] + b.data[1] + b.data[2])));

    // A reset keeps only what had really been played.
    ASSERT_EQ(waveOutOpen(&d, &f, Listener::callback, &l), WAVE_OK);
    Blocks big(2, 88200); // 1 s each
    for (auto& h : big.headers) {
        waveOutPrepare(d, &h);
        waveOutWrite(d, &h);
    }
    std::this_thread::sleep_for(milliseconds(100));
    waveOutReset(d);
    ASSERT_EQ(waveOutClose(d), WAVE_OK);
    img = readFile(path);
    ASSERT_GT(img.size(), 44u);
    size_t played = img.size() - 44;
    EXPECT_GE(played, 88200u / 20);
    EXPECT_LT(played, 88200u);
    EXPECT_EQ(played % 4, 0u);
    EXPECT_EQ(img.substr(44), big.data[0].substr(0, played));
}

// ALSA's null plugin needs no sound card: it takes the blocks at once, which
// is enough to see the backend run and finish without hanging.
TEST(WaveOut, AlsaNullPcmPlaysOut)
{
    WaveOutChoice choice("alsa:null");
    Listener l;
    WaveOutDevice* d = nullptr;
    WaveFormat f = pcm(2, 44100);
    if (waveOutOpen(&d, &f, Listener::callback, &l) != WAVE_OK) GTEST_SKIP() << "ALSA null PCM not available";
    Blocks b(3, 4096);
    for (auto& h : b.headers) {
        waveOutPrepare(d, &h);
        waveOutWrite(d, &h);
    }
    EXPECT_TRUE(l.waitFor(3, milliseconds(3000)));
    waveOutReset(d);
    EXPECT_EQ(waveOutClose(d), WAVE_OK);
}

// Without a choice ALSA is tried first; on a machine without a sound card the
// device still opens (silent pacing) and ALSA's complaints stay off stderr.
TEST(WaveOut, DefaultChoiceOpensQuietly)
{
    unsetenv("MIROLA2_WAVEOUT");
    Listener l;
    WaveOutDevice* d = nullptr;
    WaveFormat f = pcm(2, 44100);
    testing::internal::CaptureStderr();
    WaveResult rc = waveOutOpen(&d, &f, Listener::callback, &l);
    WaveResult missing;
    {
        WaveOutChoice choice("alsa:no_such_pcm_device");
        WaveOutDevice* none = nullptr;
        missing = waveOutOpen(&none, &f, Listener::callback, &l);
    }
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(rc, WAVE_OK);
    EXPECT_EQ(missing, WAVE_NO_DRIVER);
    EXPECT_EQ(err, "");
    EXPECT_EQ(waveOutClose(d), WAVE_OK);
}
