#include "WPanel.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "ControlTypes.h"
#include "Platform.h"
#include "WControl.h"
#include "WControlEdit.h"
#include "WControlRichText.h"
#include "WControlTab.h"

namespace {

// The stock light grey of a panel without a brush of its own.
HBRUSH lightGreyBrush()
{
    static HBRUSH brush = wplat::createSolidBrush(RGB(192, 192, 192));
    return brush;
}

constexpr UINT NOTIFY_LINK = 1803;
constexpr UINT NOTIFY_TAB_CHANGE = (UINT)-551;

// Only texts that name a resource by a scheme are handed to the browser: a
// rich text may come from a file, and anything else could start a program.
bool isOpenableLink(const WString& text)
{
    static const char* const schemes[] = {"http://", "https://", "ftp://", "mailto:", "file://"};
    WString lower(text);
    lower.trim();
    lower.toLowerCase();
    for (const char* scheme : schemes) {
        if (lower.startsWith(scheme)) return true;
    }
    return false;
}

extern "C" char** environ;

// Hands a link to the desktop's opener: one argument, no shell, detached
// from our streams, reaped in the background.
void openLink(const char* url)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = "xdg-open";
    char* argv[] = {program, const_cast<char*>(url), nullptr};
    pid_t child = -1;
    if (posix_spawnp(&child, program, &actions, nullptr, argv, environ) == 0)
        std::thread([child]() { waitpid(child, nullptr, 0); }).detach();
    posix_spawn_file_actions_destroy(&actions);
}

} // namespace

WPanel::Brush::~Brush()
{
    if (handle != nullptr) wplat::deleteObject(wplat::toObject(handle));
}

WPanel::WPanel()
{
    initialize();
}

WPanel::WPanel(const WPanel& other) : WWindow(other), WWindow::EventHandler(other)
{
    initialize();
    copyFields(other);
}

WPanel& WPanel::operator=(const WPanel& other)
{
    if (this != &other) {
        WWindowContext* keptParent = parent;
        WWindow::operator=(other);
        parent = keptParent;
        copyFields(other);
    }
    return *this;
}

WPanel::~WPanel()
{
    // Destroyed while the object is whole, so WM_DESTROY still reaches it.
    if (ownsWindow && window != nullptr) wplat::destroyWindow(window);
    window = nullptr;
    backgroundBrush.reset();
}

void WPanel::initialize()
{
    backgroundBrush = nullptr;
    textColor = 0;
    backgroundBitmap.reset();
    backgroundMode = BKMODE_CENTER;
    eraseBackground = true;
    tabControl = nullptr;
    region = RECT {0, 0, 0, 0};
}

void WPanel::copyFields(const WPanel& other)
{
    backgroundBrush = other.backgroundBrush;
    textColor = other.textColor;
    backgroundBitmap = other.backgroundBitmap;
    backgroundMode = other.backgroundMode;
    eraseBackground = other.eraseBackground;
    tabControl = other.tabControl;
    region = other.region;
}

void WPanel::onPanelCommand(unsigned long, unsigned long, WControl*)
{
}

long WPanel::onPanelNotify(unsigned long, unsigned long, WControl*, const NMHDR*)
{
    return 0;
}

void WPanel::setColor(unsigned long text, unsigned long background)
{
    backgroundBrush = std::make_shared<Brush>(wplat::createSolidBrush((COLORREF)background));
    backgroundBitmap.reset();
    textColor = text;
    eraseBackground = true;
}

namespace {

SIZE bitmapSize(HBITMAP bitmap)
{
    const wplat::PixelImage* pixels = bitmap != nullptr ? wplat::getBitmapImage(bitmap) : nullptr;
    if (pixels == nullptr) return SIZE {0, 0};
    return SIZE {pixels->width(), pixels->height()};
}

// Copies `size` of the bitmap to (x, y) of the context.
void drawBitmap(HDC dc, HBITMAP bitmap, int x, int y, SIZE size)
{
    HDC memory = wplat::createCompatibleDC(dc);
    if (memory == nullptr) return;
    HGDIOBJ previous = wplat::selectObject(memory, wplat::toObject(bitmap));
    wplat::bitBlt(dc, x, y, size.cx, size.cy, memory, 0, 0);
    wplat::selectObject(memory, previous);
    wplat::deleteDC(memory);
}

} // namespace

void WPanel::setBackgroundBitmap(HBITMAP bitmap, BkMode mode, bool erase)
{
    backgroundMode = mode;
    eraseBackground = erase;
    backgroundBitmap.reset();
    const wplat::PixelImage* pixels = bitmap != nullptr ? wplat::getBitmapImage(bitmap) : nullptr;
    if (pixels == nullptr) return;
    HBITMAP copy = wplat::createBitmapFromImage(*pixels);
    if (copy == nullptr) return;
    backgroundBitmap = std::shared_ptr<void>(copy, [](void* h) { wplat::deleteObject((HGDIOBJ)h); });
    if (mode == BKMODE_TILED) {
        // The tiles become the brush: the panel erases with it and hands it
        // to its static texts and to a dialog's own erase.
        HBRUSH pattern = wplat::createPatternBrush(copy);
        if (pattern != nullptr) backgroundBrush = std::make_shared<Brush>(pattern);
    }
}

