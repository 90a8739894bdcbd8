#include "CGIProcess.h"

#include "CGIEnvironment.h"
#include "ClientConnection.h"
#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "OutputQueue.h"
#include "RequestBody.h"
#include "WException.h"
#include "ZorvaneControl.h"
#include "internal/CGIChild.h"
#include "internal/CGICommandLine.h"
#include "internal/CGIErrorLines.h"
#include "internal/CGIHeaderBlock.h"
#include "internal/CGIPipes.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

namespace {

// A program's output is read in pieces of this size, one per turn.
const size_t OUTPUT_PIECE = 64 * 1024;
const size_t INPUT_PIECE = 16 * 1024;
// How long a program may take to exit once its output has ended.
const double EXIT_GRACE = 0.2;
// After the program itself has ended and its group is killed, output still
// held open by a process outside the group is waited for this long.
const double DRAIN_LIMIT = 2.0;
// How often the time limits are looked at when nothing else is due.
const double CHECK_EVERY = 1.0;

std::atomic<int> timeLimitSeconds {300};

// Writes to a pipe whose reader has gone must fail with EPIPE, not end the
// server; the children get default signal handling back when they start.
void ignoreSigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current = {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
    });
}

[[noreturn]] void throwCannotCreateProcess(const char* commandLine, int error)
{
    errno = error;
    throw WException(WFormattedString("Cannot create process: %s", commandLine), -1);
}

// How a program ended, for the answer and the log.
std::string describeEnd(int status)
{
    if (status >= 0 && WIFSIGNALED(status)) {
        int signal = WTERMSIG(status);
        const char* name = sigabbrev_np(signal);
        return "ended by signal " + std::to_string(signal) + (name != nullptr ? std::string(" (SIG") + name + ")" : "");
    }
    if (status >= 0 && WIFEXITED(status)) return "ended with exit code " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

} // namespace

struct CGIProcess::Run {
    enum class End { Finished, ClientGone, TimedOut, Malformed };

    Run(const char* commandLine, HTTPRequest& request, const RequestBody& requestBody, OutputQueue& output,
        Ended whenEnded);

    void feedInput();
    void takeOutput();
    void takeErrors();
    void childEnded();
    void sendHead();
    void send(const char* data, size_t length);
    void outputEnded();
    void end(End how);
    void answer(unsigned code, const std::string& message);
    void log(int level, const std::string& text);
    // Closes one of the watched descriptors; the loop lets go of it first.
    void closePipe(int& fd);
    void closeAll();

    CGIPipes pipes;
    CGIChild child;
    CGIHeaderBlock head;
    CGIErrorLines errors;
    OutputQueue& output;
    ClientConnection stream;
    HTTPResponse response;
    const RequestBody& body;
    Ended ended;
    Forget forget;
    ZorvaneControl* control;
    std::string commandLine;
    std::string scriptFilename;
    bool headOnly;
    int timeLimit;
    double deadline;
    double graceUntil = 0; // output ended: the program's exit is awaited until then
    double drainUntil = 0; // the program ended: its output is awaited until then
    bool exited = false;
    bool paused = false;
    bool finished = false;
    uint64_t bodyOffset = 0;
    std::string input; // the piece of the body on its way to the program
    size_t inputOffset = 0;
};

CGIProcess::Run::Run(const char* command, HTTPRequest& request, const RequestBody& requestBody, OutputQueue& answer,
    Ended whenEnded)
    : errors([this](const std::string& line) { log(-1, "CGI " + scriptFilename + ": " + line); }), output(answer),
      response(request.control, &stream), body(requestBody), ended(std::move(whenEnded)), control(request.control),
      commandLine(command), scriptFilename(request.scriptFilename.getBuf()),
      headOnly(request.methodIndex == HTTPRequest::METHOD_HEAD), timeLimit(timeLimitSeconds.load())
{
    ignoreSigpipe();
    double started = cgiNow();
    deadline = started + timeLimit;
    pipes.create();
    CGIEnvironment environment(request);
    std::vector<std::string> argv = splitCGICommandLine(command, request.scriptFilename);
    std::string program = argv.empty() ? std::string() : findCGIProgram(argv[0]);
    if (program.empty()) throwCannotCreateProcess(command, ENOENT);
    int error = child.spawn(program, argv, environment.getBlock(), pipes);
    if (error != 0) throwCannotCreateProcess(command, error);
    // The child holds its ends now; ours must go, or we would never see the
    // end of its output (nor it the end of its input).
    CGIPipes::closeOne(pipes.stdinRead);
    if (!CGIPipes::closeOne(pipes.stdoutWrite)) throw WException("Cannot close StdOutWr handle.", -1);
    if (!CGIPipes::closeOne(pipes.stderrWrite)) throw WException("Cannot close StdErrWr handle.", -1);
    if (body.size() == 0) CGIPipes::closeOne(pipes.stdinWrite);
    stream.attach(output, nullptr, ClientConnection::Server::EventLoop, nullptr);
}

