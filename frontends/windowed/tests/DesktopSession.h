#pragma once

// A private X desktop for end-to-end tests of the real zorvane_gui: Xvfb on a
// free display, openbox as window manager and trayer as notification area.
// Input goes through xdotool as a user's would; what the user sees is read
// back with Xlib (window states, properties, pixels).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace desktop {

using Clock = std::chrono::steady_clock;

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs, int stepMs = 50)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
}

inline bool onPath(const char* program)
{
    const char* path = getenv("PATH");
    std::string all = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        std::string candidate = all.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// A child process in its own process group; killed with the group when the
// object goes, so nothing outlives a failed test.
class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { kill(); }

    // argv[0] is looked up on PATH; `env` entries replace or add variables.
    bool start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
        const std::string& directory = "", const std::string& logPath = "/dev/null")
    {
        std::map<std::string, std::string> all;
        for (char** e = environ; *e != nullptr; e++) {
            const char* eq = strchr(*e, '=');
            if (eq != nullptr) all[std::string(*e, (size_t)(eq - *e))] = eq + 1;
        }
        for (const auto& [key, value] : env)
            all[key] = value;
        std::vector<std::string> envText;
        for (const auto& [key, value] : all)
            envText.push_back(key + "=" + value);
        std::vector<char*> envp;
        for (auto& text : envText)
            envp.push_back(text.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (auto& a : args)
            argp.push_back(a.data());
        argp.push_back(nullptr);

        pid_t child = fork();
        if (child < 0) return false;
        if (child == 0) {
            setpgid(0, 0);
            // Gone with the test, even when the test itself crashes.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            signal(SIGPIPE, SIG_DFL);
            if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
            int in = open("/dev/null", O_RDONLY);
            int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (in >= 0) dup2(in, 0);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            execvpe(argp[0], argp.data(), envp.data());
            _exit(127);
        }
        setpgid(child, child);
        pid = child;
        exitStatus.reset();
        return true;
    }

    bool running()
    {
        if (pid <= 0) return false;
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            exitStatus = status;
            pid = -1;
            return false;
        }
        return r == 0;
    }

    // The exit code once the process ended within the time; -1 when it still
    // runs, 128 + signal when a signal ended it.
    int wait(int timeoutMs)
    {
        if (!waitUntil([this] { return !running(); }, timeoutMs, 20)) return -1;
        return exitCode();
    }

    int exitCode() const
    {
        if (!exitStatus) return -1;
        if (WIFEXITED(*exitStatus)) return WEXITSTATUS(*exitStatus);
        return WIFSIGNALED(*exitStatus) ? 128 + WTERMSIG(*exitStatus) : -1;
    }

    void kill()
    {
        if (pid <= 0) return;
        ::kill(-pid, SIGTERM);
        if (wait(2000) < 0 && pid > 0) {
            ::kill(-pid, SIGKILL);
            wait(2000);
        }
        pid = -1;
    }

    pid_t id() const { return pid; }

private:
    pid_t pid = -1;
    std::optional<int> exitStatus;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Pixels of a screen area as 0xRRGGBB, row by row.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> rgb;

    uint32_t at(int x, int y) const { return rgb[(size_t)y * (size_t)width + (size_t)x]; }
    bool operator==(const Pixels& other) const
    {
        return width == other.width && height == other.height && rgb == other.rgb;
    }
    int count(const std::function<bool(uint32_t)>& match) const
    {
        int n = 0;
        for (uint32_t p : rgb)
            n += match(p) ? 1 : 0;
        return n;
    }
};

inline int red(uint32_t p)
{
    return (int)((p >> 16) & 0xFF);
}
inline int green(uint32_t p)
{
    return (int)((p >> 8) & 0xFF);
}
inline int blue(uint32_t p)
{
    return (int)(p & 0xFF);
}

// The running X desktop. Start() picks a display nobody uses.
class Session {
public:
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { stop(); }

    static bool toolsPresent(std::string& missing)
    {
        for (const char* tool : {"Xvfb", "openbox", "trayer", "xdotool"}) {
            if (!onPath(tool)) {
                missing = tool;
                return false;
            }
        }
        return true;
    }

