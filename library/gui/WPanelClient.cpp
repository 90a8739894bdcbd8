#include "WPanelClient.h"

#include "ControlTypes.h"
#include "Platform.h"
#include "WException.h"

namespace {

// The position the bar can take: within the range less one page.
int clampPosition(const WPanelClient::ScrollInfo& bar, int position)
{
    int last = bar.maximum - (int)(bar.page > 0 ? bar.page - 1 : 0);
    if (last < bar.minimum) last = bar.minimum;
    if (position > last) position = last;
    if (position < bar.minimum) position = bar.minimum;
    return position;
}

} // namespace

WPanelClient::WPanelClient()
    : contentWidth(0), contentHeight(0), clientWidth(0), clientHeight(0), scrollX(0), scrollY(0), barH(nullptr),
      barV(nullptr)
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
    barH = other.barH;
    barV = other.barV;
}

void WPanelClient::create(WWindowContext* parentContext, WWindow::EventHandler* handler)
{
    RECT area {0, 0, 0, 0};
    if (parentContext != nullptr) parentContext->getClientArea(area);
    WWindowStyle style(getClassName(), WS_CHILD | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT | WS_EX_CLIENTEDGE);
    WWindow::create(parentContext, "", handler, style, 0, 0, (unsigned long)(area.right - area.left),
        (unsigned long)(area.bottom - area.top));
    finishCreate(0, 0);
}

void WPanelClient::create(
    WWindowContext* parentContext, WWindow::EventHandler* handler, unsigned long width, unsigned long height)
{
    WWindowStyle style(getClassName(), WS_CHILD | WS_CLIPCHILDREN | WS_VSCROLL, WS_EX_CONTROLPARENT | WS_EX_CLIENTEDGE);
    WWindow::create(parentContext, "", handler, style, 0, 0, width, height);
    finishCreate(width, height);
}

void WPanelClient::finishCreate(unsigned long width, unsigned long height)
{
    contentWidth = width;
    contentHeight = height;
    setColor(0, RGB(204, 204, 204));
    if (window == nullptr) return;
    barH = wplat::createWindowEx(0, "SCROLLBAR", "", WS_CHILD | SBS_HORZ, 0, 0, 0,
        wplat::getSystemMetrics(SM_CYHSCROLL), window, nullptr, nullptr, nullptr);
    barV = wplat::createWindowEx(0, "SCROLLBAR", "", WS_CHILD | SBS_VERT, 0, 0, wplat::getSystemMetrics(SM_CXVSCROLL),
        0, window, nullptr, nullptr, nullptr);
    RECT area;
    getClientArea(area);
    onWindowResize((unsigned long)area.right, (unsigned long)area.bottom);
}

void WPanelClient::showBars()
{
    struct Edge {
        HWND bar;
        const ScrollInfo& info;
        bool vertical;
    } edges[] = {{barH, horizontal, false}, {barV, vertical_, true}};
    for (const Edge& e : edges) {
        if (e.bar == nullptr) continue;
        if (e.info.shown) {
            SCROLLINFO si {sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, e.info.minimum, e.info.maximum,
                (UINT)e.info.page, e.info.position, 0};
            wplat::sendMessage(e.bar, SBM_SETSCROLLINFO, 1, (LPARAM)&si);
            // In the room the window keeps for its bars, beside the client
            // area; where both show, the corner belongs to neither.
            int w = (int)clientWidth, h = (int)clientHeight;
            if (e.vertical)
                wplat::setWindowPos(e.bar, HWND_TOP, w, 0, wplat::getSystemMetrics(SM_CXVSCROLL), h, SWP_SHOWWINDOW);
            else
                wplat::setWindowPos(e.bar, HWND_TOP, 0, h, w, wplat::getSystemMetrics(SM_CYHSCROLL), SWP_SHOWWINDOW);
            wplat::invalidateRect(e.bar, nullptr, true);
        } else {
            wplat::showWindow(e.bar, SW_HIDE);
        }
    }
}

