// zorvane_cmd: serves a document folder from the command line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "Webserver.h"
#include "WException.h"
#include "WSystem.h"
#include "ZorvaneVersion.h"

namespace {

const char* const PROGRAM_TITLE = ZORVANE_WITH_PHP " V1.1";

const char* const USAGE
    = "Usage: zorvane_cmd.exe\r\n\r\n--host=<host>\r\n--port=<port>\r\n--docpath=<document path>\r\n"
      "--loglevel=<0..3>\r\n--open-url=<url>\r\n--auto-finish=<finishcode>\r\n\r\n"
      "<finishcode>: 0=run infinite, x=x seconds, -x=x requests\r\n\r\n"
      "<loglevel>: 0=only errors, 1=default, 2=notice, 3=http headers\r\n\r\n"
      "Example:\r\nStart webserver on port 81, open url, finish after 1 request.\r\n"
      "zorvane_cmd.exe --port=81 --open-url=http://127.0.0.1:81/myscript.php --auto-finish=-1\r\n\r\n"
      "Note: Default configuration in cfg/ directory is used.";

struct Options {
    WString host;
    long long port = 0;
    WString docPath;
    int logLevel = 1;
    WString openURL;
    int autoFinish = 0;
    bool help = false;
};

Options parseOptions(int argc, char* argv[])
{
    Options options;
    for (int i = 0; i < argc; i++) {
        WString word(argv[i]);
        if (word.equals("--help")) {
            options.help = true;
            break;
        }
        WString name;
        WString value;
        if (!word.split("=", name, value, true)) {
            continue;
        }
        if (name.equals("--host")) {
            options.host = value;
        } else if (name.equals("--port")) {
            options.port = ServerConfig::readPort(value);
        } else if (name.equals("--docpath")) {
            options.docPath = value;
        } else if (name.equals("--loglevel")) {
            options.logLevel = std::atoi(value);
        } else if (name.equals("--open-url")) {
            options.openURL = value;
        } else if (name.equals("--auto-finish")) {
            options.autoFinish = std::atoi(value);
        }
    }
    return options;
}

// Waits as the finish code says: 0 for ever, x seconds once, or until the
// server ended after -x script requests.
void waitForFinish(Webserver& webserver)
{
    int finish = webserver.getConfig().autoFinish;
    if (finish == 0) {
        for (;;) {
            WSystem::sleepMs(1000);
        }
    }
    if (finish > 0) {
        WSystem::sleepMs((unsigned long)finish * 1000UL);
        webserver.log(WFormattedString("Auto finish after %i seconds", finish), 1);
        return;
    }
    while (webserver.getServer().isRunning()) {
        WSystem::sleepMs(1000);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // Non-zero when the server could not start (or another library failure
    // ended the program), so scripts and service managers can tell.
    int status = 0;
    Webserver* webserver = nullptr;
    try {
        WSystem::startup(PROGRAM_TITLE);
        Options options = parseOptions(argc, argv);
        if (options.help) {
            std::fputs(USAGE, stdout);
            std::fflush(stdout);
        } else {
            webserver = new Webserver(
                options.host, options.port, options.docPath, options.logLevel, options.openURL, options.autoFinish);
            waitForFinish(*webserver);
            webserver->stop();
            if (!webserver->getServer().hasEnded()) {
                // A thread that could not be stopped still uses the server:
                // leave without destructors rather than pull objects from under it.
                std::fflush(nullptr);
                ::_exit(0);
            }
            delete webserver;
            webserver = nullptr;
        }
    } catch (WException& e) {
        delete webserver;
        WSystem::showException(nullptr, e);
        status = 1;
    }
    try {
        WSystem::shutdown();
    } catch (WException&) {
        // nothing left to report to
    }
    return status;
}
