#include "HTTPResponse.h"
#include "HTTPStatus.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include "ZorvaneVersion.h"

using servertest::QueuedConnection;
using servertest::RecordingControl;

namespace {

const std::string SERVER = "Server: " ZORVANE_WITH_PHP " V1.1\r\n";

std::string page(const std::string& code, const std::string& reason, const std::string& message)
{
    return "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>" + code + " " + reason
        + "</title>\n</head><body>\n<h1>" + reason + "</h1>\n<p>" + message + "</p>\n</body></html>\n";
}

// Runs the writer against a fresh connection and returns the bytes the client received.
std::string wire(const std::function<void(HTTPResponse&)>& writer, RecordingControl* control = nullptr)
{
    QueuedConnection c;
    {
        HTTPResponse response(control, &c.stream);
        writer(response);
    }
    return c.receive();
}

TEST(ResponseTest, StatusTable)
{
    const struct {
        unsigned code;
        const char* reason;
    } rows[] = {
        {200, "OK"},
        {302, "Moved Temporarily"},
        {408, "Request Timeout"},
        {413, "Request Entity Too Large"},
        {414, "Request-URI Too Long"},
        {505, "HTTP Version Not Supported"},
        {416, "Range Not Satisfiable"},
        {418, "Unknown status"},
        {0, "Unknown status"},
        {506, "Unknown status"},
    };
    for (const auto& r : rows) {
        HTTPStatus s;
        lookupHTTPStatus(r.code, s);
        EXPECT_EQ(r.code, s.code);
        EXPECT_STREQ(r.reason, s.reason) << r.code;
    }
    EXPECT_STREQ("Internal Server Error", HTTP_STATUS_INTERNAL_SERVER_ERROR.reason);
}

TEST(ResponseTest, HeaderBlocks)
{
    EXPECT_EQ(
        "HTTP/1.1 200 OK\r\n" + SERVER + "Connection: close\r\n\r\n", wire([](HTTPResponse& r) { r.sendHeaders(true); }));
    EXPECT_EQ("HTTP/1.1 418 Unknown status\r\n" + SERVER + "\r\n", wire([](HTTPResponse& r) {
        r.setStatus(418);
        r.sendHeaders(false);
    }));
    EXPECT_EQ("HTTP/1.1 302 Moved Temporarily\r\n" + SERVER + "A: 1\r\nB: two words\r\nA: 3\r\nConnection: close\r\n\r\n",
        wire([](HTTPResponse& r) {
            r.setStatus(302);
            r.addHeader("A", "1");
            r.addHeader("B: two words");
            r.addHeader("A", "3");
            r.sendHeaders(true);
        }));
    EXPECT_EQ("HTTP/1.1 301 Moved Permanently\r\n" + SERVER + "Location: /img/\r\nConnection: close\r\n\r\n",
        wire([](HTTPResponse& r) {
            r.addHeader("X", "dropped");
            r.redirect("/img/");
        }));
}

TEST(ResponseTest, BodyWrites)
{
    // Without automatic headers only the bytes go out.
    EXPECT_EQ("abc", wire([](HTTPResponse& r) { r.write("abc", 3); }));
    // Automatic headers: one block before the first bytes, however many writes.
    EXPECT_EQ("HTTP/1.1 200 OK\r\n" + SERVER + "Content-Type: text/html\r\nConnection: close\r\n\r\nonetwo",
        wire([](HTTPResponse& r) {
            r.setAutoHeaders(true);
            r.addHeader("Content-Type", "text/html");
            r.write("one", 3);
            EXPECT_TRUE(r.isHeadersSent());
            r.write("two", 3);
        }));
    // Raw CGI output: the program's own lines complete the block.
    EXPECT_EQ("HTTP/1.1 200 OK\r\n" + SERVER + "Connection: close\r\nX-Cgi: 1\r\n\r\nbody", wire([](HTTPResponse& r) {
        r.setRawCGIOutput(true);
        r.write("X-Cgi: 1\r\n\r\nbody", 16);
    }));
    // A zero-length write with automatic headers sends the block only.
    EXPECT_EQ("HTTP/1.1 200 OK\r\n" + SERVER + "Connection: close\r\n\r\n", wire([](HTTPResponse& r) {
        r.setAutoHeaders(true);
        r.write("", 0);
    }));
    // A large body after the block arrives whole.
    std::string big(600000, 'z');
    EXPECT_EQ("HTTP/1.1 200 OK\r\n" + SERVER + "Connection: close\r\n\r\n" + big, wire([&](HTTPResponse& r) {
        r.setAutoHeaders(true);
        r.write(big.data(), big.size());
    }));
}

TEST(ResponseTest, ErrorPages)
{
    const std::string html = "Content-Type: text/html\r\nConnection: close\r\n\r\n";
    const struct {
        unsigned code;
        const char* message;
        std::string expected;
    } cases[] = {
        {404, "/nothere.html", "HTTP/1.1 404 Not Found\r\n" + SERVER + html + page("404", "Not Found", "/nothere.html")},
        {400, "Unknown HTTP method 'PATCH'",
            "HTTP/1.1 400 Bad Request\r\n" + SERVER + html + page("400", "Bad Request", "Unknown HTTP method 'PATCH'")},
        {501, "HTTP-Method: PUT",
            "HTTP/1.1 501 Not Implemented\r\n" + SERVER + html + page("501", "Not Implemented", "HTTP-Method: PUT")},
        {408, "Max. 30 Seconds",
            "HTTP/1.1 408 Request Timeout\r\n" + SERVER + html + page("408", "Request Timeout", "Max. 30 Seconds")},
        {404, "/<script>alert(\"x\")</script>&",
            "HTTP/1.1 404 Not Found\r\n" + SERVER + html
                + page("404", "Not Found", "/&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, wire([&](HTTPResponse& r) {
            r.addHeader("X-Old", "cleared");
            r.sendError(lookupHTTPStatus(c.code), c.message, false);
        }));
    }
}

