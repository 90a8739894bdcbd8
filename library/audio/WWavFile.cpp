#include "WWavFile.h"

#include "WException.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr unsigned long HEADER_SIZE = 44;
// The RIFF size field holds the data size plus 36 in 32 bits.
constexpr unsigned long long MAX_SOUND_DATA = 0xFFFFFFFFull - 36;

uint32_t get32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

uint16_t get16(const unsigned char* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (unsigned char)(v >> (8 * i));
}

void put16(unsigned char* p, uint16_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

} // namespace

WWavFile::WWavFile() : fileSize(0), autoRemove(false)
{
    clearFormat();
}

WWavFile::WWavFile(const char* fileName) : WWavFile()
{
    open(fileName);
}

WWavFile::~WWavFile()
{
    if (!autoRemove) return;
    try {
        WString name(file.getFilename());
        file.close();
        if (name.length()) ::unlink(name);
    } catch (...) {
    }
}

void WWavFile::clearFormat()
{
    sampleRate = bytesPerSecond = bitsPerSample = channels = 0;
    soundDataCount = markedSoundDataCount = 0;
}

void WWavFile::open(const char* fileName)
{
    file.open(fileName, false);
    clearFormat();
    fileSize = file.getSize();

    unsigned char riff[12];
    file.read(riff, sizeof riff);
    if (memcmp(riff, "RIFF", 4) != 0 || memcmp(riff + 8, "WAVE", 4) != 0)
        throw WavFileException("No WAV-Format file!", -1);

    unsigned char fmt[24];
    file.read(fmt, sizeof fmt);
    uint32_t chunkSize = get32(fmt + 4);
    if (memcmp(fmt, "fmt", 3) != 0 || get16(fmt + 8) != 1 || chunkSize < 16)
        throw WavFileException("Invalid WAV-Format file!", -1);
    if (chunkSize > 16 && !seekTo(file.getPos() + (chunkSize - 16ull)))
        throw WavFileException("Invalid WAV-Format file!", -1);

    channels = get16(fmt + 10);
    sampleRate = get32(fmt + 12);
    bytesPerSecond = get32(fmt + 16);
    bitsPerSample = get16(fmt + 22);
}

bool WWavFile::seekTo(unsigned long long position)
{
    if (position > fileSize) return false;
    unsigned long long pos = file.getPos();
    if (position < pos) {
        if (position > (unsigned long long)INT_MAX) return false;
        file.setPos((int)position);
        return true;
    }
    // WFile moves by int distances: cross large gaps in steps.
    while (pos < position) {
        unsigned long long step = std::min<unsigned long long>(position - pos, INT_MAX);
        file.skip((int)step);
        pos += step;
    }
    return true;
}

bool WWavFile::readChunkHeader(WString& id, unsigned long& size)
{
    unsigned long long pos = file.getPos();
    // Chunks start at even offsets; an odd-sized chunk is followed by a zero
    // pad byte (which careless writers leave out: then no zero stands here).
    if ((pos & 1) && pos < fileSize && file.readByte() != 0)
        file.skip(-1);
    else if (pos & 1)
        ++pos;
    if (pos + 8 > fileSize) return false;
    unsigned char header[8];
    file.read(header, sizeof header);
    id.assign((const char*)header, 4);
    id.trim();
    size = get32(header + 4);
    return true;
}

bool WWavFile::findSoundData(unsigned long& size)
{
    soundDataCount = 0;
    if (!file.isOpen()) return false;
    WString id;
    for (;;) {
        unsigned long chunkSize = 0;
        if (!readChunkHeader(id, chunkSize)) return false;
        unsigned long long start = file.getPos();
        if (id.equals("data")) {
            // Streaming writers leave placeholder sizes: take what is there.
            size = (unsigned long)std::min<unsigned long long>(chunkSize, fileSize - start);
            soundDataCount = size;
            return true;
        }
        if (!seekTo(start + chunkSize)) return false;
    }
}

bool WWavFile::getSoundData(WString& data)
{
    unsigned long size = 0;
    if (!findSoundData(size)) return false;
    if (size == 0) {
        data.clear();
        return true;
    }
    if (data.getBufLength() < size + 1) data.resize(size);
    file.read(data.getBuf(), size);
    data.truncate(size);
    soundDataCount = 0;
    return true;
}

unsigned long WWavFile::nextSoundData(unsigned char* buffer, unsigned long length, bool fill)
{
    unsigned long n = std::min(length, soundDataCount);
    if (n > 0) file.read(buffer, n);
    if (fill && length > n) memset(buffer + n, 0, length - n);
    soundDataCount -= n;
    return n;
}

bool WWavFile::nextDataChunkInfo(WString& id, unsigned long& size)
{
    if (!file.isOpen()) return false;
    return readChunkHeader(id, size);
}

void WWavFile::nextDataChunk(unsigned char* buffer, unsigned long length)
{
    file.read(buffer, length);
}

void WWavFile::skip(unsigned long bytes)
{
    unsigned long long target = (unsigned long long)file.getPos() + bytes;
    if (!seekTo(target)) throw WFileException("Cannot set file pointer.", -5);
}

void WWavFile::mark()
{
    file.mark();
    markedSoundDataCount = soundDataCount;
}

void WWavFile::reset()
{
    file.reset();
    soundDataCount = markedSoundDataCount;
}

void WWavFile::create(const char* fileName, unsigned long rate, bool stereo)
{
    file.create(fileName, false);
    clearFormat();
    sampleRate = rate;
    channels = stereo ? 2 : 1;
    bitsPerSample = 16;
    bytesPerSecond = 2 * channels * sampleRate;
    fileSize = 0;

    unsigned char h[HEADER_SIZE];
    memcpy(h, "RIFF", 4);
    put32(h + 4, 0);
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);
    put16(h + 22, (uint16_t)channels);
    put32(h + 24, (uint32_t)sampleRate);
    put32(h + 28, (uint32_t)bytesPerSecond);
    put16(h + 32, (uint16_t)(2 * channels));
    put16(h + 34, 16);
    memcpy(h + 36, "data", 4);
    put32(h + 40, 0);
    file.write(h, sizeof h);
}

void WWavFile::appendSoundData(const unsigned char* samples, unsigned long length)
{
    if ((unsigned long long)soundDataCount + length > MAX_SOUND_DATA) throw WavFileException("WAV file too large!", -1);
    file.write(samples, length);
    soundDataCount += length;
    writeHeaderSizes();
}

void WWavFile::writeHeaderSizes()
{
    unsigned char size[4];
    file.mark();
    put32(size, (uint32_t)soundDataCount);
    file.setPos(40);
    file.write(size, 4);
    put32(size, (uint32_t)(soundDataCount + 36));
    file.setPos(4);
    file.write(size, 4);
    file.reset();
}

void WWavFile::close()
{
    file.close();
}
