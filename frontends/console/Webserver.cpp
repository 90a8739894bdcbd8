#include "Webserver.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "ErrorLog.h"
#include "WDate.h"
#include "WException.h"
#include "WIPAddress.h"
#include "WInitFile.h"
#include "WSystem.h"
#include "ZorvaneVersion.h"

const char* const Webserver::ERROR_LOG = ErrorLog::FILE_NAME;

namespace {

// Console lines from the server thread and the workers never mix within a line.
std::mutex& consoleLock()
{
    static std::mutex lock;
    return lock;
}

// "<time> : <message>", the form of every ordinary console line.
void printTimedLine(const char* time, const char* message)
{
    std::lock_guard<std::mutex> guard(consoleLock());
    std::fprintf(stdout, "%s : %s\r\n", time, message);
    std::fflush(stdout);
}

// Raw protocol text (a whole header block) without a time.
void printBlock(const char* message)
{
    std::lock_guard<std::mutex> guard(consoleLock());
    std::fprintf(stdout, "\r\n%s\r\n", message);
    std::fflush(stdout);
}

// Says once on the console why error lines cannot be kept.
void warnErrorLogOnce(ErrorLog::Result result)
{
    static std::atomic<bool> warned {false};
    if (result == ErrorLog::Result::Written || warned.exchange(true)) return;
    std::lock_guard<std::mutex> guard(consoleLock());
    if (result == ErrorLog::Result::NotRegularFile)
        std::fprintf(stdout, "Warning: %s is not a regular file; error lines are not kept\r\n", ErrorLog::FILE_NAME);
    else
        std::fprintf(stdout, "Warning: cannot write %s; error lines are not kept\r\n", ErrorLog::FILE_NAME);
    std::fflush(stdout);
}

} // namespace

WString Webserver::checkDocumentPath(const char* path)
{
    struct stat info;
    const char* problem = nullptr;
    if (std::strlen(path) >= PATH_MAX) {
        problem = "is too long";
    } else if (::stat(path, &info) != 0) {
        problem = errno == ENAMETOOLONG ? "is too long" : "does not exist";
    } else if (!S_ISDIR(info.st_mode)) {
        problem = "is not a folder";
    }
    if (problem == nullptr) {
        return WString();
    }
    // Appended, not formatted: the path may be longer than a formatted line.
    WString warning("Warning: document path ");
    warning.append(problem);
    warning.append(": ");
    warning.append(path);
    return warning;
}

Webserver::Webserver(
    const char* host, long long port, const char* documentPath, int level, const char* startURL, int autoFinish)
    : logLevel(level), finishedRequests(0)
{
    WInitFile init;
    init.open("cfg/init.txt", "=");

    config.host = (host != nullptr && *host != '\0') ? host : init.getValue("httpHost");
    if (port == 0) {
        port = ServerConfig::readPort(init.getValue("httpPort"));
    }
    if (port != 0 && (port < 1 || port > 65535)) {
        // Taken as it comes, 4294967376 would end up as port 80.
        WIPAddress address(config.host.length() > 0 ? config.host.getBuf() : "localhost", 0);
        errno = EINVAL;
        throw WSocketException(WFormattedString("Cannot bind to %s:%lld", address.getIpAddressStr(), port), -7);
    }
    config.port = (uint32_t)port;
    config.documentPath = (documentPath != nullptr && *documentPath != '\0') ? documentPath : init.getValue("docPath");
    config.startURL = (startURL != nullptr && *startURL != '\0') ? startURL : init.getValue("startURL");
    if (autoFinish == 0) {
        autoFinish = init.getIntValue("autoFinish");
    }
    config.autoFinish = autoFinish;
    long long tempSpace = init.getIntValue("tempSpaceLimit");
    config.tempSpaceLimit = tempSpace > 0 ? (uint64_t)tempSpace : 0;

    if (config.host.length() == 0) {
        config.host = "localhost";
    }
    if (config.port == 0) {
        config.port = 80;
    }
    if (config.documentPath.length() == 0) {
        WSystem::getCurrentDirectory(config.documentPath);
        config.documentPath.replace('\\', '/');
    }

    WString warning = checkDocumentPath(config.documentPath);
    if (warning.length() > 0) {
        log(warning, 0);
    }

    server.configure(this, config);
    server.start();
}

Webserver::~Webserver()
{
    try {
        server.stop(true, 0);
    } catch (WException&) {
        // the server object still stops its threads when it goes
    }
}

void Webserver::start()
{
    server.start();
}

void Webserver::stop()
{
    server.stop(true, 1000);
}

void Webserver::restart()
{
    stop();
    start();
}

void Webserver::onStarted()
{
    log(ZORVANE_WITH_PHP " running ...", 0);
}

void Webserver::onStopped()
{
    log("Webserver stopped", 0);
}

void Webserver::onException(const WException& e)
{
    log(e.toString(), -1);
}

void Webserver::log(const char* message, int level)
{
    // Per-request lines come several times a request; a line nobody sees
    // costs no clock reading and no formatting.
    // Bytes from clients reach the console escaped, never as terminal controls.
    if (level == 3) {
        if (logLevel >= 3) {
            printBlock(ErrorLog::escapeControlBytes(message, ErrorLog::LineBreaks::Keep));
        }
        return;
    }
    if (level != -1 && level > logLevel) {
        return;
    }
    WDate now;
    const WString& time = now.format(WDate::TIME_FORMAT_LOG);
    if (level == -1) {
        warnErrorLogOnce(ErrorLog::append(time, message));
    }
    if (level != -1 || -1 <= logLevel) {
        printTimedLine(time, ErrorLog::escapeControlBytes(message, ErrorLog::LineBreaks::Escape));
    }
}

void Webserver::command(int)
{
}

void Webserver::onRequestFinished()
{
    int finished = ++finishedRequests;
    if (config.autoFinish < 0 && finished >= -config.autoFinish) {
        log(WFormattedString("Auto finish after %i request(s)", -config.autoFinish), 1);
        stop();
    }
}