void CGIProcess::Run::closePipe(int& fd)
{
    if (fd >= 0 && forget) forget(fd);
    CGIPipes::closeOne(fd);
}

void CGIProcess::Run::closeAll()
{
    if (forget) {
        for (int fd : {pipes.stdinWrite, pipes.stdoutRead, pipes.stderrRead, child.getExitDescriptor()})
            if (fd >= 0) forget(fd);
    }
    pipes.close();
}

void CGIProcess::Run::log(int level, const std::string& text)
{
    if (control != nullptr) control->log(text.c_str(), level);
}

void CGIProcess::Run::feedInput()
{
    if (inputOffset == input.size()) {
        input.resize(INPUT_PIECE);
        long n = body.read(bodyOffset, input.data(), input.size());
        if (n <= 0) {
            // The whole body is in: the program sees the end of its input.
            input.clear();
            inputOffset = 0;
            closePipe(pipes.stdinWrite);
            return;
        }
        input.resize((size_t)n);
        inputOffset = 0;
        bodyOffset += (uint64_t)n;
    }
    ssize_t n = ::write(pipes.stdinWrite, input.data() + inputOffset, input.size() - inputOffset);
    if (n > 0) {
        inputOffset += (size_t)n;
        if (inputOffset == input.size() && bodyOffset == body.size()) closePipe(pipes.stdinWrite);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // The program closed its input (EPIPE): it gets no more of the body.
        closePipe(pipes.stdinWrite);
    }
}

void CGIProcess::Run::send(const char* data, size_t length)
{
    try {
        response.write(data, (unsigned long)length);
    } catch (const WException&) {
        // The client has gone: the loop abandons the program.
    }
}

// The status line from the program's Status line, the server's header lines,
// then the program's own lines and empty line, then whatever body came with
// them. A HEAD request gets no body.
void CGIProcess::Run::sendHead()
{
    response.setStatus(head.getStatusCode(), head.getReason());
    response.setRawCGIOutput(true);
    std::string out = head.getHeaderLines();
    std::string rest = head.takeBody();
    if (!headOnly) out += rest;
    send(out.data(), out.size());
    response.setRawCGIOutput(false);
}

