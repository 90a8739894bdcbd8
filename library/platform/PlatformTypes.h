#pragma once

// Handles, records and numbers of the window system that the toolkit's
// interfaces carry. The numbers are the classic desktop platform's own, so
// code and data written against them (dialog templates, message ids in
// configuration, style bits) keep their meaning. Only what the library uses.

#include <cstdint>

#include "WSystemTypes.h"

typedef struct WDeviceContext__* HDC;
typedef struct WMenuHandle__* HMENU;
typedef struct WBrushHandle__* HBRUSH;
typedef struct WFontHandle__* HFONT;
typedef struct WBitmapHandle__* HBITMAP;
typedef struct WImageListHandle__* HIMAGELIST;
typedef struct WIconHandle__* HICON;
typedef struct WGdiObject__* HGDIOBJ;

typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef uint32_t COLORREF;
// Message parameters and results are pointer-sized, so pointers travel intact.
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;

typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
typedef intptr_t (*DLGPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct POINT {
    int32_t x;
    int32_t y;
};

struct SIZE {
    int32_t cx;
    int32_t cy;
};

struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

struct PAINTSTRUCT {
    HDC hdc;
    bool fErase;
    RECT rcPaint;
};

struct CREATESTRUCT {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    DWORD style;
    const char* lpszName;
    const char* lpszClass;
    DWORD dwExStyle;
};

struct LOGFONT {
    int32_t lfHeight;
    int32_t lfWidth;
    int32_t lfEscapement;
    int32_t lfOrientation;
    int32_t lfWeight;
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;
    uint8_t lfPitchAndFamily;
    char lfFaceName[32];
};

struct TEXTMETRIC {
    int32_t tmHeight;
    int32_t tmAscent;
    int32_t tmDescent;
    int32_t tmInternalLeading;
    int32_t tmExternalLeading;
    int32_t tmAveCharWidth;
    int32_t tmMaxCharWidth;
    int32_t tmWeight;
};

constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b)
{
    return (COLORREF)((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr unsigned LOWORD(uintptr_t v) { return (unsigned)(v & 0xFFFF); }
constexpr unsigned HIWORD(uintptr_t v) { return (unsigned)((v >> 16) & 0xFFFF); }
constexpr int GET_X_LPARAM(LPARAM v) { return (int)(int16_t)(v & 0xFFFF); }
constexpr int GET_Y_LPARAM(LPARAM v) { return (int)(int16_t)((v >> 16) & 0xFFFF); }
constexpr LPARAM MAKELPARAM(int lo, int hi) { return (LPARAM)(uint32_t)(((uint32_t)lo & 0xFFFF) | (((uint32_t)hi & 0xFFFF) << 16)); }
constexpr WPARAM MAKEWPARAM(int lo, int hi) { return (WPARAM)(((uint32_t)lo & 0xFFFF) | (((uint32_t)hi & 0xFFFF) << 16)); }

// --- Window messages ----------------------------------------------------------
enum : UINT {
    WM_NULL = 0x0000,
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_ENABLE = 0x000A,
    WM_SETREDRAW = 0x000B,
    WM_SETTEXT = 0x000C,
    WM_GETTEXT = 0x000D,
    WM_GETTEXTLENGTH = 0x000E,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUERYENDSESSION = 0x0011,
    WM_QUIT = 0x0012,
    WM_ERASEBKGND = 0x0014,
    WM_ENDSESSION = 0x0016,
    WM_SHOWWINDOW = 0x0018,
    WM_SETCURSOR = 0x0020,
    WM_GETMINMAXINFO = 0x0024,
    WM_NEXTDLGCTL = 0x0028,
    WM_DRAWITEM = 0x002B,
    WM_MEASUREITEM = 0x002C,
    WM_SETFONT = 0x0030,
    WM_GETFONT = 0x0031,
    WM_WINDOWPOSCHANGED = 0x0047,
    WM_NOTIFY = 0x004E,
    WM_CONTEXTMENU = 0x007B,
    WM_SETICON = 0x0080,
    WM_NCCREATE = 0x0081,
    WM_NCDESTROY = 0x0082,
    WM_NCPAINT = 0x0085,
    WM_GETDLGCODE = 0x0087,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_SYSKEYDOWN = 0x0104,
    WM_SYSKEYUP = 0x0105,
    WM_INITDIALOG = 0x0110,
    WM_COMMAND = 0x0111,
    WM_SYSCOMMAND = 0x0112,
    WM_TIMER = 0x0113,
    WM_HSCROLL = 0x0114,
    WM_VSCROLL = 0x0115,
    WM_INITMENUPOPUP = 0x0117,
    WM_MENUSELECT = 0x011F,
    WM_CTLCOLOREDIT = 0x0133,
    WM_CTLCOLORLISTBOX = 0x0134,
    WM_CTLCOLORBTN = 0x0135,
    WM_CTLCOLORDLG = 0x0136,
    WM_CTLCOLORSTATIC = 0x0138,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_RBUTTONDBLCLK = 0x0206,
    WM_MOUSEWHEEL = 0x020A,
    WM_MOUSEHOVER = 0x02A1,
    WM_MOUSELEAVE = 0x02A3,
    WM_USER = 0x0400,
    WM_APP = 0x8000,
};

// Edit-field messages the window layer itself sends (select-all on focus).
enum : UINT {
    EM_SETSEL = 0x00B1,
    EM_SCROLLCARET = 0x00B7,
};

// --- Window styles -------------------------------------------------------------
enum : DWORD {
    WS_OVERLAPPED = 0x00000000u,
    WS_POPUP = 0x80000000u,
    WS_CHILD = 0x40000000u,
    WS_MINIMIZE = 0x20000000u,
    WS_VISIBLE = 0x10000000u,
    WS_DISABLED = 0x08000000u,
    WS_CLIPSIBLINGS = 0x04000000u,
    WS_CLIPCHILDREN = 0x02000000u,
    WS_MAXIMIZE = 0x01000000u,
    WS_CAPTION = 0x00C00000u,
    WS_BORDER = 0x00800000u,
    WS_DLGFRAME = 0x00400000u,
    WS_VSCROLL = 0x00200000u,
    WS_HSCROLL = 0x00100000u,
    WS_SYSMENU = 0x00080000u,
    WS_THICKFRAME = 0x00040000u,
    WS_GROUP = 0x00020000u,
    WS_TABSTOP = 0x00010000u,
    WS_MINIMIZEBOX = 0x00020000u,
    WS_MAXIMIZEBOX = 0x00010000u,
    WS_OVERLAPPEDWINDOW = 0x00CF0000u,
};

enum : DWORD {
    WS_EX_DLGMODALFRAME = 0x00000001u,
    WS_EX_TOPMOST = 0x00000008u,
    WS_EX_TRANSPARENT = 0x00000020u,
    WS_EX_TOOLWINDOW = 0x00000080u,
    WS_EX_WINDOWEDGE = 0x00000100u,
    WS_EX_CLIENTEDGE = 0x00000200u,
    WS_EX_CONTROLPARENT = 0x00010000u,
    WS_EX_STATICEDGE = 0x00020000u,
    WS_EX_APPWINDOW = 0x00040000u,
};

// Class styles.
enum : UINT {
    CS_VREDRAW = 0x0001,
    CS_HREDRAW = 0x0002,
    CS_DBLCLKS = 0x0008,
};

// Window slots (64-bit layout).
enum : int {
    GWLP_WNDPROC = -4,
    GWLP_HINSTANCE = -6,
    GWLP_HWNDPARENT = -8,
    GWLP_ID = -12,
    GWL_STYLE = -16,
    GWL_EXSTYLE = -20,
    GWLP_USERDATA = -21,
    DWLP_MSGRESULT = 0,
    DWLP_DLGPROC = 8,
    DWLP_USER = 16,
    // The 32-bit names of the same slots.
    GWL_WNDPROC = -4,
    GWL_ID = -12,
    GWL_USERDATA = -21,
};

// showWindow commands.
enum : int {
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_SHOWMAXIMIZED = 3,
    SW_MAXIMIZE = 3,
    SW_SHOWNOACTIVATE = 4,
    SW_SHOW = 5,
    SW_MINIMIZE = 6,
    SW_RESTORE = 9,
};

// setWindowPos flags and z-order places.
enum : UINT {
    SWP_NOSIZE = 0x0001,
    SWP_NOMOVE = 0x0002,
    SWP_NOZORDER = 0x0004,
    SWP_NOREDRAW = 0x0008,
    SWP_NOACTIVATE = 0x0010,
    SWP_SHOWWINDOW = 0x0040,
    SWP_HIDEWINDOW = 0x0080,
};
#define HWND_TOP ((HWND)(intptr_t)0)
#define HWND_BOTTOM ((HWND)(intptr_t)1)
#define HWND_TOPMOST ((HWND)(intptr_t)-1)
#define HWND_NOTOPMOST ((HWND)(intptr_t)-2)

// getWindow relations.
enum : UINT {
    GW_HWNDFIRST = 0,
    GW_HWNDLAST = 1,
    GW_HWNDNEXT = 2,
    GW_HWNDPREV = 3,
    GW_OWNER = 4,
    GW_CHILD = 5,
};

// WM_SIZE kinds.
enum : WPARAM {
    SIZE_RESTORED = 0,
    SIZE_MINIMIZED = 1,
    SIZE_MAXIMIZED = 2,
};

// --- Keys ------------------------------------------------------------------------
enum : int {
    VK_LBUTTON = 0x01,
    VK_RBUTTON = 0x02,
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_PAUSE = 0x13,
    VK_CAPITAL = 0x14,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_F1 = 0x70,
    VK_F12 = 0x7B,
};

// Mouse-message key state (wParam).
enum : WPARAM {
    MK_LBUTTON = 0x0001,
    MK_RBUTTON = 0x0002,
    MK_SHIFT = 0x0004,
    MK_CONTROL = 0x0008,
};

// WM_GETDLGCODE answers.
enum : LRESULT {
    DLGC_WANTARROWS = 0x0001,
    DLGC_WANTTAB = 0x0002,
    DLGC_WANTALLKEYS = 0x0004,
    DLGC_WANTMESSAGE = 0x0004,
    DLGC_HASSETSEL = 0x0008,
    DLGC_DEFPUSHBUTTON = 0x0010,
    DLGC_UNDEFPUSHBUTTON = 0x0020,
    DLGC_RADIOBUTTON = 0x0040,
    DLGC_WANTCHARS = 0x0080,
    DLGC_STATIC = 0x0100,
    DLGC_BUTTON = 0x2000,
};

// Dialog results and message-box types.
enum : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};
enum : UINT {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};

// Common notification codes (NMHDR::code).
enum : UINT {
    NM_CLICK = (UINT)-2,
    NM_DBLCLK = (UINT)-3,
    NM_RETURN = (UINT)-4,
    NM_RCLICK = (UINT)-5,
    NM_SETFOCUS = (UINT)-7,
    NM_KILLFOCUS = (UINT)-8,
};

// Mouse tracking.
enum : DWORD {
    TME_HOVER = 0x00000001u,
    TME_LEAVE = 0x00000002u,
    TME_CANCEL = 0x80000000u,
    HOVER_DEFAULT = 0xFFFFFFFFu,
};

// Standard cursors.
enum : int {
    IDC_ARROW = 32512,
    IDC_IBEAM = 32513,
    IDC_WAIT = 32514,
    IDC_SIZEWE = 32644,
    IDC_HAND = 32649,
};

// --- Drawing -------------------------------------------------------------------
enum : int {
    LOGPIXELSX = 88,
    LOGPIXELSY = 90,
    BITSPIXEL = 12,
    HORZRES = 8,
    VERTRES = 10,
};
enum : int {
    TRANSPARENT = 1,
    OPAQUE = 2,
};
enum : UINT {
    DT_LEFT = 0x0000,
    DT_CENTER = 0x0001,
    DT_RIGHT = 0x0002,
    DT_VCENTER = 0x0004,
    DT_BOTTOM = 0x0008,
    DT_WORDBREAK = 0x0010,
    DT_SINGLELINE = 0x0020,
    DT_CALCRECT = 0x0400,
    DT_NOPREFIX = 0x0800,
};
enum : uint8_t {
    DEFAULT_CHARSET = 1,
    ANTIALIASED_QUALITY = 4,
};
enum : int {
    FW_NORMAL = 400,
    FW_BOLD = 700,
};
enum : int {
    COLOR_WINDOW = 5,
    COLOR_WINDOWTEXT = 8,
    COLOR_BTNFACE = 15,
    COLOR_GRAYTEXT = 17,
    COLOR_BTNTEXT = 18,
};

// Image lists.
enum : UINT {
    ILC_MASK = 0x0001,
    ILC_COLOR32 = 0x0020,
};
constexpr COLORREF CLR_NONE = 0xFFFFFFFFu;
constexpr COLORREF CLR_DEFAULT = 0xFF000000u;

// Display modes.
enum : DWORD {
    DM_BITSPERPEL = 0x00040000u,
    DM_PELSWIDTH = 0x00080000u,
    DM_PELSHEIGHT = 0x00100000u,
    DM_DISPLAYFREQUENCY = 0x00400000u,
};

// One display mode record, laid out as the platform's 156-byte DEVMODEA.
struct DEVMODEA {
    char dmDeviceName[32];
    uint16_t dmSpecVersion;
    uint16_t dmDriverVersion;
    uint16_t dmSize;
    uint16_t dmDriverExtra;
    DWORD dmFields;
    int32_t dmPositionX;
    int32_t dmPositionY;
    DWORD dmDisplayOrientation;
    DWORD dmDisplayFixedOutput;
    int16_t dmColor;
    int16_t dmDuplex;
    int16_t dmYResolution;
    int16_t dmTTOption;
    int16_t dmCollate;
    char dmFormName[32];
    uint16_t dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmDisplayFlags;
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
    DWORD dmPanningWidth;
    DWORD dmPanningHeight;
};
static_assert(sizeof(DEVMODEA) == 156, "display mode record is 156 bytes");
