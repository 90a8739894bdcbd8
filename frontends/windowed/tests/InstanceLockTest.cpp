// The single-instance lock between processes, and the program's answers
// when another copy runs or no display is there.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "InstanceMutex.h"
#include "ServerTestSupport.h"

using namespace servertest;

namespace {

const char* const NAME = "Global\\{00000000-TEST-LOCK}";

// Runs `body` in a child process; its return value is the exit code.
template <class F>
int inChild(F body)
{
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int childSeesHolder()
{
    InstanceMutex lock(NAME);
    return lock.alreadyExists() ? 1 : 0;
}

int childOfRealName()
{
    InstanceMutex lock(InstanceMutex::NAME);
    return lock.alreadyExists() ? 1 : 0;
}

struct LockDir : TempFolder {
    LockDir() { setenv("ZORVANE_LOCK_DIR", root.c_str(), 1); }
    ~LockDir() { unsetenv("ZORVANE_LOCK_DIR"); }
};

struct GuiRun {
    int code = -1;
    std::string err;
};

// Runs the program with the given environment additions, bounded in time.
GuiRun runGui(const std::vector<std::string>& env, const std::string& dir)
{
    std::string errFile = dir + "/stderr.txt";
    pid_t pid = fork();
    if (pid == 0) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        for (const auto& e : env)
            putenv(strdup(e.c_str()));
        int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        execl(ZORVANE_GUI_PATH, ZORVANE_GUI_PATH, (char*)nullptr);
        _exit(127);
    }
    GuiRun run;
    for (int i = 0; i < 200; i++) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            run.err = readFile(errFile);
            return run;
        }
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return run;
}

} // namespace

TEST(InstanceLock, SecondHolderSeesTheFirstAcrossProcesses)
{
    LockDir dir;
    EXPECT_EQ(inChild(childSeesHolder), 0);
    {
        InstanceMutex first(NAME);
        EXPECT_FALSE(first.alreadyExists());
        EXPECT_EQ(inChild(childSeesHolder), 1);
    }
    EXPECT_EQ(inChild(childSeesHolder), 0);
}

TEST(InstanceLock, EveryHolderCountsUntilTheLastOneGoes)
{
    LockDir dir;
    auto first = std::make_unique<InstanceMutex>(NAME);
    InstanceMutex second(NAME);
    EXPECT_TRUE(second.alreadyExists());
    first.reset();
    EXPECT_EQ(inChild(childSeesHolder), 1);
}

TEST(InstanceLock, AKilledHolderFreesTheLock)
{
    LockDir dir;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        InstanceMutex lock(NAME);
        if (write(ready[1], "x", 1) != 1) _exit(2);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(inChild(childSeesHolder), 1);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(inChild(childSeesHolder), 0);
    close(ready[0]);
    close(ready[1]);
}

TEST(InstanceLock, TheLockIsNotInheritedByChildPrograms)
{
    LockDir dir;
    InstanceMutex lock(NAME);
    int flags = -1;
    // Every descriptor of the lock is close-on-exec: look through ours.
    for (int fd = 3; fd < 256; fd++) {
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        char target[512];
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (std::string(target).find(dir.root) == 0) {
            flags = fcntl(fd, F_GETFD);
            EXPECT_TRUE((flags & FD_CLOEXEC) != 0) << target;
        }
    }
    EXPECT_NE(flags, -1);
}

TEST(WindowedProgram, RefusesToStartWhileAnotherCopyRuns)
{
    LockDir dir;
    InstanceMutex running(InstanceMutex::NAME);
    GuiRun run = runGui({"ZORVANE_LOCK_DIR=" + dir.root}, dir.root);
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.err.find("Zorvane is still running.\r\nPlease check the Taskbar Icon."), std::string::npos)
        << run.err;
}

TEST(WindowedProgram, SaysSoWithoutADisplayAndExits)
{
    LockDir dir;
    GuiRun run = runGui({"ZORVANE_LOCK_DIR=" + dir.root}, dir.root);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
}

TEST(WindowedProgram, ARunningConsoleServerKeepsItFromStarting)
{
    LockDir dir;
    TempFolder site;
    site.write("cfg/init.txt",
        "httpHost=127.0.0.1\r\nhttpPort=" + std::to_string(freePort()) + "\r\ndocPath=" + site.root + "\r\n");
    pid_t console = fork();
    if (console == 0) {
        if (chdir(site.root.c_str()) != 0) _exit(127);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(ZORVANE_CMD_PATH, ZORVANE_CMD_PATH, "--auto-finish=20", (char*)nullptr);
        _exit(127);
    }
    // The console takes the lock before its main runs.
    bool held = false;
    for (int i = 0; i < 100 && !held; i++) {
        held = inChild(childOfRealName) == 1;
        if (!held) usleep(20000);
    }
    EXPECT_TRUE(held);
    GuiRun run = runGui({"ZORVANE_LOCK_DIR=" + dir.root}, dir.root);
    kill(console, SIGKILL);
    waitpid(console, nullptr, 0);
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.err.find("Zorvane is still running."), std::string::npos) << run.err;
}
