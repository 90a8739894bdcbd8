#pragma once

#include <atomic>
#include <thread>

#include "ConnectionReactor.h"
#include "WServerSocket.h"

// One of the server's event loops: the reactor that owns the connections it
// accepts. The first loop runs on the server thread; the others run on
// threads of their own.
struct EventLoop {
    explicit EventLoop(ConnectionQueue& queue) : reactor(queue) { }

    ConnectionReactor reactor;
    WServerSocket listener; // unused by the first loop
    std::thread thread;
    std::atomic<bool> running {false};

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;
};
