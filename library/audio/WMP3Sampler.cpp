#include "WMP3Sampler.h"

#include "WException.h"
#include "internal/AutoResetEvent.h"
#include "internal/Mp3Decoder.h"
#include "internal/RunnerMark.h"
#include "internal/WaveOut.h"

#include <chrono>
#include <cstring>
#include <new>

using std::chrono::nanoseconds;

struct WMP3Sampler::Output {
    WaveOutDevice* device = nullptr;
    WaveFormat format {};
    std::unique_ptr<WaveHeader[]> headers;
    AutoResetEvent blockDone;
    Mp3StreamOutRecord streamOut {};

    static void waveCallback(WaveOutDevice* from, WaveMessage message, void* instance, WaveHeader* header);
    static int streamWrite(const void* samples, unsigned long length, void* user, void* extra);
    static int streamInit(int stereoFlag, unsigned long sampleRate, void* user, void* extra);
    static int streamClose(void* user, void* extra);
};

WMP3Sampler::WMP3Sampler()
    : output(std::make_unique<Output>()), writeIndex(0), throttle(false), playFlag(false), stopRequest(false),
      handler(nullptr), handlerParam(nullptr), inFlight(0), pendingPlay(false), pendingFlag(false), stopping(false),
      joining(false)
{
}

WMP3Sampler::~WMP3Sampler()
{
    try {
        stop();
    } catch (WException&) {
    }
    freeBuffers();
}

void WMP3Sampler::makeBuffers()
{
    freeBuffers();
    output->headers.reset(new (std::nothrow) WaveHeader[BLOCK_COUNT]());
    blocks.reset(new (std::nothrow) unsigned char[BLOCK_COUNT * BLOCK_SIZE]());
    if (!output->headers || !blocks) {
        freeBuffers();
        throw WException("Cannot create block buffer for MP3 sampler. Out of memory!", -1);
    }
    writeIndex = 0;
}

void WMP3Sampler::freeBuffers()
{
    output->headers.reset();
    blocks.reset();
}

// The buffers are only in use while a file streams; the event handler runs
// outside that, so from there they can be replaced without stopping.
void WMP3Sampler::create()
{
    if (onOwnThread()) {
        makeBuffers();
        return;
    }
    std::unique_lock<std::mutex> lock(controlMutex);
    stopAndWait(lock);
    makeBuffers();
}

void WMP3Sampler::close()
{
    if (onOwnThread()) {
        freeBuffers();
        return;
    }
    std::unique_lock<std::mutex> lock(controlMutex);
    stopAndWait(lock);
    freeBuffers();
}

void WMP3Sampler::startThread()
{
    if (!blocks) makeBuffers();
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        stopping = false;
    }
    stopRequest = false;
    if (!thread.start(this)) return;
    // Best effort: the file is already playing, refusing now would only hide that.
    try {
        thread.setPriority(WThread::PRIORITY_TIME_CRITICAL);
    } catch (WThreadException&) {
    }
}

void WMP3Sampler::stopAndWait(std::unique_lock<std::mutex>& lock)
{
    // Another caller is waiting for the thread already: its end is ours too.
    controlChanged.wait(lock, [this] { return !joining; });
    {
        std::lock_guard<std::mutex> request(requestMutex);
        pendingPlay = false;
        stopping = true; // the handler must not start another file meanwhile
    }
    stopRequest = true;
    if (!thread.isActive()) return;
    joining = true;
    lock.unlock();
    output->blockDone.signal();
    thread.join(WThread::INFINITE_WAIT);
    lock.lock();
    joining = false;
    controlChanged.notify_all();
}

void WMP3Sampler::play(const char* name, bool flag)
{
    if (onOwnThread()) {
        std::lock_guard<std::mutex> lock(requestMutex);
        if (stopping) return; // a stop from outside wins
        pendingFile = name;
        pendingFlag = flag;
        pendingPlay = true;
        stopRequest = true;
        return;
    }
    std::unique_lock<std::mutex> lock(controlMutex);
    stopAndWait(lock);
    playFlag = flag;
    fileName = name;
    startThread();
}

void WMP3Sampler::restart()
{
    if (onOwnThread()) {
        std::lock_guard<std::mutex> lock(requestMutex);
        if (!pendingPlay && !stopping) {
            pendingFile = fileName;
            pendingFlag = playFlag;
            pendingPlay = true;
        }
        return;
    }
    std::unique_lock<std::mutex> lock(controlMutex);
    controlChanged.wait(lock, [this] { return !joining; });
    if (thread.isActive()) return;
    startThread();
}

void WMP3Sampler::stop()
{
    if (onOwnThread()) {
        std::lock_guard<std::mutex> lock(requestMutex);
        pendingPlay = false;
        stopRequest = true;
        return;
    }
    std::unique_lock<std::mutex> lock(controlMutex);
    stopAndWait(lock);
}

bool WMP3Sampler::isActive() const
{
    return thread.isActive();
}

void WMP3Sampler::setEventHandler(WMP3SamplerEventHandler* h, void* param)
{
    handlerParam = param;
    handler = h;
}

