#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The Linux side of one CGI run: three pipes and the child process.
// Internal to the CGI runner.

// The descriptors of one run; -1 when not open. The parent's ends are
// stdinWrite, stdoutRead and stderrRead; the child gets the other three.
// All are close-on-exec, so a child started by another worker at the same
// moment never inherits them.
struct CGIPipes {
    int stdinRead = -1;
    int stdinWrite = -1;
    int stdoutRead = -1;
    int stdoutWrite = -1;
    int stderrRead = -1;
    int stderrWrite = -1;

    CGIPipes() = default;
    CGIPipes(const CGIPipes&) = delete;
    CGIPipes& operator=(const CGIPipes&) = delete;
    ~CGIPipes() { close(); }

    // Creates the three pipes (messages of the runner on failure).
    void create();
    // Closes every open descriptor.
    void close();
    // Closes one descriptor and marks it closed; false when close failed.
    static bool closeOne(int& fd);
};

// Splits a command line into the program and its arguments: the command part
// is split on blanks and tabs; when the line ends in " " + scriptPath, the
// script path is one argument of its own, whatever blanks it holds.
std::vector<std::string> splitCGICommandLine(const char* commandLine, const char* scriptPath);

// Finds a program: a name with a '/' is taken as it is, otherwise it is
// looked up in the server's PATH. Returns "" when there is no such program.
std::string findCGIProgram(const std::string& name);

// A started child in a process group of its own.
class CGIChild {
public:
    CGIChild() = default;
    CGIChild(const CGIChild&) = delete;
    CGIChild& operator=(const CGIChild&) = delete;
    // Kills the child if it still runs, and reaps it.
    ~CGIChild();

    // Starts program with argv and the environment block (NAME=value\0...\0)
    // on the pipes' child ends. Returns 0 or the error number.
    int spawn(const std::string& program, const std::vector<std::string>& argv, const char* environmentBlock,
              const CGIPipes& pipes);

    // Kills the child's process group and reaps the child.
    void kill();
    // Reaps the child once it has ended; a child that goes on running after
    // closing its output is reaped in the background and killed at deadline
    // (a monotonic time in seconds).
    void reap(double deadline);

    pid_t getPid() const { return pid; }

private:
    static void startReaper(pid_t lingering, double deadline);

    pid_t pid = -1;
};

// The monotonic clock in seconds.
double cgiNow();
