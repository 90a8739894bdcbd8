#pragma once

#include "WThread.h"

#include <atomic>
#include <memory>
#include <thread>

class AutoResetEvent;

// Calls its handler's onPlayNextWaveBlock on a thread of its own each time
// notifyWaveBlockDone is called, from any thread (a wave device's callback,
// for one). Notifications that arrive before the thread wakes merge into one
// call.
class WWaveMsgManager : public WRunable {
public:
    // Hears that a wave block has finished playing.
    class EventHandler {
    public:
        EventHandler() = default;
        EventHandler(const EventHandler&) = default;
        EventHandler& operator=(const EventHandler&) = default;
        virtual void onPlayNextWaveBlock() = 0;

    protected:
        ~EventHandler() = default;
    };

    WWaveMsgManager();
    ~WWaveMsgManager() override;

    // Keeps handler (not owned) and starts the thread.
    void create(EventHandler* handler);
    // Stops the thread. From the handler itself it only asks the thread to end.
    void close();
    // Safe from any thread, including a wave device's callback.
    void notifyWaveBlockDone();

protected:
    void run() override;

private:
    std::atomic<EventHandler*> handler;
    std::unique_ptr<AutoResetEvent> blockDone;
    std::atomic<bool> stopRequest;
    std::atomic<std::thread::id> runner; // the manager's thread while run() runs
};
