// Registration of the standard control classes and what their procedures
// share.

#include "internal/ControlSupport.h"

#include <cctype>
#include <mutex>

namespace wplat::controls {

namespace {
const char* const kStateProp = "wplat.controlState";
}

void attachState(HWND window, State* state)
{
    delete findState(window);
    setProp(window, kStateProp, state);
}

State* findState(HWND window)
{
    return static_cast<State*>(getProp(window, kStateProp));
}

void freeState(HWND window)
{
    State* state = findState(window);
    setProp(window, kStateProp, nullptr);
    delete state;
}

ControlPaint::ControlPaint(HWND window) : m_window(window)
{
    m_dc = beginPaint(window, m_paint);
    if (m_dc != nullptr) getClientRect(window, m_client);
}

ControlPaint::~ControlPaint()
{
    if (m_dc != nullptr) endPaint(m_window, m_paint);
}

DWORD styleOf(HWND window)
{
    return (DWORD)getWindowLongPtr(window, GWL_STYLE);
}

void setStyleBits(HWND window, DWORD bits, bool on)
{
    DWORD style = styleOf(window);
    style = on ? (style | bits) : (style & ~bits);
    setWindowLongPtr(window, GWL_STYLE, (LONG_PTR)style);
}

LRESULT notifyCommand(HWND control, UINT code)
{
    HWND parent = getParent(control);
    if (parent == nullptr) return 0;
    return sendMessage(parent, WM_COMMAND, MAKEWPARAM(getDlgCtrlID(control), (int)code), (LPARAM)control);
}

LRESULT notifyParent(HWND control, NMHDR& header, UINT code)
{
    HWND parent = getParent(control);
    if (parent == nullptr) return 0;
    header.hwndFrom = control;
    header.idFrom = (UINT_PTR)getDlgCtrlID(control);
    header.code = code;
    return sendMessage(parent, WM_NOTIFY, header.idFrom, (LPARAM)&header);
}

void selectFont(HWND window, HDC dc)
{
    HFONT font = (HFONT)sendMessage(window, WM_GETFONT, 0, 0);
    if (font != nullptr) selectObject(dc, toObject(font));
}

int lineHeight(HWND window)
{
    HDC dc = getDC(window);
    if (dc == nullptr) return 16;
    selectFont(window, dc);
    TEXTMETRIC tm {};
    bool ok = getTextMetrics(dc, tm);
    releaseDC(window, dc);
    return ok && tm.tmHeight > 0 ? tm.tmHeight : 16;
}

int textWidth(HWND window, const std::string& text)
{
    if (text.empty()) return 0;
    HDC dc = getDC(window);
    if (dc == nullptr) return (int)text.size() * 6;
    selectFont(window, dc);
    SIZE size {0, 0};
    bool ok = getTextExtentPoint(dc, text.data(), (int)text.size(), size);
    releaseDC(window, dc);
    return ok ? size.cx : (int)text.size() * 6;
}

HBRUSH parentColors(HWND window, UINT message, HDC dc, COLORREF& text)
{
    HWND parent = getParent(window);
    text = getSysColor(COLOR_WINDOWTEXT);
    if (parent == nullptr) return nullptr;
    COLORREF before = setTextColor(dc, text);
    HBRUSH brush = (HBRUSH)sendMessage(parent, message, (WPARAM)dc, (LPARAM)window);
    text = setTextColor(dc, before);
    if (brush == nullptr) text = getSysColor(COLOR_WINDOWTEXT);
    return brush;
}

LRESULT defaultThenRepaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT r = defWindowProc(window, message, wParam, lParam);
    invalidateRect(window, nullptr, true);
    return r;
}

void fillBackground(HWND window, UINT message, HDC dc, const RECT& rect, int sysColor, COLORREF& text)
{
    HBRUSH back = parentColors(window, message, dc, text);
    if (back != nullptr)
        fillRect(dc, rect, back);
    else
        fillSolid(dc, rect, getSysColor(sysColor));
}

void drawFrame(HDC dc, const RECT& r, COLORREF color)
{
    if (r.right - r.left < 2 || r.bottom - r.top < 2) return;
    fillSolid(dc, RECT {r.left, r.top, r.right, r.top + 1}, color);
    fillSolid(dc, RECT {r.left, r.bottom - 1, r.right, r.bottom}, color);
    fillSolid(dc, RECT {r.left, r.top, r.left + 1, r.bottom}, color);
    fillSolid(dc, RECT {r.right - 1, r.top, r.right, r.bottom}, color);
}

void drawTextLine(HDC dc, int x, int y, const std::string& text, COLORREF color)
{
    if (text.empty()) return;
    setBkMode(dc, TRANSPARENT);
    setTextColor(dc, color);
    textOut(dc, x, y, text.data(), (int)text.size());
}

bool equalsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    }
    return true;
}

bool startsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

} // namespace wplat::controls

namespace wplat {

void registerControlClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct Entry {
            const char* name;
            WNDPROC proc;
        } entries[] = {
            {"BUTTON", controls::buttonProc},
            {"STATIC", controls::staticProc},
            {"EDIT", controls::editProc},
            {"RICHEDIT20A", controls::richEditProc},
            {"LISTBOX", controls::listBoxProc},
            {"COMBOBOX", controls::comboBoxProc},
            {"SysListView32", controls::listViewProc},
            {"SysTabControl32", controls::tabProc},
            {"ReBarWindow32", controls::rebarProc},
            {"ToolbarWindow32", controls::toolbarProc},
            {"msctls_statusbar32", controls::statusProc},
            {"msctls_trackbar32", controls::trackbarProc},
            {"msctls_progress32", controls::progressProc},
            // The short name some callers use for the progress class.
            {"PROGRESS", controls::progressProc},
            {"SCROLLBAR", controls::scrollBarProc},
        };
        for (const Entry& e : entries) {
            WindowClass cls;
            cls.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
            cls.proc = e.proc;
            cls.cursor = loadCursor(IDC_ARROW);
            cls.name = e.name;
            registerClass(cls);
        }
    });
}

} // namespace wplat
