#pragma once

#include "WString.h"
#include "WThread.h"
#include "WWaveMsgManager.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// What the MP3 decoder pushes while it streams a file out.
class WMP3DLLEventHandler {
public:
    WMP3DLLEventHandler() = default;
    WMP3DLLEventHandler(const WMP3DLLEventHandler&) = default;
    WMP3DLLEventHandler& operator=(const WMP3DLLEventHandler&) = default;

    // Return -1 to make the decoder stop.
    virtual int onMP3StreamOutInit(bool stereo, unsigned long sampleRate, void* data) = 0;
    virtual int onMP3StreamOutWrite(const void* samples, unsigned long length, void* data) = 0;
    virtual int onMP3StreamOutClose(void* data) = 0;

protected:
    ~WMP3DLLEventHandler() = default;
};

// Hears when the sampler starts and ends a file; called on the sampler's thread.
class WMP3SamplerEventHandler {
public:
    WMP3SamplerEventHandler() = default;
    WMP3SamplerEventHandler(const WMP3SamplerEventHandler&) = default;
    WMP3SamplerEventHandler& operator=(const WMP3SamplerEventHandler&) = default;

    virtual void onMP3SamplerEnd(const char* fileName, void* param) = 0;
    virtual void onMP3SamplerBegin(const char* fileName, void* param) = 0;

protected:
    ~WMP3SamplerEventHandler() = default;
};

// Plays an MP3 file on the sound device on a thread of its own. Decoded PCM
// goes through a ring of 10 blocks of 16384 bytes; at most 6 are queued on the
// device at once. The end of a file is played out before the device closes;
// stop cuts it off at once.
//
// play, restart and stop may be called from the event handler (on the
// sampler's own thread): play and restart then start the file once the
// current one has ended, stop only asks for the end. From other threads,
// the control calls (create, close, play, restart, stop) may come from
// several threads at once: they take turns, and the last one wins.
class WMP3Sampler : public WWaveMsgManager::EventHandler, public WMP3DLLEventHandler, public WRunable {
public:
    static constexpr unsigned BLOCK_COUNT = 10;
    static constexpr unsigned long BLOCK_SIZE = 16384;
    static constexpr int QUEUE_DEPTH = 6;

    WMP3Sampler();
    virtual ~WMP3Sampler();

    // Makes the block buffers (stopping a playing file first).
    void create();
    // Frees the block buffers (stopping a playing file first).
    void close();
    // Stops the file playing, if any, then plays fileName. flag is handed to
    // the decoder, which does not use it. Makes the block buffers when needed.
    void play(const char* fileName, bool flag);
    // Plays the last file again (when none is playing).
    void restart();
    void stop();
    bool isActive() const;

    void setEventHandler(WMP3SamplerEventHandler* handler, void* param);
    void* getEventHandlerParam() const { return handlerParam; }

protected:
    void run() override;
    void onPlayNextWaveBlock() override;
    int onMP3StreamOutInit(bool stereo, unsigned long sampleRate, void* data) override;
    int onMP3StreamOutWrite(const void* samples, unsigned long length, void* data) override;
    int onMP3StreamOutClose(void* data) override;

private:
    // The wave device, its blocks' headers and the decoder's callbacks.
    struct Output;

    void makeBuffers();
    void freeBuffers();
    // Starts the thread; called with controlMutex held and no thread running.
    void startThread();
    // Ends the thread of the playing file, if any, and waits for it; entered
    // and left with controlMutex held through lock, which is let go while
    // it waits. Afterwards no thread runs until the caller starts one.
    void stopAndWait(std::unique_lock<std::mutex>& lock);
    // Queues one piece of at most BLOCK_SIZE bytes; false when stopped.
    bool writeBlock(const unsigned char* samples, unsigned long length);
    // True on the sampler's thread while run() runs (the handlers' thread).
    bool onOwnThread() const { return runner.load() == std::this_thread::get_id(); }

    std::unique_ptr<Output> output;
    std::unique_ptr<unsigned char[]> blocks;
    unsigned writeIndex;
    bool throttle;
    bool playFlag;
    std::atomic<bool> stopRequest;
    WString fileName;
    std::atomic<WMP3SamplerEventHandler*> handler;
    std::atomic<void*> handlerParam;

    // Blocks queued on the device and not yet played.
    std::atomic<int> inFlight;
    // A play asked for from the sampler's own thread, started when the
    // current file has ended.
    std::mutex requestMutex;
    bool pendingPlay;
    WString pendingFile;
    bool pendingFlag;
    // A stop from another thread is waiting for the sampler's thread to end.
    bool stopping;
    std::atomic<std::thread::id> runner;

    // Turns of the control calls from other threads. Never held while the
    // sampler's thread is waited for: `joining` marks that wait instead, and
    // nothing starts a thread while it is set.
    std::mutex controlMutex;
    std::condition_variable controlChanged;
    bool joining;
};
