#include "WaveOut.h"

#include "WaveBackend.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Entry {
    WaveHeader* header;
    uint64_t end; // byte position just after this block
};

std::mutex g_statsMutex;
WaveOutStats g_stats {};

void noteOpen(const WaveFormat& format)
{
    std::lock_guard<std::mutex> lock(g_statsMutex);
    ++g_stats.opens;
    g_stats.lastFormat = format;
}

void noteQueued(size_t queued)
{
    std::lock_guard<std::mutex> lock(g_statsMutex);
    g_stats.maxQueued = std::max<unsigned>(g_stats.maxQueued, (unsigned)queued);
}

bool validFormat(const WaveFormat* f)
{
    return f && f->formatTag == 1 && f->bitsPerSample == 16 && (f->channels == 1 || f->channels == 2)
        && f->samplesPerSec >= 8000 && f->samplesPerSec <= 192000 && f->blockAlign == f->channels * 2
        && f->avgBytesPerSec == f->blockAlign * f->samplesPerSec;
}

WaveResult makeBackend(const WaveFormat& format, std::unique_ptr<WaveBackend>& out)
{
    const char* choice = std::getenv("MIROLA2_WAVEOUT");
    std::string wanted = choice ? choice : "";
    if (wanted.empty()) {
        out = makeAlsaBackend("default");
        if (out->open(format) == WAVE_OK) return WAVE_OK;
        out = makeNullBackend();
    } else if (wanted == "alsa" || wanted.rfind("alsa:", 0) == 0) {
        out = makeAlsaBackend(wanted.size() > 5 ? wanted.c_str() + 5 : "default");
    } else if (wanted == "null") {
        out = makeNullBackend();
    } else if (wanted.rfind("file:", 0) == 0 && wanted.size() > 5) {
        out = makeFileBackend(wanted.c_str() + 5);
    } else if (wanted == "fail") {
        out = makeFailBackend();
    } else {
        return WAVE_BAD_DEVICE_ID;
    }
    return out->open(format);
}

} // namespace

struct WaveOutDevice {
    std::unique_ptr<WaveBackend> backend;
    WaveFormat format {};
    WaveOutCallback callback = nullptr;
    void* instance = nullptr;

    std::mutex mutex;
    std::condition_variable wake; // the device thread waits here
    std::condition_variable resetDone; // reset callers wait here
    std::deque<Entry> queue;
    uint64_t queuedEnd = 0; // position after the last queued byte
    uint64_t written = 0; // bytes handed to the backend
    uint64_t resetsAsked = 0;
    uint64_t resetsDone = 0;
    bool closing = false;
    std::thread thread;
    std::thread::id threadId;

    void run();
    void feed();
    void finish(std::vector<Entry>& entries, std::unique_lock<std::mutex>& lock);
    void markDone(const std::vector<Entry>& entries, std::unique_lock<std::mutex>& lock);
    void doReset(std::unique_lock<std::mutex>& lock);
    void notify(WaveMessage message, WaveHeader* header)
    {
        if (callback) callback(this, message, instance, header);
    }
};

// Hands queued bytes to the backend as far as it takes them (lock held).
void WaveOutDevice::feed()
{
    while (written < queuedEnd) {
        auto it = std::find_if(queue.begin(), queue.end(), [this](const Entry& e) { return e.end > written; });
        if (it == queue.end()) break;
        uint64_t start = it->end - it->header->bufferLength;
        size_t offset = (size_t)(written - start);
        size_t n = backend->write(it->header->data + offset, (size_t)(it->end - written));
        if (n == 0) return;
        written += n;
    }
    backend->flush();
}

// Returns finished blocks to their owner: played bytes to the backend first,
// then the flags, then the callback (entered with the lock held, left held).
void WaveOutDevice::finish(std::vector<Entry>& entries, std::unique_lock<std::mutex>& lock)
{
    lock.unlock();
    for (const Entry& e : entries)
        backend->played(e.header->data, e.header->bufferLength);
    lock.lock();
    markDone(entries, lock);
    entries.clear();
}

// Flags blocks done under the lock, then calls back for each with the lock
// released (entered with the lock held, left held).
void WaveOutDevice::markDone(const std::vector<Entry>& entries, std::unique_lock<std::mutex>& lock)
{
    for (const Entry& e : entries)
        e.header->flags = (e.header->flags & ~WAVE_HEADER_INQUEUE) | WAVE_HEADER_DONE;
    lock.unlock();
    for (const Entry& e : entries)
        notify(WaveMessage::Done, e.header);
    lock.lock();
}

void WaveOutDevice::doReset(std::unique_lock<std::mutex>& lock)
{
    uint64_t target = resetsAsked;
    std::vector<Entry> entries(queue.begin(), queue.end());
    queue.clear();
    queuedEnd = 0;
    written = 0;
    lock.unlock();
    // What had already been played stays played; the rest is dropped.
    uint64_t played = backend->playedBytes();
    for (const Entry& e : entries) {
        uint64_t start = e.end - e.header->bufferLength;
        if (start >= played) break;
        uint64_t n = std::min(e.end, played) - start;
        n -= n % format.blockAlign;
        if (n) backend->played(e.header->data, (size_t)n);
    }
    backend->drop();
    lock.lock();
    markDone(entries, lock);
    resetsDone = std::max(resetsDone, target);
    resetDone.notify_all();
}

