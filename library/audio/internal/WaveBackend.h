#pragma once

#include "WaveOut.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

// What a sound sink does for the wave-output device. Every call but open and
// close comes from the device's own thread. Byte positions count from the open
// or the last drop.
class WaveBackend {
public:
    virtual ~WaveBackend() = default;
    virtual WaveResult open(const WaveFormat& format) = 0;
    virtual void close() = 0;
    // Takes up to length bytes (whole frames) without waiting long; returns how
    // many were taken (0 when the sink is full right now).
    virtual size_t write(const unsigned char* data, size_t length) = 0;
    // Everything written so far has been handed over; make sure it plays.
    virtual void flush() { }
    // Bytes that have really been played.
    virtual uint64_t playedBytes() = 0;
    // How long until playedBytes() reaches position (a hint for sleeping).
    virtual std::chrono::nanoseconds timeUntilPlayed(uint64_t position) = 0;
    // Forgets everything not yet played; positions start again at 0.
    virtual void drop() = 0;
    // These bytes of a block were played (in order), before the block is returned.
    virtual void played(const unsigned char* /*data*/, size_t /*length*/) { }
};

std::unique_ptr<WaveBackend> makeAlsaBackend(const char* pcmName);
std::unique_ptr<WaveBackend> makeNullBackend();
std::unique_ptr<WaveBackend> makeFileBackend(const char* path);
std::unique_ptr<WaveBackend> makeFailBackend();
