// What clients see on the wire: exact answers, routing of folders, virtual
// directories and interpreters, and paths that try to leave the root.

#include <sys/stat.h>

#include <regex>

#include "HTTPRequest.h"
#include "ServerTestSupport.h"
#include "ZorvaneVersion.h"

using namespace servertest;

namespace {

const std::string SERVER_LINE = "Server: " ZORVANE_WITH_PHP " V1.1\r\n";
const std::regex HTTP_DATE("[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT");

std::string headerValue(const std::string& response, const std::string& name)
{
    size_t at = response.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return "";
    }
    at += name.size() + 4;
    return response.substr(at, response.find("\r\n", at) - at);
}

} // namespace

TEST_F(ServerTest, StaticFileAnswersExactly)
{
    startServer();
    std::string response = get(port, "/index.html");
    std::string date = headerValue(response, "Date");
    std::string modified = headerValue(response, "Last-Modified");
    EXPECT_TRUE(std::regex_match(date, HTTP_DATE)) << date;
    EXPECT_TRUE(std::regex_match(modified, HTTP_DATE)) << modified;
    EXPECT_EQ(response,
        "HTTP/1.1 200 OK\r\n" + SERVER_LINE + "Date: " + date + "\r\nContent-Type: text/html\r\nLast-Modified: "
            + modified + "\r\nContent-Length: 13\r\nAccept-Ranges: bytes\r\nConnection: close\r\n\r\n<h1>home</h1>");
    EXPECT_TRUE(control.has(2, "Client connected: 127.0.0.1"));
    EXPECT_TRUE(control.has(2, "Send file: " + site.root + "/docs/index.html, Size=13, MimeType=text/html"));
}

TEST_F(ServerTest, ErrorAnswersAreExact)
{
    startServer();
    EXPECT_EQ(get(port, "/sub"),
        "HTTP/1.1 301 Moved Permanently\r\n" + SERVER_LINE + "Location: /sub/\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(get(port, "/missing.html"), errorPage(404, "Not Found", "/missing.html"));
    EXPECT_TRUE(control.has(2, "File not found: " + site.root + "/docs/missing.html, MimeType=text/html"));
    EXPECT_EQ(roundTrip(port, "PUT /a HTTP/1.1\r\nHost: x\r\n\r\n"), errorPage(501, "Not Implemented", "HTTP-Method: PUT"));
    EXPECT_EQ(roundTrip(port, "DELETE /index.html HTTP/1.0\r\n\r\n"),
        errorPage(501, "Not Implemented", "HTTP-Method: DELETE"));
    // Methods other than these reach scripts only.
    EXPECT_EQ(roundTrip(port, "PATCH /index.html HTTP/1.1\r\nHost: x\r\n\r\n"),
        errorPage(400, "Bad Request", "Unknown HTTP method 'PATCH'"));
    std::vector<std::string> errors = control.exceptionTexts();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "WException: Unknown HTTP method 'PATCH' (id=-1, syserr=00000000h)");
}

TEST_F(ServerTest, SilentClientGetsRequestTimeout)
{
    unsigned long previous = HTTPRequest::getHeaderTimeLimit();
    HTTPRequest::setHeaderTimeLimit(300);
    startServer();
    Client client(port);
    auto started = std::chrono::steady_clock::now();
    std::string response = client.readAll(5000);
    auto took = std::chrono::steady_clock::now() - started;
    HTTPRequest::setHeaderTimeLimit(previous);
    EXPECT_EQ(response, errorPage(408, "Request Timeout", "Max. 30 Seconds"));
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_TRUE(control.exceptionTexts().empty());
}

TEST_F(ServerTest, FoldersServeTheirIndexFile)
{
    startServer();
    EXPECT_EQ(body(get(port, "/sub/")), "sub index.html");
    EXPECT_EQ(body(get(port, "/sub/?a=1")), "sub index.html");
    EXPECT_EQ(body(get(port, "/")), "<h1>home</h1>");
    // No index file and no listing.
    EXPECT_EQ(get(port, "/empty/"), errorPage(404, "Not Found", "/empty/"));
    // The redirect keeps the query.
    EXPECT_EQ(headerValue(get(port, "/sub?a=1"), "Location"), "/sub/?a=1");
}

TEST_F(ServerTest, IndexScriptRunsTheInterpreter)
{
    site.write("docs/onlyphp/index.php", "<?php echo 'only php';");
    startServer();
    get(port, "/onlyphp/");
    EXPECT_TRUE(control.has(2, "Execute PHP script: " + site.root + "/docs/onlyphp/index.php"));
    EXPECT_EQ(control.finished.load(), 1);
}

TEST_F(ServerTest, VirtualDirectoriesMapOntoTheirFolder)
{
    startServer();
    // The remainder is taken in lower case; the file is found whatever its case on disk.
    std::string response = get(port, "/IMG/Logo.GIF");
    EXPECT_EQ(statusLine(response), "HTTP/1.1 200 OK");
    EXPECT_EQ(headerValue(response, "Content-Type"), "image/gif");
    EXPECT_EQ(body(response), "GIF89a-logo");
    EXPECT_TRUE(control.has(2, "Send file: " + site.root + "/pics/Logo.GIF"));
    EXPECT_EQ(headerValue(get(port, "/img"), "Location"), "/img/");
    EXPECT_EQ(statusLine(get(port, "/img/none.gif")), "HTTP/1.1 404 Not Found");
}

