// The graphics window: set-up and tear-down, slides and applications. Its
// objects, cursors, frames, input and timers have files of their own.
#include "W2DGraphicsWindow.h"

#include "Platform.h"
#include "WException.h"
#include "WSystem.h"

W2DGraphicsWindow::W2DGraphicsWindow() : W2DGraphicsWindow("", TYPE_WINDOW_COMPOSE)
{
}

W2DGraphicsWindow::W2DGraphicsWindow(const char* windowName, Type windowType)
    : slidesPerApp(0), currentSlide(0), appCount(0), currentApp(0), mainCursor(nullptr), type(windowType),
      name(windowName ? windowName : ""), parentWindow(nullptr), windowRect {0, 0, 0, 0}, origin {0, 0, 0, 0},
      timerCount(0), offsetXGiven(0), offsetYGiven(0), destroying(false)
{
}

W2DGraphicsWindow::~W2DGraphicsWindow()
{
    destroying = true;
    try {
        close();
    } catch (...) {
    }
    destroyContent();
}

void W2DGraphicsWindow::close()
{
    WWindow::destroy();
}

void W2DGraphicsWindow::onGraphicsWindowTimer(unsigned long)
{
}

// ---- Set-up

void W2DGraphicsWindow::create(
    unsigned long applications, unsigned long slideCount, const WDisplayDevice& dev, int xOffset, int yOffset)
{
    create(nullptr, applications, slideCount, 0, 0, 0, 0, dev, xOffset, yOffset);
}

void W2DGraphicsWindow::create(WWindowContext* parentContext, unsigned long applications, unsigned long slideCount,
    unsigned long x, unsigned long y, unsigned long width, unsigned long height, const WDisplayDevice& dev, int xOffset,
    int yOffset)
{
    {
        Lock guard(frameLock);
        offsetXGiven = xOffset;
        offsetYGiven = yOffset;
        parentWindow = parentContext;
        device = dev;
        if (slideCount == 0 || slideCount > MAX_SLIDES) slideCount = 1;
        if (applications == 0) applications = 1;
        slidesPerApp = slideCount;
        appCount = applications;
        currentApp = 0;
        currentSlide = 0;
        slides.assign(applications * slideCount, Slide());
        directories.clear();
        directories.resize(applications);
        // The display's current mode is the size of a window given none;
        // without a mode to read, the monitor's rectangle stands in for it.
        const WDisplayDevice::Rect& monitor = dev.getMonitorInfo().monitorArea;
        try {
            WSystem::getCurrentDisplayMode(displayMode, dev);
        } catch (const WException&) {
            displayMode = WDisplayMode(dev.isMonitorInfo() ? unsigned(monitor.right - monitor.left) : 0,
                dev.isMonitorInfo() ? unsigned(monitor.bottom - monitor.top) : 0, 32, 0);
        }
        const unsigned long xRes = displayMode.getXRes();
        const unsigned long yRes = displayMode.getYRes();
        if (width == 0) width = xRes;
        if (height == 0) height = yRes;
        windowRect = RECT {int32_t(x), int32_t(y), int32_t(x + width), int32_t(y + height)};
        if (parentContext != nullptr)
            parentContext->getWindowArea(origin);
        else if (dev.isMonitorInfo())
            origin = RECT {monitor.left, monitor.top, monitor.right, monitor.bottom};
        else
            origin = RECT {0, 0, 0, 0};
    }
    WWindow::create(parentContext, name, this, WWindow::STYLE_POPUP, origin.left + windowRect.left,
        origin.top + windowRect.top, width, height);
}

void W2DGraphicsWindow::onWindowCreate()
{
    try {
        Lock guard(frameLock);
        const int width = windowRect.right - windowRect.left, height = windowRect.bottom - windowRect.top;
        setWindowPos(
            origin.left + windowRect.left, origin.top + windowRect.top, unsigned(width), unsigned(height), false);
        const bool flipping = type == TYPE_EXCLUSIVE_FLIP;
        W2DContextWindow::create(*this, device, displayMode, flipping ? 1 : 0, flipping, offsetXGiven, offsetYGiven);
        background.create(*this);
        background.erase(0);
        if (flipping)
            getSurfacePrimary().getBackBuffer(backBuffer);
        else
            backBuffer.create(*this);
        RECT area;
        getArea(area);
        backClip.create(RECT {0, 0, area.right - area.left, area.bottom - area.top});
        backBuffer.setClipRegion(backClip);
        backBuffer.erase(0);
        onGraphicsWindowCreate();
        showWindow();
        setTimer(1000);
    } catch (const WException& e) {
        wplat::messageBox(getWindowHandle(), e.toString(), "Error", MB_ICONWARNING);
        WWindow::destroy();
    }
}

void W2DGraphicsWindow::destroyContent()
{
    Lock guard(frameLock);
    // Slides point into the directories: they go first.
    slides.clear();
    directories.clear();
    cursors.clear();
    mainCursor = nullptr;
    background.close();
    backBuffer.close();
    W2DContextWindow::close();
}

void W2DGraphicsWindow::onWindowDestroy()
{
    if (!destroying) onGraphicsWindowDestroy();
    destroyContent();
}

// ---- Slides and applications

W2DGraphicsWindow::Slide& W2DGraphicsWindow::slideTable(unsigned long application, unsigned long slide)
{
    return slides[application * slidesPerApp + slide];
}

const W2DGraphicsWindow::Slide& W2DGraphicsWindow::currentSlideTable() const
{
    static const Slide none;
    const size_t index = currentApp * slidesPerApp + currentSlide;
    return index < slides.size() ? slides[index] : none;
}

std::vector<const W2DObject*> W2DGraphicsWindow::getSlideObjects(unsigned long slide) const
{
    Lock guard(frameLock);
    std::vector<const W2DObject*> out;
    if (slide == 0 || slide > slidesPerApp) return out;
    for (const auto& [key, object] : slides[currentApp * slidesPerApp + slide - 1])
        out.push_back(object);
    return out;
}

void W2DGraphicsWindow::selectSlide(unsigned long slide)
{
    if (slide > slidesPerApp)
        throw W2DGraphicsWindowException(WFormattedString("Cannot switch to slide %u", unsigned(slide)));
    post(MSG_SELECT_SLIDE, slide);
}

void W2DGraphicsWindow::resetCursors()
{
    for (auto& c : cursors) {
        c->clickPending = false;
        if (c->under != nullptr) {
            c->under->onNotification(W2DObject::NOTIFY_LEAVE, c->id);
            c->under->hoverCount = 0;
        }
        c->under = nullptr;
        c->connected = nullptr;
    }
}

// Applications beyond the count are refused.
void W2DGraphicsWindow::selectApp(unsigned long application)
{
    Lock guard(frameLock);
    if (application == 0 || application > appCount) return;
    resetCursors();
    currentApp = application - 1;
}

void W2DGraphicsWindow::post(MessageKind kind, uintptr_t value)
{
    createUserMessage(reinterpret_cast<void*>(uintptr_t(kind)), reinterpret_cast<void*>(value));
}
