#pragma once

// The allocation front of the library: the C heap, with an exhausted heap
// reported as WMemoryException (id -2) instead of a null pointer.
class WMemory {
public:
    static void* allocMemory(unsigned long size);
    static void* reallocMemory(void* block, unsigned long size);
    static void freeMemory(void* block);

    WMemory& operator=(const WMemory&) { return *this; }
};
