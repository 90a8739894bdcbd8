#pragma once

// Message handling the window tests share.

#include "Platform.h"

// Translates and dispatches what the thread's queue holds, without waiting.
inline void drain()
{
    MSG msg;
    while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove)) {
        wplat::translateMessage(msg);
        wplat::dispatchMessage(msg);
    }
}
