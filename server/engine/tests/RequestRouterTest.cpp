// Routing rules that keep scripts from being shown and redirects on this
// server: where an interpreter key counts, which files are never sent as
// text, where a folder redirect points, and what a missing script answers.

#include "RequestRouter.h"
#include "RoutingTables.h"
#include "ServerTestSupport.h"

using namespace servertest;

namespace {

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

TEST(RequestRouterTest, KeysCountWhereTheyEndASegment)
{
    RoutingTables tables;
    WString why;
    tables.addInterpreterLine(".php;PHPBuildIn", why);
    tables.addInterpreterLine(".sh;/bin/sh", why);
    RequestRouter router(tables);
    const struct {
        const char* path;
        const char* key;
        long position;
    } cases[] = {
        {"/a.php", ".php", 2},
        {"/A.PHP/more", ".php", 2},
        {"/site.php-old/conf.php", ".php", 18},
        {"/my.shop/order.sh", ".sh", 14},
        {"/my.shop/order.sh/info", ".sh", 14},
        {"/x.phpx", nullptr, -1},
        {"/conf.php.bak", nullptr, -1},
        {"/a.php.sh", ".sh", 6},
        {"/index.html", nullptr, -1},
    };
    for (const auto& c : cases) {
        long position = 99;
        const RoutingEntry* found = router.findScriptKey(c.path, position);
        if (c.key == nullptr) {
            EXPECT_EQ(found, nullptr) << c.path;
        } else {
            ASSERT_NE(found, nullptr) << c.path;
            EXPECT_STREQ(found->key, c.key) << c.path;
        }
        EXPECT_EQ(position, c.position) << c.path;
    }
    // An occurrence the caller refuses (a folder) lets a later one count.
    long position = -1;
    const RoutingEntry* found
        = router.findScriptKey("/dir.php/x.php", position, [](unsigned long end) { return end != 8; });
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(position, 10);

    const struct {
        const char* name;
        const char* key;
        bool carries;
    } names[] = {
        {"index.php", ".php", true},
        {"index.html", nullptr, false},
        {"conf.php.bak", nullptr, true},
        {"order.SH", ".sh", true},
        {"shop.html", nullptr, false},
        {"x.phpx", nullptr, false},
        {"conf.php~", nullptr, true},
        {"conf.php-old", nullptr, true},
        {"conf.php5", nullptr, true},
        {"page.shtml", nullptr, false},
        {"my.shop", nullptr, false},
        {".conf.php.swp", nullptr, true},
    };
    for (const auto& n : names) {
        const RoutingEntry* key = router.findKeyOfFileName(n.name);
        EXPECT_STREQ(key != nullptr ? key->key.getBuf() : nullptr, n.key) << n.name;
        EXPECT_EQ(router.nameCarriesKey(n.name), n.carries) << n.name;
    }
}

TEST(RequestRouterTest, FolderRedirectsStayOnThisServer)
{
    const struct {
        const char* scriptName;
        const char* query;
        const char* target;
    } cases[] = {
        {"/images", "", "/images/"},
        {"//images", "", "/images/"},
        {"///a/b", "", "/a/b/"},
        {"/\\evil", "", "/evil/"},
        {"\\\\evil", "", "/evil/"},
        {"", "", "/"},
        {"/a//b", "", "/a//b/"},
        // The query goes along; a decoded path goes back into escapes.
        {"/sub", "x=1&y=%41", "/sub/?x=1&y=%41"},
        {"/sp ace/Caf\xC3\xA9", "q=a b", "/sp%20ace/Caf%C3%A9/?q=a%20b"},
        {"/a?b#c%d\r\nX: y", "", "/a%3Fb%23c%25d%0D%0AX:%20y/"},
        {"/keep-._~!$&'()*+,;=:@", "", "/keep-._~!$&'()*+,;=:@/"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(folderRedirectTarget(c.scriptName, c.query).getBuf(), c.target) << c.scriptName;
    }
}

class RoutingRulesTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        site.write("docs/site.php-old/conf.php", "<?php echo 'conf ran'; // PASSWORD=hunter2");
        site.write("docs/my.shop/order.sh", "echo 'Content-Type: text/plain'; echo; echo ordered # SOURCE");
        site.write("docs/my.shop/index.html", "shop index");
        site.write("docs/conf.php.bak", "<?php // PASSWORD=hunter2");
        site.write("docs/Old.PHP~", "<?php // PASSWORD=hunter2");
        site.write("docs/page.shtml", "server-parsed page");
        site.write("docs/dir.php/index.html", "folder index");
        site.write("docs/dir.php/y.php", "<?php echo 'y ran';");
        site.makeFolders("docs/images");
        // Index files by another case, beside the exact name, and behind a folder of an index name.
        site.write("docs/cased/INDEX.HTML", "index in capitals");
        site.write("docs/cased/index.php", "<?php echo 'later index ran';");
        site.write("docs/both/Index.htm", "index in other case");
        site.write("docs/both/index.htm", "index by exact name");
        site.makeFolders("docs/nested/index.htm");
        site.write("docs/nested/index.html", "index after a folder");
    }
};

