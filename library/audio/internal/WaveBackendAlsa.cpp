#include "WaveBackend.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string>

namespace {

using std::chrono::nanoseconds;

// ALSA reports every missing card or plugin on stderr; a library that falls
// back to silent output must not chatter.
void silentErrorHandler(const char*, int, const char*, int, const char*, ...)
{
}

void silenceAlsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(silentErrorHandler); });
}

// Non-blocking ALSA playback. A block counts as played once the device's delay
// says its last frame has left the speaker, not when it entered the buffer.
class AlsaBackend : public WaveBackend {
public:
    explicit AlsaBackend(const char* name) : pcmName(name && *name ? name : "default") { }
    ~AlsaBackend() override { close(); }

    WaveResult open(const WaveFormat& format) override
    {
        silenceAlsa();
        close();
        if (snd_pcm_open(&pcm, pcmName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            pcm = nullptr;
            return WAVE_NO_DRIVER;
        }
        if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels,
                format.samplesPerSec, 1, 100000)
            < 0) {
            close();
            return WAVE_BAD_FORMAT;
        }
        frameBytes = format.blockAlign;
        bytesPerSec = format.avgBytesPerSec;
        written = lastPlayed = 0;
        broken = false;
        return WAVE_OK;
    }

    void close() override
    {
        if (pcm) {
            snd_pcm_drop(pcm);
            snd_pcm_close(pcm);
            pcm = nullptr;
        }
    }

    size_t write(const unsigned char* data, size_t length) override
    {
        if (broken) { // nothing plays any more: let the blocks go rather than hang
            written += length;
            return length;
        }
        snd_pcm_sframes_t n = snd_pcm_writei(pcm, data, length / frameBytes);
        if (n == -EAGAIN) return 0;
        if (n < 0) {
            // An underrun (or a suspend) loses what the buffer held: count it as played.
            written = std::max(written, lastPlayed);
            if (snd_pcm_recover(pcm, (int)n, 1) < 0) broken = true;
            lastPlayed = written;
            return 0;
        }
        written += (uint64_t)n * frameBytes;
        return (size_t)n * frameBytes;
    }

    void flush() override
    {
        // Playback starts by itself only once the buffer is full; a short
        // sound, or the tail of a long one, has to be started by hand.
        if (!broken && snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && written > lastPlayed) snd_pcm_start(pcm);
    }

    uint64_t playedBytes() override
    {
        if (broken) return lastPlayed = written;
        snd_pcm_sframes_t delay = 0;
        int rc = snd_pcm_delay(pcm, &delay);
        uint64_t played;
        if (rc < 0) {
            // Ran dry (the normal end of a sound) or failed: all that was written is gone.
            if (snd_pcm_recover(pcm, rc, 1) < 0) broken = true;
            played = written;
        } else {
            uint64_t pending = (uint64_t)std::max<snd_pcm_sframes_t>(delay, 0) * frameBytes;
            played = pending < written ? written - pending : 0;
        }
        lastPlayed = std::max(lastPlayed, std::min(played, written));
        return lastPlayed;
    }

    nanoseconds timeUntilPlayed(uint64_t position) override
    {
        uint64_t left = position > lastPlayed ? position - lastPlayed : 0;
        auto estimate = nanoseconds(left * 1000000000ull / bytesPerSec);
        return std::clamp<nanoseconds>(estimate, std::chrono::milliseconds(1), std::chrono::milliseconds(10));
    }

    void drop() override
    {
        if (!broken) {
            snd_pcm_drop(pcm);
            if (snd_pcm_prepare(pcm) < 0) broken = true;
        }
        written = lastPlayed = 0;
    }

private:
    std::string pcmName;
    snd_pcm_t* pcm = nullptr;
    uint64_t frameBytes = 4;
    uint64_t bytesPerSec = 176400;
    uint64_t written = 0;
    uint64_t lastPlayed = 0;
    bool broken = false;
};

} // namespace

std::unique_ptr<WaveBackend> makeAlsaBackend(const char* pcmName)
{
    return std::make_unique<AlsaBackend>(pcmName);
}
