// The runtime's life within one process: servers built one after another,
// and two at the same time, each serve PHP.

#include "PHPRuntime.h"
#include "ScriptTestSupport.h"

using namespace scripttest;

namespace {

void writeSite(const ScriptSite& site)
{
    writeFile(site.path("cfg/cgi.txt"), ".php;PHPBuildIn\n");
    writeFile(site.www() / "n.php", "<?php $n = ($GLOBALS['n'] ?? 0) + 1; echo 'run ', $n;");
}

} // namespace

TEST(PHPLifecycle, RuntimeStartsAgainAfterAShutdown)
{
    ScriptSite site;
    writeSite(site);
    for (int round = 0; round < 3; round++) {
        TestServer server(site);
        ASSERT_TRUE(isPHPAvailable()) << round;
        for (int i = 0; i < 16; i++)
            EXPECT_EQ("run 1", bodyOf(get(server.port, "/n.php"))) << round;
    }
    EXPECT_FALSE(isPHPAvailable());
}

TEST(PHPLifecycle, TwoServersShareOneRuntime)
{
    ScriptSite site;
    writeSite(site);
    auto first = std::make_unique<TestServer>(site);
    {
        TestServer second(site);
        EXPECT_EQ("run 1", bodyOf(get(first->port, "/n.php")));
        EXPECT_EQ("run 1", bodyOf(get(second.port, "/n.php")));
    }
    // The runtime stays while one server still needs it.
    EXPECT_TRUE(isPHPAvailable());
    EXPECT_EQ("run 1", bodyOf(get(first->port, "/n.php")));
    first.reset();
    EXPECT_FALSE(isPHPAvailable());
}