void WaveOutDevice::run()
{
    std::vector<Entry> finished;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (resetsAsked != resetsDone) {
            doReset(lock);
            continue;
        }
        if (closing) break;
        feed();
        uint64_t played = backend->playedBytes();
        while (!queue.empty() && queue.front().end <= played) {
            finished.push_back(queue.front());
            queue.pop_front();
        }
        if (!finished.empty()) {
            finish(finished, lock);
            continue;
        }
        if (queue.empty()) {
            wake.wait(lock, [this] { return resetsAsked != resetsDone || closing || !queue.empty(); });
        } else {
            auto wait = backend->timeUntilPlayed(queue.front().end);
            if (written < queuedEnd) wait = std::min<std::chrono::nanoseconds>(wait, std::chrono::milliseconds(5));
            wake.wait_for(lock, std::max<std::chrono::nanoseconds>(wait, std::chrono::microseconds(200)));
        }
    }
}

WaveResult waveOutOpen(WaveOutDevice** device, const WaveFormat* format, WaveOutCallback callback, void* instance)
{
    if (!device) return WAVE_INVALID_PARAM;
    *device = nullptr;
    if (!validFormat(format)) return WAVE_BAD_FORMAT;
    std::unique_ptr<WaveBackend> backend;
    WaveResult rc = makeBackend(*format, backend);
    if (rc != WAVE_OK) return rc;
    auto* d = new WaveOutDevice;
    d->backend = std::move(backend);
    d->format = *format;
    d->callback = callback;
    d->instance = instance;
    d->thread = std::thread([d] { d->run(); });
    d->threadId = d->thread.get_id();
    noteOpen(*format);
    *device = d;
    d->notify(WaveMessage::Open, nullptr);
    return WAVE_OK;
}

WaveResult waveOutPrepare(WaveOutDevice* d, WaveHeader* h)
{
    if (!d) return WAVE_INVALID_HANDLE;
    if (!h || (!h->data && h->bufferLength)) return WAVE_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(d->mutex);
    h->flags |= WAVE_HEADER_PREPARED;
    return WAVE_OK;
}

WaveResult waveOutUnprepare(WaveOutDevice* d, WaveHeader* h)
{
    if (!d) return WAVE_INVALID_HANDLE;
    if (!h) return WAVE_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (h->flags & WAVE_HEADER_INQUEUE) return WAVE_STILL_PLAYING;
    h->flags &= ~WAVE_HEADER_PREPARED;
    return WAVE_OK;
}

WaveResult waveOutWrite(WaveOutDevice* d, WaveHeader* h)
{
    if (!d) return WAVE_INVALID_HANDLE;
    if (!h || (!h->data && h->bufferLength) || h->bufferLength % d->format.blockAlign) return WAVE_INVALID_PARAM;
    size_t queued;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->closing) return WAVE_INVALID_HANDLE;
        if (!(h->flags & WAVE_HEADER_PREPARED)) return WAVE_UNPREPARED;
        if (h->flags & WAVE_HEADER_INQUEUE) return WAVE_STILL_PLAYING;
        h->flags = (h->flags & ~WAVE_HEADER_DONE) | WAVE_HEADER_INQUEUE;
        d->queuedEnd += h->bufferLength;
        d->queue.push_back(Entry {h, d->queuedEnd});
        queued = d->queue.size();
    }
    d->wake.notify_one();
    noteQueued(queued);
    return WAVE_OK;
}

WaveResult waveOutReset(WaveOutDevice* d)
{
    if (!d) return WAVE_INVALID_HANDLE;
    std::unique_lock<std::mutex> lock(d->mutex);
    ++d->resetsAsked;
    if (std::this_thread::get_id() == d->threadId) {
        d->doReset(lock); // from inside a callback: nobody else would do it
        return WAVE_OK;
    }
    uint64_t target = d->resetsAsked;
    d->wake.notify_one();
    d->resetDone.wait(lock, [d, target] { return d->resetsDone >= target; });
    return WAVE_OK;
}

WaveResult waveOutClose(WaveOutDevice* d)
{
    if (!d) return WAVE_INVALID_HANDLE;
    if (std::this_thread::get_id() == d->threadId)
        return WAVE_INVALID_PARAM; // the device thread cannot wait for itself
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->queue.empty()) return WAVE_STILL_PLAYING;
        d->closing = true;
    }
    d->wake.notify_one();
    d->thread.join();
    d->backend->close();
    d->notify(WaveMessage::Close, nullptr);
    delete d;
    std::lock_guard<std::mutex> lock(g_statsMutex);
    ++g_stats.closes;
    return WAVE_OK;
}

WaveOutStats waveOutStats()
{
    std::lock_guard<std::mutex> lock(g_statsMutex);
    return g_stats;
}

void waveOutResetStats()
{
    std::lock_guard<std::mutex> lock(g_statsMutex);
    g_stats = WaveOutStats {};
}
