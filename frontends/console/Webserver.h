#pragma once

#include <atomic>

#include "ServerConfig.h"
#include "Zorvane.h"
#include "ZorvaneControl.h"

// The console's controller: fills the configuration from the options and
// cfg/init.txt, runs the server, prints log lines to standard output and
// appends errors to error.log, and stops the server after a number of
// finished script requests when asked to.
class Webserver : public ZorvaneControl {
public:
    // Builds the server (which starts the PHP runtime), reads cfg/init.txt
    // (which must exist) for every option given as empty text or 0, and
    // starts the server: it listens when the constructor returns.
    // A port outside 1..65535, given or read, is refused as a bind failure
    // ("Cannot bind to %s:%lld", id -7); a missing document path, one that is
    // not a folder, or one too long to serve from is warned about at level 0.
    Webserver(
        const char* host, long long port, const char* documentPath, int logLevel, const char* startURL, int autoFinish);
    ~Webserver() override;

    void start() override;
    void stop() override;
    void restart() override;
    void onStarted() override;
    void onStopped() override;
    void onException(const WException& e) override;
    void log(const char* message, int level) override;
    bool isLogShown(int level) const override { return level == -1 || level <= logLevel; }
    void command(int code) override;
    void onRequestFinished() override;

    const ServerConfig& getConfig() const { return config; }
    Zorvane& getServer() { return server; }

    // Where error lines are appended.
    static const char* const ERROR_LOG;

    // The start-up warning for a document path, or "" when it names a folder.
    static WString checkDocumentPath(const char* path);

private:
    ServerConfig config;
    Zorvane server;
    int logLevel;
    std::atomic<int> finishedRequests;
};