TEST_F(ServerTest, EscapedPathsTakeEveryRoute)
{
    // The path is decoded before routing: virtual directory, case-insensitive
    // names, index files and interpreter keys all see the decoded form.
    site.write("docs/sp ace/index.html", "space index");
    startServer();
    EXPECT_EQ(body(get(port, "/%49mg/Logo%2eGIF")), "GIF89a-logo");
    EXPECT_EQ(body(get(port, "/%6dixed/CASE%2etxt")), "mixed case file");
    EXPECT_EQ(body(get(port, "/s%75b/")), "sub index.html");
    EXPECT_EQ(body(get(port, "/sp%20ace/")), "space index");
    EXPECT_EQ(headerValue(get(port, "/sp%20ace?q=%41"), "Location"), "/sp%20ace/?q=%41");
    EXPECT_EQ(body(get(port, "/x%2ephp")), "php ran");
    EXPECT_EQ(body(get(port, "/x.PH%50")), "php ran");
    EXPECT_EQ(statusLine(get(port, "/x.php%00")), "HTTP/1.1 400 Bad Request");
}

TEST_F(ServerTest, NamesResolveWithoutRegardToCase)
{
    startServer();
    EXPECT_EQ(body(get(port, "/mixed/case.txt")), "mixed case file");
    EXPECT_EQ(body(get(port, "/MIXED/CASE.TXT")), "mixed case file");
    EXPECT_EQ(headerValue(get(port, "/Mixed"), "Location"), "/Mixed/");
    // An upper-case script name still runs the script: its source never goes out.
    std::string response = get(port, "/X.PHP");
    EXPECT_EQ(response.find("<?php"), std::string::npos) << response;
    EXPECT_TRUE(control.has(2, "Execute PHP script: " + site.root + "/docs/x.php"));
}

TEST_F(ServerTest, InterpreterKeysNeedTheirPathInfoForm)
{
    site.write("docs/a.phpx", "not a script");
    startServer();
    // The key occurs but is followed by text: no interpreter, a static file.
    site.write("docs/a.php5", "<?php // a variant");
    EXPECT_EQ(body(get(port, "/a.phpx")), "not a script");
    // A key followed by anything but a letter marks a script's variant: not sent.
    EXPECT_EQ(get(port, "/a.php5"), errorPage(403, "Forbidden", "/a.php5"));
    EXPECT_FALSE(control.has(2, "Execute PHP script"));
    get(port, "/x.php/extra/path?q=1");
    EXPECT_TRUE(control.has(2, "Execute PHP script: " + site.root + "/docs/x.php"));
    // Every method runs scripts.
    roundTrip(port, "HEAD /x.php HTTP/1.1\r\nHost: x\r\n\r\n");
    roundTrip(port, "POST /x.php HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
    roundTrip(port, "PUT /x.php HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(control.count(2, "Execute PHP script"), 4);
    EXPECT_EQ(control.finished.load(), 4);
}

TEST_F(ServerTest, PathsNeverLeaveTheRoot)
{
    startServer();
    const char* attempts[] = {
        "/../secret.txt",
        "/sub/../../secret.txt",
        "\\..\\secret.txt",
        "/img/../secret.txt",
        "/img/../../secret.txt",
        "/./../secret.txt",
        "/sub/..%2f..%2fsecret.txt",
        "/%2e%2e/secret.txt",
        "/%2E%2E/secret.txt",
        "/.%2e/secret.txt",
        "/sub/..%5c..%5csecret.txt",
        "/img/%2e%2e/secret.txt",
        "/%252e%252e/secret.txt",
        "/..",
        "/img/..",
        "/sub/x/../../../secret.txt",
    };
    for (const char* path : attempts) {
        std::string response = get(port, path);
        EXPECT_EQ(response.find("SECRET-OUTSIDE"), std::string::npos) << path;
        EXPECT_NE(statusLine(response), "HTTP/1.1 200 OK") << path;
        EXPECT_NE(statusLine(response), "") << path;
    }
}

TEST_F(ServerTest, OnlyRegularFilesAreServed)
{
    ASSERT_EQ(::mkfifo(site.path("docs/pipe.txt").c_str(), 0644), 0);
    startServer();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(get(port, "/pipe.txt"), errorPage(404, "Not Found", "/pipe.txt"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    // A folder is never sent as a file.
    EXPECT_EQ(statusLine(get(port, "/empty/")), "HTTP/1.1 404 Not Found");
}

TEST_F(ServerTest, ConnectionWithoutRequestIsClosedQuietly)
{
    startServer();
    {
        Client client(port);
        client.shutdownSend();
        EXPECT_EQ(client.readAll(3000), "");
    }
    EXPECT_EQ(roundTrip(port, "\r\n"), "");
    // Served requests still work afterwards, and nothing was dispatched.
    EXPECT_EQ(body(get(port, "/style.css")), "body{}");
    EXPECT_EQ(control.count(2, "Send file"), 1);
    EXPECT_FALSE(control.has(2, "File not found"));
    EXPECT_EQ(control.finished.load(), 0);
}

TEST_F(ServerTest, UnreadRequestBodyNeverResetsTheAnswer)
{
    startServer();
    // A large body that nobody reads: the answer must still arrive whole.
    for (const char* path : {"/index.html", "/missing.txt"}) {
        Client client(port);
        std::string request = std::string("POST ") + path + " HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000\r\n\r\n";
        client.send(request);
        std::string bodyBytes(2000000, 'x');
        client.send(bodyBytes);
        std::string response = client.readAll(5000);
        EXPECT_FALSE(client.reset) << path;
        EXPECT_NE(response.find("</"), std::string::npos) << path << ": " << response.size();
    }
}
