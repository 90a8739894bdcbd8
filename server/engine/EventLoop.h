#pragma once

#include <atomic>
#include <thread>

#include "ConnectionReactor.h"
#include "WServerSocket.h"
#include "ZorvaneWorker.h"

// One of the server's event loops: a listener of its own on the server's port
// (the system spreads new connections over the listeners), the reactor that
// accepts and reads on it, and the answerer that serves plain file requests
// right there. The first loop runs on the server thread and listens on the
// server socket; the others run on threads of their own.
struct EventLoop {
    explicit EventLoop(ConnectionQueue& queue) : reactor(queue) { }

    ConnectionReactor reactor;
    ZorvaneWorker answerer; // never started: it serves on the loop's thread
    WServerSocket listener; // unused by the first loop
    std::thread thread;
    std::atomic<bool> running {false};

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;
};
