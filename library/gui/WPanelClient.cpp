#include "WPanelClient.h"

#include "Platform.h"
#include "WException.h"

namespace {

constexpr unsigned int SB_LINEUP = 0;
constexpr unsigned int SB_LINEDOWN = 1;
constexpr unsigned int SB_PAGEUP = 2;
constexpr unsigned int SB_PAGEDOWN = 3;
constexpr unsigned int SB_THUMBTRACK = 5;
constexpr unsigned int SB_TOP = 6;
constexpr unsigned int SB_BOTTOM = 7;

// The position the bar can take: within the range less one page.
int clampPosition(const WPanelClient::ScrollInfo& bar, int position)
{
    int last = bar.maximum - (int)(bar.page > 0 ? bar.page - 1 : 0);
    if (last < bar.minimum)
        last = bar.minimum;
    if (position > last)
        position = last;
    if (position < bar.minimum)
        position = bar.minimum;
    return position;
}

} // namespace

WPanelClient::WPanelClient()
    : contentWidth(0), contentHeight(0), clientWidth(0), clientHeight(0), scrollX(0), scrollY(0)
{
}

WPanelClient::WPanelClient(const WPanelClient& other) : WPanel(other)
{
    copyScroll(other);
}

WPanelClient& WPanelClient::operator=(const WPanelClient& other)
{
    if (this != &other) {
        WPanel::operator=(other);
        copyScroll(other);
    }
    return *this;
}

WPanelClient::~WPanelClient() = default;

void WPanelClient::copyScroll(const WPanelClient& other)
{
    scrollInfo = other.scrollInfo;
    contentWidth = other.contentWidth;
    contentHeight = other.contentHeight;
    clientWidth = other.clientWidth;
    clientHeight = other.clientHeight;
    scrollX = other.scrollX;
    scrollY = other.scrollY;
    horizontal = other.horizontal;
    vertical_ = other.vertical_;
}

void WPanelClient::create(WWindowContext* parentContext, WWindow::EventHandler* handler)
{
    RECT area{0, 0, 0, 0};
    if (parentContext != nullptr)
        parentContext->getClientArea(area);
    WWindowStyle style(getClassName(), WS_CHILD | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT | WS_EX_CLIENTEDGE);
    WWindow::create(parentContext, "", handler, style, 0, 0, (unsigned long)(area.right - area.left),
                    (unsigned long)(area.bottom - area.top));
    finishCreate(0, 0);
}

void WPanelClient::create(WWindowContext* parentContext, WWindow::EventHandler* handler, unsigned long width,
                          unsigned long height)
{
    WWindowStyle style(getClassName(), WS_CHILD | WS_CLIPCHILDREN | WS_VSCROLL,
                       WS_EX_CONTROLPARENT | WS_EX_CLIENTEDGE);
    WWindow::create(parentContext, "", handler, style, 0, 0, width, height);
    finishCreate(width, height);
}

void WPanelClient::finishCreate(unsigned long width, unsigned long height)
{
    contentWidth = width;
    contentHeight = height;
    setColor(0, RGB(204, 204, 204));
}

void WPanelClient::moveContent(int dx, int dy)
{
    // The children move with the content; the whole area is painted anew.
    for (HWND child = wplat::getWindow(window, GW_CHILD); child != nullptr;
         child = wplat::getWindow(child, GW_HWNDNEXT)) {
        RECT r;
        wplat::getWindowRect(child, r);
        POINT origin{r.left, r.top};
        wplat::screenToClient(window, origin);
        wplat::setWindowPos(child, nullptr, origin.x + dx, origin.y + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    wplat::invalidateRect(window, nullptr, true);
}

void WPanelClient::scroll(bool vertical, unsigned int request)
{
    ScrollInfo& bar = vertical ? vertical_ : horizontal;
    scrollInfo = bar;
    int old = bar.position;
    int position = old;
    switch (request) {
    case SB_LINEUP:
        position = old - 1;
        break;
    case SB_LINEDOWN:
        position = old + 1;
        break;
    case SB_PAGEUP:
        position = old - (int)bar.page;
        break;
    case SB_PAGEDOWN:
        position = old + (int)bar.page;
        break;
    case SB_THUMBTRACK:
        position = bar.trackPosition;
        break;
    case SB_TOP:
        if (vertical)
            position = bar.minimum;
        break;
    case SB_BOTTOM:
        if (vertical)
            position = bar.maximum;
        break;
    default:
        break;
    }
    bar.position = clampPosition(bar, position);
    scrollInfo = bar;
    if (bar.position != old) {
        int delta = old - bar.position;
        if (vertical) {
            moveContent(0, delta);
            scrollY += delta;
        } else {
            moveContent(delta, 0);
            scrollX += delta;
        }
    }
}

LRESULT WPanelClient::onWindowMessage(HWND handle, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HSCROLL || message == WM_VSCROLL) {
        scroll(message == WM_VSCROLL, LOWORD(wParam));
        return 0;
    }
    return WPanel::onWindowMessage(handle, message, wParam, lParam);
}

void WPanelClient::onWindowResize(unsigned long width, unsigned long height)
{
    struct Axis {
        unsigned long size;
        unsigned long content;
        int& scrolled;
        ScrollInfo& bar;
        bool vertical;
    } axes[] = {{width, contentWidth, scrollX, horizontal, false}, {height, contentHeight, scrollY, vertical_, true}};
    for (Axis& a : axes) {
        if (a.size < a.content && a.size - (unsigned long)(long)a.scrolled < a.content) {
            a.bar.minimum = 0;
            a.bar.maximum = (int)a.content;
            a.bar.page = a.size;
            a.bar.position = clampPosition(a.bar, -a.scrolled);
            a.bar.shown = true;
        } else {
            if (a.scrolled != 0) {
                moveContent(a.vertical ? 0 : -a.scrolled, a.vertical ? -a.scrolled : 0);
                a.scrolled = 0;
            }
            a.bar.position = 0;
            a.bar.shown = false;
        }
    }
    clientWidth = width;
    clientHeight = height;
    WPanel::onWindowResize(width, height);
}
