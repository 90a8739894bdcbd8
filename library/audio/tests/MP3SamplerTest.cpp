#include "AudioTestSupport.h"
#include "WMP3File.h"
#include "WMP3Sampler.h"
#include "WWavFile.h"
#include "internal/WaveOut.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace audiotest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

std::string baseName(const char* path)
{
    std::string s(path);
    return s.substr(s.find_last_of('/') + 1);
}

// Records Begin/End events ("B:file", "E:file") and lets the test wait for them.
struct Events final : WMP3SamplerEventHandler {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> log;
    std::vector<std::thread::id> threads;
    std::vector<void*> params;
    std::function<void(bool begin, const char* file)> hook;

    void record(const char* tag, const char* file, void* param)
    {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(tag + baseName(file));
        threads.push_back(std::this_thread::get_id());
        params.push_back(param);
        changed.notify_all();
    }

    void onMP3SamplerBegin(const char* file, void* param) override
    {
        record("B:", file, param);
        if (hook) hook(true, file);
    }

    void onMP3SamplerEnd(const char* file, void* param) override
    {
        record("E:", file, param);
        if (hook) hook(false, file);
    }

    bool waitFor(size_t n, milliseconds limit = milliseconds(5000))
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return log.size() >= n; });
    }

    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return log;
    }
};

std::string decode(const char* name)
{
    WMP3File mp3(fixture(name).c_str());
    std::string out;
    unsigned char buf[16384];
    while (unsigned long n = mp3.nextSoundData(buf, sizeof buf, false))
        out.append((const char*)buf, n);
    return out;
}

void waitIdle(WMP3Sampler& s)
{
    for (int i = 0; i < 2000 && s.isActive(); ++i)
        std::this_thread::sleep_for(milliseconds(1));
}

} // namespace

