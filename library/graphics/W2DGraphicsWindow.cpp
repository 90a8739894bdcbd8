#include "W2DGraphicsWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform.h"
#include "WException.h"
#include "WSystem.h"

using Lock = std::lock_guard<std::recursive_mutex>;

namespace {
enum MessageKind : uintptr_t { MSG_SELECT_SLIDE = 1, MSG_CLICK = 2, MSG_UPDATE = 3, MSG_PRESENT = 4 };
} // namespace

W2DGraphicsWindow::W2DGraphicsWindow() : W2DGraphicsWindow("", TYPE_WINDOW_COMPOSE) {}

W2DGraphicsWindow::W2DGraphicsWindow(const char* windowName, Type windowType)
    : slidesPerApp(0), currentSlide(0), appCount(0), currentApp(0), mainCursor(nullptr), type(windowType),
      name(windowName ? windowName : ""), parentWindow(nullptr), windowRect{0, 0, 0, 0}, origin{0, 0, 0, 0},
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

void W2DGraphicsWindow::onGraphicsWindowTimer(unsigned long) {}

// ---- Set-up

void W2DGraphicsWindow::create(unsigned long applications, unsigned long slideCount, const WDisplayDevice& dev,
                               int offsetX, int offsetY)
{
    create(nullptr, applications, slideCount, 0, 0, 0, 0, dev, offsetX, offsetY);
}

void W2DGraphicsWindow::create(WWindowContext* parent, unsigned long applications, unsigned long slideCount,
                               unsigned long x, unsigned long y, unsigned long width, unsigned long height,
                               const WDisplayDevice& dev, int offsetX, int offsetY)
{
    {
        Lock guard(frameLock);
        offsetXGiven = offsetX;
        offsetYGiven = offsetY;
        parentWindow = parent;
        device = dev;
        if (slideCount == 0 || slideCount > MAX_SLIDES)
            slideCount = 1;
        if (applications == 0)
            applications = 1;
        slidesPerApp = slideCount;
        appCount = applications;
        currentApp = 0;
        currentSlide = 0;
        slides.assign(applications * slideCount, Slide());
        directories.assign(applications, std::map<std::string, Entry>());
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
        if (width == 0)
            width = xRes;
        if (height == 0)
            height = yRes;
        windowRect = RECT{int32_t(x), int32_t(y), int32_t(x + width), int32_t(y + height)};
        if (parent != nullptr)
            parent->getWindowArea(origin);
        else if (dev.isMonitorInfo())
            origin = RECT{monitor.left, monitor.top, monitor.right, monitor.bottom};
        else
            origin = RECT{0, 0, 0, 0};
    }
    WWindow::create(parent, name, this, WWindow::STYLE_POPUP, origin.left + windowRect.left,
                    origin.top + windowRect.top, width, height);
}

