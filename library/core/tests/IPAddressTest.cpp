#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "RunBody.h"
#include "WException.h"
#include "WIPAddress.h"
#include "WServerSocket.h"
#include "WSocket.h"
#include "WSocketGroup.h"
#include "WSocketUtils.h"

TEST(IPAddressTest, AddressesFromTexts)
{
    struct {
        const char* host;
        const char* dotted;
    } cases[] = {
        {"", "0.0.0.0"},
        {"127.0.0.1", "127.0.0.1"},
        {"127.1", "127.0.0.1"}, // the classic dotted forms
        {"localhost", "127.0.0.1"},
        {"10.1.2.3", "10.1.2.3"}, // only parsed, never contacted
        {"255.255.255.254", "255.255.255.254"},
        {"100.20.9.0", "100.20.9.0"}, // every digit count
        {"1.10.100.199", "1.10.100.199"},
        {"99.250.0.7", "99.250.0.7"},
    };
    for (auto& c : cases) {
        WIPAddress a(c.host, 8080);
        EXPECT_STREQ(a.getIpAddressStr(), c.dotted) << c.host;
        EXPECT_EQ(a.getPort(), 8080ul);
    }
    EXPECT_EQ(WIPAddress("", 1).getIpAddress(), 0ul);
    EXPECT_EQ(WIPAddress("127.0.0.1", 1).getIpAddress(), (unsigned long)htonl(0x7F000001));
    WIPAddress plain;
    EXPECT_EQ(plain.getIpAddress(), 0ul);
    EXPECT_EQ(plain.getPort(), 0ul);
}

TEST(IPAddressTest, DottedTextRules)
{
    EXPECT_TRUE(WSocketUtils::isIpAddress("1.2.3.4"));
    EXPECT_TRUE(WSocketUtils::isIpAddress("127.1"));
    EXPECT_FALSE(WSocketUtils::isIpAddress("255.255.255.255"));
    EXPECT_FALSE(WSocketUtils::isIpAddress("localhost"));
    EXPECT_FALSE(WSocketUtils::isIpAddress(""));
    EXPECT_FALSE(WSocketUtils::isIpAddress("1.2.3.4.5"));
    EXPECT_EQ(WSocketUtils::ipAddr2NBO("nonsense"), 0xFFFFFFFFul);
    EXPECT_STREQ(WSocketUtils::ipAddr2String(htonl(0xC0A80001)), "192.168.0.1");
}

TEST(IPAddressTest, UnknownHostsThrow)
{
    try {
        WIPAddress a("no-such-host.invalid", 80);
        FAIL() << "resolved";
    } catch (WUnknownHostException& e) {
        EXPECT_STREQ(e.getMessage(), "Cannot resolve host no-such-host.invalid");
        EXPECT_EQ(e.getId(), -1);
    }
    EXPECT_THROW(WSocketUtils::resolveHost("no-such-host.invalid"), WUnknownHostException);
    EXPECT_EQ(WSocketUtils::resolveHost("localhost"), (unsigned long)htonl(0x7F000001));
}

TEST(IPAddressTest, HostNamesAreLookedUpOnceAndCached)
{
    WIPAddress loopback("127.0.0.1", 80);
    EXPECT_STREQ(loopback.getHostname(), "localhost");
    WIPAddress copy(loopback);
    EXPECT_STREQ(copy.getHostname(), "localhost");

    // An address without a name: "<unknown>", and it stays.
    WIPAddress nameless(htonl(0x7F0000FE), 80); // 127.0.0.254
    const char* name = nameless.getHostname();
    if (strcmp(name, "<unknown>") != 0) GTEST_SKIP() << "this machine names 127.0.0.254: " << name;
    EXPECT_STREQ(nameless.getHostname(), "<unknown>");
    try {
        WSocketUtils::resolveIpAddress(htonl(0x7F0000FE));
        FAIL() << "resolved";
    } catch (WUnknownHostException& e) {
        EXPECT_STREQ(e.getMessage(), "Cannot resolve IP 127.0.0.254");
        EXPECT_EQ(e.getId(), -1);
    }
}

TEST(IPAddressTest, LocalHostName)
{
    WString name;
    WSocketUtils::getLocalHost(name);
    EXPECT_GT(name.length(), 0ul);
    EXPECT_GE(name.getBufLength(), 129ul);
    char expected[256];
    gethostname(expected, sizeof expected);
    EXPECT_STREQ(name, expected);
}

TEST(IPAddressTest, SocketGroupMembership)
{
    WSocketGroup g;
    for (int i = 0; i < 70; i++)
        g.add(1000 + i);
    EXPECT_EQ(g.size(), 64ul);
    EXPECT_FALSE(g.isEvent(1064)); // the 65th was not taken
    g.add(1000); // a member already
    EXPECT_EQ(g.size(), 64ul);
    g.remove(1010);
    EXPECT_EQ(g.size(), 63ul);
    EXPECT_FALSE(g.isEvent(1010));
    EXPECT_TRUE(g.isEvent(1011));
    g.remove(5); // not a member
    EXPECT_EQ(g.size(), 63ul);
    g.removeAll();
    EXPECT_EQ(g.size(), 0ul);
}

TEST(IPAddressTest, SocketGroupWaitKeepsTheReadySockets)
{
    WServerSocket listener(WIPAddress("127.0.0.1", 0), 5);
    listener.create();
    WSocket a(WIPAddress("127.0.0.1", listener.getPort()));
    WSocket b(WIPAddress("127.0.0.1", listener.getPort()));
    a.connect();
    b.connect();
    WSocket fa, fb;
    ASSERT_TRUE(listener.accept(fa));
    ASSERT_TRUE(listener.accept(fb));

    WSocketGroup g;
    g.add(fa.getHandle());
    g.add(fb.getHandle());
    Stopwatch w;
    EXPECT_EQ(g.wait(100), 0);
    EXPECT_GE(w.ms(), 90);
    EXPECT_EQ(g.size(), 0ul); // a time-out leaves nothing ready

    g.add(fa.getHandle());
    g.add(fb.getHandle());
    b.writeln("x");
    EXPECT_EQ(g.wait(-1), 1);
    EXPECT_EQ(g.size(), 1ul);
    EXPECT_TRUE(g.isEvent(fb.getHandle()));
    EXPECT_FALSE(g.isEvent(fa.getHandle()));
}
