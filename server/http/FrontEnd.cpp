#include "FrontEnd.h"

#include <atomic>

namespace {
std::atomic<FrontEnd> g_frontEnd {FrontEnd::Console};
}

void setServerFrontEnd(FrontEnd kind)
{
    g_frontEnd.store(kind, std::memory_order_relaxed);
}

FrontEnd serverFrontEnd()
{
    return g_frontEnd.load(std::memory_order_relaxed);
}
