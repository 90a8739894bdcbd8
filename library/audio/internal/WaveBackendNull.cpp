#include "WaveBackend.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

// Plays nothing, but takes exactly as long as the sound would: the blocks are
// laid end to end on the monotonic clock, and an idle gap restarts the clock.
class NullBackend : public WaveBackend {
public:
    WaveResult open(const WaveFormat& format) override
    {
        bytesPerSec = format.avgBytesPerSec;
        blockAlign = format.blockAlign;
        drop();
        return WAVE_OK;
    }

    void close() override { }

    size_t write(const unsigned char*, size_t length) override
    {
        Clock::time_point now = Clock::now();
        if (endTime < now) endTime = now;
        endTime += duration(length);
        written += length;
        return length;
    }

    uint64_t playedBytes() override
    {
        Clock::time_point now = Clock::now();
        uint64_t played = written;
        if (now < endTime) {
            uint64_t left = bytesFor(endTime - now);
            played = left < written ? written - left : 0;
            played -= played % blockAlign;
        }
        lastPlayed = std::max(lastPlayed, std::min(played, written));
        return lastPlayed;
    }

    nanoseconds timeUntilPlayed(uint64_t position) override
    {
        if (position >= written) return std::max(nanoseconds(0), endTime - Clock::now());
        Clock::time_point at = endTime - duration(written - position);
        return std::max(nanoseconds(0), at - Clock::now());
    }

    void drop() override
    {
        written = 0;
        lastPlayed = 0;
        endTime = Clock::now();
    }

private:
    nanoseconds duration(uint64_t bytes) const
    {
        return nanoseconds((bytes * 1000000000ull + bytesPerSec - 1) / bytesPerSec);
    }

    uint64_t bytesFor(nanoseconds time) const
    {
        return ((uint64_t)time.count() * bytesPerSec + 999999999ull) / 1000000000ull;
    }

    uint64_t bytesPerSec = 1;
    uint64_t blockAlign = 1;
    uint64_t written = 0;
    uint64_t lastPlayed = 0;
    Clock::time_point endTime;
};

void putLE(unsigned char* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = (unsigned char)(v >> (8 * i));
}

bool writeAll(int fd, const unsigned char* data, size_t length)
{
    while (length) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= (size_t)n;
    }
    return true;
}

// Null pacing, and a WAV file of exactly the sound that was played, with its
// sizes filled in when the device closes.
class FileBackend : public NullBackend {
public:
    explicit FileBackend(const char* p) : path(p) { }
    ~FileBackend() override { close(); }

    WaveResult open(const WaveFormat& f) override
    {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return WAVE_NO_DRIVER;
        format = f;
        dataBytes = 0;
        if (!writeHeader()) {
            close();
            return WAVE_NO_DRIVER;
        }
        return NullBackend::open(f);
    }

    void close() override
    {
        if (fd < 0) return;
        writeHeader();
        ::close(fd);
        fd = -1;
    }

    void played(const unsigned char* data, size_t length) override
    {
        if (fd >= 0 && dataBytes + length <= 0xFFFFFFFFull - 36 && writeAll(fd, data, length)) dataBytes += length;
    }

private:
    bool writeHeader()
    {
        unsigned char h[44];
        std::copy_n("RIFF", 4, h);
        putLE(h + 4, (uint32_t)(dataBytes + 36), 4);
        std::copy_n("WAVEfmt ", 8, h + 8);
        putLE(h + 16, 16, 4);
        putLE(h + 20, format.formatTag, 2);
        putLE(h + 22, format.channels, 2);
        putLE(h + 24, format.samplesPerSec, 4);
        putLE(h + 28, format.avgBytesPerSec, 4);
        putLE(h + 32, format.blockAlign, 2);
        putLE(h + 34, format.bitsPerSample, 2);
        std::copy_n("data", 4, h + 36);
        putLE(h + 40, (uint32_t)dataBytes, 4);
        off_t end = (off_t)(44 + dataBytes);
        bool ok = ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, h, sizeof h);
        return ::lseek(fd, end, SEEK_SET) == end && ok;
    }

    std::string path;
    int fd = -1;
    WaveFormat format {};
    uint64_t dataBytes = 0;
};

class FailBackend : public NullBackend {
public:
    WaveResult open(const WaveFormat&) override { return WAVE_NO_DRIVER; }
};

} // namespace

std::unique_ptr<WaveBackend> makeNullBackend()
{
    return std::make_unique<NullBackend>();
}

std::unique_ptr<WaveBackend> makeFileBackend(const char* path)
{
    return std::make_unique<FileBackend>(path);
}

std::unique_ptr<WaveBackend> makeFailBackend()
{
    return std::make_unique<FailBackend>();
}
