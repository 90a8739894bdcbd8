#pragma once

// The window system the toolkit runs on: windows with classes, procedures and
// slots, message queues per user-interface thread, timers, painting, focus,
// device contexts and graphic objects. Substrate-independent interface; the
// Qt backend (backend_qt) puts views under the windows once the user
// interface is started (startUi). Before that, and on threads other than the
// user-interface thread, windows exist without views: messages, slots,
// timers and painting into backing images all work.

#include <string>

#include "PixelImage.h"
#include "PlatformTypes.h"

namespace wplat {

// --- User interface start-up -------------------------------------------------
enum class UiStart { Started, AlreadyStarted, NoDisplay };
// Creates the substrate's application on the calling thread, which becomes
// the user-interface thread. Checks for a display first (no abort without
// one); undoes the substrate's locale change.
UiStart startUi();
bool isUiStarted();
bool isUiThread();
// Screen resolution in pixels per logical inch (96 without a display).
int screenDpi();

// --- Window classes ------------------------------------------------------------
// What stands under a window of the class once the user interface runs.
enum class ViewKind {
    Canvas, // custom painted from its backing image (registered classes)
    None, // no view (message-only windows)
};

struct WindowClass {
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    const char* name = nullptr;
    ViewKind view = ViewKind::Canvas;
};

bool registerClass(const WindowClass& windowClass);
bool unregisterClass(const char* name);
bool getClassInfo(const char* name, WindowClass& out);

// --- Windows -------------------------------------------------------------------
// Sends WM_NCCREATE, WM_CREATE (a -1 answer destroys the window and returns
// null), then WM_SIZE and WM_MOVE, as the platform does. For WS_CHILD windows
// `menuOrId` is the child id.
HWND createWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
    int height, HWND parent, HMENU menuOrId, HINSTANCE instance, void* param);
// Destroys children first in WM_DESTROY order parent-then-children, then
// WM_NCDESTROY children-then-parent. Stale handles are a no-op (false).
bool destroyWindow(HWND window);
bool isWindow(HWND window);
bool isChild(HWND parent, HWND window);
HWND getParent(HWND window);
HWND getAncestorTopLevel(HWND window);
HWND getWindow(HWND window, UINT relation);
HWND getDlgItem(HWND dialog, int id);
int getDlgCtrlID(HWND window);
std::string getClassName(HWND window);

LONG_PTR getWindowLongPtr(HWND window, int index);
LONG_PTR setWindowLongPtr(HWND window, int index, LONG_PTR value);
// Per-window named properties for other modules' bookkeeping.
bool setProp(HWND window, const char* name, void* value);
void* getProp(HWND window, const char* name);

bool setWindowText(HWND window, const char* text);
std::string getWindowText(HWND window);
int getWindowTextLength(HWND window);

// Positions are relative to the parent's client area (screen for top-levels).
// The rectangle of a top-level takes in its frame, so do its positions and
// the sizes given to it; children have none. Calls from a thread that does
// not own the window run on the owner's thread.
bool setWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
bool moveWindow(HWND window, int x, int y, int width, int height, bool repaint);
bool getWindowRect(HWND window, RECT& rect);
// The client area less the room of the window's own scroll bars: WS_VSCROLL
// and WS_HSCROLL as the style has them at the last SWP_FRAMECHANGED (which
// sends WM_SIZE). Creation styles leave the client area whole: the standard
// controls keep those bits from their templates and scroll inside it. The
// window puts SCROLLBAR children in the room; the default WM_NCPAINT paints
// the corner between two bars.
bool getClientRect(HWND window, RECT& rect);
int getSystemMetrics(int index);
bool clientToScreen(HWND window, POINT& point);
bool screenToClient(HWND window, POINT& point);
bool showWindow(HWND window, int command);
bool isWindowVisible(HWND window);
bool isIconic(HWND window);
bool isZoomed(HWND window);
bool enableWindow(HWND window, bool enable);
bool isWindowEnabled(HWND window);
bool setForegroundWindow(HWND window);

