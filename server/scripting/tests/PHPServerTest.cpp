// PHP scripts end to end: a real server in a temporary folder, plain sockets.

#include "FrontEnd.h"
#include "PHPRuntime.h"
#include "ScriptTestSupport.h"

#include <future>
#include <map>
#include "ZorvaneVersion.h"

using namespace scripttest;

namespace {

// One site and one server for the whole program: PHP starts once per process.
class PHPSite : public SharedSite {
protected:
    void fill(ScriptSite& target) override
    {
        std::string ini = shippedPhpIni();
        ASSERT_FALSE(ini.empty()) << "cfg/php.ini of the source tree";
        // Plain-text errors are easier to match; nothing buffered, so output
        // reaches the socket as the script writes it.
        ini += "\nhtml_errors = Off\nlog_errors = Off\noutput_buffering = 0\n";
        writeFile(target.path("cfg/php.ini"), ini);
        writeFile(target.path("cfg/cgi.txt"), ".php;PHPBuildIn\n");
        writeScripts(target.www());
    }

    static void writeScripts(const std::filesystem::path& www)
    {
        writeFile(www / "hello.php", "<?php echo 'Hello ', 6 * 7;");
        writeFile(www / "server.php", "<?php foreach ($_SERVER as $k => $v) echo $k, '=', $v, \"\\n\";");
        writeFile(www / "vars.php",
            "<?php echo json_encode(['get' => $_GET, 'post' => $_POST, 'cookie' => $_COOKIE,"
            " 'input' => file_get_contents('php://input')]);");
        writeFile(www / "upload.php",
            "<?php $f = $_FILES['doc']; echo $f['name'], '|', $f['size'], '|', $f['error'], '|',"
            " bin2hex(file_get_contents($f['tmp_name'])), '|', $_POST['title'];");
        writeFile(www / "redirect.php", "<?php header('Location: /first'); header('Location: /second'); echo 'moved';");
        writeFile(www / "headers.php",
            "<?php header('X-Gone: 1'); header_remove(); header('X-A: 1'); header('X-A: 2', false);"
            " header('X-B: 1'); header_remove('X-B'); header('X-C: 1'); header('X-C: 2'); echo 'ok';");
        writeFile(www / "exit.php", "<?php echo 'before'; exit(); echo 'after';");
        writeFile(www / "fatal.php", "<?php echo 'start '; undefined_function_xyz(); echo 'end';");
        writeFile(www / "overflow.php", "<?php function f($n) { return array_map('f', [$n + 1]); } f(0);");
        writeFile(
            www / "overflow-late.php", "<?php function f($n) { return array_map('f', [$n + 1]); } echo 'deep '; f(0);");
        writeFile(www / "sleep.php", "<?php usleep(1000000); echo 'slept';");
        writeFile(www / "busy.php",
            "<?php set_time_limit(1); $t = microtime(true); while (microtime(true) - $t < 5) { } echo 'not stopped';");
        writeFile(www / "sleep2.php",
            "<?php $t = microtime(true); while (microtime(true) - $t < 2) { usleep(1000); } echo 'done';");
        writeFile(www / "stream.php",
            "<?php register_shutdown_function(function () {"
            " file_put_contents(__DIR__ . '/status.txt', connection_status()); });"
            " for ($i = 0; $i < 400; $i++) { echo str_repeat('x', 65536); flush(); usleep(5000); }"
            " file_put_contents(__DIR__ . '/finished.txt', 'yes');");
        writeFile(www / "globals.php",
            "<?php if (function_exists('declared_once')) { echo 'leaked'; }"
            " if (true) { function declared_once() {} } $GLOBALS['counter'] = ($GLOBALS['counter'] ?? 0) + 1;"
            " echo ini_get('precision'), ' ', $counter; ini_set('precision', '3');");
        writeFile(www / "log.php", "<?php error_log('note from the script'); echo 'logged';");
        writeFile(www / "code.php", "<?php http_response_code(404); echo 'missing';");
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new PHPSite);

unsigned port()
{
    return PHPSite::server->port;
}

RecordingControl& control()
{
    return PHPSite::server->control;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream s(text);
    std::string line;
    while (std::getline(s, line))
        out.push_back(line);
    return out;
}

// Whether text has the shape of pattern: 'A' an upper-case letter, 'a' a
// lower-case one, '9' a digit, '_' a blank or a digit, anything else itself.
bool hasShape(const std::string& text, const std::string& pattern)
{
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool ok;
        switch (pattern[i]) {
        case 'A':
            ok = isupper(c);
            break;
        case 'a':
            ok = islower(c);
            break;
        case '9':
            ok = isdigit(c);
            break;
        case '_':
            ok = c == ' ' || isdigit(c);
            break;
        default:
            ok = text[i] == pattern[i];
            break;
        }
        if (!ok) return false;
    }
    return true;
}

std::string headerBlock(const std::string& answer)
{
    return answer.substr(0, answer.size() - bodyOf(answer).size());
}

} // namespace

