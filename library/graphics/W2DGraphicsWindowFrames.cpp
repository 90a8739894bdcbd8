// The graphics window's frames: composing the background, the animated
// objects and the cursors, and repainting from the background.
#include "W2DGraphicsWindow.h"

#include "Platform.h"

void W2DGraphicsWindow::showScreen()
{
    Lock guard(frameLock);
    if (!backBuffer.getImage()) return;
    W2DSurfacePrimary& front = getSurfacePrimary();
    if (front.isLost()) front.restore();
    if (backBuffer.isLost()) backBuffer.restore();
    if (background.isLost()) {
        // Its objects are drawn again on the repaint this asks for.
        background.restore();
        showAllObjects();
    }
    backBuffer.draw(background, 0, 0);
    for (const auto& [key, object] : currentSlideTable())
        if (object->isAnimationObject() && object->isVisible()) object->drawContent(backBuffer);
    for (const auto& c : cursors)
        if (c->visible && c->hasImage) backBuffer.draw(*c->image, c->x + c->hotX, c->y + c->hotY);
    if (type == TYPE_EXCLUSIVE_FLIP) {
        front.flip();
    } else {
        // The primary is addressed in its own coordinates: the area's corner.
        RECT area;
        getArea(area);
        front.draw(backBuffer, area.left, area.top);
    }
}

void W2DGraphicsWindow::onWindowRestore(HDC, const RECT& paint)
{
    if (paint.left == paint.right) return;
    Lock guard(frameLock);
    if (!background.getImage()) return;
    W2DRegionRectangle clip;
    clip.create(paint);
    background.setClipRegion(clip);
    for (const auto& [key, object] : currentSlideTable()) {
        if (!object->isVisible() || object->isAnimationObject() || !object->getRegion().isRectIn(paint)) continue;
        if (object->getWindowHandle() != nullptr)
            wplat::invalidateRect(object->getWindowHandle(), nullptr, true);
        else
            object->drawContent(background);
    }
    if (type == TYPE_WINDOW_REPAINT) {
        W2DSurfacePrimary& front = getSurfacePrimary();
        if (front.isLost()) front.restore();
        RECT area;
        getArea(area);
        RECT target {paint.left + area.left, paint.top + area.top, paint.right + area.left, paint.bottom + area.top};
        front.draw(background, paint, target);
    } else if (type == TYPE_WINDOW_COMPOSE) {
        showScreen();
    }
}