// Keyboard focus (per user-interface thread): WM_KILLFOCUS to the old window,
// then WM_SETFOCUS to the new one.
HWND setFocus(HWND window);
HWND getFocus();
HWND getActiveWindow();
// The next (or previous) child of `dialog` with WS_TABSTOP that is visible
// and enabled, after `control` in z-order, wrapping around.
HWND getNextDlgTabItem(HWND dialog, HWND control, bool previous);

// The menu bar of a top-level window: shown above the client area, which
// shrinks by its height; choices arrive as WM_COMMAND. Null removes it.
bool setMenu(HWND window, HMENU menu);
HMENU getMenu(HWND window);
// Redraws the menu bar after its items changed.
bool drawMenuBar(HWND window);

// The failure of the calling thread's last call that reports one
// (ERROR_INVALID_WINDOW_HANDLE when a send found no window or no thread).
DWORD getLastError();
void setLastError(DWORD code);

// --- Messages ------------------------------------------------------------------
// Calls the window's procedure on the thread that owns the window and
// waits. A window that is gone, or whose thread ended, answers 0 with
// ERROR_INVALID_WINDOW_HANDLE; a thread's windows are destroyed when it ends.
LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void postQuitMessage(int code);
// Waits for the next message of the calling thread; false for WM_QUIT.
// Sent messages from other threads are serviced while waiting; WM_PAINT and
// WM_TIMER come when nothing is posted.
bool getMessage(MSG& msg, HWND filter);
enum class Peek { Keep, Remove };
bool peekMessage(MSG& msg, HWND filter, Peek mode);
bool translateMessage(const MSG& msg);
LRESULT dispatchMessage(const MSG& msg);
LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT callWindowProc(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Answers a message sent from another thread early; true inside such a send.
bool inSendMessage();
// Runs `work` on the user-interface thread and waits (sent-message priority);
// runs it directly on that thread or when the user interface is not started.
void runOnUiThread(void (*work)(void*), void* context);

// Runs `work` on the thread that owns the window and waits for it (at once
// when called there); false, without running it, when the window or its
// thread is gone.
bool runOnWindowThread(HWND window, void (*work)(void*), void* context);

UINT_PTR setTimer(HWND window, UINT_PTR id, UINT milliseconds);
bool killTimer(HWND window, UINT_PTR id);

// Mouse capture and leave tracking.
bool trackMouseEvent(HWND window, DWORD flags);
bool getCursorPos(POINT& point);
HWND setCapture(HWND window);
bool releaseCapture();
HCURSOR loadCursor(int id);
HCURSOR setCursor(HCURSOR cursor);

// --- Painting ------------------------------------------------------------------
bool invalidateRect(HWND window, const RECT* rect, bool erase);
bool validateRect(HWND window, const RECT* rect);
bool getUpdateRect(HWND window, RECT& rect);
// Sends WM_PAINT at once when the window has an invalid region.
bool updateWindow(HWND window);
HDC beginPaint(HWND window, PAINTSTRUCT& paint);
bool endPaint(HWND window, const PAINTSTRUCT& paint);
HDC getDC(HWND window);
HDC getWindowDC(HWND window);
int releaseDC(HWND window, HDC dc);
// The backing image of a custom-painted window (what the screen shows).
const PixelImage* getBackingImage(HWND window);
// What the substrate shows of the window's client area now (its widget
// grabbed); false without a view.
bool grabWindow(HWND window, PixelImage& out);

// --- Message boxes ---------------------------------------------------------------
// The substrate's modal box on the user-interface thread (marshalled there
// from other threads). Returns IDOK/IDCANCEL/IDYES/IDNO, or 0 when no user
// interface runs.
int messageBox(HWND owner, const char* text, const char* caption, UINT type);

// --- Device contexts and graphic objects --------------------------------------
HDC createCompatibleDC(HDC dc);
bool deleteDC(HDC dc);
HBRUSH createSolidBrush(COLORREF color);
// A brush that tiles a copy of the bitmap, lined up with the top-level
// window's client area (children continue their parent's pattern).
HBRUSH createPatternBrush(HBITMAP bitmap);
HBRUSH getSysColorBrush(int index);
COLORREF getSysColor(int index);
HFONT createFontIndirect(const LOGFONT& font);
bool getFontInfo(HFONT font, LOGFONT& out);
HBITMAP createBitmap(int width, int height);
HBITMAP createBitmapFromImage(const PixelImage& image);
PixelImage* getBitmapImage(HBITMAP bitmap);
bool deleteObject(HGDIOBJ object);
HGDIOBJ selectObject(HDC dc, HGDIOBJ object);
inline HGDIOBJ toObject(HBRUSH h)
{
    return (HGDIOBJ)h;
}
inline HGDIOBJ toObject(HFONT h)
{
    return (HGDIOBJ)h;
}
inline HGDIOBJ toObject(HBITMAP h)
{
    return (HGDIOBJ)h;
}

COLORREF setTextColor(HDC dc, COLORREF color);
COLORREF setBkColor(HDC dc, COLORREF color);
int setBkMode(HDC dc, int mode);
int getDeviceCaps(HDC dc, int index);
bool fillRect(HDC dc, const RECT& rect, HBRUSH brush);
bool fillSolid(HDC dc, const RECT& rect, COLORREF color);
bool rectangle(HDC dc, int left, int top, int right, int bottom);
// The dotted rectangle that marks the keyboard focus (every other pixel).
bool drawFocusRect(HDC dc, const RECT& rect);
bool moveToEx(HDC dc, int x, int y, POINT* previous);
bool lineTo(HDC dc, int x, int y);
bool textOut(HDC dc, int x, int y, const char* text, int length);
int drawText(HDC dc, const char* text, int length, RECT& rect, UINT format);
bool getTextExtentPoint(HDC dc, const char* text, int length, SIZE& size);
bool getTextMetrics(HDC dc, TEXTMETRIC& metrics);
COLORREF getPixel(HDC dc, int x, int y);
bool bitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY);
// The image a device context draws into, and its origin in that image.
PixelImage* getDCImage(HDC dc, POINT* origin);
// Clips further drawing of the context to `rect` (context coordinates).
bool intersectClipRect(HDC dc, const RECT& rect);