void WMP3Sampler::run()
{
    RunnerMark mark(runner);
    for (;;) {
        WMP3SamplerEventHandler* h = handler;
        if (h) h->onMP3SamplerBegin(fileName, handlerParam);

        Mp3StreamOutRecord& streamOut = output->streamOut;
        memset(&streamOut, 0, sizeof streamOut);
        streamOut.write = Output::streamWrite;
        streamOut.init = Output::streamInit;
        streamOut.close = Output::streamClose;
        streamOut.user = static_cast<WMP3DLLEventHandler*>(this);
        streamOut.fileName = fileName;
        streamOut.playFlag = playFlag ? 1 : 0;
        mp3StreamOut(fileName, &streamOut);

        h = handler;
        if (h) h->onMP3SamplerEnd(fileName, handlerParam);

        std::lock_guard<std::mutex> lock(requestMutex);
        if (!pendingPlay || stopping) return;
        pendingPlay = false;
        fileName = pendingFile;
        playFlag = pendingFlag;
        stopRequest = false;
    }
}

void WMP3Sampler::onPlayNextWaveBlock()
{
    output->blockDone.signal();
}

int WMP3Sampler::onMP3StreamOutInit(bool stereo, unsigned long sampleRate, void*)
{
    WaveFormat& format = output->format;
    format.formatTag = 1;
    format.channels = stereo ? 2 : 1;
    format.samplesPerSec = (uint32_t)sampleRate;
    format.blockAlign = stereo ? 4 : 2;
    format.avgBytesPerSec = format.blockAlign * format.samplesPerSec;
    format.bitsPerSample = 16;
    format.extraSize = 0;

    if (!blocks) {
        try {
            makeBuffers();
        } catch (WException&) {
            return -1;
        }
    }
    writeIndex = 0;
    throttle = false;
    inFlight = 0;
    output->blockDone.clear();
    if (waveOutOpen(&output->device, &format, Output::waveCallback, this) != WAVE_OK) {
        output->device = nullptr;
        return -1;
    }
    return 0;
}

int WMP3Sampler::onMP3StreamOutWrite(const void* samples, unsigned long length, void*)
{
    if (!output->device) return -1;
    // A piece larger than a block is spread over several.
    auto* p = static_cast<const unsigned char*>(samples);
    while (length > 0) {
        unsigned long n = length < BLOCK_SIZE ? length : BLOCK_SIZE;
        if (!writeBlock(p, n)) return -1;
        p += n;
        length -= n;
    }
    return stopRequest ? -1 : 0;
}

bool WMP3Sampler::writeBlock(const unsigned char* samples, unsigned long length)
{
    // Wait for the device to finish a block while the queue is full; counting
    // the blocks (rather than signals, which merge) keeps the queue full.
    while (inFlight >= QUEUE_DEPTH && !stopRequest) {
        throttle = true;
        output->blockDone.wait();
    }
    if (stopRequest) return false;

    WaveOutDevice* device = output->device;
    WaveHeader& h = output->headers[writeIndex];
    while (waveOutUnprepare(device, &h) == WAVE_STILL_PLAYING) {
        if (stopRequest) return false;
        output->blockDone.waitFor(std::chrono::milliseconds(10));
    }
    unsigned char* block = blocks.get() + writeIndex * BLOCK_SIZE;
    memcpy(block, samples, length);
    h.data = block;
    h.bufferLength = (uint32_t)length;
    h.flags = 0;
    waveOutPrepare(device, &h);
    ++inFlight;
    if (waveOutWrite(device, &h) != WAVE_OK) --inFlight;
    writeIndex = (writeIndex + 1) % BLOCK_COUNT;
    return true;
}

int WMP3Sampler::onMP3StreamOutClose(void*)
{
    WaveOutDevice* device = output->device;
    if (!device) return 0;
    const WaveFormat& format = output->format;
    if (!stopRequest && format.avgBytesPerSec) {
        // Let the queued blocks play out: a natural end must not cut the tail.
        // The bound only guards against a device that stopped reporting.
        nanoseconds blockTime(BLOCK_SIZE * 1000000000ull / format.avgBytesPerSec);
        auto deadline = std::chrono::steady_clock::now() + 2 * (inFlight.load() + 1) * blockTime;
        while (inFlight > 0 && !stopRequest) {
            auto left = deadline - std::chrono::steady_clock::now();
            if (left <= nanoseconds(0)) break;
            output->blockDone.waitFor(left);
        }
    }
    waveOutReset(device);
    for (unsigned i = 0; i < BLOCK_COUNT; ++i)
        waveOutUnprepare(device, &output->headers[i]);
    waveOutClose(device);
    output->device = nullptr;
    return 0;
}

void WMP3Sampler::Output::waveCallback(WaveOutDevice*, WaveMessage message, void* instance, WaveHeader*)
{
    if (message != WaveMessage::Done) return;
    auto* sampler = static_cast<WMP3Sampler*>(instance);
    --sampler->inFlight;
    sampler->onPlayNextWaveBlock();
}

// The decoder's callbacks: nothing may be thrown back through it.
int WMP3Sampler::Output::streamWrite(const void* samples, unsigned long length, void* user, void* extra)
{
    WThread::NoKillScope noKill;
    try {
        return static_cast<WMP3DLLEventHandler*>(user)->onMP3StreamOutWrite(samples, length, extra);
    } catch (...) {
        return -1;
    }
}

int WMP3Sampler::Output::streamInit(int stereoFlag, unsigned long sampleRate, void* user, void* extra)
{
    WThread::NoKillScope noKill;
    try {
        return static_cast<WMP3DLLEventHandler*>(user)->onMP3StreamOutInit(stereoFlag == 1, sampleRate, extra);
    } catch (...) {
        return -1;
    }
}

int WMP3Sampler::Output::streamClose(void* user, void* extra)
{
    WThread::NoKillScope noKill;
    try {
        return static_cast<WMP3DLLEventHandler*>(user)->onMP3StreamOutClose(extra);
    } catch (...) {
        return -1;
    }
}
