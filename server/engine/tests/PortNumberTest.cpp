// Port numbers as options and cfg/init.txt write them: read as atoi reads
// them, but never wrapped into the port range.

#include <gtest/gtest.h>

#include "ServerConfig.h"

TEST(PortNumberTest, ReadLikeAtoiWithoutWrapping)
{
    const struct {
        const char* text;
        long long port;
    } cases[] = {
        {"80", 80},
        {"  8080", 8080},
        {"+81", 81},
        {"81abc", 81},
        {"abc", 0},
        {"", 0},
        {"-1", -1},
        {"65535", 65535},
        {"65536", 65536},
        {"4294967376", 4294967376LL},
        {"18446744073709551696", 1000000000000000000LL},
        {"99999999999999999999999999999", 1000000000000000000LL},
        {"-4294967216", -4294967216LL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ServerConfig::readPort(c.text), c.port) << c.text;
    }
    EXPECT_EQ(ServerConfig::readPort(nullptr), 0);
}
