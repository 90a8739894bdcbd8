#include "WPanel.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../graphics/WBitmap.h"
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
        if (lower.startsWith(scheme))
            return true;
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
    if (handle != nullptr)
        wplat::deleteObject(wplat::toObject(handle));
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
    if (ownsWindow && window != nullptr)
        wplat::destroyWindow(window);
    window = nullptr;
    backgroundBrush.reset();
}

void WPanel::initialize()
{
    backgroundBrush = nullptr;
    textColor = 0;
    backgroundImage = nullptr;
    tileImage = nullptr;
    backgroundMode = BKMODE_CENTER;
    eraseBackground = true;
    tabControl = nullptr;
    region = RECT{0, 0, 0, 0};
}

void WPanel::copyFields(const WPanel& other)
{
    backgroundBrush = other.backgroundBrush;
    textColor = other.textColor;
    backgroundImage = other.backgroundImage;
    tileImage = other.tileImage;
    backgroundMode = other.backgroundMode;
    eraseBackground = other.eraseBackground;
    tabControl = other.tabControl;
    region = other.region;
}

void WPanel::onPanelCommand(unsigned long, unsigned long, WControl*) {}

long WPanel::onPanelNotify(unsigned long, unsigned long, WControl*, const NMHDR*)
{
    return 0;
}

void WPanel::setColor(unsigned long text, unsigned long background)
{
    backgroundBrush = std::make_shared<Brush>(wplat::createSolidBrush((COLORREF)background));
    tileImage = nullptr;
    textColor = text;
    eraseBackground = true;
}

void WPanel::setBackgroundImage(const WBitmap& image, BkMode mode, bool erase)
{
    backgroundMode = mode;
    eraseBackground = erase;
    if (mode == BKMODE_TILED) {
        // The image becomes the brush: tiled copies of it fill the background.
        backgroundBrush.reset();
        tileImage = &image;
        backgroundImage = nullptr;
    } else {
        backgroundImage = &image;
    }
}

void WPanel::onWindowRestore(HDC dc, const RECT& paintArea)
{
    if (backgroundImage == nullptr)
        return;
    if (backgroundMode == BKMODE_UNSCALED) {
        backgroundImage->toDevice(dc, paintArea, paintArea);
    } else if (backgroundMode == BKMODE_CENTER) {
        long w = (long)backgroundImage->getWidth();
        long h = (long)backgroundImage->getHeight();
        long left = ((long)getWindowWidth() - w) / 2;
        long top = ((long)getWindowHeight() - h) / 2;
        RECT source{0, 0, (int32_t)w, (int32_t)h};
        RECT destination{(int32_t)left, (int32_t)top, (int32_t)(left + w), (int32_t)(top + h)};
        backgroundImage->toDevice(dc, source, destination);
    }
}

void WPanel::onWindowResize(unsigned long width, unsigned long height)
{
    if (tabControl == nullptr)
        return;
    RECT display{0, 0, (int32_t)width, (int32_t)height};
    wplat::sendMessage(tabControl->getWindowHandle(), TCM_ADJUSTRECT, 0, (LPARAM)&display);
    // The tab strip and the page's window are laid out as one batch.
    wplat::setWindowPos(tabControl->getWindowHandle(), nullptr, 0, 0, (int)width, (int)height,
                        SWP_NOMOVE | SWP_NOZORDER);
    HWND content = tabControl->getContentWindow(tabControl->getPage());
    if (content != nullptr)
        wplat::setWindowPos(content, nullptr, display.left, display.top, display.right - display.left,
                            display.bottom - display.top, SWP_NOZORDER);
}

LRESULT WPanel::onWindowMessage(HWND, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        if (!eraseBackground)
            return 0;
        RECT area;
        getClientArea(area);
        if (tileImage != nullptr && tileImage->getWidth() > 0 && tileImage->getHeight() > 0) {
            for (long y = 0; y < area.bottom; y += (long)tileImage->getHeight())
                for (long x = 0; x < area.right; x += (long)tileImage->getWidth())
                    tileImage->toDevice((HDC)wParam, (int)x, (int)y);
            return 1;
        }
        HBRUSH brush = getBackgroundBrush();
        wplat::fillRect((HDC)wParam, area, brush != nullptr ? brush : lightGreyBrush());
        return 1;
    }
    case WM_COMMAND: {
        WControl* control = lParam != 0 ? WControlManager::getControl((HWND)lParam) : nullptr;
        unsigned long id = LOWORD(wParam);
        if (id == 0 && control != nullptr)
            id = control->getNameId();
        onPanelCommand(id, HIWORD(wParam), control);
        return 1;
    }
    case WM_NOTIFY: {
        auto* header = (const NMHDR*)lParam;
        if (header == nullptr)
            return 0;
        WControl* control = WControlManager::getControl(header->hwndFrom);
        unsigned long id = (unsigned long)header->idFrom;
        if (id == 0 && control != nullptr)
            id = control->getNameId();
        if (header->code == NOTIFY_LINK) {
            auto* link = (const ENLINK*)header;
            auto* rich = dynamic_cast<WControlRichText*>(control);
            if (rich != nullptr && link->msg == WM_LBUTTONDOWN) {
                WString text;
                rich->getTextRange(text, (unsigned long)link->chrg.cpMin, (unsigned long)link->chrg.cpMax);
                if (isOpenableLink(text))
                    openLink(text);
            }
            return 0;
        }
        if (header->code == NOTIFY_TAB_CHANGE) {
            if (tabControl != nullptr) {
                LRESULT page = wplat::sendMessage(tabControl->getWindowHandle(), TCM_GETCURSEL, 0, 0);
                if (page >= 0)
                    tabControl->setFocusPage((unsigned long)page);
            }
            return 0;
        }
        return onPanelNotify(id, header->code, control, header);
    }
    case WM_CTLCOLOREDIT: {
        auto* edit = dynamic_cast<WControlEdit*>(WControlManager::getControl((HWND)lParam));
        if (edit == nullptr || !edit->isTextControl() || edit->getBackColorBrush() == nullptr)
            return 0;
        wplat::setBkMode((HDC)wParam, TRANSPARENT);
        wplat::setTextColor((HDC)wParam, (COLORREF)edit->getTextColor());
        return (LRESULT)edit->getBackColorBrush();
    }
    case WM_CTLCOLORDLG:
        return (LRESULT)getBackgroundBrush();
    case WM_CTLCOLORSTATIC: {
        HBRUSH brush = getBackgroundBrush();
        if (brush == nullptr)
            return 0;
        wplat::setBkMode((HDC)wParam, TRANSPARENT);
        wplat::setTextColor((HDC)wParam, (COLORREF)textColor);
        return (LRESULT)brush;
    }
    default:
        return 0;
    }
}
