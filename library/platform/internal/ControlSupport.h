#pragma once

// What the control class procedures share: their per-window state, the
// notifications to the parent and a few drawing and text helpers.

#include <initializer_list>
#include <optional>
#include <string>

#include "Controls.h"
#include "Platform.h"

namespace wplat::controls {

// The state a control procedure keeps for its window; freed with it.
struct State {
    virtual ~State() = default;
};

void attachState(HWND window, State* state);
State* findState(HWND window);
void freeState(HWND window);

template <class T>
T* stateOf(HWND window)
{
    return dynamic_cast<T*>(findState(window));
}

// The state's life in a control procedure: made by `make` on WM_NCCREATE,
// freed on WM_NCDESTROY. Returns the window's state for the procedure to
// answer the message with; null leaves the message to the default procedure
// (those two messages, or a window without state).
template <class T, class Make>
T* trackState(HWND window, UINT message, Make make)
{
    if (message == WM_NCCREATE) {
        attachState(window, make());
        return nullptr;
    }
    if (message == WM_NCDESTROY) {
        freeState(window);
        return nullptr;
    }
    return stateOf<T>(window);
}

template <class T>
T* trackState(HWND window, UINT message)
{
    return trackState<T>(window, message, [] { return new T; });
}

// A part of a control procedure: answers the messages it knows, std::nullopt
// for the others.
template <class T>
using MessageGroup = std::optional<LRESULT> (*)(HWND, T*, UINT, WPARAM, LPARAM);

// A control procedure made of message groups: the first group that answers
// gives the result; what none answers goes to the default procedure.
template <class T>
LRESULT answerByGroups(
    HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::initializer_list<MessageGroup<T>> groups)
{
    T* state = trackState<T>(window, message);
    if (state == nullptr) return defWindowProc(window, message, wParam, lParam);
    for (MessageGroup<T> group : groups) {
        if (std::optional<LRESULT> answer = group(window, state, message, wParam, lParam)) return *answer;
    }
    return defWindowProc(window, message, wParam, lParam);
}

// The default procedure's answer, with the whole control repainted after it
// (for changes of text, focus or enabled state that the look shows).
LRESULT defaultThenRepaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A control's WM_PAINT from beginPaint to the endPaint at the end of the
// scope. A null dc() leaves nothing to paint.
class ControlPaint {
public:
    explicit ControlPaint(HWND window);
    ~ControlPaint();
    ControlPaint(const ControlPaint&) = delete;
    ControlPaint& operator=(const ControlPaint&) = delete;

    HDC dc() const { return m_dc; }
    const RECT& client() const { return m_client; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint {};
    HDC m_dc = nullptr;
    RECT m_client {};
};

DWORD styleOf(HWND window);
void setStyleBits(HWND window, DWORD bits, bool on);
// WM_COMMAND (id, code) with the control as lParam, to the parent.
LRESULT notifyCommand(HWND control, UINT code);
// WM_NOTIFY to the parent; the header's sender fields are filled here.
LRESULT notifyParent(HWND control, NMHDR& header, UINT code);

// Height of one text line in the control's font (16 without metrics).
int lineHeight(HWND window);
// Width of the text in the control's font.
int textWidth(HWND window, const std::string& text);
// Selects the control's font into the context (the default GUI font when
// the control has none).
void selectFont(HWND window, HDC dc);
// The brush a parent hands out for WM_CTLCOLOR* (null when it does not),
// with the text colour it set on the context.
HBRUSH parentColors(HWND window, UINT message, HDC dc, COLORREF& text);
// Fills the rectangle with the parent's brush, or the system colour when the
// parent hands out none; `text` as parentColors gives it.
void fillBackground(HWND window, UINT message, HDC dc, const RECT& rect, int sysColor, COLORREF& text);
void drawFrame(HDC dc, const RECT& rect, COLORREF color);
void drawTextLine(HDC dc, int x, int y, const std::string& text, COLORREF color);

bool equalsNoCase(const std::string& a, const std::string& b);
bool startsWithNoCase(const std::string& text, const std::string& prefix);
// The string a message parameter points at ("" for null).
inline std::string textArg(LPARAM lParam)
{
    return lParam != 0 ? std::string((const char*)lParam) : std::string();
}

// The class procedures (one file each group).
LRESULT buttonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT staticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT editProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT richEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT listBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT comboBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT listViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT tabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT rebarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT toolbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT statusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT trackbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT progressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT scrollBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace wplat::controls