void W2DGraphicsWindow::onWindowCreate()
{
    try {
        Lock guard(frameLock);
        const int width = windowRect.right - windowRect.left, height = windowRect.bottom - windowRect.top;
        setWindowPos(origin.left + windowRect.left, origin.top + windowRect.top, unsigned(width), unsigned(height),
                     false);
        const bool exclusive = type == TYPE_EXCLUSIVE_FLIP;
        W2DContextWindow::create(*this, device, displayMode, exclusive ? 1 : 0, exclusive, offsetXGiven,
                                 offsetYGiven);
        background.create(*this);
        background.erase(0);
        if (exclusive)
            getSurfacePrimary().getBackBuffer(backBuffer);
        else
            backBuffer.create(*this);
        RECT area;
        getArea(area);
        backClip.create(RECT{0, 0, area.right - area.left, area.bottom - area.top});
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
    for (size_t a = 0; a < directories.size(); ++a) {
        for (auto& [key, entry] : directories[a])
            delete entry.object;
        directories[a].clear();
    }
    slides.clear();
    cursors.clear();
    mainCursor = nullptr;
    background.close();
    backBuffer.close();
    W2DContextWindow::close();
}

void W2DGraphicsWindow::onWindowDestroy()
{
    if (!destroying)
        onGraphicsWindowDestroy();
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
    if (slide == 0 || slide > slidesPerApp)
        return out;
    for (const auto& [key, object] : slides[currentApp * slidesPerApp + slide - 1])
        out.push_back(object);
    return out;
}

void W2DGraphicsWindow::selectSlide(unsigned long slide)
{
    if (slide > slidesPerApp)
        throw W2DGraphicsWindowException(WFormattedString("Cannot switch to slide %u", unsigned(slide)));
    createUserMessage(reinterpret_cast<void*>(uintptr_t(MSG_SELECT_SLIDE)), reinterpret_cast<void*>(uintptr_t(slide)));
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
    if (application == 0 || application > appCount)
        return;
    resetCursors();
    currentApp = application - 1;
}

// ---- Objects

void W2DGraphicsWindow::invalidateObject(const W2DObject* object)
{
    if (object == nullptr || object->isAnimationObject() || getWindowHandle() == nullptr)
        return;
    RECT box;
    object->getRegion().getBoundingBox(box);
    wplat::invalidateRect(getWindowHandle(), &box, false);
}

void W2DGraphicsWindow::dropFromCursors(const W2DObject* object)
{
    for (auto& c : cursors) {
        if (c->under == object)
            c->under = nullptr;
        if (c->connected == object)
            c->connected = nullptr;
    }
}

void W2DGraphicsWindow::removeFromSlides(const std::string& key, const Entry& entry)
{
    for (unsigned char s : entry.slides) {
        Slide& table = slideTable(entry.application, s);
        table.erase(std::remove_if(table.begin(), table.end(), [&](const auto& p) { return p.first == key; }),
                    table.end());
    }
}

void W2DGraphicsWindow::addObject(const char* slideList, const WString& objectName, const W2DObject* constObject,
                                  bool show)
{
    Lock guard(frameLock);
    if (slidesPerApp == 0 || constObject == nullptr)
        return;
    W2DObject* object = const_cast<W2DObject*>(constObject);
    std::vector<unsigned char> chosen;
    if (slideList != nullptr && *slideList != '\0') {
        const char* p = slideList;
        while (*p != '\0' && chosen.size() < slidesPerApp) {
            const int n = std::atoi(p);
            // Slide numbers outside 1..slides are refused.
            if (n >= 1 && unsigned(n) <= slidesPerApp &&
                std::find(chosen.begin(), chosen.end(), (unsigned char)(n - 1)) == chosen.end())
                chosen.push_back((unsigned char)(n - 1));
            const char* comma = std::strchr(p, ',');
            if (comma == nullptr)
                break;
            p = comma + 1;
        }
    } else {
        for (unsigned long s = 0; s < slidesPerApp; ++s)
            chosen.push_back((unsigned char)s);
    }
    const std::string key(objectName.getBuf());
    auto& directory = directories[currentApp];
    auto old = directory.find(key);
    if (old != directory.end()) {
        // The name's old object leaves the slides the new list does not name;
        // a different object is deleted.
        Entry& previous = old->second;
        for (unsigned char s : previous.slides)
            if (std::find(chosen.begin(), chosen.end(), s) == chosen.end()) {
                Slide& table = slideTable(previous.application, s);
                table.erase(std::remove_if(table.begin(), table.end(), [&](const auto& p) { return p.first == key; }),
                            table.end());
            }
        if (previous.object != object) {
            dropFromCursors(previous.object);
            delete previous.object;
        }
    }
    for (unsigned char s : chosen) {
        Slide& table = slideTable(currentApp, s);
        auto it = std::find_if(table.begin(), table.end(), [&](const auto& p) { return p.first == key; });
        if (it != table.end())
            it->second = object;
        else
            table.emplace_back(key, object);
    }
    Entry& entry = directory[key];
    entry.object = object;
    entry.application = currentApp;
    entry.slides = chosen;
    if (show)
        invalidateObject(object);
}

void W2DGraphicsWindow::removeObject(const WString& objectName)
{
    Lock guard(frameLock);
    if (directories.empty())
        return;
    auto& directory = directories[currentApp];
    auto it = directory.find(objectName.getBuf());
    if (it == directory.end())
        return;
    dropFromCursors(it->second.object);
    removeFromSlides(it->first, it->second);
    delete it->second.object;
    directory.erase(it);
}

void W2DGraphicsWindow::removeAllObjects()
{
    Lock guard(frameLock);
    if (directories.empty())
        return;
    for (auto& [key, entry] : directories[currentApp]) {
        dropFromCursors(entry.object);
        delete entry.object;
    }
    directories[currentApp].clear();
    for (unsigned long s = 0; s < slidesPerApp; ++s)
        slideTable(currentApp, s).clear();
}

void W2DGraphicsWindow::removeAllObjects(const WString& prefix)
{
    Lock guard(frameLock);
    if (directories.empty())
        return;
    auto& directory = directories[currentApp];
    for (auto it = directory.begin(); it != directory.end();) {
        if (it->first.compare(0, prefix.length(), prefix.getBuf()) == 0) {
            dropFromCursors(it->second.object);
            removeFromSlides(it->first, it->second);
            delete it->second.object;
            it = directory.erase(it);
        } else {
            ++it;
        }
    }
}

void W2DGraphicsWindow::showObject(const W2DObject* object)
{
    invalidateObject(object);
}

void W2DGraphicsWindow::showAllObjects()
{
    if (getWindowHandle() != nullptr)
        wplat::invalidateRect(getWindowHandle(), nullptr, false);
}

// ---- Cursors

W2DGraphicsWindow::Cursor* W2DGraphicsWindow::findCursor(unsigned long id) const
{
    for (const auto& c : cursors)
        if (c->id == id)
            return c.get();
    return nullptr;
}

void W2DGraphicsWindow::addCursor(unsigned long id, const WString& imageFile, bool main, const WString& hotSpot)
{
    Lock guard(frameLock);
    if (findCursor(id) != nullptr)
        return;
    auto cursor = std::make_unique<Cursor>();
    cursor->id = id;
    cursor->main = main;
    int w = 0, h = 0;
    if (imageFile.length() != 0) {
        cursor->image = std::make_unique<W2DSurfaceBitmap>();
        cursor->image->create(*this, imageFile);
        cursor->hasImage = true;
        w = int(cursor->image->getWidth());
        h = int(cursor->image->getHeight());
    }
    int px = 0, py = 0;
    if (hotSpot.equals("righttop"))
        cursor->hotX = -w;
    else if (hotSpot.equals("rightbottom")) {
        cursor->hotX = -w;
        cursor->hotY = -h;
    } else if (hotSpot.equals("leftbottom"))
        cursor->hotY = -h;
    else if (hotSpot.equals("center")) {
        cursor->hotX = -(w / 2);
        cursor->hotY = -(h / 2);
    } else if (hotSpot.startsWith("pos") && std::sscanf(hotSpot.getBuf() + 3, "%i:%i", &px, &py) == 2) {
        cursor->hotX = -px;
        cursor->hotY = -py;
    }
    Cursor* made = cursor.get();
    cursors.push_back(std::move(cursor));
    if (main) {
        if (mainCursor != nullptr)
            removeCursor(mainCursor->id);
        made->visible = true;
        mainCursor = made;
    }
}

void W2DGraphicsWindow::removeCursor(unsigned long id)
{
    Lock guard(frameLock);
    if (mainCursor != nullptr && mainCursor->id == id)
        mainCursor = nullptr;
    auto it = std::find_if(cursors.begin(), cursors.end(), [&](const auto& c) { return c->id == id; });
    if (it == cursors.end())
        return;
    if (W2DObject* under = (*it)->under) {
        if (under->hoverCount == 1 && under->onNotification(W2DObject::NOTIFY_LEAVE, id))
            showObject(under);
        --under->hoverCount;
    }
    cursors.erase(it);
}

void W2DGraphicsWindow::setCursorPos(unsigned long id, int x, int y, bool force)
{
    Lock guard(frameLock);
    Cursor* c = findCursor(id);
    if (c == nullptr || (!c->visible && !force))
        return;
    c->x = x;
    c->y = y;
    c->visible = true;
    if (c->connected != nullptr) {
        c->connected->setVisible(true);
        c->connected->setPosition(x - int(c->connected->getWidth() / 2), y - int(c->connected->getHeight() / 2));
    }
}

bool W2DGraphicsWindow::getCursorPos(unsigned long id, int& x, int& y) const
{
    Lock guard(frameLock);
    const Cursor* c = findCursor(id);
    if (c == nullptr || !c->visible)
        return false;
    x = c->x;
    y = c->y;
    return true;
}

bool W2DGraphicsWindow::getCursorHotSpot(unsigned long id, int& x, int& y) const
{
    Lock guard(frameLock);
    const Cursor* c = findCursor(id);
    if (c == nullptr)
        return false;
    x = c->hotX;
    y = c->hotY;
    return true;
}

void W2DGraphicsWindow::clickCursor(unsigned long id)
{
    if (type == TYPE_EXCLUSIVE_FLIP) {
        Lock guard(frameLock);
        if (Cursor* c = findCursor(id))
            c->clickPending = true;
        return;
    }
    createUserMessage(reinterpret_cast<void*>(uintptr_t(MSG_CLICK)), reinterpret_cast<void*>(uintptr_t(id)));
}

void W2DGraphicsWindow::showCursor(unsigned long id, bool show)
{
    Lock guard(frameLock);
    Cursor* c = findCursor(id);
    if (c == nullptr)
        return;
    c->visible = show;
    if (!show) {
        if (W2DObject* under = c->under) {
            --under->hoverCount;
            if (under->hoverCount <= 0) {
                under->hoverCount = 0;
                if (under->onNotification(W2DObject::NOTIFY_LEAVE, id))
                    showObject(under);
            }
        }
        c->under = nullptr;
    }
    if (c->connected != nullptr)
        c->connected->setVisible(show);
    if (type != TYPE_EXCLUSIVE_FLIP)
        showScreen();
}

void W2DGraphicsWindow::showAllCursors()
{
    if (type != TYPE_EXCLUSIVE_FLIP)
        createUserMessage(reinterpret_cast<void*>(uintptr_t(MSG_UPDATE)), nullptr);
}

void W2DGraphicsWindow::connectCursorToObject(unsigned long id, W2DObject* object)
{
    Lock guard(frameLock);
    if (Cursor* c = findCursor(id))
        c->connected = object;
}

void W2DGraphicsWindow::disconnectCursorObject(unsigned long id)
{
    connectCursorToObject(id, nullptr);
}

W2DObject* W2DGraphicsWindow::getConnectedCursorObject(unsigned long id) const
{
    Lock guard(frameLock);
    const Cursor* c = findCursor(id);
    return c ? c->connected : nullptr;
}

// The system mouse is read in the window's client coordinates.
bool W2DGraphicsWindow::isCursorOverObject(const W2DObject* object, unsigned long id) const
{
    if (object == nullptr)
        return false;
    if (id != 0) {
        const Cursor* c = findCursor(id);
        return c != nullptr && object->isPointIn(c->x, c->y);
    }
    POINT p{0, 0};
    if (!wplat::getCursorPos(p) || !wplat::screenToClient(getWindowHandle(), p))
        return false;
    return object->isPointIn(p.x, p.y);
}

W2DObject* W2DGraphicsWindow::getCursorObject(unsigned long id) const
{
    Lock guard(frameLock);
    POINT p{0, 0};
    if (id != 0) {
        const Cursor* c = findCursor(id);
        if (c == nullptr)
            return nullptr;
        p = POINT{c->x, c->y};
    } else if (!wplat::getCursorPos(p) || !wplat::screenToClient(getWindowHandle(), p)) {
        return nullptr;
    }
    W2DObject* found = nullptr;
    for (const auto& [key, object] : currentSlideTable())
        if (object->isPointIn(p.x, p.y))
            found = object;
    return found;
}

// ---- Hover and clicks

W2DObject* W2DGraphicsWindow::hitTest(int x, int y) const
{
    W2DObject* found = nullptr;
    for (const auto& [key, object] : currentSlideTable())
        if (object->isVisible() && object->isInteraction() && object->isPointIn(x, y))
            found = object;
    return found;
}

void W2DGraphicsWindow::leave(Cursor& cursor, W2DObject* object, bool viaShow)
{
    if (object == nullptr)
        return;
    if (object->hoverCount == 1 && object->onNotification(W2DObject::NOTIFY_LEAVE, cursor.id)) {
        if (viaShow)
            showObject(object);
        else
            invalidateObject(object);
    }
    --object->hoverCount;
}

void W2DGraphicsWindow::enter(Cursor& cursor, W2DObject* object, bool viaShow)
{
    if (object == nullptr)
        return;
    if (object->hoverCount == 0 && object->onNotification(W2DObject::NOTIFY_ENTER, cursor.id)) {
        if (viaShow)
            showObject(object);
        else
            invalidateObject(object);
    }
    ++object->hoverCount;
}

// Hidden objects take no part in hit tests here either.
void W2DGraphicsWindow::updateObjects(bool click, unsigned long cursorId)
{
    Lock guard(frameLock);
    for (auto& c : cursors) {
        if (click) {
            if (c->id == cursorId && c->under != nullptr && c->under->isVisible() &&
                c->under->onNotification(W2DObject::NOTIFY_CLICK, c->id))
                invalidateObject(c->under);
            continue;
        }
        if (!c->visible)
            continue;
        W2DObject* hit = hitTest(c->x, c->y);
        if (hit != c->under) {
            leave(*c, c->under, true);
            enter(*c, hit, true);
            c->under = hit;
        }
    }
}

void W2DGraphicsWindow::renderFrame(const double& time)
{
    Lock guard(frameLock);
    for (auto& c : cursors) {
        if (!c->visible)
            continue;
        if (c->clickPending && c->under != nullptr && c->under->isVisible()) {
            if (c->under->onNotification(W2DObject::NOTIFY_CLICK, c->id))
                invalidateObject(c->under);
            c->clickPending = false;
        }
        W2DObject* hit = hitTest(c->x, c->y);
        if (hit != c->under) {
            leave(*c, c->under, false);
            enter(*c, hit, false);
            c->under = hit;
        }
    }
    for (const auto& [key, object] : currentSlideTable())
        if (object->isAnimationObject() && object->isVisible())
            object->calcAnimation(time);
    showScreen();
}

// ---- Frames

void W2DGraphicsWindow::showScreen()
{
    Lock guard(frameLock);
    if (!backBuffer.getImage())
        return;
    W2DSurfacePrimary& primary = getSurfacePrimary();
    if (primary.isLost())
        primary.restore();
    if (backBuffer.isLost())
        backBuffer.restore();
    if (background.isLost()) {
        // Its objects are drawn again on the repaint this asks for.
        background.restore();
        showAllObjects();
    }
    backBuffer.draw(background, 0, 0);
    for (const auto& [key, object] : currentSlideTable())
        if (object->isAnimationObject() && object->isVisible())
            object->drawContent(backBuffer);
    for (const auto& c : cursors)
        if (c->visible && c->hasImage)
            backBuffer.draw(*c->image, c->x + c->hotX, c->y + c->hotY);
    if (type == TYPE_EXCLUSIVE_FLIP) {
        primary.flip();
    } else {
        // The primary is addressed in its own coordinates: the area's corner.
        RECT area;
        getArea(area);
        primary.draw(backBuffer, area.left, area.top);
    }
}

void W2DGraphicsWindow::onWindowRestore(HDC, const RECT& paint)
{
    if (paint.left == paint.right)
        return;
    Lock guard(frameLock);
    if (!background.getImage())
        return;
    W2DRegionRectangle clip;
    clip.create(paint);
    background.setClipRegion(clip);
    for (const auto& [key, object] : currentSlideTable()) {
        if (!object->isVisible() || object->isAnimationObject() || !object->getRegion().isRectIn(paint))
            continue;
        if (object->getWindowHandle() != nullptr)
            wplat::invalidateRect(object->getWindowHandle(), nullptr, true);
        else
            object->drawContent(background);
    }
    if (type == TYPE_WINDOW_REPAINT) {
        W2DSurfacePrimary& primary = getSurfacePrimary();
        if (primary.isLost())
            primary.restore();
        RECT area;
        getArea(area);
        RECT target{paint.left + area.left, paint.top + area.top, paint.right + area.left, paint.bottom + area.top};
        primary.draw(background, paint, target);
    } else if (type == TYPE_WINDOW_COMPOSE) {
        showScreen();
    }
}

// ---- Input and messages

void W2DGraphicsWindow::onWindowMouseMove(int x, int y, void* extra)
{
    {
        Lock guard(frameLock);
        if (Cursor* c = findCursor(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(extra)))) {
            c->x = x;
            c->y = y;
            c->visible = true;
            if (c->connected != nullptr)
                c->connected->setPosition(x + c->hotX, y + c->hotY);
        }
    }
    updateObjects(false, 0);
    if (type == TYPE_WINDOW_COMPOSE)
        showScreen();
}

