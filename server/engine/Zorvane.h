#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "ConnectionQueue.h"
#include "ConnectionReactor.h"
#include "LogQueue.h"
#include "ServerConfig.h"
#include "WServerSocket.h"
#include "WSocket.h"
#include "WThread.h"
#include "ZorvaneWorker.h"

class ZorvaneControl;

struct EventLoop;

// The HTTP server: one listening socket, event loops that own the
// connections they accept (the first on the server thread, one per two
// processors in all) and answer everything but scripts, and a fixed pool of
// workers that run the scripts, one request per connection, once its body
// has arrived (see ConnectionReactor). Constructing it starts the in-process
// PHP runtime, destroying it shuts the runtime down.
class Zorvane : public WRunable {
public:
    static constexpr int WORKER_COUNT = 15;
    // Linux drops connection attempts silently while the listen queue is full
    // (the client retries after a second, then ever longer, and may be reset
    // by SYN cookies) where the desktop platform refused them at once; a
    // queue long enough for a burst keeps waiting clients simply waiting.
    // Connections the system holds back until their first bytes count
    // against it too, so it is as long as the system allows by default.
    static constexpr int LISTEN_BACKLOG = 4096;
    static constexpr unsigned long SOCKET_BUFFER_SIZE = 0xFFFF;
    static constexpr unsigned long RECEIVE_TIMEOUT_MS = 30000;
    static constexpr unsigned long SEND_TIMEOUT_MS = 30000;
    // How long the server thread waits for each worker to end when it stops.
    static constexpr unsigned long WORKER_STOP_MS = 2000;
    // Event loops at most (one per two processors; the server thread's own
    // counts).
    static constexpr int MAX_EVENT_LOOPS = 4;
    // How long a loop whose turn ran out of memory waits before the next.
    static constexpr unsigned long OUT_OF_MEMORY_PAUSE_MS = 100;
    // Sets how many event loops the next start runs (tests); 0: one per two
    // processors.
    static void setEventLoopCount(int count);

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

    // Waits (bounded) until the log lines of the engine's threads so far
    // reached the front-end.
    void flushLog();

private:
    friend class ZorvaneWorker;

    // The server whose thread (server thread or worker) the caller is.
    static thread_local const Zorvane* currentServer;

    void construct();
    void stopWorkers();
    static int wantedEventLoops();
    void runLoop(EventLoop& loop);
    // Serves on loop until it ends; memory that runs out outside any one
    // connection does not end it.
    void serveLoop(EventLoop& loop);
    void endLoops();
    bool isOwnThread() const;

    // The front-end hears the engine's threads through it (a log output that
    // does not keep up holds none of them); made before and gone after every
    // thread that uses it.
    void useControl(ZorvaneControl* owner);
    // What serves requests logs through this: their error lines are held to
    // a few a second, the server's own lines are not.
    ZorvaneControl* requestLog() const;

    ServerConfig config;
    std::unique_ptr<LogQueue> logQueue;
    WServerSocket serverSocket;
    std::atomic<bool> stopRequested;
    std::atomic<int64_t> stopRequestedAt {0}; // monotonic ms
    ConnectionQueue queue;
    // Made once: connections (and workers serving them) keep their loop.
    std::vector<std::unique_ptr<EventLoop>> loops;
    int loopsRunning = 1; // loops of the current run, the first included
    ConnectionBudget connectionBudget; // shared by the loops
    ZorvaneWorker workers[WORKER_COUNT];
    ZorvaneControl* control;
};