// What the device played is exactly what the decoder delivers: no block lost,
// overwritten or cut off at the end.
TEST(MP3Sampler, PlaysTheWholeFileThroughTheDevice)
{
    struct Case {
        const char* file;
        unsigned long rate, channels, bytesPerSec, blockAlign;
    } cases[] = {
        {"stereo_44k_1s.mp3", 44100, 2, 176400, 4},
        {"mono_22k_half.mp3", 22050, 1, 44100, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir tmp;
        std::string out = tmp.path("played.wav");
        WaveOutChoice choice("file:" + out);
        waveOutResetStats();
        Events ev;
        int param = 0;
        WMP3Sampler s;
        s.create();
        s.setEventHandler(&ev, &param);
        EXPECT_EQ(s.getEventHandlerParam(), &param);
        auto start = Clock::now();
        s.play(fixture(c.file).c_str(), true);
        ASSERT_TRUE(ev.waitFor(2));
        auto took = Clock::now() - start;
        waitIdle(s);
        EXPECT_FALSE(s.isActive());

        EXPECT_EQ(ev.events(), (std::vector<std::string> {"B:" + std::string(c.file), "E:" + std::string(c.file)}));
        EXPECT_NE(ev.threads[0], std::this_thread::get_id());
        EXPECT_EQ(ev.params[0], &param);
        std::string expected = decode(c.file);
        // Played in real time, to the end.
        EXPECT_GE(took, milliseconds(expected.size() * 1000 / c.bytesPerSec - 60));

        WWavFile wav(out.c_str());
        EXPECT_EQ(wav.getChannels(), c.channels);
        EXPECT_EQ(wav.getSampleRate(), c.rate);
        EXPECT_EQ(wav.getBytesPerSecond(), c.bytesPerSec);
        WaveOutStats stats = waveOutStats();
        EXPECT_EQ(stats.lastFormat.blockAlign, c.blockAlign);
        EXPECT_EQ(stats.lastFormat.avgBytesPerSec, c.bytesPerSec);
        EXPECT_LE(stats.maxQueued, (unsigned)WMP3Sampler::QUEUE_DEPTH);
        WString data;
        ASSERT_TRUE(wav.getSoundData(data));
        ASSERT_EQ(data.length(), expected.size());
        EXPECT_TRUE(std::string(data.getBuf(), data.length()) == expected) << "played sound differs from the decoding";
    }
}

TEST(MP3Sampler, StopEndsPlaybackPromptly)
{
    TempDir tmp;
    std::string out = tmp.path("played.wav");
    WaveOutChoice choice("file:" + out);
    Events ev;
    WMP3Sampler s;
    s.setEventHandler(&ev, nullptr);
    s.play(fixture("stereo_44k_1s.mp3").c_str(), false); // without create: buffers are made on demand
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_TRUE(s.isActive());
    auto start = Clock::now();
    s.stop();
    EXPECT_LT(Clock::now() - start, milliseconds(300));
    EXPECT_FALSE(s.isActive());
    EXPECT_EQ(ev.events(), (std::vector<std::string> {"B:stereo_44k_1s.mp3", "E:stereo_44k_1s.mp3"}));
    std::string played = readFile(out);
    ASSERT_GE(played.size(), 44u);
    EXPECT_LT(played.size() - 44, decode("stereo_44k_1s.mp3").size() / 2);
}

TEST(MP3Sampler, PlayWhilePlayingEndsTheFirstFile)
{
    WaveOutChoice choice("null");
    Events ev;
    WMP3Sampler s;
    s.create();
    s.setEventHandler(&ev, nullptr);
    s.play(fixture("stereo_44k_1s.mp3").c_str(), false);
    ASSERT_TRUE(ev.waitFor(1));
    std::this_thread::sleep_for(milliseconds(50));
    s.play(fixture("mono_22k_half.mp3").c_str(), false);
    ASSERT_TRUE(ev.waitFor(4));
    EXPECT_EQ(ev.events(),
        (std::vector<std::string> {
            "B:stereo_44k_1s.mp3", "E:stereo_44k_1s.mp3", "B:mono_22k_half.mp3", "E:mono_22k_half.mp3"}));
    s.close();
}

// With no device the file ends at once; that makes the control calls from
// inside the handler quick to check.
TEST(MP3Sampler, WithoutADeviceBeginAndEndStillCome)
{
    WaveOutChoice choice("fail");
    Events ev;
    WMP3Sampler s;
    s.setEventHandler(&ev, nullptr);
    s.play(fixture("mono_22k_half.mp3").c_str(), false);
    ASSERT_TRUE(ev.waitFor(2, milliseconds(2000)));
    waitIdle(s);
    s.restart();
    ASSERT_TRUE(ev.waitFor(4, milliseconds(2000)));
    waitIdle(s);
    s.play("/nonexistent/missing.mp3", false);
    ASSERT_TRUE(ev.waitFor(6, milliseconds(2000)));
    EXPECT_EQ(ev.events(),
        (std::vector<std::string> {"B:mono_22k_half.mp3", "E:mono_22k_half.mp3", "B:mono_22k_half.mp3",
            "E:mono_22k_half.mp3", "B:missing.mp3", "E:missing.mp3"}));
}

TEST(MP3Sampler, HandlerMayPlayAndStopFromTheSamplersThread)
{
    WaveOutChoice choice("fail");
    Events ev;
    WMP3Sampler s;
    int ends = 0;
    std::string next = fixture("mono_22k_half.mp3");
    ev.hook = [&](bool begin, const char*) {
        if (!begin && ++ends < 3) s.play(next.c_str(), false); // a playlist: the next file after this one
        if (begin && ends == 2) s.stop();
    };
    s.setEventHandler(&ev, nullptr);
    s.play(fixture("stereo_44k_1s.mp3").c_str(), false);
    ASSERT_TRUE(ev.waitFor(6, milliseconds(3000)));
    waitIdle(s);
    EXPECT_FALSE(s.isActive());
    EXPECT_EQ(ev.events(),
        (std::vector<std::string> {"B:stereo_44k_1s.mp3", "E:stereo_44k_1s.mp3", "B:mono_22k_half.mp3",
            "E:mono_22k_half.mp3", "B:mono_22k_half.mp3", "E:mono_22k_half.mp3"}));
}

TEST(MP3Sampler, DestroyingAPlayingSamplerStopsIt)
{
    WaveOutChoice choice("null");
    Events ev;
    auto start = Clock::now();
    {
        WMP3Sampler s;
        s.setEventHandler(&ev, nullptr);
        s.play(fixture("stereo_44k_1s.mp3").c_str(), false);
        ASSERT_TRUE(ev.waitFor(1));
    }
    EXPECT_LT(Clock::now() - start, milliseconds(500));
    EXPECT_EQ(ev.events().size(), 2u);
}

// ALSA's null plugin takes the sound as fast as it comes: the ALSA path from
// open to the drained end runs without a sound card.
TEST(MP3Sampler, PlaysThroughAlsaWhereAPcmOpens)
{
    WaveOutChoice choice("alsa:null");
    Events ev;
    WMP3Sampler s;
    s.setEventHandler(&ev, nullptr);
    waveOutResetStats();
    s.play(fixture("mono_22k_half.mp3").c_str(), false);
    ASSERT_TRUE(ev.waitFor(2, milliseconds(3000)));
    waitIdle(s);
    if (waveOutStats().opens == 0) GTEST_SKIP() << "ALSA null PCM not available";
    EXPECT_EQ(waveOutStats().lastFormat.channels, 1);
}

// play and stop from two threads at once take turns: every device opened is
// closed exactly once, no call hangs, and the sampler ends idle.
TEST(MP3Sampler, PlayAndStopFromTwoThreads)
{
    WaveOutChoice choice("null");
    waveOutResetStats();
    std::atomic<bool> finished {false};
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !finished; ++i)
            std::this_thread::sleep_for(milliseconds(100));
        if (!finished) {
            fprintf(stderr, "play and stop from two threads hang\n");
            std::abort();
        }
    });
    {
        WMP3Sampler s;
        s.create();
        std::string first = fixture("stereo_44k_1s.mp3");
        std::string second = fixture("mono_22k_half.mp3");
        auto hammer = [&](const std::string& file, int seed) {
            for (int i = 0; i < 40; ++i) {
                s.play(file.c_str(), false);
                if ((i + seed) % 3 == 0) std::this_thread::sleep_for(milliseconds(2));
                if ((i + seed) % 2 == 0)
                    s.stop();
                else
                    s.restart();
            }
        };
        std::thread a(hammer, first, 0);
        std::thread b(hammer, second, 1);
        a.join();
        b.join();
        s.stop();
        EXPECT_FALSE(s.isActive());
        s.close();
    }
    finished = true;
    watchdog.join();
    WaveOutStats stats = waveOutStats();
    EXPECT_GT(stats.opens, 0u);
    EXPECT_EQ(stats.closes, stats.opens);
}