// Dialog base units of the dialog font ("MS Shell Dlg" 8pt): 6x13 at 96 DPI.
SIZE getDialogBaseUnits();
// Base units of any font: width of "A..Za..z" / 26 + 1, halved; height from
// the face's own ascent and descent rounded up, as the platform measures.
SIZE getFontBaseUnits(HFONT font);
// The face that a requested face name maps to here ("MS Shell Dlg" and
// "MS Sans Serif" to Liberation Sans and so on).
std::string mapFaceName(const char* face);

// --- Image lists ---------------------------------------------------------------
HIMAGELIST imageListCreate(int width, int height, UINT flags, int initial, int grow);
bool imageListDestroy(HIMAGELIST list);
int imageListAdd(HIMAGELIST list, HBITMAP image, HBITMAP mask);
int imageListAddMasked(HIMAGELIST list, HBITMAP image, COLORREF maskColor);
bool imageListReplace(HIMAGELIST list, int index, HBITMAP image, HBITMAP mask);
int imageListGetImageCount(HIMAGELIST list);
bool imageListSetImageCount(HIMAGELIST list, UINT count);
bool imageListSetIconSize(HIMAGELIST list, int width, int height);
bool imageListGetIconSize(HIMAGELIST list, int& width, int& height);
COLORREF imageListSetBkColor(HIMAGELIST list, COLORREF color);
HIMAGELIST imageListDuplicate(HIMAGELIST list);
// Draws image `index` through its mask at (x, y).
bool imageListDraw(HIMAGELIST list, int index, HDC dc, int x, int y);

// --- Dialogs ---------------------------------------------------------------------
// A dialog template: positions and sizes in dialog units of the template's
// font. Programs describe their dialogs in code and register them by id.
struct DialogItemTemplate {
    const char* className;
    const char* text;
    int id;
    int x;
    int y;
    int cx;
    int cy;
    DWORD style;
    DWORD exStyle;
};
struct DialogTemplate {
    DWORD style;
    DWORD exStyle;
    int x;
    int y;
    int cx;
    int cy;
    const char* caption;
    const char* fontFace;
    int fontPoints;
    const DialogItemTemplate* items;
    int itemCount;
};

