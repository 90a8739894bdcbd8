#pragma once
// A window showing named graphic objects on numbered slides (grouped in
// applications), moved over by cursors, with ten one-second countdown
// timers. Frames are composed from a background surface, the animated
// objects and the cursor images in a back buffer, then shown by copying into
// the window or, full-screen, by flipping.
//
// Locks: the frame lock guards slides, objects, cursors and drawing; the
// timer lock the timers. Both are re-entrant. The library never holds one
// while taking the other, but hooks may: a timer hook that renders a frame
// and a notification that adds a timer, run on two threads, take them in
// opposite orders and can deadlock; applications must not do both.

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "W2DContextWindow.h"
#include "W2DObject.h"
#include "WDisplayDevice.h"
#include "WDisplayMode.h"
#include "WWindow.h"

class W2DGraphicsWindow : public WWindow, public W2DContextWindow, public WWindow::EventHandler {
public:
    enum Type { TYPE_WINDOW_REPAINT = 1, TYPE_WINDOW_COMPOSE = 2, TYPE_EXCLUSIVE_FLIP = 3 };
    enum { MAX_SLIDES = 20, MAX_TIMERS = 10 };

    struct Timer {
        unsigned long id = 0;
        unsigned long remaining = 0;
    };

    W2DGraphicsWindow();
    W2DGraphicsWindow(const char* name, Type type);
    // Destroys the platform window if still there, without the destruction
    // hook (the application's part is gone by then): applications that need
    // the hook call close() in their own destructor.
    ~W2DGraphicsWindow() override;
    W2DGraphicsWindow(const W2DGraphicsWindow&) = delete;
    W2DGraphicsWindow& operator=(const W2DGraphicsWindow&) = delete;

    void create(WWindowContext* parent, unsigned long applications, unsigned long slides, unsigned long x,
        unsigned long y, unsigned long width, unsigned long height, const WDisplayDevice& device, int offsetX,
        int offsetY);
    void create(
        unsigned long applications, unsigned long slides, const WDisplayDevice& device, int offsetX, int offsetY);
    void close();

    void selectSlide(unsigned long slide);
    void selectApp(unsigned long application);
    unsigned long getCurrentSlide() const { return currentSlide + 1; }
    unsigned long getSlideCount() const { return slidesPerApp; }

    void addObject(const char* slides, const WString& name, const W2DObject* object, bool show);
    void removeObject(const WString& name);
    void removeAllObjects();
    void removeAllObjects(const WString& prefix);
    void showObject(const W2DObject* object);
    void showAllObjects();
    // The objects of a slide (1-based) of the current application, in drawing order.
    std::vector<const W2DObject*> getSlideObjects(unsigned long slide) const;

    void addCursor(unsigned long id, const WString& imageFile, bool main, const WString& hotSpot);
    void removeCursor(unsigned long id);
    void setCursorPos(unsigned long id, int x, int y, bool force);
    bool getCursorPos(unsigned long id, int& x, int& y) const;
    bool getCursorHotSpot(unsigned long id, int& x, int& y) const;
    void clickCursor(unsigned long id);
    void showCursor(unsigned long id, bool show);
    void showAllCursors();
    void connectCursorToObject(unsigned long id, W2DObject* object);
    void disconnectCursorObject(unsigned long id);
    W2DObject* getConnectedCursorObject(unsigned long id) const;
    bool isCursorOverObject(const W2DObject* object, unsigned long id) const;
    W2DObject* getCursorObject(unsigned long id) const;

    bool addTimer(unsigned long id, unsigned long seconds);
    bool getTimer(unsigned long id, unsigned long& remaining) const;
    void removeTimer(unsigned long id);
    void removeAllTimers();
    unsigned long getTimerCount() const;

    void renderFrame(const double& time);
    // The composed frame's pixels (the back buffer).
    const wplat::PixelImage* getFramePixels() const { return backBuffer.getImage(); }

