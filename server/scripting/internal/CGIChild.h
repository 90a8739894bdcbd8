#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct CGIPipes;

// The monotonic clock in seconds.
double cgiNow();

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
    // on the pipes' child ends, in the folder of the block's SCRIPT_FILENAME
    // when it names one. Returns 0 or the error number.
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
