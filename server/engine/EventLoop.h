#pragma once

#include <atomic>
#include <thread>

#include "ConnectionReactor.h"

// One of the server's event loops: the reactor that owns the connections it
// accepts from the server's one listening socket. The first loop runs on the
// server thread; the others run on threads of their own.
struct EventLoop {
    explicit EventLoop(ConnectionQueue& queue) : reactor(queue) { }

    ConnectionReactor reactor;
    std::thread thread;
    std::atomic<bool> running {false};

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;
};
