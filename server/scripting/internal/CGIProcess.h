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

// A started child, leader of a process group of its own: whatever it starts
// belongs to that group and dies with it.
class CGIChild {
public:
    CGIChild() = default;
    CGIChild(const CGIChild&) = delete;
    CGIChild& operator=(const CGIChild&) = delete;
    // Kills the group if the child still runs, and reaps the child.
    ~CGIChild();

    // Starts program with argv and the environment block (NAME=value\0...\0)
    // on the pipes' child ends. Returns 0 or the error number.
    int spawn(const std::string& program, const std::vector<std::string>& argv, const char* environmentBlock,
              const CGIPipes& pipes);

    // A descriptor that polls readable once the child has ended, or -1 when
    // the system has none; then hasEnded() must be asked now and then.
    int getExitDescriptor() const { return exitDescriptor; }
    // True once the child has ended (it is not reaped yet, so its process
    // group stays addressable).
    bool hasEnded() const;
    // Kills every process of the group; the child itself may have ended.
    void killGroup() const;

    // Kills the whole group at once and reaps the child.
    void kill();
    // Gives the child up to grace seconds to end, then kills what is left of
    // its group and reaps it. Returns the wait status, or -1.
    int finish(double grace);

    pid_t getPid() const { return pid; }

private:
    int reap();

    pid_t pid = -1;
    int exitDescriptor = -1;
};

// The monotonic clock in seconds.
double cgiNow();
