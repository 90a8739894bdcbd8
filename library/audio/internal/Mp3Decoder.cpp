#include "Mp3Decoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

struct Mp3Stream {
    std::string fileName;
    mpg123_handle* mh = nullptr;
    int fd = -1;
    long rate = 0;
    int channels = 0;
    float gain = 0;
};

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

int openReadOnly(const char* path)
{
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void closeFile(Mp3Stream* s)
{
    if (s->mh) mpg123_close(s->mh);
    if (s->fd >= 0) {
        ::close(s->fd);
        s->fd = -1;
    }
}

// Opens (or reopens) the stream's file and checks that it really holds MPEG
// audio: mpg123_open alone accepts any file, the format query does not.
bool openFile(Mp3Stream* s)
{
    s->fd = openReadOnly(s->fileName.c_str());
    if (s->fd < 0) return false;
    if (mpg123_open_fd(s->mh, s->fd) != MPG123_OK) {
        closeFile(s);
        return false;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(s->mh, &rate, &channels, &encoding) != MPG123_OK || encoding != MPG123_ENC_SIGNED_16
        || channels < 1 || channels > 2) {
        closeFile(s);
        return false;
    }
    s->rate = rate;
    s->channels = channels;
    return true;
}

Mp3Stream* openStream(const char* fileName, float gain)
{
    if (!fileName) return nullptr;
    initLibrary();
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (!mh) return nullptr;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // Only 16-bit output, at whatever rate and channel count the file has.
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (gain > 0 && gain != 1.0f) mpg123_volume(mh, gain);

    auto* s = new Mp3Stream;
    s->fileName = fileName;
    s->mh = mh;
    s->gain = gain;
    if (!openFile(s)) {
        mpg123_delete(mh);
        delete s;
        return nullptr;
    }
    return s;
}

void closeStream(Mp3Stream* s)
{
    closeFile(s);
    mpg123_delete(s->mh);
    delete s;
}

} // namespace

Mp3Handle mp3Open(const char* fileName, Mp3OpenInfo* info)
{
    Mp3Stream* s = openStream(fileName, info ? info->gain : 0.0f);
    if (s && info) {
        info->sampleRate = (uint32_t)s->rate;
        info->channels = (uint8_t)s->channels;
    }
    return s;
}

unsigned long mp3Decode(Mp3Handle s, void* buffer, unsigned long length)
{
    if (!s || s->fd < 0 || !buffer) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    unsigned long total = 0;
    while (total < length) {
        size_t done = 0;
        int rc = mpg123_read(s->mh, out + total, length - total, &done);
        total += done;
        if (rc == MPG123_OK || rc == MPG123_NEW_FORMAT) continue;
        break; // MPG123_DONE or an error: what was decoded so far is the result
    }
    return total;
}

int mp3SetPos(Mp3Handle s, unsigned long position)
{
    if (!s) return -1;
    if (position == 0) {
        // A seek to 0 does not replay every stream identically; a reopen does.
        closeFile(s);
        return openFile(s) ? 0 : -1;
    }
    if (s->fd < 0) return -1;
    return mpg123_seek(s->mh, (off_t)position, SEEK_SET) < 0 ? -1 : 0;
}

void mp3Close(Mp3Handle s)
{
    if (s) closeStream(s);
}

int mp3StreamOut(const char* fileName, Mp3StreamOutRecord* r)
{
    if (!r || !r->write || !r->init) return -1;
    Mp3Stream* s = openStream(fileName, 0.0f);
    if (!s) return -1;
    if (r->init(s->channels == 2 ? 1 : 0, (unsigned long)s->rate, r->user, r->extra) < 0) {
        closeStream(s);
        return -1;
    }
    unsigned char piece[MP3_STREAM_PIECE];
    int result = 0;
    for (;;) {
        unsigned long n = mp3Decode(s, piece, sizeof piece);
        if (n == 0) break;
        if (r->write(piece, n, r->user, r->extra) < 0) {
            result = 1;
            break;
        }
        if (n < sizeof piece) break;
    }
    if (r->close) r->close(r->user, r->extra);
    closeStream(s);
    return result;
}