void CGIProcess::Run::takeOutput()
{
    char buffer[OUTPUT_PIECE];
    ssize_t n = ::read(pipes.stdoutRead, buffer, sizeof buffer);
    if (n > 0) {
        if (head.getState() == CGIHeaderBlock::State::Complete) {
            if (!headOnly) send(buffer, (size_t)n);
        } else {
            CGIHeaderBlock::State state = head.feed(buffer, (size_t)n);
            if (state == CGIHeaderBlock::State::Complete) sendHead();
            // Malformed output still coming: nothing of it can reach the client.
            if (state == CGIHeaderBlock::State::Malformed) end(End::Malformed);
        }
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    closePipe(pipes.stdoutRead);
    outputEnded();
}

void CGIProcess::Run::takeErrors()
{
    char buffer[4096];
    ssize_t n = ::read(pipes.stderrRead, buffer, sizeof buffer);
    if (n > 0) {
        errors.feed(buffer, (size_t)n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closePipe(pipes.stderrRead);
    }
}

void CGIProcess::Run::outputEnded()
{
    if (head.getState() == CGIHeaderBlock::State::Incomplete) head.finish();
    if (exited) {
        end(head.getState() == CGIHeaderBlock::State::Malformed ? End::Malformed : End::Finished);
        return;
    }
    // A program normally ends right after closing its output.
    graceUntil = cgiNow() + EXIT_GRACE;
}

void CGIProcess::Run::childEnded()
{
    exited = true;
    // Whatever the program left running dies with it; what it wrote is
    // still in the pipes.
    child.killGroup();
    if (pipes.stdoutRead < 0) {
        outputEnded();
        return;
    }
    drainUntil = cgiNow() + DRAIN_LIMIT;
}

// An error page, unless the client has had a status line already: then the
// answer is cut, so that the client sees it is incomplete.
void CGIProcess::Run::answer(unsigned code, const std::string& message)
{
    try {
        response.sendError(lookupHTTPStatus(code), message.c_str(), true);
    } catch (const WException&) {
        // the client is gone
    }
    // The client had part of the answer: it is reset, not closed as if whole.
    if (response.wasCut()) output.kill();
}

void CGIProcess::Run::end(End how)
{
    if (finished) return;
    finished = true;
    // What the program wrote to its error output up to here still counts.
    if (pipes.stderrRead >= 0) takeErrors();
    closeAll();
    // A program whose output went on (or that outlived the grace) is
    // stopped at once; one that ended is only reaped.
    int status = child.finish(0);
    errors.finish();
    switch (how) {
    case End::ClientGone:
        if (control != nullptr && control->isLogShown(2))
            log(2, "CGI program stopped, the client has gone: " + commandLine);
        break;
    case End::TimedOut:
        log(-1, "CGI program killed after " + std::to_string(timeLimit) + " seconds: " + commandLine);
        answer(504, "The CGI program did not answer within " + std::to_string(timeLimit) + " seconds.");
        break;
    case End::Malformed: {
        std::string message = head.hasOutput() ? head.getProblem()
                                               : "The CGI program " + describeEnd(status) + " before any output.";
        log(-1, "CGI " + scriptFilename + ": " + message);
        answer(502, message);
        break;
    }
    case End::Finished:
        // The answer is out; a crash after it is still worth a line.
        if (status >= 0 && WIFSIGNALED(status))
            log(-1, "CGI " + scriptFilename + ": The CGI program " + describeEnd(status) + ".");
        break;
    }
    stream.detach();
    output.finish();
    if (ended) ended();
}

CGIProcess::CGIProcess(const char* commandLine, HTTPRequest& request, const RequestBody& body, OutputQueue& output,
    Ended ended)
    : run(std::make_unique<Run>(commandLine, request, body, output, std::move(ended)))
{
}

CGIProcess::~CGIProcess() = default;

int CGIProcess::descriptor(Pipe pipe) const
{
    if (done) return -1;
    switch (pipe) {
    case Pipe::Input:
        return run->pipes.stdinWrite;
    case Pipe::Output:
        return run->paused ? -1 : run->pipes.stdoutRead;
    case Pipe::Errors:
        return run->pipes.stderrRead;
    case Pipe::Exit:
        return run->exited ? -1 : run->child.getExitDescriptor();
    }
    return -1;
}

void CGIProcess::step(Pipe pipe)
{
    if (done) return;
    switch (pipe) {
    case Pipe::Input:
        run->feedInput();
        break;
    case Pipe::Output:
        run->takeOutput();
        // The client is slower than the program: the program waits at its
        // pipe until the channel has room again.
        if (!run->finished && !run->output.hasRoom()) run->paused = true;
        break;
    case Pipe::Errors:
        run->takeErrors();
        break;
    case Pipe::Exit:
        run->childEnded();
        break;
    }
    done = run->finished;
}

void CGIProcess::tick()
{
    if (done) return;
    double now = cgiNow();
    Run& r = *run;
    // Without an exit descriptor the child's end is looked for now and then.
    if (!r.exited && r.child.getExitDescriptor() < 0 && r.child.hasEnded()) r.childEnded();
    if (!r.finished && now >= r.deadline) r.end(Run::End::TimedOut);
    if (!r.finished && r.graceUntil > 0 && now >= r.graceUntil)
        r.end(r.head.getState() == CGIHeaderBlock::State::Malformed ? Run::End::Malformed : Run::End::Finished);
    if (!r.finished && r.drainUntil > 0 && now >= r.drainUntil) {
        // Someone outside the group holds the output open: what came is all.
        r.closePipe(r.pipes.stdoutRead);
        r.outputEnded();
    }
    done = r.finished;
}

double CGIProcess::nextCheck() const
{
    double next = cgiNow() + (run->child.getExitDescriptor() >= 0 ? CHECK_EVERY : 0.05);
    if (done) return next;
    for (double at : {run->deadline, run->graceUntil, run->drainUntil})
        if (at > 0 && at < next) next = at;
    return next;
}

void CGIProcess::setForget(Forget forget)
{
    run->forget = std::move(forget);
}

bool CGIProcess::resume()
{
    if (!run->paused || !run->output.hasRoom()) return false;
    run->paused = false;
    return true;
}

void CGIProcess::abandon()
{
    if (done) return;
    run->end(Run::End::ClientGone);
    done = true;
}

void CGIProcess::setTimeLimit(int seconds)
{
    timeLimitSeconds = seconds > 0 ? seconds : 1;
}

int CGIProcess::getTimeLimit()
{
    return timeLimitSeconds;
}