void WPanel::onWindowRestore(HDC dc, const RECT& paintArea)
{
    (void)paintArea;
    auto bitmap = static_cast<HBITMAP>(backgroundBitmap.get());
    if (bitmap == nullptr || backgroundMode == BKMODE_TILED) return;
    SIZE size = bitmapSize(bitmap);
    if (backgroundMode == BKMODE_UNSCALED) {
        drawBitmap(dc, bitmap, 0, 0, size);
    } else if (backgroundMode == BKMODE_CENTER) {
        long left = ((long)getWindowWidth() - size.cx) / 2;
        long top = ((long)getWindowHeight() - size.cy) / 2;
        drawBitmap(dc, bitmap, (int)left, (int)top, size);
    }
}

void WPanel::onWindowResize(unsigned long width, unsigned long height)
{
    if (tabControl == nullptr) return;
    RECT display {0, 0, (int32_t)width, (int32_t)height};
    wplat::sendMessage(tabControl->getWindowHandle(), TCM_ADJUSTRECT, 0, (LPARAM)&display);
    // The tab strip and the page's window are laid out as one batch.
    wplat::setWindowPos(
        tabControl->getWindowHandle(), nullptr, 0, 0, (int)width, (int)height, SWP_NOMOVE | SWP_NOZORDER);
    HWND content = tabControl->getContentWindow(tabControl->getPage());
    if (content != nullptr)
        wplat::setWindowPos(content, nullptr, display.left, display.top, display.right - display.left,
            display.bottom - display.top, SWP_NOZORDER);
}

LRESULT WPanel::onWindowMessage(HWND, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        if (!eraseBackground) return 0;
        RECT area;
        getClientArea(area);
        HBRUSH brush = getBackgroundBrush();
        wplat::fillRect((HDC)wParam, area, brush != nullptr ? brush : lightGreyBrush());
        return 1;
    }
    case WM_COMMAND: {
        WControl* control = lParam != 0 ? WControlManager::getControl((HWND)lParam) : nullptr;
        unsigned long id = LOWORD(wParam);
        if (id == 0 && control != nullptr) id = control->getNameId();
        onPanelCommand(id, HIWORD(wParam), control);
        return 1;
    }
    case WM_NOTIFY: {
        auto* header = (const NMHDR*)lParam;
        if (header == nullptr) return 0;
        WControl* control = WControlManager::getControl(header->hwndFrom);
        unsigned long id = (unsigned long)header->idFrom;
        if (id == 0 && control != nullptr) id = control->getNameId();
        if (header->code == NOTIFY_LINK) {
            auto* link = (const ENLINK*)header;
            auto* rich = dynamic_cast<WControlRichText*>(control);
            if (rich != nullptr && link->msg == WM_LBUTTONDOWN) {
                WString text;
                rich->getTextRange(text, (unsigned long)link->chrg.cpMin, (unsigned long)link->chrg.cpMax);
                if (isOpenableLink(text)) openLink(text);
            }
            return 0;
        }
        if (header->code == NOTIFY_TAB_CHANGE) {
            if (tabControl != nullptr) {
                LRESULT page = wplat::sendMessage(tabControl->getWindowHandle(), TCM_GETCURSEL, 0, 0);
                if (page >= 0) tabControl->setFocusPage((unsigned long)page);
            }
            return 0;
        }
        return onPanelNotify(id, header->code, control, header);
    }
    case WM_CTLCOLOREDIT: {
        auto* edit = dynamic_cast<WControlEdit*>(WControlManager::getControl((HWND)lParam));
        if (edit == nullptr || !edit->isTextControl() || edit->getBackColorBrush() == nullptr) return 0;
        wplat::setBkMode((HDC)wParam, TRANSPARENT);
        wplat::setTextColor((HDC)wParam, (COLORREF)edit->getTextColor());
        return (LRESULT)edit->getBackColorBrush();
    }
    case WM_CTLCOLORDLG:
        return (LRESULT)getBackgroundBrush();
    case WM_CTLCOLORSTATIC: {
        HBRUSH brush = getBackgroundBrush();
        if (brush == nullptr) return 0;
        wplat::setBkMode((HDC)wParam, TRANSPARENT);
        wplat::setTextColor((HDC)wParam, (COLORREF)textColor);
        return (LRESULT)brush;
    }
    default:
        return 0;
    }
}
