#pragma once

// What the script tests add to the shared server test support: a site whose
// documents live in www/, a real server on it, and a GET that names the port
// in its Host header the way browsers do.

#include "LogQueue.h"
#include "ServerTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace scripttest {

using servertest::Client;
using servertest::readFile;
using servertest::RecordingControl;
using servertest::roundTrip;
using servertest::statusLine;
using servertest::writeFile;

// The cfg/php.ini the program ships with, from the source tree named by
// ZV_SOURCE_DIR or the one holding this file; empty when it cannot be read.
inline std::string shippedPhpIni()
{
    const char* dir = getenv("ZV_SOURCE_DIR");
    std::filesystem::path root = dir != nullptr
        ? std::filesystem::path(dir)
        : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
    return readFile(root / "cfg" / "php.ini");
}

// A temporary site with cfg/ and www/, the current directory while it lives.
class ScriptSite : public servertest::TempSite {
public:
    ScriptSite()
    {
        write("cfg/mime.txt", "html;text/html\ntxt;text/plain\n");
        makeFolders("www");
    }
    std::filesystem::path www() const { return path("www"); }
};

// A server on a free loopback port, serving the site's www folder.
class TestServer {
public:
    explicit TestServer(const ScriptSite& site)
    {
        ServerConfig config;
        config.host = "127.0.0.1";
        config.documentPath = site.www().c_str();
        server = std::make_unique<Zorvane>(&control, config);
        control.settleLog = [this] {
            if (server) server->flushLog();
        };
        servertest::startOnFreePort(*server, &control, config);
        port = config.port;
    }
    ~TestServer()
    {
        try {
            server->stop(true, 5000);
        } catch (...) {
        }
        server.reset();
    }

    RecordingControl control;
    std::unique_ptr<Zorvane> server;
    unsigned port = 0;
};

// One site and one server for a whole test program (PHP starts once per
// process). fill() writes the site's files before the server starts.
class SharedSite : public ::testing::Environment {
public:
    void SetUp() override
    {
        site = std::make_unique<ScriptSite>();
        fill(*site);
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
        // The suites look for the error line of each request they make.
        LogQueue::setRequestErrorsPerSecond(1000000);
        server = std::make_unique<TestServer>(*site);
    }
    void TearDown() override
    {
        server.reset();
        site.reset();
    }

    static inline std::unique_ptr<ScriptSite> site;
    static inline std::unique_ptr<TestServer> server;

protected:
    virtual void fill(ScriptSite& site) = 0;
};

inline std::string get(unsigned port, const std::string& path, const std::string& extraHeaders = "")
{
    return roundTrip(port,
        "GET " + path + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n" + extraHeaders + "\r\n", 20000);
}

// One request, the whole answer.
inline std::string httpExchange(unsigned port, const std::string& request)
{
    return roundTrip(port, request, 20000);
}

// The body after the header block's empty line ("\n\n" or "\r\n\r\n"): a CGI
// program's own header block may end either way.
inline std::string bodyOf(const std::string& answer)
{
    size_t lf = answer.find("\n\n");
    size_t crlf = answer.find("\r\n\r\n");
    if (lf == std::string::npos && crlf == std::string::npos) return "";
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) return answer.substr(crlf + 4);
    return answer.substr(lf + 2);
}

} // namespace scripttest
