#pragma once

#include <cstdint>

// Our MP3 decoder interface over libmpg123: a pull side (open, decode,
// position, close) and a push side (stream out through three callbacks).
// Output is always signed 16-bit little-endian PCM at the file's own rate
// and channel count.

struct Mp3Stream;
typedef Mp3Stream* Mp3Handle;

// Filled in by mp3Open. gain scales the output (values <= 0 or 1.0 leave the
// samples untouched).
struct Mp3OpenInfo {
    uint32_t reserved; // 0
    uint32_t sampleRate; // reported: samples per second
    uint8_t channels; // reported: 1 or 2
    uint8_t pad[3];
    float gain;
};

typedef int (*Mp3WriteCallback)(const void* samples, unsigned long length, void* user, void* extra);
typedef int (*Mp3InitCallback)(int stereoFlag, unsigned long sampleRate, void* user, void* extra);
typedef int (*Mp3CloseCallback)(void* user, void* extra);

// Handed to mp3StreamOut. playFlag is reserved and not interpreted.
struct Mp3StreamOutRecord {
    Mp3WriteCallback write;
    Mp3InitCallback init;
    Mp3CloseCallback close;
    void* user;
    const char* fileName;
    void* extra;
    uint32_t playFlag;
};

// Largest piece mp3StreamOut hands to the write callback.
constexpr unsigned long MP3_STREAM_PIECE = 16384;

// Returns a handle, or null when the file cannot be opened or holds no MPEG audio.
Mp3Handle mp3Open(const char* fileName, Mp3OpenInfo* info);
// Fills buffer with up to length bytes of PCM; fewer only at the end of the data.
unsigned long mp3Decode(Mp3Handle handle, void* buffer, unsigned long length);
// Position 0 reopens the file so the next decode replays byte-identical output;
// other positions are sample frames. Returns 0 on success, -1 on failure.
int mp3SetPos(Mp3Handle handle, unsigned long position);
void mp3Close(Mp3Handle handle);
// Decodes the whole file on the calling thread: init once, then write for every
// piece (at most MP3_STREAM_PIECE bytes) until the end or a negative return from
// write, then close. Returns 0 when the file was played out, -1 when it could not
// be opened (no callback then) or init refused (close is not called then), 1 when
// write stopped it.
int mp3StreamOut(const char* fileName, Mp3StreamOutRecord* record);
