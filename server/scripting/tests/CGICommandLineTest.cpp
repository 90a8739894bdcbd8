// A cfg/cgi.txt command and a script path become argv without a shell.

#include "internal/CGICommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(CGICommandLine, Split)
{
    using Args = std::vector<std::string>;
    struct {
        const char* line;
        const char* script;
        Args argv;
    } cases[] = {
        {"/bin/sh /w/a.sh", "/w/a.sh", {"/bin/sh", "/w/a.sh"}},
        {"/usr/bin/perl  -w\t-T /w/a.pl", "/w/a.pl", {"/usr/bin/perl", "-w", "-T", "/w/a.pl"}},
        // Blanks and shell syntax in the script path stay inside its argument.
        {"sh /w/my file;$(x)`y`.sh", "/w/my file;$(x)`y`.sh", {"sh", "/w/my file;$(x)`y`.sh"}},
        // A line that does not end in the script path is split as a whole.
        {"sh /w/other.sh", "/w/a.sh", {"sh", "/w/other.sh"}},
        {"/w/a.sh", "/w/a.sh", {"/w/a.sh"}},
        {"", "/w/a.sh", {}},
        {"  ", nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.argv, splitCGICommandLine(c.line, c.script));
    }
}

TEST(CGICommandLine, FindProgram)
{
    EXPECT_EQ("/no/such/program", findCGIProgram("/no/such/program"));
    EXPECT_EQ("./relative/x", findCGIProgram("./relative/x"));
    EXPECT_EQ("", findCGIProgram(""));
    EXPECT_EQ("", findCGIProgram("no-such-program-anywhere"));
    std::string sh = findCGIProgram("sh");
    EXPECT_TRUE(sh.size() > 3 && sh.compare(sh.size() - 3, 3, "/sh") == 0) << sh;
}
