#pragma once

#include <atomic>
#include <cstdint>

#include "ConnectionQueue.h"
#include "ConnectionReactor.h"
#include "ServerConfig.h"
#include "WServerSocket.h"
#include "WSocket.h"
#include "WThread.h"
#include "ZorvaneWorker.h"

class ZorvaneControl;

// The HTTP server: a listening socket, one server thread that accepts
// connections and reads their requests, and a fixed pool of workers that
// answer them, one request per connection. A connection reaches a worker only
// once its request has arrived (see ConnectionReactor). Constructing it
// starts the in-process PHP runtime, destroying it shuts the runtime down.
class Zorvane : public WRunable {
public:
    static constexpr int WORKER_COUNT = 15;
    // Linux drops connection attempts silently while the listen queue is full
    // (the client retries after a second, then ever longer, and may be reset
    // by SYN cookies) where the desktop platform refused them at once; a
    // queue long enough for a burst keeps waiting clients simply waiting.
    static constexpr int LISTEN_BACKLOG = 511;
    static constexpr unsigned long SOCKET_BUFFER_SIZE = 0xFFFF;
    static constexpr unsigned long RECEIVE_TIMEOUT_MS = 30000;
    static constexpr unsigned long SEND_TIMEOUT_MS = 30000;
    // The server thread looks at its connections' deadlines (and retries a
    // listener paused for lack of descriptors) at least this often.
    static constexpr unsigned long HANDOFF_RETRY_MS = 200;
    // How long the server thread waits for each worker to end when it stops.
    static constexpr unsigned long WORKER_STOP_MS = 2000;

    Zorvane();
    Zorvane(ZorvaneControl* control, const ServerConfig& config);
    ~Zorvane() override;

    void configure(ZorvaneControl* control, const ServerConfig& config);
    // Binds and listens on the caller's thread (failures are thrown to the
    // caller), starts the server thread and opens the start URL.
    void start();
    // Asks the server thread to end and wakes it. With wait, and when not
    // called from one of the server's own threads, joins it for up to
    // timeoutMs and kills it when that runs out.
    void stop(bool wait, unsigned long timeoutMs);
    bool isRunning() const;
    // True when neither the server thread nor any worker runs any more.
    bool hasEnded() const;
    // The port the server listens on.
    unsigned long getPort() const;

    // Time-outs of each connection: the longest wait for a piece of a body,
    // and the window in which a send must make progress.
    void setClientTimeouts(unsigned long receiveMs, unsigned long sendMs);

    void run() override;

private:
    friend class ZorvaneWorker;

    // The server whose thread (server thread or worker) the caller is.
    static thread_local const Zorvane* currentServer;

    void construct();
    void stopWorkers();
    bool isOwnThread() const;

    ServerConfig config;
    WServerSocket serverSocket;
    std::atomic<bool> stopRequested;
    ConnectionQueue queue;
    ConnectionReactor reactor;
    ZorvaneWorker workers[WORKER_COUNT];
    ZorvaneControl* control;
};
