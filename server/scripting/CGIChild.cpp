#include "internal/CGIChild.h"

#include "internal/CGIPipes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

double cgiNow()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

namespace {

const char SCRIPT_FILENAME[] = "SCRIPT_FILENAME=";

// The folder of the script the block's SCRIPT_FILENAME names, "" without one.
std::string scriptFolder(const char* environmentBlock)
{
    for (const char* p = environmentBlock; *p != 0; p += strlen(p) + 1) {
        if (strncmp(p, SCRIPT_FILENAME, sizeof(SCRIPT_FILENAME) - 1) != 0) continue;
        std::string path(p + sizeof(SCRIPT_FILENAME) - 1);
        size_t slash = path.rfind('/');
        if (slash == std::string::npos) return "";
        return slash == 0 ? "/" : path.substr(0, slash);
    }
    return "";
}

// A relative program path would be looked up from the script's folder.
std::string fromHere(const std::string& program)
{
    char cwd[4096];
    if (program.empty() || program[0] == '/' || getcwd(cwd, sizeof(cwd)) == nullptr) return program;
    return std::string(cwd) + "/" + program;
}

} // namespace

int CGIChild::spawn(const std::string& givenProgram, const std::vector<std::string>& argv,
    const char* environmentBlock, const CGIPipes& pipes)
{
    std::string folder = scriptFolder(environmentBlock);
    const std::string program = folder.empty() ? givenProgram : fromHere(givenProgram);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const char* p = environmentBlock; *p != 0; p += strlen(p) + 1)
        env.push_back(const_cast<char*>(p));
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes.stdinRead, 0);
    posix_spawn_file_actions_adddup2(&actions, pipes.stdoutWrite, 1);
    posix_spawn_file_actions_adddup2(&actions, pipes.stderrWrite, 2);
    // Whatever else is open in the server (other code's descriptors that are
    // not close-on-exec) stays out of the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The program runs in its script's folder (RFC 3875 7.2), so that files
    // beside it are found by their names.
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    // The server ignores SIGPIPE and its workers may block signals; the
    // child starts with default signal handling, in a process group of its
    // own so that its own children can be killed with it.
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    pid_t child = -1;
    int result = posix_spawn(&child, program.c_str(), &actions, &attributes, args.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) return result;
    pid = child;
    // The child is ours and not reaped, so its pid cannot be reused here.
    // (A pidfd is always close-on-exec. glibc's own wrapper lacks C linkage
    // in its header, so the system call is made directly.)
    exitDescriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return 0;
}

bool CGIChild::hasEnded() const
{
    if (pid <= 0) return true;
    if (exitDescriptor >= 0) {
        pollfd p = {exitDescriptor, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }
    siginfo_t info = {};
    // WNOWAIT leaves the child unreaped: its group id cannot be reused yet.
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
    return info.si_pid == pid;
}

void CGIChild::killGroup() const
{
    if (pid <= 0) return;
    ::kill(-pid, SIGKILL);
}

int CGIChild::reap()
{
    int status = -1;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    pid = -1;
    if (exitDescriptor >= 0) {
        ::close(exitDescriptor);
        exitDescriptor = -1;
    }
    return status;
}

void CGIChild::kill()
{
    if (pid <= 0) return;
    killGroup();
    // A group that could not be signalled (the child left it) still holds
    // the child itself.
    ::kill(pid, SIGKILL);
    reap();
}

int CGIChild::finish(double grace)
{
    if (pid <= 0) return -1;
    // A child normally ends right after closing its output.
    double until = cgiNow() + grace;
    while (!hasEnded()) {
        double left = until - cgiNow();
        if (left <= 0) break;
        if (exitDescriptor >= 0) {
            pollfd p = {exitDescriptor, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left * 1000) + 1);
        } else {
            struct timespec pause = {0, 5000000};
            nanosleep(&pause, nullptr);
        }
    }
    // Whatever it started in the background goes with it; so does the child
    // itself when it lingers after its output has ended.
    killGroup();
    ::kill(pid, SIGKILL);
    return reap();
}

CGIChild::~CGIChild()
{
    kill();
}