    bool start(const std::string& workDirectory)
    {
        work = workDirectory;
        int first = 200 + (int)(getpid() % 500);
        for (int attempt = 0; attempt < 40 && display == nullptr; attempt++) {
            int number = first + attempt * 7;
            std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
            std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
            if (access(lock.c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0) continue;
            name = ":" + std::to_string(number);
            if (!xvfb.start({"Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, {}, "",
                    work + "/xvfb.log"))
                return false;
            waitUntil(
                [this] {
                    display = XOpenDisplay(name.c_str());
                    return display != nullptr || !xvfb.running();
                },
                5000);
            if (display == nullptr) xvfb.kill();
        }
        if (display == nullptr) return false;
        root = DefaultRootWindow(display);
        // A desktop colour, so screenshots show where windows end.
        XSetWindowBackground(display, root, 0x3A6EA5);
        XClearWindow(display, root);
        XFlush(display);
        if (!startWindowManager()) return false;
        return startTray();
    }

    bool startWindowManager()
    {
        std::string config = work + "/wm-home";
        mkdir(config.c_str(), 0700);
        if (!wm.start({"openbox", "--sm-disable"}, environment({{"HOME", config}}), "", work + "/openbox.log"))
            return false;
        return waitUntil([this] { return !property(root, "_NET_SUPPORTING_WM_CHECK").empty(); }, 5000);
    }

    bool startTray()
    {
        if (!tray.start({"trayer", "--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "120",
                            "--heighttype", "pixel", "--height", "32", "--SetDockType", "true"},
                environment(), "", work + "/trayer.log"))
            return false;
        return waitUntil([this] { return trayAvailable(); }, 5000);
    }

    void stopTray()
    {
        tray.kill();
        waitUntil([this] { return !trayAvailable(); }, 3000);
    }

    void stop()
    {
        tray.kill();
        wm.kill();
        if (display != nullptr) {
            XCloseDisplay(display);
            display = nullptr;
        }
        xvfb.kill();
    }

    // The variables a program on this display needs, plus `extra`.
    std::map<std::string, std::string> environment(std::map<std::string, std::string> extra = {}) const
    {
        extra["DISPLAY"] = name;
        extra.erase("WAYLAND_DISPLAY");
        extra["QT_QPA_PLATFORM"] = "xcb";
        extra["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
        return extra;
    }

    const std::string& displayName() const { return name; }

    // --- xdotool ---------------------------------------------------------------

    bool xdo(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv {"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        Process p;
        if (!p.start(argv, environment(), "", work + "/xdotool.log")) return false;
        return p.wait(10000) == 0;
    }

    bool click(int x, int y, int button = 1, int repeat = 1)
    {
        return xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "--repeat",
            std::to_string(repeat), "--delay", "80", std::to_string(button)});
    }

    // Keys separated by blanks, pressed one after the other.
    bool key(const std::string& keys)
    {
        std::vector<std::string> args {"key", "--delay", "60"};
        std::istringstream words(keys);
        std::string word;
        while (words >> word)
            args.push_back(word);
        return xdo(args);
    }

    bool type(const std::string& text) { return xdo({"type", "--delay", "30", text}); }

    // --- what the user sees ----------------------------------------------------

    // The top-level window with this title; the viewable one when there are several.
    Window findWindow(const std::string& title)
    {
        std::vector<Window> found;
        collect(root, title, found);
        for (Window w : found) {
            if (viewable(w)) return w;
        }
        return found.empty() ? 0 : found.front();
    }

    Window waitForWindow(const std::string& title, int timeoutMs, bool mustBeViewable = true)
    {
        Window w = 0;
        waitUntil(
            [&] {
                w = findWindow(title);
                return w != 0 && (!mustBeViewable || viewable(w));
            },
            timeoutMs);
        return w != 0 && (!mustBeViewable || viewable(w)) ? w : 0;
    }

    bool viewable(Window w)
    {
        XWindowAttributes a;
        XSync(display, False);
        if (!guarded([&] { return XGetWindowAttributes(display, w, &a) != 0; })) return false;
        return a.map_state == IsViewable;
    }

    // WM_STATE: 0 withdrawn, 1 normal, 3 iconic; -1 when the window has none.
    int wmState(Window w)
    {
        auto v = property(w, "WM_STATE", "WM_STATE");
        return v.empty() ? -1 : (int)v[0];
    }

    std::vector<std::string> atomsOf(Window w, const char* propertyName)
    {
        std::vector<std::string> names;
        for (unsigned long a : property(w, propertyName, "ATOM")) {
            char* text = XGetAtomName(display, (Atom)a);
            if (text != nullptr) {
                names.push_back(text);
                XFree(text);
            }
        }
        return names;
    }

    bool sizeHints(Window w, XSizeHints& hints)
    {
        long supplied = 0;
        return guarded([&] { return XGetWMNormalHints(display, w, &hints, &supplied) != 0; });
    }

    Rect geometry(Window w)
    {
        Rect r;
        XWindowAttributes a;
        if (!guarded([&] { return XGetWindowAttributes(display, w, &a) != 0; })) return r;
        Window child = 0;
        XTranslateCoordinates(display, w, root, 0, 0, &r.x, &r.y, &child);
        r.width = a.width;
        r.height = a.height;
        return r;
    }

    Pixels grab(const Rect& area)
    {
        Pixels p;
        XSync(display, False);
        XImage* image
            = XGetImage(display, root, area.x, area.y, (unsigned)area.width, (unsigned)area.height, AllPlanes, ZPixmap);
        if (image == nullptr) return p;
        p.width = area.width;
        p.height = area.height;
        p.rgb.reserve((size_t)area.width * (size_t)area.height);
        for (int y = 0; y < area.height; y++) {
            for (int x = 0; x < area.width; x++)
                p.rgb.push_back((uint32_t)XGetPixel(image, x, y) & 0xFFFFFF);
        }
        XDestroyImage(image);
        return p;
    }

    // Asks the window to close as the title bar's close box does.
    void requestClose(Window w)
    {
        XEvent e {};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, w, False, NoEventMask, &e);
        XFlush(display);
    }

    bool trayAvailable()
    {
        Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
        return XGetSelectionOwner(display, selection) != None;
    }

    // The area of the first icon docked in the notification area, if any.
    std::optional<Rect> trayIcon()
    {
        std::vector<Window> panels;
        collect(root, "panel", panels);
        for (Window panel : panels) {
            std::optional<Rect> icon;
            walk(panel, [&](Window w) {
                if (icon || w == panel || !viewable(w)) return;
                Rect r = geometry(w);
                if (r.width >= 8 && r.height >= 8 && r.width <= 64 && r.height <= 64 && named(w)) icon = r;
            });
            if (icon) return icon;
        }
        return std::nullopt;
    }

    std::optional<Rect> waitForTrayIcon(int timeoutMs)
    {
        std::optional<Rect> icon;
        waitUntil(
            [&] {
                icon = trayIcon();
                return icon.has_value();
            },
            timeoutMs);
        return icon;
    }

    // A pop-up menu (the tray's): a viewable top-level window that the window
    // manager does not frame, taller than a tool tip.
    bool popupMenuShown() { return popupMenu().has_value(); }

    std::optional<Rect> popupMenu()
    {
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!guarded([&] { return XQueryTree(display, root, &rootReturn, &parent, &children, &count) != 0; }))
            return std::nullopt;
        std::vector<Window> list(children, children + count);
        if (children != nullptr) XFree(children);
        for (Window w : list) {
            XWindowAttributes a;
            if (!guarded([&] { return XGetWindowAttributes(display, w, &a) != 0; })) continue;
            if (a.override_redirect && a.map_state == IsViewable && a.width >= 60 && a.height >= 40 && named(w))
                return Rect {a.x, a.y, a.width, a.height};
        }
        return std::nullopt;
    }

