// Invalid regions, painting into backing images, device contexts of
// windows, and message boxes.

#include <algorithm>

#include "internal/Core.h"
#include "internal/Gdi.h"
#include "internal/Queue.h"
#include "internal/WindowTable.h"

namespace wplat {

using namespace detail;

// --- Painting ----------------------------------------------------------------------

bool invalidateRect(HWND window, const RECT* rect, bool erase)
{
    auto w = findWindow(window);
    if (!w) return false;
    if (w->owner != currentQueue()) {
        // The region belongs to the owner's thread; nobody waits for it.
        bool whole = rect == nullptr;
        RECT r = whole ? RECT {0, 0, 0, 0} : *rect;
        postToThread(w->owner, [window, whole, r, erase] { invalidateRect(window, whole ? nullptr : &r, erase); });
        return true;
    }
    RECT client = clientRect(*w);
    RECT r = rect != nullptr ? intersect(*rect, client) : client;
    if (!rectEmpty(r)) {
        w->invalid.add(r);
        if (erase) w->eraseNeeded = true;
        wakeQueue(w->owner);
    }
    return true;
}

bool validateRect(HWND window, const RECT* rect)
{
    auto w = findWindow(window);
    if (!w) return false;
    if (rect == nullptr) {
        w->invalid.clear();
        return true;
    }
    // Rectangles wholly inside the validated one go away.
    std::vector<RECT> keep;
    for (const RECT& r : w->invalid.rects) {
        if (!(r.left >= rect->left && r.top >= rect->top && r.right <= rect->right && r.bottom <= rect->bottom))
            keep.push_back(r);
    }
    w->invalid.rects.swap(keep);
    return true;
}

bool getUpdateRect(HWND window, RECT& rect)
{
    auto w = findWindow(window);
    if (!w) return false;
    rect = w->invalid.bounds();
    return !w->invalid.empty();
}

bool updateWindow(HWND window)
{
    auto w = findWindow(window);
    if (!w) return false;
    if (!w->invalid.empty()) sendMessage(window, WM_PAINT, 0, 0);
    return true;
}

HDC beginPaint(HWND window, PAINTSTRUCT& paint)
{
    paint = PAINTSTRUCT {nullptr, false, RECT {0, 0, 0, 0}};
    auto w = findWindow(window);
    if (!w) return nullptr;
    if (w->frameDirty) {
        // The frame first, as the platform does before a client paint.
        w->frameDirty = false;
        sendMessage(window, WM_NCPAINT, 1, 0);
        w = findWindow(window);
        if (!w) return nullptr;
    }
    Region region = w->invalid;
    region.clipTo(clientRect(*w));
    w->invalid.clear();
    w->painting = true;
    HDC dc = createWindowDC(window, &backingImage(*w), POINT {0, 0}, region.rects, true);
    paint.hdc = dc;
    paint.rcPaint = region.bounds();
    if (w->eraseNeeded) {
        w->eraseNeeded = false;
        paint.fErase = sendMessage(window, WM_ERASEBKGND, (WPARAM)dc, 0) == 0;
    }
    return dc;
}

bool endPaint(HWND window, const PAINTSTRUCT& paint)
{
    auto w = findWindow(window);
    if (paint.hdc != nullptr) deleteDC(paint.hdc);
    if (!w) return false;
    w->painting = false;
    if (w->view && !rectEmpty(paint.rcPaint)) w->view->present(paint.rcPaint);
    return true;
}

HDC getDC(HWND window)
{
    auto w = findWindow(window);
    if (!w) return nullptr;
    return createWindowDC(window, &backingImage(*w), POINT {0, 0}, std::vector<RECT> {clientRect(*w)}, false);
}

HDC getWindowDC(HWND window)
{
    // Frames are drawn by the substrate: the window's own area is its client area.
    return getDC(window);
}

int releaseDC(HWND window, HDC dc)
{
    if (dc == nullptr) return 0;
    deleteDC(dc);
    auto w = findWindow(window);
    if (w && w->view) w->view->present(clientRect(*w));
    return 1;
}

const PixelImage* getBackingImage(HWND window)
{
    auto w = findWindow(window);
    if (!w) return nullptr;
    return &backingImage(*w);
}

// --- Message boxes -------------------------------------------------------------------

namespace {
struct BoxCall {
    HWND owner;
    const char* text;
    const char* caption;
    UINT type;
    int result;
};
void runBox(void* context)
{
    auto* call = (BoxCall*)context;
    Backend* b = backend();
    call->result = b != nullptr ? b->messageBox(call->owner, call->text, call->caption, call->type) : 0;
}
} // namespace

int messageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    if (backend() == nullptr) return 0;
    BoxCall call {owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type, 0};
    runOnUiThread(runBox, &call);
    return call.result;
}

} // namespace wplat
