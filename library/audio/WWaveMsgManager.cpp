#include "WWaveMsgManager.h"

#include "WException.h"
#include "internal/AutoResetEvent.h"
#include "internal/RunnerMark.h"

WWaveMsgManager::WWaveMsgManager() : handler(nullptr), blockDone(std::make_unique<AutoResetEvent>()), stopRequest(false)
{
}

WWaveMsgManager::~WWaveMsgManager()
{
    try {
        close();
    } catch (WException&) {
    }
}

void WWaveMsgManager::create(EventHandler* h)
{
    handler = h;
    if (thread.isActive()) {
        if (!stopRequest) return; // running already
        if (runner.load() == std::this_thread::get_id()) {
            stopRequest = false; // closed and created again from the handler: keep going
            return;
        }
        thread.join(WThread::INFINITE_WAIT); // a close from the handler is still winding down
    }
    stopRequest = false;
    thread.start(this);
}

void WWaveMsgManager::close()
{
    if (!thread.isActive()) return;
    stopRequest = true;
    blockDone->signal();
    if (runner.load() != std::this_thread::get_id()) // the handler cannot wait for itself
        thread.join(WThread::INFINITE_WAIT);
}

void WWaveMsgManager::notifyWaveBlockDone()
{
    blockDone->signal();
}

void WWaveMsgManager::run()
{
    RunnerMark mark(runner);
    for (;;) {
        blockDone->wait();
        if (stopRequest) return;
        if (EventHandler* h = handler) h->onPlayNextWaveBlock();
    }
}