TEST(PHPServer, RuntimeIsEmbeddedAndAnnounced)
{
    ASSERT_TRUE(isPHPAvailable());
    EXPECT_TRUE(control().has(1, std::string("Embedded PHP ") + getPHPVersion()));
    // OPcache and gd load from their own files: a failure would be warned of.
    EXPECT_FALSE(control().has(-1, "PHP runs without"));
    std::string answer = get(port(), "/hello.php");
    EXPECT_EQ("HTTP/1.1 200 OK", statusLine(answer));
    EXPECT_NE(std::string::npos, answer.find("\r\nServer: " ZORVANE_WITH_PHP " V1.1\r\n"));
    EXPECT_NE(std::string::npos, answer.find("\r\nContent-type: text/html; charset=UTF-8\r\n"));
    EXPECT_NE(std::string::npos, answer.find("\r\nConnection: close\r\n\r\n"));
    EXPECT_EQ("Hello 42", bodyOf(answer));
}

TEST(PHPServer, ServerVariablesCarryTheRequest)
{
    std::string answer = get(port(), "/server.php/extra?a=1&b=2", "User-Agent: probe/1\r\nReferer: http://r/\r\n");
    std::map<std::string, std::string> values;
    for (const std::string& line : lines(bodyOf(answer)))
        values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    EXPECT_EQ(ZORVANE_WITH_PHP, values["SERVER_SOFTWARE"]);
    EXPECT_EQ("localhost:" + std::to_string(port()), values["HTTP_HOST"]);
    EXPECT_EQ("a=1&b=2", values["QUERY_STRING"]);
    EXPECT_EQ("/server.php/extra?a=1&b=2", values["REQUEST_URI"]);
    EXPECT_EQ("/server.php", values["SCRIPT_NAME"]);
    EXPECT_EQ("/server.php/extra", values["PHP_SELF"]);
    EXPECT_EQ("/extra", values["PATH_INFO"]);
    EXPECT_EQ("GET", values["REQUEST_METHOD"]);
    EXPECT_EQ("HTTP/1.1", values["SERVER_PROTOCOL"]);
    EXPECT_EQ("127.0.0.1", values["REMOTE_ADDR"]);
    EXPECT_EQ(std::to_string(port()), values["SERVER_PORT"]);
    EXPECT_EQ("probe/1", values["HTTP_USER_AGENT"]);
    EXPECT_EQ("http://r/", values["HTTP_REFERER"]);
    EXPECT_EQ((PHPSite::site->www() / "server.php").string(), values["SCRIPT_FILENAME"]);
    // What was not sent is not set.
    EXPECT_EQ(0u, values.count("CONTENT_LENGTH"));
    EXPECT_EQ(0u, values.count("HTTP_COOKIE"));
}

