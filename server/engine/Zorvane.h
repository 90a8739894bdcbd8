#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "ServerConfig.h"
#include "WServerSocket.h"
#include "WSocket.h"
#include "WThread.h"
#include "ZorvaneWorker.h"

class ZorvaneControl;

// The HTTP server: a listening socket, a fixed pool of workers that each
// accept a connection and answer its one request, and a server thread that
// starts and stops them. Constructing it starts the in-process PHP runtime, destroying it
// shuts the runtime down.
class Zorvane : public WRunable {
public:
    static constexpr int WORKER_COUNT = 15;
    static constexpr int LISTEN_BACKLOG = 10;
    static constexpr unsigned long SOCKET_BUFFER_SIZE = 0xFFFF;
    static constexpr unsigned long RECEIVE_TIMEOUT_MS = 30000;
    static constexpr unsigned long SEND_TIMEOUT_MS = 30000;
    // Pause before accepting again when the process ran out of descriptors.
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

    // Time-outs given to each accepted connection (for tests).
    void setClientTimeouts(unsigned long receiveMs, unsigned long sendMs);

    void run() override;

    // Called by an idle worker: waits for the next connection and gives it
    // the connection's options. False when the server stops (the worker ends).
    bool acceptFor(WSocket& client);

private:
    friend class ZorvaneWorker;

    // The server whose thread (server thread or worker) the caller is.
    static thread_local const Zorvane* currentServer;

    void construct();
    void waitForStop();
    void stopWorkers();
    // Wakes every worker that waits in accept (the listener accepts no more).
    void shutDownListener();
    bool isOwnThread() const;

    ServerConfig config;
    WServerSocket serverSocket;
    std::atomic<bool> stopRequested;
    ZorvaneWorker workers[WORKER_COUNT];
    ZorvaneControl* control;

    std::atomic<unsigned long> receiveTimeoutMs;
    std::atomic<unsigned long> sendTimeoutMs;

    // Wakes the server thread (stop) and the workers that pause after a
    // failed accept.
    std::mutex idleLock;
    std::condition_variable idleChanged;
    std::atomic<bool> exhaustionReported;
    // The first accept failure that ended the server, reported by the server thread.
    bool acceptFailed;
    WException acceptFailure;
};
