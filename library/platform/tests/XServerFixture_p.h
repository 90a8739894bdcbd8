#pragma once

// A private X server with a window manager for the tests that need what
// only a real one does (frames, minimise, allowed actions, icons). Xvfb and
// openbox are started once per test program and ended by their ids.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

extern "C" char** environ;

namespace xtest {

inline pid_t spawn(const std::vector<std::string>& args, int stdoutFd)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline bool onPath(const char* program)
{
    std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

class XServer : public ::testing::Environment {
public:
    static bool ready() { return readyFlag(); }

    void SetUp() override
    {
        if (!onPath("Xvfb") || !onPath("openbox")) return;
        server = startServer();
        if (server <= 0) return;
        wm = spawn({"openbox", "--sm-disable"}, -1);
        // The manager announces itself on the root window.
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            if (managerRuns()) {
                // It announces itself before it has finished starting.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                readyFlag() = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    void TearDown() override
    {
        stop(wm);
        stop(server);
    }

    // Ends a process this program started.
    static void stop(pid_t& pid)
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }

private:
    // The window manager has put its check window on the root.
    static bool managerRuns()
    {
        Display* display = XOpenDisplay(nullptr);
        if (display == nullptr) return false;
        Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, AnyPropertyType, &type,
                         &format, &count, &after, &data)
                == Success
            && count == 1;
        if (data != nullptr) XFree(data);
        XCloseDisplay(display);
        return found;
    }

    static bool& readyFlag()
    {
        static bool flag = false;
        return flag;
    }

public:
    // Starts Xvfb on a free display and sets DISPLAY. The numbers tried
    // depend on our process id, so test programs running side by side
    // rarely race for one.
    static pid_t startServer()
    {
        int first = 300 + (int)(getpid() % 600);
        for (int display = first; display < first + 40; display++) {
            std::string lock = "/tmp/.X" + std::to_string(display) + "-lock";
            if (access(lock.c_str(), F_OK) == 0) continue;
            std::string name = ":" + std::to_string(display);
            pid_t pid = spawn(
                {"Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-dpi", "96", "+extension", "RANDR"},
                -1);
            if (pid <= 0) return -1;
            std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            bool exited = false;
            while (!exited && std::chrono::steady_clock::now() < until) {
                if (waitpid(pid, nullptr, WNOHANG) == pid) {
                    exited = true; // lost the race for this display: next one
                    break;
                }
                if (access(socket.c_str(), F_OK) == 0) {
                    // The socket may be another server's: ours must still run a moment later.
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    if (waitpid(pid, nullptr, WNOHANG) != 0) {
                        exited = true;
                        break;
                    }
                    setenv("DISPLAY", name.c_str(), 1);
                    unsetenv("QT_QPA_PLATFORM");
                    unsetenv("WAYLAND_DISPLAY");
                    return pid;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (exited) continue;
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        return -1;
    }

private:
    pid_t server = -1;
    pid_t wm = -1;
};

} // namespace xtest