void W2DGraphicsWindow::onWindowMouseLeftDown(int, int, void*)
{
    updateObjects(true, 0);
}

void W2DGraphicsWindow::onWindowKeyPressed(int key)
{
    onGraphicsWindowKeyPressed(key);
}

void W2DGraphicsWindow::onWindowUserMessage(void* kindPointer, void* valuePointer)
{
    const uintptr_t kind = reinterpret_cast<uintptr_t>(kindPointer);
    const uintptr_t value = reinterpret_cast<uintptr_t>(valuePointer);
    Lock guard(frameLock);
    switch (kind) {
    case MSG_SELECT_SLIDE:
        if (value >= 1 && value <= MAX_SLIDES && value <= slidesPerApp) {
            if (value != currentSlide + 1)
                resetCursors();
            currentSlide = static_cast<unsigned long>(value - 1);
        }
        onGraphicsWindowSlide(currentSlide + 1);
        break;
    case MSG_CLICK:
        updateObjects(true, static_cast<unsigned long>(value));
        break;
    case MSG_UPDATE:
        updateObjects(false, 0);
        if (type != TYPE_EXCLUSIVE_FLIP)
            showScreen();
        break;
    case MSG_PRESENT:
        W2DContextWindow::presentPrimary();
        break;
    default:
        break;
    }
}

