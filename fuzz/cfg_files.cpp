// Configuration files as a user may write them: the same bytes are read as
// cfg/init.txt (WInitFile), cfg/mime.txt (MimeTypeMap), cfg/vdir.txt and
// cfg/cgi.txt (RoutingTables), from a real file through WFile's line reader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "FuzzCheck.h"
#include "RoutingTables.h"
#include "WException.h"
#include "WInitFile.h"
#include "ZorvaneControl.h"

namespace {

std::string g_folder;
std::string g_file;

// Takes the reports of skipped lines; they must be readable text.
class ReportSink : public ZorvaneControl {
public:
    void start() override { }
    void stop() override { }
    void restart() override { }
    void onStarted() override { }
    void onStopped() override { }
    void onException(const WException&) override { }
    void log(const char* message, int level) override
    {
        FUZZ_CHECK(message != nullptr && level == -1);
        total += strlen(message);
    }
    void command(int) override { }
    void onRequestFinished() override { }

    unsigned long total = 0;
};

void removeFolder()
{
    unlink(g_file.c_str());
    rmdir(g_folder.c_str());
}

void writeFile(const uint8_t* data, size_t size)
{
    int fd = open(g_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        FUZZ_CHECK(n > 0);
        data += n;
        size -= (size_t)n;
    }
    close(fd);
}

void readInitFile()
{
    WInitFile init;
    init.open(g_file.c_str(), "=");
    FUZZ_CHECK(init.getValue("httpHost") != nullptr);
    (void)init.getIntValue("httpPort");
    (void)init.getFlagValue("autoFinish");
    const char* docPath = init.getValue("docPath");
    FUZZ_CHECK(docPath != nullptr);
    // A key is stored trimmed and found again by its text.
    init.putValue("docPath", docPath);
    FUZZ_CHECK(strcmp(init.getValue("docPath"), docPath) == 0);
}

void readTables()
{
    ReportSink sink;
    RoutingTables tables;
    tables.loadVirtualDirectories(g_file.c_str(), &sink);
    tables.loadInterpreters(g_file.c_str(), &sink);
    tables.loadMimeTypes(g_file.c_str(), &sink);
    for (const RoutingEntry& e : tables.virtualDirectories.entries()) {
        // An alias names a whole folder: '/' at both ends, lower case.
        FUZZ_CHECK(e.key.length() >= 1 && e.key.getBuf()[0] == '/');
        FUZZ_CHECK(e.key.getBuf()[e.key.length() - 1] == '/');
        FUZZ_CHECK(e.value.length() > 0);
        FUZZ_CHECK(tables.virtualDirectories.find(e.key) == &e.value);
        for (unsigned long i = 0; i < e.key.length(); ++i)
            FUZZ_CHECK(!(e.key.getBuf()[i] >= 'A' && e.key.getBuf()[i] <= 'Z'));
    }
    for (const RoutingEntry& e : tables.interpreters.entries()) {
        FUZZ_CHECK(e.key.length() > 0);
        FUZZ_CHECK(strpbrk(e.key.getBuf(), " \t") == nullptr);
    }
    (void)tables.mimeTypes.getMimeType("html");
    (void)tables.mimeTypes.getMimeType("");
    RoutingTables copy(tables);
    copy = tables;
}

void parseLines(const uint8_t* data, size_t size)
{
    // The line parsers on their own, each line as the reader would give it.
    std::string text(reinterpret_cast<const char*>(data), size);
    MimeTypeMap map;
    RoutingTables tables;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        map.parseLine(line.c_str());
        WString why;
        if (!tables.addVirtualDirectoryLine(line.c_str(), why)) FUZZ_CHECK(why.length() > 0);
        if (!tables.addInterpreterLine(line.c_str(), why)) FUZZ_CHECK(why.length() > 0);
        start = end + 1;
    }
    FUZZ_CHECK(map.getMimeType("no-such-extension-here") != nullptr);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zv-fuzz-cfg-XXXXXX";
    std::string buffer = pattern;
    FUZZ_CHECK(mkdtemp(buffer.data()) != nullptr);
    g_folder = buffer;
    g_file = g_folder + "/cfg.txt";
    atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeFile(data, size);
    try {
        readInitFile();
    } catch (WException& e) {
        fprintf(stderr, "unexpected: %s\n", e.toString().getBuf());
        abort();
    }
    readTables();
    parseLines(data, size);
    return 0;
}
