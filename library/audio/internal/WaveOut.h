#pragma once

#include <cstdint>

// Our wave-output layer: a device opened with a PCM format and a callback,
// blocks handed over in prepared headers, played in order on a thread of the
// device, and reported back one by one once they have been played.
//
// The backend is chosen at each open from the environment variable
// MIROLA2_WAVEOUT:
//   alsa[:pcm]   real sound through ALSA (pcm "default" when not given)
//   null         no sound, blocks paced in real time
//   file:PATH    as null, and what was played is written to PATH as a WAV file
//   fail         no device (open fails with WAVE_NO_DRIVER)
// Without the variable ALSA is used when it opens, else null.

struct WaveFormat {
    uint16_t formatTag; // 1 = PCM, the only one accepted
    uint16_t channels; // 1 or 2
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec; // blockAlign * samplesPerSec
    uint16_t blockAlign; // channels * 2
    uint16_t bitsPerSample; // 16
    uint16_t extraSize; // 0
};

struct WaveHeader {
    unsigned char* data;
    uint32_t bufferLength; // bytes of data to play; a whole number of frames
    uint32_t bytesRecorded;
    void* user; // free for the owner
    uint32_t flags; // WAVE_HEADER_*
    uint32_t loops;
    WaveHeader* next;
    void* reserved;
};

enum : uint32_t {
    WAVE_HEADER_DONE = 0x01,
    WAVE_HEADER_PREPARED = 0x02,
    WAVE_HEADER_INQUEUE = 0x10,
};

enum class WaveMessage : uint32_t {
    Open = 0x3BB,
    Close = 0x3BC,
    Done = 0x3BD, // header: the block that has been played (or dropped by a reset)
};

enum WaveResult : int {
    WAVE_OK = 0,
    WAVE_BAD_DEVICE_ID = 2,
    WAVE_INVALID_HANDLE = 5,
    WAVE_NO_DRIVER = 6,
    WAVE_INVALID_PARAM = 11,
    WAVE_BAD_FORMAT = 32,
    WAVE_STILL_PLAYING = 33,
    WAVE_UNPREPARED = 34,
};

struct WaveOutDevice;

// Called on the device's own thread with no lock held, for Done; Open and Close
// are sent from the thread that opens or closes. It must not call the wave
// functions of its own device.
typedef void (*WaveOutCallback)(WaveOutDevice* device, WaveMessage message, void* instance, WaveHeader* header);

WaveResult waveOutOpen(WaveOutDevice** device, const WaveFormat* format, WaveOutCallback callback, void* instance);
WaveResult waveOutPrepare(WaveOutDevice* device, WaveHeader* header);
// WAVE_STILL_PLAYING while the header is queued.
WaveResult waveOutUnprepare(WaveOutDevice* device, WaveHeader* header);
// Queues a prepared header; WAVE_UNPREPARED when it is not prepared,
// WAVE_STILL_PLAYING when it is queued already.
WaveResult waveOutWrite(WaveOutDevice* device, WaveHeader* header);
// Stops at once; every queued header has been returned as done when it returns.
WaveResult waveOutReset(WaveOutDevice* device);
// WAVE_STILL_PLAYING while headers are queued; otherwise frees the device.
WaveResult waveOutClose(WaveOutDevice* device);

// Observations for tests, over all devices since the last reset of the stats.
struct WaveOutStats {
    unsigned opens; // successful opens
    unsigned closes; // devices closed
    unsigned maxQueued; // most headers queued on one device at once
    WaveFormat lastFormat;
};
WaveOutStats waveOutStats();
void waveOutResetStats();