TEST(ResponseTest, ErrorPageIsCutAt1024)
{
    std::string message(1000, 'm');
    std::string out = wire([&](HTTPResponse& r) { r.sendError(lookupHTTPStatus(500), message.c_str(), true); });
    std::string head
        = "HTTP/1.1 500 Internal Server Error\r\n" + SERVER + "Content-Type: text/html\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(head.size() + 1024, out.size());
    EXPECT_EQ(head + page("500", "Internal Server Error", message).substr(0, 1024), out);
}

TEST(ResponseTest, ErrorAfterHeadersCutsTheAnswer)
{
    // No second status line inside the body: the answer is marked cut
    // instead, and its owner resets the connection.
    for (bool quiet : {false, true}) {
        QueuedConnection c;
        bool cut = false;
        {
            HTTPResponse response(nullptr, &c.stream);
            response.setAutoHeaders(true);
            response.addHeader("Content-Length", "10");
            response.write("part", 4);
            EXPECT_FALSE(response.wasCut());
            response.sendError(lookupHTTPStatus(500), "late failure", quiet);
            cut = response.wasCut();
        }
        EXPECT_TRUE(cut);
        EXPECT_EQ("HTTP/1.1 200 OK\r\n" + SERVER + "Content-Length: 10\r\nConnection: close\r\n\r\npart", c.receive());
    }
}

TEST(ResponseTest, LevelThreeLogOmitsTheEmptyLine)
{
    // The log shows bare line feeds, as it shows the request's block.
    RecordingControl control;
    wire(
        [](HTTPResponse& r) {
            r.addHeader("A", "b");
            r.sendHeaders(true);
        },
        &control);
    wire([](HTTPResponse& r) { r.sendError(lookupHTTPStatus(404), "/y", true); }, &control);
    const std::string server = "Server: " ZORVANE_WITH_PHP " V1.1\n";
    std::vector<std::string> blocks = control.linesAt(3);
    ASSERT_EQ(2u, blocks.size());
    EXPECT_EQ("HTTP/1.1 200 OK\n" + server + "A: b\nConnection: close\n", blocks[0]);
    EXPECT_EQ("HTTP/1.1 404 Not Found\n" + server + "Content-Type: text/html\nConnection: close\n", blocks[1]);
}

TEST(ResponseTest, QuietErrorPageToAGoneClient)
{
    QueuedConnection quietConnection;
    quietConnection.output.kill(); // the loop saw the client go
    HTTPResponse quiet(nullptr, &quietConnection.stream);
    EXPECT_NO_THROW(quiet.sendError(lookupHTTPStatus(400), "x", true));

    QueuedConnection loudConnection;
    loudConnection.output.kill();
    HTTPResponse loud(nullptr, &loudConnection.stream);
    EXPECT_THROW(loud.sendError(lookupHTTPStatus(404), "x", false), WSocketException);
    EXPECT_FALSE(loud.isHeadersSent());
}

} // namespace
