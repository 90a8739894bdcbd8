// The graphics window's input: mouse and keys, the messages it posts to
// itself, and the window messages it answers.
#include "W2DGraphicsWindow.h"

#include "Platform.h"
#include "WControlEdit.h"

void W2DGraphicsWindow::onWindowMouseMove(int x, int y, void* extra)
{
    {
        Lock guard(frameLock);
        if (Cursor* c = findCursor(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(extra)))) {
            c->x = x;
            c->y = y;
            c->visible = true;
            if (c->connected != nullptr) c->connected->setPosition(x + c->hotX, y + c->hotY);
        }
    }
    updateObjects(false, 0);
    if (type == TYPE_WINDOW_COMPOSE) showScreen();
}

void W2DGraphicsWindow::onWindowMouseLeftDown(int, int, void*)
{
    updateObjects(true, 0);
}

void W2DGraphicsWindow::onWindowKeyPressed(int key)
{
    onGraphicsWindowKeyPressed(key);
}

// Posted messages, one handler per kind.
void W2DGraphicsWindow::onWindowUserMessage(void* kindPointer, void* valuePointer)
{
    const uintptr_t kind = reinterpret_cast<uintptr_t>(kindPointer);
    const uintptr_t value = reinterpret_cast<uintptr_t>(valuePointer);
    Lock guard(frameLock);
    switch (kind) {
    case MSG_SELECT_SLIDE:
        onSelectSlideMessage(value);
        break;
    case MSG_CLICK:
        updateObjects(true, static_cast<unsigned long>(value));
        break;
    case MSG_UPDATE:
        onUpdateMessage();
        break;
    case MSG_PRESENT:
        W2DContextWindow::presentPrimary();
        break;
    default:
        break;
    }
}

void W2DGraphicsWindow::onSelectSlideMessage(uintptr_t slide)
{
    if (slide >= 1 && slide <= MAX_SLIDES && slide <= slidesPerApp) {
        if (slide != currentSlide + 1) resetCursors();
        currentSlide = static_cast<unsigned long>(slide - 1);
    }
    onGraphicsWindowSlide(currentSlide + 1);
}

void W2DGraphicsWindow::onUpdateMessage()
{
    updateObjects(false, 0);
    if (type != TYPE_EXCLUSIVE_FLIP) showScreen();
}

// Window messages before their own handlers; 0 lets them go on.
LRESULT W2DGraphicsWindow::onWindowMessage(HWND, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLOREDIT:
        return onTextControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
        return 0;
    }
}

// A text control of the library with a background colour of its own is
// painted in its colours: transparent text background, its text colour, its
// brush. Anything else keeps the defaults.
LRESULT W2DGraphicsWindow::onTextControlColour(HDC dc, HWND control)
{
    auto* edit = dynamic_cast<WControlEdit*>(WControlManager::getControl(control));
    if (edit == nullptr || !edit->isTextControl() || edit->getBackColorBrush() == nullptr) return 0;
    wplat::setBkMode(dc, TRANSPARENT);
    wplat::setTextColor(dc, static_cast<COLORREF>(edit->getTextColor()));
    return reinterpret_cast<LRESULT>(edit->getBackColorBrush());
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
