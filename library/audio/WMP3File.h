#pragma once

#include <cstdint>

struct Mp3Stream;

// Decoded PCM (16-bit) pulled from an MP3 file block by block, like a file
// read. Not copyable: the decoder handle belongs to one object.
class WMP3File {
public:
    WMP3File();
    // open(fileName, 1.0)
    explicit WMP3File(const char* fileName);
    ~WMP3File();

    WMP3File(const WMP3File&) = delete;
    WMP3File& operator=(const WMP3File&) = delete;

    // value scales the output (1.0 leaves it as decoded). Opening again closes
    // the file opened before.
    void open(const char* fileName, float value);
    void close();
    // Back to the first sample; the same bytes come again.
    void reset();
    bool isOpen() const { return handle != nullptr; }

    // Up to length bytes; fewer only at the end of the file, where fill zeroes
    // the rest of the buffer. 0 at the end (no filling then).
    unsigned long nextSoundData(unsigned char* buffer, unsigned long length, bool fill);

    unsigned long getSampleRate() const { return sampleRate; }
    unsigned long getChannels() const { return channels; }

private:
    Mp3Stream* handle;
    uint32_t sampleRate;
    uint8_t channels;
    float value;
};
