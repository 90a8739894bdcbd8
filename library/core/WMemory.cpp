#include "WMemory.h"

#include <cstdlib>

#include "WException.h"
#include "WString.h"

void* WMemory::allocMemory(unsigned long size)
{
    void* p = malloc(size ? size : 1);
    if (!p) throw WMemoryException(WFormattedString("Out of memory. Cannot alloc %lu bytes.", size), -2);
    return p;
}

void* WMemory::reallocMemory(void* block, unsigned long size)
{
    void* p = realloc(block, size ? size : 1);
    if (!p) throw WMemoryException(WFormattedString("Out of memory. Cannot realloc %lu bytes.", size), -2);
    return p;
}

void WMemory::freeMemory(void* block)
{
    free(block);
}
