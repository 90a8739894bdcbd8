#include "WSemaphore.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "internal/WThreadControl.h"

namespace {
constexpr long MAXIMUM = 2147483647;
}

struct WSemaphoreHandle {
    std::mutex lock;
    std::condition_variable available;
    long count;
};

WSemaphore::WSemaphore() : handle(nullptr)
{
}

WSemaphore::WSemaphore(int initial) : handle(nullptr)
{
    create(initial);
}

WSemaphore::~WSemaphore()
{
    close();
}

void WSemaphore::create(int initial)
{
    close();
    if (initial < 0) return; // the system refuses a negative count: no semaphore
    handle = new WSemaphoreHandle;
    handle->count = initial;
}

bool WSemaphore::wait(int milliseconds)
{
    WSemaphoreHandle* h = handle;
    if (h == nullptr) return false;
    if (WThreadKill::checkPoint()) return false;

    WThreadControl* self = WThreadControl::current();
    bool killed = false;
    bool granted = false;
    {
        WThreadKill::ConditionWait registration(h->lock, h->available);
        std::unique_lock<std::mutex> guard(h->lock);
        auto ready = [&] {
            killed = self != nullptr && self->killRequested.load();
            return killed || h->count > 0;
        };
        if (milliseconds < 1)
            h->available.wait(guard, ready);
        else
            h->available.wait_for(guard, std::chrono::milliseconds(milliseconds), ready);
        if (!killed && h->count > 0) {
            h->count--;
            granted = true;
        }
    }
    if (killed) WThreadKill::end();
    return granted;
}

void WSemaphore::signal()
{
    WSemaphoreHandle* h = handle;
    if (h == nullptr) return;
    std::lock_guard<std::mutex> guard(h->lock);
    if (h->count < MAXIMUM) {
        h->count++;
        h->available.notify_one();
    }
}

void WSemaphore::close()
{
    delete handle;
    handle = nullptr;
}
