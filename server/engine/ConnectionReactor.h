#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <netinet/in.h>

#include "ConnectionQueue.h"
#include "PendingConnection.h"
#include "RequestHandler.h"

class ZorvaneControl;

// The descriptors the loops of one server may use for connections, shared by
// all of them, and whether a shortage is being reported.
struct ConnectionBudget {
    std::atomic<long> open {0};
    long limit = 1024;
    std::atomic<bool> shortReported {false};
    std::atomic<int64_t> lastShortage {0}; // monotonic ms
    std::atomic<bool> evicting {false}; // idle connections are closed for new ones
    std::atomic<long> evicted {0};
};

// An event loop's side of every connection it accepts, from accept to close:
// it reads the head, routes the request once, answers what needs no script,
// reads a script's body whole, hands only the script run to a worker, and
// sends every answer from the connection's output queue without waiting for
// any client. Workers never read or write a client socket. The life of a
// connection is in ConnectionReactor.cpp, in the order it happens.
class ConnectionReactor {
public:
    // How long the client's remaining input is read and dropped after the answer.
    static constexpr int LINGER_MS = 2000;
    // The system hands over a new connection once its first bytes are in
    // (or, for a client that sends nothing, after this many seconds): no
    // wake-up and no empty read for a connection that has nothing to say yet.
    static constexpr int ACCEPT_DEFER_SECONDS = 1;
    // Descriptors kept free for files, pipes and the script runtime.
    static constexpr long RESERVED_DESCRIPTORS = 128;
    // Bytes sent to one client in one turn, so that every client gets its
    // turn (a 1 MiB file with its header block still goes in one).
    static constexpr uint64_t SEND_PIECE = 2 << 20;
    // What a body, or an answer to a client that reads slowly, must move
    // within each window (or the rest of it, when less is left).
    static constexpr uint64_t MIN_PROGRESS = 16 * 1024;
    // A connection whose head has been silent this long may be closed for a
    // new one when descriptors are short.
    static constexpr int64_t EVICT_AFTER_MS = 50;

    explicit ConnectionReactor(ConnectionQueue& queue);
    ~ConnectionReactor();

    // Prepares a run on listenFd (which it makes non-blocking). Throws
    // WException when the event set cannot be made.
    // budget: shared by the loops of one server (the first to open sets its
    // limit from the process's descriptor limit).
    void open(int listenFd, ZorvaneControl* control, ConnectionBudget* budget = nullptr);
    // Parses, routes and answers on this loop; configured before open().
    RequestHandler& getHandler() { return handler; }
    // Serves connections until stop is set, then until the answers of the
    // scripts still running are out or drainMs have passed. A failure of the
    // listening socket itself throws WSocketException "Cannot accept socket." (-9).
    void run(const std::atomic<bool>& stop, unsigned long drainMs = 0);
    // Ends the run: closes every connection it holds. Connections that a
    // worker still serves are closed too; their objects go when the worker
    // gives them back.
    void close();
    // Wakes run() (from any thread).
    void wake();

    // The receive window (a body must make progress in it) and the send
    // window (an answer must make progress in it).
    void setTimeouts(unsigned long receiveMs, unsigned long sendWindowMs);
    // The body's window alone (tests); 0 takes the receive window again.
    static void setBodyTimeLimit(unsigned long milliseconds);
    static unsigned long getBodyTimeLimit();

    // What a worker tells the connection's loop (from the worker's thread).
    enum class Note {
        Output, // there is output to send
        Done, // the worker is done with the connection: it never touches it again
        Refuse, // the server stops before a worker took it: 503
    };
    // Never throws: it runs where a worker gives a job back, also while
    // unwinding.
    void notify(PendingConnection* connection, Note note) noexcept;


private:
    enum class Progress {
        Ready, // complete, or ended by the client or a limit
        Waiting, // more is to come
        Closed, // closed without a request: nothing to answer
    };