void WPanelClient::moveContent(int dx, int dy)
{
    // The children move with the content; the whole area is painted anew.
    for (HWND child = wplat::getWindow(window, GW_CHILD); child != nullptr;
         child = wplat::getWindow(child, GW_HWNDNEXT)) {
        if (isBar(child)) continue; // the bars stay at their edges
        RECT r;
        wplat::getWindowRect(child, r);
        POINT origin {r.left, r.top};
        wplat::screenToClient(window, origin);
        wplat::setWindowPos(child, nullptr, origin.x + dx, origin.y + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    wplat::invalidateRect(window, nullptr, true);
}

void WPanelClient::scroll(bool vertical, unsigned int request, int thumb)
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
    case SB_THUMBPOSITION:
        // The content follows the thumb while it is dragged.
        bar.trackPosition = thumb;
        position = thumb;
        break;
    case SB_TOP:
        if (vertical) position = bar.minimum;
        break;
    case SB_BOTTOM:
        if (vertical) position = bar.maximum;
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
    showBars();
}

LRESULT WPanelClient::onWindowMessage(HWND handle, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HSCROLL || message == WM_VSCROLL) {
        scroll(message == WM_VSCROLL, LOWORD(wParam), (int)HIWORD(wParam));
        return 0;
    }
    return WPanel::onWindowMessage(handle, message, wParam, lParam);
}

bool WPanelClient::giveBarsRoom()
{
    // Decided on the whole window: a bar's room may make the other needed.
    long width = (long)getWindowWidth(), height = (long)getWindowHeight();
    long barWidth = wplat::getSystemMetrics(SM_CXVSCROLL), barHeight = wplat::getSystemMetrics(SM_CYHSCROLL);
    bool needH = (long)contentWidth > width, needV = (long)contentHeight > height;
    if (needH && !needV) needV = (long)contentHeight > height - barHeight;
    if (needV && !needH) needH = (long)contentWidth > width - barWidth;
    LONG_PTR style = wplat::getWindowLongPtr(window, GWL_STYLE);
    LONG_PTR wanted
        = (style & ~(LONG_PTR)(WS_HSCROLL | WS_VSCROLL)) | (needH ? WS_HSCROLL : 0) | (needV ? WS_VSCROLL : 0);
    RECT area;
    getClientArea(area);
    bool roomGiven = width - area.right == (needV ? barWidth : 0) && height - area.bottom == (needH ? barHeight : 0);
    if (wanted == style && roomGiven) return false;
    wplat::setWindowLongPtr(window, GWL_STYLE, wanted);
    wplat::setWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    return true;
}

void WPanelClient::onWindowResize(unsigned long width, unsigned long height)
{
    if (barH != nullptr && barV != nullptr && giveBarsRoom()) {
        // The client area changed with the room: the size it reports now.
        RECT area;
        getClientArea(area);
        width = (unsigned long)area.right;
        height = (unsigned long)area.bottom;
    }
    LONG_PTR style = wplat::getWindowLongPtr(window, GWL_STYLE);
    struct Axis {
        unsigned long size;
        unsigned long content;
        int& scrolled;
        ScrollInfo& bar;
        bool shown;
        bool vertical;
    } axes[] = {{width, contentWidth, scrollX, horizontal, (style & WS_HSCROLL) != 0, false},
        {height, contentHeight, scrollY, vertical_, (style & WS_VSCROLL) != 0, true}};
    for (Axis& a : axes) {
        if (a.shown && barH != nullptr) {
            a.bar.minimum = 0;
            a.bar.maximum = (int)a.content;
            a.bar.page = a.size;
            // Grown while scrolled to the end: the content follows the position.
            int old = -a.scrolled;
            a.bar.position = clampPosition(a.bar, old);
            if (a.bar.position != old) {
                int delta = old - a.bar.position;
                moveContent(a.vertical ? 0 : delta, a.vertical ? delta : 0);
                a.scrolled += delta;
            }
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
    showBars();
    WPanel::onWindowResize(width, height);
}