TEST(PHPServer, QueryPostAndCookiesReachTheScript)
{
    std::string body = "name=J%C3%BC&list%5B%5D=1&list%5B%5D=2";
    std::string answer = httpExchange(port(),
        "POST /vars.php?q=find+me HTTP/1.1\r\nHost: x\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Cookie: session=abc; theme=dark\r\n"
        "Content-Length: "
            + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ("{\"get\":{\"q\":\"find me\"},\"post\":{\"name\":\"J\\u00fc\",\"list\":[\"1\",\"2\"]},"
              "\"cookie\":{\"session\":\"abc\",\"theme\":\"dark\"},\"input\":\""
            + body + "\"}",
        bodyOf(answer));

    // Without a Cookie header the runtime gets no cookies.
    answer = get(port(), "/vars.php");
    EXPECT_EQ("{\"get\":[],\"post\":[],\"cookie\":[],\"input\":\"\"}", bodyOf(answer));
}

TEST(PHPServer, NegativeContentLengthMeansNoBody)
{
    auto started = std::chrono::steady_clock::now();
    std::string answer = httpExchange(port(),
        "POST /vars.php HTTP/1.1\r\nHost: x\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: -5\r\n\r\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // Either the parser refuses it, or the script sees an empty body.
    if (statusLine(answer) == "HTTP/1.1 200 OK") {
        EXPECT_EQ("{\"get\":[],\"post\":[],\"cookie\":[],\"input\":\"\"}", bodyOf(answer));
    } else {
        EXPECT_EQ("HTTP/1.1 400 Bad Request", statusLine(answer));
    }
}

TEST(PHPServer, MultipartUploadFillsFiles)
{
    std::string content;
    for (int i = 0; i < 3000; i++)
        content += static_cast<char>('a' + i % 26);
    content += std::string("\0\r\n--not-the-boundary\r\n", 24);
    std::string boundary = "----zvBoundary42";
    std::string body = "--" + boundary
        + "\r\n"
          "Content-Disposition: form-data; name=\"title\"\r\n\r\nReport\r\n"
          "--"
        + boundary
        + "\r\n"
          "Content-Disposition: form-data; name=\"doc\"; filename=\"report.bin\"\r\n"
          "Content-Type: application/octet-stream\r\n\r\n"
        + content
        + "\r\n"
          "--"
        + boundary + "--\r\n";
    std::string answer = httpExchange(port(),
        "POST /upload.php HTTP/1.1\r\nHost: x\r\n"
        "Content-Type: multipart/form-data; boundary="
            + boundary
            + "\r\n"
              "Content-Length: "
            + std::to_string(body.size()) + "\r\n\r\n" + body);
    std::vector<std::string> parts;
    std::stringstream s(bodyOf(answer));
    std::string part;
    while (std::getline(s, part, '|'))
        parts.push_back(part);
    ASSERT_EQ(5u, parts.size()) << answer;
    EXPECT_EQ("report.bin", parts[0]);
    EXPECT_EQ(std::to_string(content.size()), parts[1]);
    EXPECT_EQ("0", parts[2]);
    std::string hex;
    for (unsigned char c : content) {
        const char* digits = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    EXPECT_EQ(hex, parts[3]);
    EXPECT_EQ("Report", parts[4]);
}

TEST(PHPServer, LocationGivesOne302AndHeaderOperationsAreHonoured)
{
    std::string answer = get(port(), "/redirect.php");
    EXPECT_EQ("HTTP/1.1 302 Moved Temporarily", statusLine(answer));
    std::string head = headerBlock(answer);
    EXPECT_EQ(std::string::npos, head.find("Location: /first"));
    EXPECT_NE(std::string::npos, head.find("\r\nLocation: /second\r\n"));

    answer = get(port(), "/headers.php");
    head = headerBlock(answer);
    EXPECT_EQ(std::string::npos, head.find("X-Gone")) << head;
    EXPECT_NE(std::string::npos, head.find("\r\nX-A: 1\r\nX-A: 2\r\n")) << head;
    EXPECT_EQ(std::string::npos, head.find("X-B")) << head;
    EXPECT_EQ(std::string::npos, head.find("X-C: 1")) << head;
    EXPECT_NE(std::string::npos, head.find("\r\nX-C: 2\r\n")) << head;
    EXPECT_EQ("ok", bodyOf(answer));

    // The status of one request does not carry over into the next on that thread.
    for (int i = 0; i < 16; i++)
        get(port(), "/code.php");
    for (int i = 0; i < 16; i++)
        EXPECT_EQ("HTTP/1.1 200 OK", statusLine(get(port(), "/hello.php")));
}

TEST(PHPServer, HeadGetsTheHeadersOnly)
{
    std::string answer = httpExchange(port(), "HEAD /hello.php HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ("HTTP/1.1 200 OK", statusLine(answer));
    EXPECT_EQ("", bodyOf(answer));
}

TEST(PHPServer, ExitAndFatalErrorsEndTheScriptOnly)
{
    EXPECT_EQ("before", bodyOf(get(port(), "/exit.php")));
    std::string answer = get(port(), "/fatal.php");
    std::string body = bodyOf(answer);
    EXPECT_EQ(0u, body.find("start ")) << body;
    EXPECT_NE(std::string::npos, body.find("Call to undefined function undefined_function_xyz()")) << body;
    EXPECT_EQ(std::string::npos, body.find("end"));
    EXPECT_EQ("Hello 42", bodyOf(get(port(), "/hello.php")));
}

TEST(PHPServer, MissingScriptIsNotFound)
{
    // The runtime is not asked: its error page would show the document folder.
    std::string answer = get(port(), "/nowhere.php");
    EXPECT_EQ("HTTP/1.1 404 Not Found", statusLine(answer)) << answer;
    EXPECT_EQ(std::string::npos, answer.find("Failed opening required")) << answer;
}

TEST(PHPServer, RequestsDoNotLeakIntoEachOther)
{
    // Fifteen workers and more: every request starts from the ini value and
    // its own globals, and a function declared before is gone.
    for (int i = 0; i < 20; i++)
        EXPECT_EQ("14 1", bodyOf(get(port(), "/globals.php")));
}

TEST(PHPServer, StackOverflowIsAnswered500AndTheWorkerServesOn)
{
    // Sixteen overflows: every one of the 15 workers gets one, one worker two.
    for (int i = 0; i < 16; i++) {
        std::string answer = get(port(), "/overflow.php");
        EXPECT_EQ("HTTP/1.1 500 Internal Server Error", statusLine(answer)) << i;
        EXPECT_EQ("PHP has encountered a Stack overflow", bodyOf(answer)) << answer;
    }
    EXPECT_TRUE(control().has(-1, "PHP has encountered a Stack overflow"));
    // Once output went out, the status stays and the text follows it.
    std::string late = get(port(), "/overflow-late.php");
    EXPECT_EQ("HTTP/1.1 200 OK", statusLine(late));
    EXPECT_EQ("deep PHP has encountered a Stack overflow", bodyOf(late));
    for (int i = 0; i < 16; i++)
        EXPECT_EQ("Hello 42", bodyOf(get(port(), "/hello.php"))) << i;
    EXPECT_EQ("14 1", bodyOf(get(port(), "/globals.php")));
}

TEST(PHPServer, ClientLeavingMidOutputAbortsTheScript)
{
    std::filesystem::remove(PHPSite::site->www() / "finished.txt");
    std::filesystem::remove(PHPSite::site->www() / "status.txt");
    Client client(port());
    ASSERT_TRUE(client.connected);
    client.send("GET /stream.php HTTP/1.1\r\nHost: x\r\n\r\n");
    char buffer[4096];
    ASSERT_GT(recv(client.fd, buffer, sizeof buffer, 0), 0);
    // Leave with an RST, so that the next write fails at once.
    linger off {1, 0};
    setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    client.close();

    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(PHPSite::site->www() / "status.txt") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ("1", readFile(PHPSite::site->www() / "status.txt")); // CONNECTION_ABORTED
    EXPECT_FALSE(std::filesystem::exists(PHPSite::site->www() / "finished.txt"));
    for (int i = 0; i < 16; i++)
        EXPECT_EQ("Hello 42", bodyOf(get(port(), "/hello.php")));
}

TEST(PHPServer, FifteenSleepingScriptsRunAtOnce)
{
    if (!isPHPThreadSafe()) GTEST_SKIP() << "the non-thread-safe PHP runtime runs one script at a time";
    auto started = std::chrono::steady_clock::now();
    std::vector<std::future<std::string>> answers;
    for (int i = 0; i < 15; i++)
        answers.push_back(std::async(std::launch::async, [] { return get(port(), "/sleep.php"); }));
    for (auto& a : answers)
        EXPECT_EQ("slept", bodyOf(a.get()));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5000)); // 15 s when serialised
}

TEST(PHPServer, TimeLimitOfOneWorkerLeavesTheOthersAlone)
{
    if (!isPHPThreadSafe()) GTEST_SKIP() << "the non-thread-safe PHP runtime shares one process-wide timer";
    auto started = std::chrono::steady_clock::now();
    auto slow = std::async(std::launch::async, [] { return get(port(), "/sleep2.php"); });
    std::string limited = get(port(), "/busy.php");
    auto limitedTook = std::chrono::steady_clock::now() - started;
    EXPECT_NE(std::string::npos, limited.find("Maximum execution time of 1 second exceeded")) << limited;
    EXPECT_EQ(std::string::npos, limited.find("not stopped"));
    EXPECT_LT(limitedTook, std::chrono::milliseconds(4000));
    EXPECT_EQ("done", bodyOf(slow.get()));
}

TEST(PHPServer, PHPLogMessagesGoToStandardOutputAsOneDatedLine)
{
    // What /log.php prints on standard output while it runs.
    auto capture = [](std::string& answer) {
        fflush(stdout);
        int saved = dup(STDOUT_FILENO);
        int fds[2];
        EXPECT_EQ(0, pipe(fds));
        dup2(fds[1], STDOUT_FILENO);
        answer = get(port(), "/log.php");
        dup2(saved, STDOUT_FILENO);
        close(saved);
        close(fds[1]);
        std::string printed;
        char buffer[4096];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            printed.append(buffer, static_cast<size_t>(n));
        close(fds[0]);
        return printed;
    };
    std::string answer;
    std::string printed = capture(answer);
    EXPECT_EQ("logged", bodyOf(answer));
    // "Sun Jan  5 08:03:09 2025 : note from the script\r\n"
    EXPECT_TRUE(hasShape(printed, "Aaa Aaa _9 99:99:99 9999 : note from the script\r\n")) << printed;

    // The windowed program has no console to print to.
    setServerFrontEnd(FrontEnd::Windowed);
    printed = capture(answer);
    setServerFrontEnd(FrontEnd::Console);
    EXPECT_EQ("logged", bodyOf(answer));
    EXPECT_EQ("", printed);
}

TEST(PHPServer, AScriptNeverStartsOnABodyThatStopped)
{
    // The body must keep moving: one that stops ends in 408 after a window,
    // and the script never runs on a part of it.
    PHPSite::server->server->setClientTimeouts(1000, 30000);
    Client client(port());
    ASSERT_TRUE(client.connected);
    client.send("POST /vars.php HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\nabcd");
    auto started = std::chrono::steady_clock::now();
    std::string answer = client.readAll(10000);
    client.close();
    PHPSite::server->server->setClientTimeouts(30000, 30000);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(0u, answer.find("HTTP/1.1 408 Request Timeout")) << answer;
    EXPECT_EQ(std::string::npos, answer.find("abcd")) << answer;
}
