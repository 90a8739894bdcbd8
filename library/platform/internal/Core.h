#pragma once

// Internals of the window layer shared by the core and the backend. Not for
// use outside library/platform.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform.h"

namespace wplat::detail {

// A set of rectangles; kept small by dropping rectangles inside others.
struct Region {
    std::vector<RECT> rects;
    bool empty() const { return rects.empty(); }
    void clear() { rects.clear(); }
    void add(const RECT& r);
    void clipTo(const RECT& r);
    RECT bounds() const;
};

bool rectEmpty(const RECT& r);
RECT intersect(const RECT& a, const RECT& b);

// The substrate's widget under one window.
class View {
public:
    virtual ~View() = default;
    virtual void setGeometry(int x, int y, int width, int height) = 0;
    virtual void setVisible(bool visible) = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void takeFocus() = 0;
    // The backing image changed inside the rectangle (client coordinates).
    virtual void present(const RECT& rect) = 0;
    virtual void setShowState(int command) = 0;
    virtual void setTopMost(bool topMost, bool raise) = 0;
    // The screen position of the client origin.
    virtual POINT screenOrigin() = 0;
    // How far the frame of a top-level reaches beyond its client area on
    // each side (all 0 for children and before the window manager framed it).
    virtual RECT frameExtents() = 0;
    virtual void setIcon(HICON icon) = 0;
    // Shows the window's menu bar (null removes it); returns its height.
    virtual int setMenuBar(HMENU menu) = 0;
};

struct TextMetrics {
    int ascent = 0;
    int descent = 0;
    int averageWidth = 0;
    int maxWidth = 0;
};

// What the core needs from the substrate. Installed by startUi.
class Backend {
public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<View> createView(HWND window, HWND parent, DWORD style, DWORD exStyle) = 0;
    // Makes the user-interface thread's wait return (coalesced).
    virtual void wake() = 0;
    // Processes substrate events until something arrives or the timeout (ms,
    // -1 for none) ends.
    virtual void wait(int timeoutMs) = 0;
    // Services the thread's queue after `ms` when a loop of the substrate's
    // own runs (timers in modal boxes); -1 cancels.
    virtual void scheduleService(int ms) = 0;
    virtual int messageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;
    virtual bool cursorPos(POINT& point) = 0;
    virtual void setCursorShape(int id) = 0;
    virtual bool textMetrics(const LOGFONT& font, TextMetrics& metrics) = 0;
    virtual bool textExtent(const LOGFONT& font, const std::string& text, SIZE& size) = 0;
    // Draws text into the image at (x, y) (top of the cell), clipped.
    virtual void drawText(PixelImage& image, const std::vector<RECT>& clip, const LOGFONT& font, COLORREF color, int x,
        int y, const std::string& text)
        = 0;
    virtual int dpi() = 0;
    // Reads a picture file (PNG, JPEG, BMP, GIF, ...); false when it cannot.
    virtual bool loadImage(const std::string& path, PixelImage& out) = 0;
    // The work area of the primary screen.
    virtual RECT screenArea() = 0;
};

Backend* backend();
void setBackend(Backend* backend);
// Registers the classes every program finds ready (buttons, labels, edit fields, lists, bars).
void registerStandardClasses();

struct SentMessage {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
    bool done = false;
    // False when the owner ended before it got to it.
    bool answered = false;
    void (*work)(void*) = nullptr;
    void* context = nullptr;
    std::shared_ptr<struct ThreadQueue> sender;
};

struct Timer {
    HWND window;
    UINT_PTR id;
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point due;
};

// The message queue and input state of one thread.
struct ThreadQueue {
    std::thread::id thread;
    std::mutex lock;
    std::condition_variable signal;
    std::deque<MSG> posted;
    std::deque<SentMessage*> sent;
    std::vector<Timer> timers;
    bool quit = false;
    int quitCode = 0;
    bool wakePending = false;
    // True while getMessage waits inside the substrate; false while a
    // window procedure runs (so nested loops of the substrate service us).
    bool waiting = false;
    int receivingSend = 0;
    HWND focus = nullptr;
    HWND active = nullptr;
    // Down state of each virtual key as of the last message taken.
    bool keys[256] = {};
    HWND capture = nullptr;
    // The thread has ended: nothing sent to it will be answered.
    bool ended = false;
    // Work handed over by other threads that wait for nobody.
    std::deque<std::function<void()>> calls;
};

std::shared_ptr<ThreadQueue> currentQueue();
std::shared_ptr<ThreadQueue> uiQueue();
// Services sent messages, then (when `all`) posted messages, paints and
// timers: what the platform's own modal loops do. Used by the backend when a
// loop of the substrate runs.
void serviceQueue(bool all);
// Called by the backend on the user-interface thread around calls into
// window procedures from substrate events.
class DispatchScope {
public:
    DispatchScope();
    ~DispatchScope();

private:
    bool saved;
};

// Puts a message at the head of the window's queue (characters made from
// a key come right after it).
void postFront(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Input from the substrate (client coordinates of the window).
void postInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The user resized or moved a top-level window.
void viewGeometryChanged(HWND window, int x, int y, int width, int height);
// The window manager (or the user through it) minimised, maximised or
// restored a top-level: `showState` is SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED or
// SW_SHOWNORMAL.
void viewStateChanged(HWND window, int showState);
// The pointer moved over the window: WM_SETCURSOR as the platform sends it.
void viewPointerOver(HWND window, UINT mouseMessage);
// The view of a window was closed by the user.
void viewCloseRequested(HWND window);
void viewFocusChanged(HWND window, bool in);
void viewMouseLeft(HWND window);
// The screen-to-client offset of a top-level without a view.
RECT windowRectOnScreen(HWND window);

// Runs `work` on the thread that owns `queue` and waits for it (sent
// messages of others are serviced meanwhile); runs it here when this is that
// thread. False, without running it, when that thread has ended.
bool callOnThread(const std::shared_ptr<ThreadQueue>& queue, void (*work)(void*), void* context);
template <typename F>
bool callOnThread(const std::shared_ptr<ThreadQueue>& queue, F&& f)
{
    return callOnThread(
        queue, [](void* c) { (*(std::remove_reference_t<F>*)c)(); }, (void*)&f);
}
// Queues `work` for the thread that owns `queue` without waiting.
void postToThread(const std::shared_ptr<ThreadQueue>& queue, std::function<void()> work);

} // namespace wplat::detail