    std::vector<unsigned long> property(Window w, const char* propertyName, const char* typeName = nullptr)
    {
        std::vector<unsigned long> values;
        Atom atom = XInternAtom(display, propertyName, False);
        Atom wanted = typeName != nullptr ? XInternAtom(display, typeName, False) : AnyPropertyType;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        bool ok = guarded([&] {
            return XGetWindowProperty(
                       display, w, atom, 0, 1 << 20, False, wanted, &type, &format, &count, &after, &data)
                == Success;
        });
        if (ok && data != nullptr && format == 32) {
            auto* longs = (unsigned long*)data;
            values.assign(longs, longs + count);
        }
        if (data != nullptr) XFree(data);
        return values;
    }

    Display* x() const { return display; }

private:
    // Runs an Xlib call with errors (a window that vanished) turned into false.
    bool guarded(const std::function<bool()>& call)
    {
        XSync(display, False);
        failedRequest() = false;
        XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) -> int {
            failedRequest() = true;
            return 0;
        });
        bool ok = call();
        XSync(display, False);
        XSetErrorHandler(previous);
        return ok && !failedRequest();
    }

    static bool& failedRequest()
    {
        static bool failed = false;
        return failed;
    }

    bool named(Window w)
    {
        char* title = nullptr;
        bool has = guarded([&] { return XFetchName(display, w, &title) != 0; }) && title != nullptr;
        if (title != nullptr) XFree(title);
        return has;
    }

    void walk(Window w, const std::function<void(Window)>& visit)
    {
        visit(w);
        Window rootReturn = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!guarded([&] { return XQueryTree(display, w, &rootReturn, &parent, &children, &count) != 0; })) return;
        std::vector<Window> list(children, children + count);
        if (children != nullptr) XFree(children);
        for (Window c : list)
            walk(c, visit);
    }

    void collect(Window from, const std::string& title, std::vector<Window>& found)
    {
        walk(from, [&](Window w) {
            char* text = nullptr;
            if (guarded([&] { return XFetchName(display, w, &text) != 0; }) && text != nullptr) {
                if (title == text) found.push_back(w);
            }
            if (text != nullptr) XFree(text);
        });
    }

    std::string work;
    std::string name;
    Display* display = nullptr;
    Window root = 0;
    Process xvfb;
    Process wm;
    Process tray;
};

} // namespace desktop