// The primary holds the finished frame; another thread only asks the
// window's thread to copy it into the window, under the frame lock.
void W2DGraphicsWindow::presentPrimary() const
{
    if (wplat::isUiStarted() && !wplat::isUiThread()) {
        wplat::postMessage(getWindowHandle(), WWindow::MESSAGE_USER, WPARAM(MSG_PRESENT), 0);
        return;
    }
    W2DContextWindow::presentPrimary();
}

// ---- Timers

bool W2DGraphicsWindow::addTimer(unsigned long id, unsigned long seconds)
{
    Lock guard(timerLock);
    if (seconds == 0 || timerCount >= MAX_TIMERS)
        return false;
    for (Timer& t : timers)
        if (t.remaining == 0) {
            t.id = id;
            t.remaining = seconds;
            ++timerCount;
            return true;
        }
    return false;
}

bool W2DGraphicsWindow::getTimer(unsigned long id, unsigned long& remaining) const
{
    Lock guard(timerLock);
    for (const Timer& t : timers)
        if (t.remaining != 0 && t.id == id) {
            remaining = t.remaining;
            return true;
        }
    return false;
}

void W2DGraphicsWindow::removeTimer(unsigned long id)
{
    Lock guard(timerLock);
    for (Timer& t : timers)
        if (t.remaining != 0 && t.id == id) {
            t = Timer();
            --timerCount;
            return;
        }
}

void W2DGraphicsWindow::removeAllTimers()
{
    Lock guard(timerLock);
    timers.fill(Timer());
    timerCount = 0;
}

unsigned long W2DGraphicsWindow::getTimerCount() const
{
    Lock guard(timerLock);
    return timerCount;
}

// The slots running at the start of the tick count down; a slot that runs
// out is freed before its hook runs, so a hook that starts a timer again
// (perhaps in the same slot) keeps it.
void W2DGraphicsWindow::onWindowTimerTick()
{
    Lock guard(timerLock);
    std::array<bool, MAX_TIMERS> running{};
    for (size_t i = 0; i < MAX_TIMERS; ++i)
        running[i] = timers[i].remaining != 0;
    for (size_t i = 0; i < MAX_TIMERS; ++i) {
        if (!running[i] || timers[i].remaining == 0)
            continue;
        if (--timers[i].remaining != 0)
            continue;
        const unsigned long id = timers[i].id;
        timers[i] = Timer();
        --timerCount;
        onGraphicsWindowTimer(id);
    }
}
