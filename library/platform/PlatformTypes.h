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
constexpr unsigned LOWORD(uintptr_t v)
{
    return (unsigned)(v & 0xFFFF);
}
constexpr unsigned HIWORD(uintptr_t v)
{
    return (unsigned)((v >> 16) & 0xFFFF);
}
constexpr int GET_X_LPARAM(LPARAM v)
{
    return (int)(int16_t)(v & 0xFFFF);
}
constexpr int GET_Y_LPARAM(LPARAM v)
{
    return (int)(int16_t)((v >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(int lo, int hi)
{
    return (LPARAM)(uint32_t)(((uint32_t)lo & 0xFFFF) | (((uint32_t)hi & 0xFFFF) << 16));
}
constexpr WPARAM MAKEWPARAM(int lo, int hi)
{
    return (WPARAM)(((uint32_t)lo & 0xFFFF) | (((uint32_t)hi & 0xFFFF) << 16));
}

// --- Window messages ----------------------------------------------------------
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETREDRAW = 0x000B;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_NEXTDLGCTL = 0x0028;
constexpr UINT WM_DRAWITEM = 0x002B;
constexpr UINT WM_MEASUREITEM = 0x002C;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_CONTEXTMENU = 0x007B;
constexpr UINT WM_GETICON = 0x007F;
constexpr UINT WM_SETICON = 0x0080;
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;
// Hit-test code of WM_SETCURSOR's low word: the pointer is over the client area.
constexpr int HTCLIENT = 1;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_NCPAINT = 0x0085;
constexpr UINT WM_GETDLGCODE = 0x0087;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_INITMENUPOPUP = 0x0117;
constexpr UINT WM_MENUSELECT = 0x011F;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
constexpr UINT WM_CTLCOLORBTN = 0x0135;
constexpr UINT WM_CTLCOLORDLG = 0x0136;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_MOUSEHOVER = 0x02A1;
constexpr UINT WM_MOUSELEAVE = 0x02A3;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// Dialog styles, button notifications and dialog-manager messages.
constexpr DWORD DS_SETFONT = 0x0040u;
constexpr DWORD DS_MODALFRAME = 0x0080u;
constexpr DWORD DS_CENTER = 0x0800u;
constexpr DWORD DS_SHELLFONT = 0x0048u;
constexpr UINT BN_CLICKED = 0;
constexpr UINT DM_GETDEFID = 0x0400;
constexpr UINT DM_SETDEFID = 0x0401;
constexpr UINT DC_HASDEFID = 0x534B;

// Menu item flags.
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_BITMAP = 0x0004;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_RETURNCMD = 0x0100;

// Edit-field messages the window layer itself sends (select-all on focus).
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_SCROLLCARET = 0x00B7;

// --- Window styles -------------------------------------------------------------
constexpr DWORD WS_OVERLAPPED = 0x00000000u;
constexpr DWORD WS_POPUP = 0x80000000u;
constexpr DWORD WS_CHILD = 0x40000000u;
constexpr DWORD WS_MINIMIZE = 0x20000000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr DWORD WS_DISABLED = 0x08000000u;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000u;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000u;
constexpr DWORD WS_MAXIMIZE = 0x01000000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_BORDER = 0x00800000u;
constexpr DWORD WS_DLGFRAME = 0x00400000u;
constexpr DWORD WS_VSCROLL = 0x00200000u;
constexpr DWORD WS_HSCROLL = 0x00100000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD WS_THICKFRAME = 0x00040000u;
constexpr DWORD WS_GROUP = 0x00020000u;
constexpr DWORD WS_TABSTOP = 0x00010000u;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000u;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000u;
constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000u;

constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001u;
constexpr DWORD WS_EX_TOPMOST = 0x00000008u;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020u;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080u;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100u;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200u;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000u;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000u;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000u;

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;

// Window slots (64-bit layout).
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;
constexpr int DWLP_MSGRESULT = 0;
constexpr int DWLP_DLGPROC = 8;
constexpr int DWLP_USER = 16;
// The 32-bit names of the same slots.
constexpr int GWL_WNDPROC = -4;
constexpr int GWL_ID = -12;
constexpr int GWL_USERDATA = -21;

// showWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;

// getSystemMetrics: the room a window's own scroll bars take (WS_VSCROLL
// at the right of the client area, WS_HSCROLL at its bottom).
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;

// Error codes of getLastError.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// setWindowPos flags and z-order places.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
// The style's frame parts (the window's own scroll bars) are taken anew.
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
#define HWND_TOP ((HWND)(intptr_t)0)
#define HWND_BOTTOM ((HWND)(intptr_t)1)
#define HWND_TOPMOST ((HWND)(intptr_t)-1)
#define HWND_NOTOPMOST ((HWND)(intptr_t)-2)

// getWindow relations.
constexpr UINT GW_HWNDFIRST = 0;
constexpr UINT GW_HWNDLAST = 1;
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_HWNDPREV = 3;
constexpr UINT GW_OWNER = 4;
constexpr UINT GW_CHILD = 5;

// WM_SIZE kinds.
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MINIMIZED = 1;
constexpr WPARAM SIZE_MAXIMIZED = 2;

// --- Keys ------------------------------------------------------------------------
constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_F1 = 0x70;
constexpr int VK_F12 = 0x7B;

// Mouse-message key state (wParam).
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;

// WM_GETDLGCODE answers.
constexpr LRESULT DLGC_WANTARROWS = 0x0001;
constexpr LRESULT DLGC_WANTTAB = 0x0002;
constexpr LRESULT DLGC_WANTALLKEYS = 0x0004;
constexpr LRESULT DLGC_WANTMESSAGE = 0x0004;
constexpr LRESULT DLGC_HASSETSEL = 0x0008;
constexpr LRESULT DLGC_DEFPUSHBUTTON = 0x0010;
constexpr LRESULT DLGC_UNDEFPUSHBUTTON = 0x0020;
constexpr LRESULT DLGC_RADIOBUTTON = 0x0040;
constexpr LRESULT DLGC_WANTCHARS = 0x0080;
constexpr LRESULT DLGC_STATIC = 0x0100;
constexpr LRESULT DLGC_BUTTON = 0x2000;

// Dialog results and message-box types.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr UINT MB_OK = 0x00;
constexpr UINT MB_OKCANCEL = 0x01;
constexpr UINT MB_YESNO = 0x04;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;

// Common notification codes (NMHDR::code).
constexpr UINT NM_CLICK = (UINT)-2;
constexpr UINT NM_DBLCLK = (UINT)-3;
constexpr UINT NM_RETURN = (UINT)-4;
constexpr UINT NM_RCLICK = (UINT)-5;
constexpr UINT NM_SETFOCUS = (UINT)-7;
constexpr UINT NM_KILLFOCUS = (UINT)-8;

// Mouse tracking.
constexpr DWORD TME_HOVER = 0x00000001u;
constexpr DWORD TME_LEAVE = 0x00000002u;
constexpr DWORD TME_CANCEL = 0x80000000u;
constexpr DWORD HOVER_DEFAULT = 0xFFFFFFFFu;

// Standard cursors.
constexpr int IDC_ARROW = 32512;
constexpr int IDC_IBEAM = 32513;
constexpr int IDC_WAIT = 32514;
constexpr int IDC_SIZEWE = 32644;
constexpr int IDC_HAND = 32649;

// --- Drawing -------------------------------------------------------------------
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int BITSPIXEL = 12;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;
constexpr uint8_t DEFAULT_CHARSET = 1;
constexpr uint8_t ANTIALIASED_QUALITY = 4;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;

// Image lists.
constexpr UINT ILC_MASK = 0x0001;
constexpr UINT ILC_COLOR32 = 0x0020;
constexpr COLORREF CLR_NONE = 0xFFFFFFFFu;
constexpr COLORREF CLR_DEFAULT = 0xFF000000u;

// Display modes.
constexpr DWORD DM_BITSPERPEL = 0x00040000u;
constexpr DWORD DM_PELSWIDTH = 0x00080000u;
constexpr DWORD DM_PELSHEIGHT = 0x00100000u;
constexpr DWORD DM_DISPLAYFREQUENCY = 0x00400000u;

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