// Registers a template under an id (the instance is not needed here).
void registerDialogTemplate(int id, const DialogTemplate* dialogTemplate);
const DialogTemplate* findDialogTemplate(int id);
// Creates the dialog window and its items (before WM_INITDIALOG, which
// carries `param`); `proc` answers non-zero for what it handled.
HWND createDialogParam(HINSTANCE instance, int id, HWND owner, WNDPROC proc, LPARAM param);
HWND createDialogIndirectParam(
    HINSTANCE instance, const DialogTemplate& dialogTemplate, HWND owner, WNDPROC proc, LPARAM param);
// Runs a modal dialog with its own loop; -1 when it cannot be created.
intptr_t dialogBoxParam(HINSTANCE instance, int id, HWND owner, WNDPROC proc, LPARAM param);
bool endDialog(HWND dialog, intptr_t result);
// The keyboard interface of a dialog: Tab and Shift-Tab through the tab
// stops, Return for the default button (IDOK), Escape for IDCANCEL. True
// when the message was for the dialog (it has then been handled).
bool isDialogMessage(HWND dialog, MSG& msg);
bool mapDialogRect(HWND dialog, RECT& rect);
// Key state as of the last message taken from the queue (high bit: down).
short getKeyState(int virtualKey);

// --- Menus ------------------------------------------------------------------------
// Our own menu model; the substrate shows it (menu bars, pop-ups).
HMENU createMenu();
HMENU createPopupMenu();
bool destroyMenu(HMENU menu);
bool isMenu(HMENU menu);
bool appendMenu(HMENU menu, UINT flags, UINT_PTR idOrPopup, const char* text);
bool removeMenu(HMENU menu, UINT item, UINT flags);
bool deleteMenu(HMENU menu, UINT item, UINT flags);
// Previous state (MF_GRAYED|MF_DISABLED bits), or -1 when there is no item.
int enableMenuItem(HMENU menu, UINT item, UINT flags);
// Previous check state (MF_CHECKED or 0), or -1 when there is no item.
int checkMenuItem(HMENU menu, UINT item, UINT flags);
// Pictures shown in place of the check mark (null: the usual mark, or none).
bool setMenuItemBitmaps(HMENU menu, UINT item, UINT flags, HBITMAP unchecked, HBITMAP checked);
bool getMenuItemBitmaps(HMENU menu, UINT item, UINT flags, HBITMAP& unchecked, HBITMAP& checked);
int getMenuItemCount(HMENU menu);
UINT getMenuItemID(HMENU menu, int position);
// MF_* bits of the item, or (UINT)-1 when there is none.
UINT getMenuState(HMENU menu, UINT item, UINT flags);
std::string getMenuString(HMENU menu, UINT item, UINT flags);
HMENU getSubMenu(HMENU menu, int position);
// Shows a pop-up menu at a screen position and waits for the choice. With
// TPM_RETURNCMD the chosen command id is returned (0 for none); otherwise
// the choice is posted to `owner` as WM_COMMAND and the answer is non-zero
// when something was chosen.
UINT_PTR trackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner);

// --- File selection -----------------------------------------------------------------
// The open and save dialogs (the substrate's own, not the desktop's, so
// they behave the same everywhere). `filter` is a list of description and
// pattern texts, each ended by NUL, the list ended by a further NUL;
// patterns are separated by ';'. `filterIndex` is 1-based in and out.
struct FileDialogRequest {
    HWND owner = nullptr;
    const char* title = nullptr;
    const char* filter = nullptr;
    unsigned long filterIndex = 1;
    const char* initialDirectory = nullptr;
    std::string fileName;
    bool save = false;
    bool promptOverwrite = false;
};
// True when the user chose a file (then in fileName); false when cancelled
// or when there is no user interface.
bool runFileDialog(FileDialogRequest& request);

} // namespace wplat
