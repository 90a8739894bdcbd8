#pragma once

// The three pipes of one CGI run. Internal to the CGI runner.

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
