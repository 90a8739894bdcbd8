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
    Webserver(const char* host, int port, const char* documentPath, int logLevel, const char* startURL,
              int autoFinish);
    ~Webserver() override;

    void start() override;
    void stop() override;
    void restart() override;
    void onStarted() override;
    void onStopped() override;
    void onException(const WException& e) override;
    void log(const char* message, int level) override;
    void command(int code) override;
    void onRequestFinished() override;

    const ServerConfig& getConfig() const { return config; }
    Zorvane& getServer() { return server; }

    // Where error lines are appended.
    static const char* const ERROR_LOG;

private:
    ServerConfig config;
    Zorvane server;
    int logLevel;
    std::atomic<int> finishedRequests;
};
