#include "WMP3File.h"

#include "WException.h"
#include "WString.h"
#include "WSystem.h"
#include "internal/Mp3Decoder.h"

#include <cstring>

WMP3File::WMP3File() : handle(nullptr), sampleRate(0), channels(0), value(0)
{
}

WMP3File::WMP3File(const char* fileName) : WMP3File()
{
    open(fileName, 1.0f);
}

WMP3File::~WMP3File()
{
    try {
        close();
    } catch (...) {
    }
}

void WMP3File::open(const char* fileName, float gain)
{
    if (!WSystem::existsFile(fileName)) throw WFileNotFoundException(WFormattedString("File not found: %s", fileName));
    close();
    value = gain;
    Mp3OpenInfo info;
    memset(&info, 0, sizeof info);
    info.gain = gain;
    Mp3Handle h = mp3Open(fileName, &info);
    if (!h) throw WMP3FileException(WFormattedString("Cannot open MP3 file: %s", fileName), -1);
    handle = h;
    sampleRate = info.sampleRate;
    channels = info.channels;
}

void WMP3File::close()
{
    if (!handle) return;
    mp3Close(handle);
    handle = nullptr;
}

void WMP3File::reset()
{
    if (handle) mp3SetPos(handle, 0);
}

unsigned long WMP3File::nextSoundData(unsigned char* buffer, unsigned long length, bool fill)
{
    if (!handle) return 0;
    unsigned long n = mp3Decode(handle, buffer, length);
    if (fill && n > 0 && n < length) memset(buffer + n, 0, length - n);
    return n;
}
