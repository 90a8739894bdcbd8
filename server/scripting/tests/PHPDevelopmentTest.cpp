// The runtime as a PHP developer meets it, with the shipped cfg/php.ini as it
// is: extensions, OPcache, the version, answers with their length, and crashes
// that leave nothing behind for the next request.

#include "PHPRuntime.h"
#include "ScriptTestSupport.h"
#include "ZorvaneVersion.h"
#include "internal/PHPTimeZone.h"

#include <chrono>
#include <future>
#include <thread>

using namespace scripttest;

namespace {

// OPcache leaves files alone that changed in the last two seconds.
void backdate(const std::filesystem::path& file)
{
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

const char CRASH_SHUTDOWN[] = "<?php class Leftover { public static $visits = 0; } function leftover() {}"
                              " Leftover::$visits++; function f($n) { return array_map('f', [$n + 1]); }"
                              " register_shutdown_function(function () { f(0); }); echo 'buffered';";
const char CRASH_DESTRUCTOR[] = "<?php class Leftover { public static $visits = 0; } function leftover() {}"
                                " function f($n) { return array_map('f', [$n + 1]); }"
                                " class Bomb { function __destruct() { f(0); } } $keep = new Bomb; echo 'buffered';";

class DevelopmentSite : public SharedSite {
protected:
    void fill(ScriptSite& target) override
    {
        std::string ini = shippedPhpIni();
        ASSERT_FALSE(ini.empty()) << "cfg/php.ini of the source tree";
        writeFile(target.path("cfg/php.ini"), ini);
        writeFile(target.path("cfg/cgi.txt"), ".php;PHPBuildIn\n");
        auto www = target.www();
        writeFile(www / "extensions.php",
            "<?php echo implode(',', get_loaded_extensions()), ',', implode(',', get_loaded_extensions(true));");
        writeFile(www / "mysql.php",
            "<?php mysqli_report(MYSQLI_REPORT_OFF);"
            " $m = @new mysqli('127.0.0.1', 'user', 'secret', 'db', (int)$_GET['port']);"
            " echo $m->connect_errno ? 'mysqli ' . $m->connect_errno : 'connected';"
            " try { new PDO('mysql:host=127.0.0.1;port=' . (int)$_GET['port'], 'user', 'secret'); }"
            " catch (PDOException $e) { echo ' pdo ', $e->getCode(); }");
        writeFile(www / "image.php",
            "<?php $i = imagecreatetruecolor(3, 2); imagefilledrectangle($i, 0, 0, 2, 1, 0x336699);"
            " switch ($_GET['f']) {"
            " case 'png': header('Content-Type: image/png'); imagepng($i); break;"
            " case 'jpeg': header('Content-Type: image/jpeg'); imagejpeg($i); break;"
            " case 'webp': header('Content-Type: image/webp'); imagewebp($i); break;"
            " case 'info': $g = gd_info(); echo json_encode([$g['FreeType Support'], $g['PNG Support'],"
            " $g['JPEG Support'], $g['WebP Support']]); }");
        writeFile(www / "status.php",
            "<?php $s = opcache_get_status(true); echo $s['opcache_enabled'] ? 'on' : 'off', ' ',"
            " $s['opcache_statistics']['hits'] > 0 ? 'hits' : 'no-hits', ' ',"
            " isset($s['scripts'][__FILE__]) ? 'cached' : 'not-cached';");
        backdate(www / "status.php");
        writeFile(www / "version.php",
            "<?php echo PHP_VERSION, '|', $_SERVER['SERVER_SOFTWARE'], '|', date_default_timezone_get();");
        writeFile(www / "small.php", "<?php echo 'hello';");
        writeFile(www / "empty.php", "<?php ");
        writeFile(www / "large.php", "<?php echo str_repeat('x', 10000);");
        writeFile(www / "flushed.php", "<?php echo 'a'; ob_flush(); flush(); echo 'b';");
        writeFile(www / "own-length.php", "<?php header('Content-Length: 2'); echo 'ok';");
        writeFile(www / "user-buffer.php", "<?php ob_start(); echo str_repeat('y', 100000);");
        writeFile(www / "no-content.php", "<?php http_response_code(204);");
        writeFile(www / "late.php", "<?php register_shutdown_function(function () { echo 'late'; }); echo 'early';");
        writeFile(www / "crash-shutdown.php", CRASH_SHUTDOWN);
        writeFile(www / "crash-destructor.php", CRASH_DESTRUCTOR);
        writeFile(www / "fresh.php",
            "<?php echo class_exists('Leftover', false) ? 'class ' : '', function_exists('leftover') ? 'function ' : "
            "'',"
            " 'fresh';");
    }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new DevelopmentSite);

unsigned port()
{
    return DevelopmentSite::server->port;
}

std::filesystem::path www()
{
    return DevelopmentSite::site->www();
}

// The value of a header line, "" when absent; count tells how many there are.
std::string header(const std::string& answer, const std::string& name, int* count = nullptr)
{
    std::string head = answer.substr(0, answer.size() - bodyOf(answer).size());
    std::string value;
    int n = 0;
    size_t at = 0;
    while ((at = head.find("\r\n" + name + ": ", at)) != std::string::npos) {
        at += name.size() + 4;
        value = head.substr(at, head.find("\r\n", at) - at);
        n++;
    }
    if (count != nullptr) *count = n;
    return value;
}

// The extensions, OPcache and fresh contexts are those of the thread-safe
// runtime scripts/deps/php.sh builds; Debian's embed library has neither.
#define REQUIRE_OUR_RUNTIME()                                                                                          \
    if (!isPHPThreadSafe()) GTEST_SKIP() << "needs the runtime built by scripts/deps/php.sh"

} // namespace

TEST(PHPDevelopment, ExtensionsAreBuiltIn)
{
    REQUIRE_OUR_RUNTIME();
    std::string list = "," + bodyOf(get(port(), "/extensions.php")) + ",";
    for (const char* name :
        {"mysqli", "pdo_mysql", "mysqlnd", "curl", "openssl", "gd", "intl", "zip", "bcmath", "exif", "sodium",
            "sockets", "gettext", "calendar", "Zend OPcache", "PDO", "pdo_sqlite", "sqlite3", "mbstring", "dom",
            "SimpleXML", "xml", "zlib", "iconv", "fileinfo", "session", "ctype", "filter", "tokenizer", "json"}) {
        EXPECT_NE(std::string::npos, list.find(std::string(",") + name + ",")) << name << " in " << list;
    }
}

TEST(PHPDevelopment, MySQLWithoutAServerFailsCleanly)
{
    REQUIRE_OUR_RUNTIME();
    std::string answer = get(port(), "/mysql.php?port=" + std::to_string(servertest::freePort()));
    EXPECT_EQ("HTTP/1.1 200 OK", statusLine(answer));
    EXPECT_EQ("mysqli 2002 pdo 2002", bodyOf(answer));
}

TEST(PHPDevelopment, GdMakesImagesThatAreServed)
{
    REQUIRE_OUR_RUNTIME();
    EXPECT_EQ("[true,true,true,true]", bodyOf(get(port(), "/image.php?f=info")));
    struct Case {
        const char* format;
        const char* type;
        std::string magic;
        size_t at;
    } cases[] = {
        {"png", "image/png", std::string("\x89PNG\r\n\x1a\n", 8), 0},
        {"jpeg", "image/jpeg", std::string("\xff\xd8\xff", 3), 0},
        {"webp", "image/webp", "WEBP", 8},
    };
    for (const Case& c : cases) {
        std::string answer = get(port(), std::string("/image.php?f=") + c.format);
        std::string body = bodyOf(answer);
        EXPECT_EQ(c.type, header(answer, "Content-Type")) << c.format;
        ASSERT_GT(body.size(), c.at + c.magic.size()) << c.format;
        EXPECT_EQ(c.magic, body.substr(c.at, c.magic.size())) << c.format;
        EXPECT_EQ(std::to_string(body.size()), header(answer, "Content-Length")) << c.format;
    }
    // The PNG is 3 x 2 pixels.
    std::string png = bodyOf(get(port(), "/image.php?f=png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(std::string("\0\0\0\3\0\0\0\2", 8), png.substr(16, 8));
}

TEST(PHPDevelopment, OpcacheHitsAndNeverServesAStaleScript)
{
    REQUIRE_OUR_RUNTIME();
    get(port(), "/status.php");
    EXPECT_EQ("on hits cached", bodyOf(get(port(), "/status.php")));

    std::filesystem::path script = www() / "edited.php";
    writeFile(script, "<?php echo 'one';");
    backdate(script);
    EXPECT_EQ("one", bodyOf(get(port(), "/edited.php")));
    EXPECT_EQ("one", bodyOf(get(port(), "/edited.php")));
    writeFile(script, "<?php echo 'two';");
    EXPECT_EQ("two", bodyOf(get(port(), "/edited.php")));
    // A second save within the same second.
    writeFile(script, "<?php echo 'six';");
    EXPECT_EQ("six", bodyOf(get(port(), "/edited.php")));
}

TEST(PHPDevelopment, OpcacheServesFifteenWorkersAtOnce)
{
    std::filesystem::path script = www() / "shared.php";
    writeFile(script, "<?php function shared_" + std::string("f($n) { return $n * 2; }") + " echo shared_f(21);");
    backdate(script);
    std::vector<std::future<std::string>> answers;
    for (int round = 0; round < 4; round++) {
        for (int i = 0; i < 15; i++)
            answers.push_back(std::async(std::launch::async, [] { return bodyOf(get(port(), "/shared.php")); }));
    }
    for (auto& a : answers)
        EXPECT_EQ("42", a.get());
}

TEST(PHPDevelopment, TheVersionIsTheEmbeddedRuntimes)
{
    std::string answer = get(port(), "/version.php");
    std::string body = bodyOf(answer);
    std::string version = body.substr(0, body.find('|'));
    EXPECT_EQ(ZORVANE_PHP_VERSION, version);
    EXPECT_STREQ(ZORVANE_PHP_VERSION, getPHPVersion());
    EXPECT_EQ("Zorvane with PHP " + version + " V1.1", header(answer, "Server"));
    EXPECT_EQ(0u, body.find(version + "|Zorvane with PHP " + version + "|")) << body;
    EXPECT_EQ(std::string::npos, answer.find("5.4.3"));
}

TEST(PHPDevelopment, DateFunctionsFollowTheSystemTimeZone)
{
    std::string zone = systemTimeZoneName();
    if (zone.empty()) GTEST_SKIP() << "the system names no time zone";
    std::string body = bodyOf(get(port(), "/version.php"));
    EXPECT_EQ(zone, body.substr(body.rfind('|') + 1));
}

TEST(PHPDevelopment, FullyBufferedAnswersCarryTheirLength)
{
    struct Case {
        const char* path;
        const char* length; // nullptr: no Content-Length line
        std::string body;
    } cases[] = {
        {"/small.php", "5", "hello"},
        {"/empty.php", "0", ""},
        {"/late.php", "9", "earlylate"},
        {"/user-buffer.php", "100000", std::string(100000, 'y')},
        {"/own-length.php", "2", "ok"},
        // Output that went out early keeps streaming.
        {"/large.php", nullptr, std::string(10000, 'x')},
        {"/flushed.php", nullptr, "ab"},
        {"/no-content.php", nullptr, ""},
    };
    for (const Case& c : cases) {
        std::string answer = get(port(), c.path);
        int lines = 0;
        std::string length = header(answer, "Content-Length", &lines);
        EXPECT_EQ(c.length != nullptr ? 1 : 0, lines) << c.path << "\n" << answer.substr(0, 300);
        if (c.length != nullptr) {
            EXPECT_EQ(c.length, length) << c.path;
        }
        EXPECT_EQ(c.body, bodyOf(answer)) << c.path;
        EXPECT_EQ(1, static_cast<int>(answer.find("\r\nConnection: close\r\n") != std::string::npos)) << c.path;
    }
}

// A crash while the request shuts down: 500 with the crash text, one error
// line, and the worker's next request starts from a fresh context.
TEST(PHPDevelopment, CrashDuringShutdownIsAnsweredAndLeavesNothingBehind)
{
    REQUIRE_OUR_RUNTIME();
    RecordingControl& control = DevelopmentSite::server->control;
    int before = control.count(-1, "PHP has encountered a Stack overflow");
    const int rounds = 2;
    for (const char* path : {"/crash-shutdown.php", "/crash-destructor.php"}) {
        // More requests than workers, all at once: every worker crashes.
        std::vector<std::future<std::string>> crashes;
        for (int i = 0; i < 15 * rounds; i++)
            crashes.push_back(std::async(std::launch::async, [path] { return get(port(), path); }));
        for (auto& c : crashes) {
            std::string answer = c.get();
            EXPECT_EQ("HTTP/1.1 500 Internal Server Error", statusLine(answer)) << path;
            EXPECT_EQ("PHP has encountered a Stack overflow", bodyOf(answer)) << path;
        }
        std::vector<std::future<std::string>> probes;
        for (int i = 0; i < 15 * rounds; i++)
            probes.push_back(std::async(std::launch::async, [] { return bodyOf(get(port(), "/fresh.php")); }));
        for (auto& p : probes)
            EXPECT_EQ("fresh", p.get()) << path;
        // The same script runs again on a fresh context without "Cannot redeclare".
        EXPECT_EQ("PHP has encountered a Stack overflow", bodyOf(get(port(), path)));
    }
    EXPECT_EQ(2 * (15 * rounds + 1), control.count(-1, "PHP has encountered a Stack overflow") - before);
    EXPECT_EQ("hello", bodyOf(get(port(), "/small.php")));
}

TEST(PHPTimeZone, SystemZoneIsTakenFromWhatTheSystemSays)
{
    servertest::TempFolder zones;
    zones.makeFolders("Europe");
    zones.makeFolders("Etc");
    zones.write("Europe/Berlin", "TZif");
    zones.write("Etc/UTC", "TZif");
    zones.write("posixrules", "TZif");
    std::string dir = zones.path("");
    struct Case {
        const char* tz;
        const char* timezoneFile;
        const char* link;
        const char* expected;
    } cases[] = {
        {":Europe/Berlin", "Etc/UTC", nullptr, "Europe/Berlin"},
        {"Europe/Berlin", nullptr, nullptr, "Europe/Berlin"},
        {"/usr/share/zoneinfo/Europe/Berlin", nullptr, nullptr, "Europe/Berlin"},
        {"CET-1CEST", "Etc/UTC\n", nullptr, "Etc/UTC"},
        {"", " Europe/Berlin \n", nullptr, "Europe/Berlin"},
        {nullptr, nullptr, "/usr/share/zoneinfo/Etc/UTC", "Etc/UTC"},
        {nullptr, nullptr, "../usr/share/zoneinfo/posix/Europe/Berlin", "Europe/Berlin"},
        {nullptr, "Mars/Olympus", "/usr/share/zoneinfo/Europe/Berlin", "Europe/Berlin"},
        {"../../etc/passwd", "Europe/../Etc/UTC", "/etc/passwd", ""},
        {nullptr, "posixrules", nullptr, ""},
        {nullptr, "Europe", nullptr, ""},
        {nullptr, nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, pickTimeZoneName(c.tz, c.timezoneFile, c.link, dir.c_str()))
            << (c.tz ? c.tz : "-") << " " << (c.timezoneFile ? c.timezoneFile : "-") << " " << (c.link ? c.link : "-");
    }
}