    // Window events; public so the window layer (and tests) can deliver them.
    void onWindowCreate() override;
    void onWindowMouseMove(int x, int y, void* extra) override;
    void onWindowMouseLeftDown(int x, int y, void* extra) override;
    void onWindowKeyPressed(int key) override;
    void onWindowRestore() override { }
    void onWindowRestore(HDC dc, const RECT& area) override;
    void onWindowClose() override { }
    void onWindowDestroy() override;
    void onWindowTimerTick() override;
    void onWindowUserMessage(void* kind, void* value) override;
    // Colours of the library's text controls on the window (WM_CTLCOLOREDIT).
    LRESULT onWindowMessage(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam) override;
    // Frames composed on other threads are shown by the window's own thread.
    void presentPrimary() const override;

protected:
    virtual void onGraphicsWindowSlide(unsigned long slide) = 0;
    virtual void onGraphicsWindowCreate() = 0;
    virtual void onGraphicsWindowDestroy() = 0;
    virtual void onGraphicsWindowKeyPressed(int virtualKey) = 0;
    virtual void onGraphicsWindowTimer(unsigned long id);

private:
    using Lock = std::lock_guard<std::recursive_mutex>;
    // Kinds of the messages the window posts to its own thread.
    enum MessageKind : uintptr_t { MSG_SELECT_SLIDE = 1, MSG_CLICK = 2, MSG_UPDATE = 3, MSG_PRESENT = 4 };

    struct Cursor {
        unsigned long id = 0;
        std::unique_ptr<W2DSurfaceBitmap> image;
        W2DObject* under = nullptr;
        W2DObject* connected = nullptr;
        bool main = false;
        bool visible = false;
        bool clickPending = false;
        bool hasImage = false;
        int x = 0, y = 0;
        int hotX = 0, hotY = 0;
    };
    // The directory entry owns its object; slides only point at it.
    struct Entry {
        std::unique_ptr<W2DObject> object;
        unsigned long application = 0;
        std::vector<unsigned char> slides; // 0-based
    };
    using Slide = std::vector<std::pair<std::string, W2DObject*>>;

    Slide& slideTable(unsigned long application, unsigned long slide);
    const Slide& currentSlideTable() const;
    Cursor* findCursor(unsigned long id) const;
    void invalidateObject(const W2DObject* object);
    void dropFromCursors(const W2DObject* object);
    void removeFromSlides(const std::string& name, const Entry& entry);
    void leave(Cursor& cursor, W2DObject* object, bool viaShow);
    void enter(Cursor& cursor, W2DObject* object, bool viaShow);
    W2DObject* hitTest(int x, int y) const;
    void updateObjects(bool click, unsigned long cursor);
    void resetCursors();
    void showScreen();
    void destroyContent();
    void post(MessageKind kind, uintptr_t value);
    void onSelectSlideMessage(uintptr_t slide);
    void onUpdateMessage();
    LRESULT onTextControlColour(HDC dc, HWND control);

    mutable std::recursive_mutex frameLock;
    mutable std::recursive_mutex timerLock;
    unsigned long slidesPerApp;
    unsigned long currentSlide;
    unsigned long appCount;
    unsigned long currentApp;
    WDisplayMode displayMode;
    WDisplayDevice device;
    W2DSurfaceOffscreen background;
    W2DSurfaceOffscreen backBuffer;
    W2DRegionRectangle backClip;
    std::vector<std::unique_ptr<Cursor>> cursors;
    std::vector<std::map<std::string, Entry>> directories;
    std::vector<Slide> slides;
    Cursor* mainCursor;
    Type type;
    WString name;
    WWindowContext* parentWindow;
    RECT windowRect;
    RECT origin;
    std::array<Timer, MAX_TIMERS> timers;
    unsigned long timerCount;
    int offsetXGiven;
    int offsetYGiven;
    bool destroying;
};