    // The life of a connection, in order.
    void enter(PendingConnection* c, PendingConnection::State next);
    void acceptBatch(int64_t now);
    void startConnection(PendingConnection* c, int fd, const sockaddr_in& peer, int64_t now);
    void awaitInput(PendingConnection* c);
    void readInput(PendingConnection* c, int64_t now);
    Progress receiveHead(PendingConnection* c, int64_t now);
    void headDone(PendingConnection* c, int64_t now);
    void startBody(PendingConnection* c, int64_t now);
    bool takeBody(PendingConnection* c, const char* data, size_t length, int64_t now);
    void bodyNotStored(PendingConnection* c, int64_t now);
    void bodyDone(PendingConnection* c, int64_t now);
    void toWorker(PendingConnection* c);
    void sendOutput(PendingConnection* c, int64_t now);
    void answerDone(PendingConnection* c, int64_t now);
    // While a script runs: the client leaving is watched for.
    uint32_t leaveEvents(const PendingConnection* c) const;
    void inputEnded(PendingConnection* c, uint32_t events, int64_t now);
    // A CGI program the loop carries.
    void programReady(PendingConnection* c, CGIProcess::Pipe pipe, int64_t now);
    void afterProgramStep(PendingConnection* c, int64_t now);
    void syncProgram(PendingConnection* c);
    void forgetProgramFd(PendingConnection* c, int fd);
    void dropProgram(PendingConnection* c);
    bool jobReturned(PendingConnection* c);
    int64_t programCheckMs(const PendingConnection* c, int64_t now);
    void linger(PendingConnection* c, int64_t now);
    // file: the file being sent, for the log.
    void clientGone(PendingConnection* c, const std::string& file);
    void closeConnection(PendingConnection* c);
    void bury(PendingConnection* c);
    void recycleClosed();

    void refuse(PendingConnection* c, int64_t now, unsigned code, const char* message);
    // Memory ran out while c was served (called from a catch handler; any
    // other failure goes on up).
    void outOfMemory(PendingConnection* c, int64_t now);
    // The connections with notes, in order (linked by takenNext), each with
    // its notes moved to takenNotes.
    PendingConnection* takeNoteList();
    void takeNotes(int64_t now);
    void sweep(int64_t now);
    void stopAccepting();
    bool answersRunning() const;
    void arm(PendingConnection* c, uint32_t events);
    void disarm(PendingConnection* c);
    void setDeadline(PendingConnection* c, int64_t deadline);
    void clearDeadline(PendingConnection* c);
    void setListening(bool on);
    enum class Shortage { System, OwnLimit };
    // Reported once while it lasts; its end once none came for a second.
    void noteShortage(Shortage shortage, int64_t now);
    void noteShortageOver(int64_t now);
    bool evictIdlest(int64_t now);
    bool roomForMore() const { return budget->open.load() < budget->limit; }
    // A window of progress passed: true when too little moved in it.
    bool stalled(PendingConnection* c, int64_t now, int64_t window, uint64_t needed);
    PendingConnection* allocate();
    void recycle(PendingConnection* connection);

    ConnectionQueue& queue;
    RequestHandler handler;
    ZorvaneControl* control;
    int listenFd;
    int epollFd;
    // Made on the first start, written by wake() from any thread.
    std::atomic<int> wakeFd;
    bool listening;
    bool accepting = false; // from open until the server stops: the listener may be on
    int64_t resumeListeningAt;
    ConnectionBudget ownBudget;
    ConnectionBudget* budget = &ownBudget;
    sockaddr_in listenAddress;
    std::atomic<long> openCount;
    std::atomic<unsigned long> receiveTimeoutMs;
    std::atomic<unsigned long> sendWindowMs;
    std::vector<PendingConnection*> active; // connections with a deadline
    uint64_t turn = 0; // epoll waits so far
    bool turnWaited = false; // this turn's wait slept before it had events
    long withWorkers; // connections queued for or served by a worker

    std::mutex notesLock;
    bool running;
    // Connections with notes (linked by noteNext): in the list once each,
    // however often they are told, so that a note needs no memory.
    PendingConnection* notesFirst = nullptr;
    PendingConnection* notesLast = nullptr;

    std::vector<PendingConnection*> pool;
    std::vector<PendingConnection*> closed; // this turn's, recycled at its end

    char scratch[65536];

    ConnectionReactor(const ConnectionReactor&) = delete;
    ConnectionReactor& operator=(const ConnectionReactor&) = delete;
};
