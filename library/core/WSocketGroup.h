#pragma once

#include <cstdint>

#include "WSocket.h"

// A set of at most 64 sockets to wait on for reading.
class WSocketGroup {
public:
    static constexpr unsigned MAX_SOCKETS = 64;

    WSocketGroup();

    // Appends s unless it is a member already or the group is full.
    void add(WSocketHandle s);
    // Removes the first occurrence; the later members move down.
    void remove(WSocketHandle s);
    void removeAll();
    bool isEvent(WSocketHandle s) const;
    unsigned long size() const { return count; }

    // Waits until members are readable (or at end of data, or failed), at most
    // milliseconds (-1: no limit). Keeps only the ready members and returns
    // their number; 0 on time-out, -1 on error.
    int wait(int milliseconds);

private:
    uint32_t count;
    WSocketHandle sockets[MAX_SOCKETS];
};
