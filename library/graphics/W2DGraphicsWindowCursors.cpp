// The graphics window's cursors: the system mouse and the application's
// own pointers, what is under them, and the hover and click notifications.
#include "W2DGraphicsWindow.h"

#include <algorithm>
#include <cstdio>

#include "Platform.h"

W2DGraphicsWindow::Cursor* W2DGraphicsWindow::findCursor(unsigned long id) const
{
    for (const auto& c : cursors)
        if (c->id == id) return c.get();
    return nullptr;
}

void W2DGraphicsWindow::addCursor(unsigned long id, const WString& imageFile, bool main, const WString& hotSpot)
{
    Lock guard(frameLock);
    if (findCursor(id) != nullptr) return;
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
        if (mainCursor != nullptr) removeCursor(mainCursor->id);
        made->visible = true;
        mainCursor = made;
    }
}

void W2DGraphicsWindow::removeCursor(unsigned long id)
{
    Lock guard(frameLock);
    if (mainCursor != nullptr && mainCursor->id == id) mainCursor = nullptr;
    auto it = std::find_if(cursors.begin(), cursors.end(), [&](const auto& c) { return c->id == id; });
    if (it == cursors.end()) return;
    if (W2DObject* under = (*it)->under) {
        if (under->hoverCount == 1 && under->onNotification(W2DObject::NOTIFY_LEAVE, id)) showObject(under);
        --under->hoverCount;
    }
    cursors.erase(it);
}

void W2DGraphicsWindow::setCursorPos(unsigned long id, int x, int y, bool force)
{
    Lock guard(frameLock);
    Cursor* c = findCursor(id);
    if (c == nullptr || (!c->visible && !force)) return;
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
    if (c == nullptr || !c->visible) return false;
    x = c->x;
    y = c->y;
    return true;
}

bool W2DGraphicsWindow::getCursorHotSpot(unsigned long id, int& x, int& y) const
{
    Lock guard(frameLock);
    const Cursor* c = findCursor(id);
    if (c == nullptr) return false;
    x = c->hotX;
    y = c->hotY;
    return true;
}

void W2DGraphicsWindow::clickCursor(unsigned long id)
{
    if (type == TYPE_EXCLUSIVE_FLIP) {
        Lock guard(frameLock);
        if (Cursor* c = findCursor(id)) c->clickPending = true;
        return;
    }
    post(MSG_CLICK, id);
}

void W2DGraphicsWindow::showCursor(unsigned long id, bool show)
{
    Lock guard(frameLock);
    Cursor* c = findCursor(id);
    if (c == nullptr) return;
    c->visible = show;
    if (!show) {
        if (W2DObject* under = c->under) {
            --under->hoverCount;
            if (under->hoverCount <= 0) {
                under->hoverCount = 0;
                if (under->onNotification(W2DObject::NOTIFY_LEAVE, id)) showObject(under);
            }
        }
        c->under = nullptr;
    }
    if (c->connected != nullptr) c->connected->setVisible(show);
    if (type != TYPE_EXCLUSIVE_FLIP) showScreen();
}

void W2DGraphicsWindow::showAllCursors()
{
    if (type != TYPE_EXCLUSIVE_FLIP) post(MSG_UPDATE, 0);
}

void W2DGraphicsWindow::connectCursorToObject(unsigned long id, W2DObject* object)
{
    Lock guard(frameLock);
    if (Cursor* c = findCursor(id)) c->connected = object;
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
    if (object == nullptr) return false;
    if (id != 0) {
        const Cursor* c = findCursor(id);
        return c != nullptr && object->isPointIn(c->x, c->y);
    }
    POINT p {0, 0};
    if (!wplat::getCursorPos(p) || !wplat::screenToClient(getWindowHandle(), p)) return false;
    return object->isPointIn(p.x, p.y);
}

W2DObject* W2DGraphicsWindow::getCursorObject(unsigned long id) const
{
    Lock guard(frameLock);
    POINT p {0, 0};
    if (id != 0) {
        const Cursor* c = findCursor(id);
        if (c == nullptr) return nullptr;
        p = POINT {c->x, c->y};
    } else if (!wplat::getCursorPos(p) || !wplat::screenToClient(getWindowHandle(), p)) {
        return nullptr;
    }
    W2DObject* found = nullptr;
    for (const auto& [key, object] : currentSlideTable())
        if (object->isPointIn(p.x, p.y)) found = object;
    return found;
}

// ---- Hover and clicks

W2DObject* W2DGraphicsWindow::hitTest(int x, int y) const
{
    W2DObject* found = nullptr;
    for (const auto& [key, object] : currentSlideTable())
        if (object->isVisible() && object->isInteraction() && object->isPointIn(x, y)) found = object;
    return found;
}

void W2DGraphicsWindow::leave(Cursor& cursor, W2DObject* object, bool viaShow)
{
    if (object == nullptr) return;
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
    if (object == nullptr) return;
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
            if (c->id == cursorId && c->under != nullptr && c->under->isVisible()
                && c->under->onNotification(W2DObject::NOTIFY_CLICK, c->id))
                invalidateObject(c->under);
            continue;
        }
        if (!c->visible) continue;
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
        if (!c->visible) continue;
        if (c->clickPending && c->under != nullptr && c->under->isVisible()) {
            if (c->under->onNotification(W2DObject::NOTIFY_CLICK, c->id)) invalidateObject(c->under);
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
        if (object->isAnimationObject() && object->isVisible()) object->calcAnimation(time);
    showScreen();
}