TEST_F(RoutingRulesTest, ScriptSourceIsNeverSentAsText)
{
    startServer();
    const struct {
        const char* path;
        const char* status;
        const char* body; // part of the body, or "" for none expected
    } cases[] = {
        {"/site.php-old/conf.php", "HTTP/1.1 200 OK", "conf ran"},
        {"/SITE.PHP-OLD/CONF.PHP", "HTTP/1.1 200 OK", "conf ran"},
        {"/my.shop/order.sh", "HTTP/1.1 200 OK", "ordered"},
        {"/my.shop/", "HTTP/1.1 200 OK", "shop index"},
        {"/conf.php.bak", "HTTP/1.1 403 Forbidden", "/conf.php.bak"},
        {"/old.php~", "HTTP/1.1 403 Forbidden", "/old.php~"},
        {"/page.shtml", "HTTP/1.1 200 OK", "server-parsed page"},
        {"/dir.php/", "HTTP/1.1 200 OK", "folder index"},
        {"/dir.php/y.php", "HTTP/1.1 200 OK", "y ran"},
        {"/x.php/extra/path", "HTTP/1.1 200 OK", "php ran"},
        {"/cased/", "HTTP/1.1 200 OK", "index in capitals"},
        {"/both/", "HTTP/1.1 200 OK", "index by exact name"},
        {"/nested/", "HTTP/1.1 200 OK", "index after a folder"},
    };
    for (const auto& c : cases) {
        std::string response = get(port, c.path);
        EXPECT_EQ(statusLine(response), c.status) << c.path << "\n" << response;
        EXPECT_NE(response.find(c.body), std::string::npos) << c.path << "\n" << response;
        EXPECT_EQ(response.find("PASSWORD"), std::string::npos) << c.path;
        EXPECT_EQ(response.find("SOURCE"), std::string::npos) << c.path;
        EXPECT_EQ(response.find("<?php"), std::string::npos) << c.path;
    }
    EXPECT_TRUE(control.has(2, "Execute PHP script: " + site.root + "/docs/site.php-old/conf.php"));
    EXPECT_TRUE(control.has(2, "Execute CGI script: " + site.root + "/docs/my.shop/order.sh"));
    EXPECT_TRUE(control.has(2, "Execute PHP script: " + site.root + "/docs/dir.php/y.php"));
    EXPECT_TRUE(control.has(2, "Script source not sent: " + site.root + "/docs/conf.php.bak"));
    EXPECT_EQ(control.count(2, "Execute CGI script"), 1);
}

TEST_F(RoutingRulesTest, FolderRedirectsPointToThisServer)
{
    startServer();
    const struct {
        const char* requestLine;
        const char* location;
    } cases[] = {
        {"GET \\images HTTP/1.1", "/images/"},
        {"GET \\\\images HTTP/1.1", "/images/"},
        {"GET //images HTTP/1.1", "/images/"},
        {"GET /images HTTP/1.1", "/images/"},
        {"GET images HTTP/1.1", "/images/"},
        {"GET /dir.php HTTP/1.1", "/dir.php/"},
        {"GET /IMAGES?x=1 HTTP/1.1", "/IMAGES/?x=1"},
        {"GET /my%2eshop?a=%c3%a9 HTTP/1.1", "/my.shop/?a=%c3%a9"},
    };
    for (const auto& c : cases) {
        std::string response = roundTrip(port, std::string(c.requestLine) + "\r\nHost: x\r\n\r\n");
        EXPECT_EQ(statusLine(response), "HTTP/1.1 301 Moved Permanently") << c.requestLine;
        EXPECT_EQ(headerValue(response, "Location"), c.location) << c.requestLine;
    }
}

TEST_F(RoutingRulesTest, RequestLinesNobodySeesAreNotLogged)
{
    control.shownUpTo = 1;
    startServer();
    EXPECT_EQ(body(get(port, "/x.php")), "php ran");
    get(port, "/nothing.php");
    get(port, "/nothing.html");
    EXPECT_TRUE(control.linesAt(2).empty());
    EXPECT_TRUE(control.linesAt(3).empty());
}

TEST_F(RoutingRulesTest, MissingScriptsAnswerLikeMissingFiles)
{
    startServer();
    const char* paths[] = {"/nothing.php", "/sub/nothing.php", "/nothing.php/extra", "/nowhere/x.php"};
    for (const char* path : paths) {
        std::string response = get(port, path);
        std::string scriptName = std::string(path).substr(0, std::string(path).find(".php") + 4);
        EXPECT_EQ(response, errorPage(404, "Not Found", scriptName)) << path;
        EXPECT_EQ(response.find(site.root), std::string::npos) << path;
    }
    EXPECT_FALSE(control.has(2, "Execute PHP script"));
    EXPECT_TRUE(control.has(2, "File not found: " + site.root + "/docs/sub/nothing.php, MimeType=text/plain"));
    EXPECT_EQ(control.finished.load(), 0);
    // The case-insensitive fallback still finds an existing script.
    EXPECT_EQ(body(get(port, "/X.PHP")), "php ran");
}
