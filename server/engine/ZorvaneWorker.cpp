#include "ZorvaneWorker.h"

#include <exception>

#include <sched.h>

#include "ConnectionReactor.h"
#include "ScriptJob.h"
#include "WException.h"
#include "Zorvane.h"

ZorvaneWorker::ZorvaneWorker() : stopRequested(false), busy(false), server(nullptr)
{
}

ZorvaneWorker::~ZorvaneWorker()
{
    // The thread must not outlive the members it uses.
    if (thread.isActive()) {
        stop(true, Zorvane::WORKER_STOP_MS);
    }
}

ZorvaneWorker::State ZorvaneWorker::getState() const
{
    if (!thread.isActive()) {
        return State::Stopped;
    }
    return stopRequested.load() ? State::Stopping : State::Running;
}

void ZorvaneWorker::endThread(unsigned long timeoutMs)
{
    if (!thread.isCurrent() && !thread.join(timeoutMs)) {
        try {
            thread.kill();
        } catch (WException&) {
            // the thread ends at its next library wait
        }
    }
}

void ZorvaneWorker::start(
    ZorvaneControl* control, const ServerConfig& config, const RoutingTables& tables, Zorvane* owner)
{
    if (thread.isActive()) {
        if (!stopRequested.load()) {
            return; // serving already
        }
        endThread(Zorvane::WORKER_STOP_MS);
        if (thread.isActive()) {
            return; // it could not be ended: its settings stay its own
        }
    }
    handler.configure(control, config, tables);
    server = owner;
    stopRequested = false;
    thread.setPriority(WThread::PRIORITY_HIGHEST);
    thread.start(this);
}

void ZorvaneWorker::requestStop()
{
    if (!thread.isActive()) {
        return;
    }
    stopRequested = true;
    if (server != nullptr) {
        server->queue.wakeAll();
    }
}

void ZorvaneWorker::stop(bool wait, unsigned long timeoutMs)
{
    if (!thread.isActive()) {
        return;
    }
    requestStop();
    if (wait) {
        endThread(timeoutMs);
    }
}

void ZorvaneWorker::run()
{
    Zorvane::currentServer = server;
    // umask and the working directory belong to the process: a script's
    // umask() must not reach the requests of other workers. (PHP's own chdir
    // into the script's folder is virtual in its thread-safe build.)
    ::unshare(CLONE_FS);
    while (!stopRequested.load()) {
        ScriptJob* job = server->queue.pop(stopRequested);
        if (job == nullptr) {
            break;
        }
        busy = true;
        serve(*job);
        busy = false;
    }
}

void ZorvaneWorker::serve(ScriptJob& job)
{
    // Whatever ends the run, a kill included, the job goes back to its loop,
    // and this thread touches it no more after that. A CGI program it
    // started goes with it: the loop finishes that answer.
    struct GiveBack {
        ScriptJob& job;
        ~GiveBack()
        {
            if (!job.program) job.output.finish();
            job.workerDone();
        }
    } giveBack {job};
    // A client that left while its job waited gets nothing started for it.
    if (job.aborted.load()) return;
    try {
        handler.serve(job);
    } catch (WException&) {
        // The request failed beyond its own error handling: its answer is
        // cut, and the worker goes on with the next one.
        job.output.kill();
    } catch (std::exception&) {
        job.output.kill();
    } catch (...) {
        // A kill of the thread: it ends here.
        job.output.kill();
        throw;
    }
}
