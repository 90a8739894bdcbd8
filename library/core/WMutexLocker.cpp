#include "WMutexLocker.h"

#include "WSystem.h"

WMutexLocker::WMutexLocker() : section(nullptr), mutex(nullptr)
{
}

WMutexLocker::WMutexLocker(CRITICAL_SECTION& s) : section(nullptr), mutex(nullptr)
{
    lock(s);
}

WMutexLocker::WMutexLocker(WMutex& m) : section(nullptr), mutex(nullptr)
{
    lock(m);
}

WMutexLocker::~WMutexLocker()
{
    release();
}

void WMutexLocker::lock(CRITICAL_SECTION& s)
{
    release();
    WSystem::enterMutex(s);
    section = &s;
}

void WMutexLocker::lock(WMutex& m)
{
    release();
    if (m.enter(-1)) mutex = &m;
}

void WMutexLocker::release()
{
    if (section != nullptr)
        WSystem::leaveMutex(*section);
    else if (mutex != nullptr)
        mutex->leave();
    section = nullptr;
    mutex = nullptr;
}
