#pragma once

#include "WFile.h"
#include "WString.h"

// A RIFF/WAVE file of uncompressed PCM. Reading: open checks the header and
// the format chunk, findSoundData walks the chunks to the samples, which are
// then read in pieces. Writing: create writes a 44-byte header that every
// append keeps up to date, so the file on disk is always complete.
// Not copyable: the file handle belongs to one object.
class WWavFile {
public:
    WWavFile();
    explicit WWavFile(const char* fileName);
    ~WWavFile();

    WWavFile(const WWavFile&) = delete;
    WWavFile& operator=(const WWavFile&) = delete;

    // Reading.
    void open(const char* fileName);
    // Moves to the first sample; size is the byte count of the sound data (cut
    // to what the file really holds). False when there is no "data" chunk.
    bool findSoundData(unsigned long& size);
    // The whole sound data in one string.
    bool getSoundData(WString& data);
    // Up to length bytes of sound data; with fill the rest of the buffer is
    // zeroed (silence). 0 at the end of the data.
    unsigned long nextSoundData(unsigned char* buffer, unsigned long length, bool fill);
    // Reads the next chunk header and stands at its content.
    bool nextDataChunkInfo(WString& id, unsigned long& size);
    void nextDataChunk(unsigned char* buffer, unsigned long length);
    void skip(unsigned long bytes);
    // mark and reset let a caller play a stretch of samples again.
    void mark();
    void reset();

    // Writing: 16-bit PCM, mono or stereo.
    void create(const char* fileName, unsigned long sampleRate, bool stereo);
    void appendSoundData(const unsigned char* samples, unsigned long length);

    void close();
    bool isOpen() const { return file.isOpen(); }
    const char* getFileName() const { return file.getFilename(); }
    // The file is deleted when this object goes (a temporary file).
    void setAutoRemove(bool remove) { autoRemove = remove; }

    unsigned long getSampleRate() const { return sampleRate; }
    unsigned long getBytesPerSecond() const { return bytesPerSecond; }
    unsigned long getBitsPerSample() const { return bitsPerSample; }
    unsigned long getChannels() const { return channels; }

private:
    void clearFormat();
    // Moves forward to an absolute position; false when it lies past the end.
    bool seekTo(unsigned long long position);
    // Reads a chunk header at the current position, stepping over the pad
    // byte an odd-sized chunk before it left.
    bool readChunkHeader(WString& id, unsigned long& size);
    void writeHeaderSizes();

    unsigned long sampleRate;
    unsigned long bytesPerSecond;
    unsigned long bitsPerSample;
    unsigned long channels;
    unsigned long soundDataCount;
    unsigned long markedSoundDataCount;
    WFile file;
    unsigned long fileSize;
    bool autoRemove;
};
