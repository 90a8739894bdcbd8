#pragma once

// Messages, styles, notifications and records of the standard control
// classes (buttons, statics, edit and rich-edit fields, lists, list views,
// tabs, rebars, toolbars, status bars, trackbars and progress bars), with
// the classic platform's numbers. Records are laid out for this build
// (pointers are 64-bit); the size fields that callers fill are checked
// against both the classic 32-bit sizes and ours.

#include "PlatformTypes.h"

// --- Buttons ---------------------------------------------------------------------
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_CHECKBOX = 0x2;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_RADIOBUTTON = 0x4;
constexpr DWORD BS_3STATE = 0x5;
constexpr DWORD BS_AUTO3STATE = 0x6;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_TYPEMASK = 0xF;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
constexpr WPARAM BST_INDETERMINATE = 2;
constexpr LRESULT BST_PUSHED = 4;
constexpr LRESULT BST_FOCUS = 8;

// --- Statics ---------------------------------------------------------------------
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD SS_CENTER = 0x1;
constexpr DWORD SS_RIGHT = 0x2;
constexpr DWORD SS_NOTIFY = 0x100;
constexpr UINT STN_CLICKED = 0;

// --- Edit fields -----------------------------------------------------------------
constexpr DWORD ES_LEFT = 0x0;
constexpr DWORD ES_MULTILINE = 0x4;
constexpr DWORD ES_UPPERCASE = 0x8;
constexpr DWORD ES_LOWERCASE = 0x10;
constexpr DWORD ES_PASSWORD = 0x20;
constexpr DWORD ES_AUTOVSCROLL = 0x40;
constexpr DWORD ES_AUTOHSCROLL = 0x80;
constexpr DWORD ES_READONLY = 0x800;
constexpr DWORD ES_WANTRETURN = 0x1000;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr DWORD ES_SUNKEN = 0x4000;
constexpr UINT EM_GETSEL = 0x00B0;
constexpr UINT EM_REPLACESEL = 0x00C2;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETREADONLY = 0x00CF;
constexpr UINT EN_SETFOCUS = 0x0100;
constexpr UINT EN_KILLFOCUS = 0x0200;
constexpr UINT EN_CHANGE = 0x0300;
constexpr UINT EN_MAXTEXT = 0x0501;

// Rich-edit fields.
constexpr UINT EM_GETCHARFORMAT = WM_USER + 58;
constexpr UINT EM_EXGETSEL = WM_USER + 52;
constexpr UINT EM_EXSETSEL = WM_USER + 55;
constexpr UINT EM_GETSELTEXT = WM_USER + 62;
constexpr UINT EM_HIDESELECTION = WM_USER + 63;
constexpr UINT EM_SETBKGNDCOLOR = WM_USER + 67;
constexpr UINT EM_SETCHARFORMAT = WM_USER + 68;
constexpr UINT EM_GETEVENTMASK = WM_USER + 59;
constexpr UINT EM_SETEVENTMASK = WM_USER + 69;
constexpr UINT EM_STREAMIN = WM_USER + 73;
constexpr UINT EM_GETTEXTRANGE = WM_USER + 75;
constexpr UINT EM_SETTEXTMODE = WM_USER + 89;
constexpr UINT EM_GETTEXTMODE = WM_USER + 90;
constexpr UINT EM_AUTOURLDETECT = WM_USER + 91;
constexpr UINT EN_LINK = 0x070B;
constexpr DWORD ENM_CHANGE = 0x00000001u;
constexpr DWORD ENM_LINK = 0x04000000u;
constexpr WPARAM TM_PLAINTEXT = 1;
constexpr WPARAM TM_RICHTEXT = 2;
constexpr WPARAM SCF_SELECTION = 1;
constexpr WPARAM SCF_ALL = 4;
constexpr WPARAM SF_TEXT = 1;
constexpr WPARAM SF_RTF = 2;
constexpr DWORD CFM_BOLD = 0x1;
constexpr DWORD CFM_ITALIC = 0x2;
constexpr DWORD CFM_UNDERLINE = 0x4;
constexpr DWORD CFM_STRIKEOUT = 0x8;
constexpr DWORD CFM_PROTECTED = 0x10;
constexpr DWORD CFM_LINK = 0x20;
constexpr DWORD CFM_SIZE = 0x80000000u;
constexpr DWORD CFM_COLOR = 0x40000000u;
constexpr DWORD CFM_FACE = 0x20000000u;
constexpr DWORD CFE_BOLD = 0x1;
constexpr DWORD CFE_ITALIC = 0x2;
constexpr DWORD CFE_UNDERLINE = 0x4;
constexpr DWORD CFE_STRIKEOUT = 0x8;
constexpr DWORD CFE_PROTECTED = 0x10;
constexpr DWORD CFE_LINK = 0x20;
constexpr DWORD CFE_AUTOBACKCOLOR = 0x04000000u;

struct CHARRANGE {
    int32_t cpMin;
    int32_t cpMax;
};

struct TEXTRANGEA {
    CHARRANGE chrg;
    char* lpstrText;
};

// The character format of rich-edit fields (the extended form).
struct CHARFORMAT2A {
    UINT cbSize;
    DWORD dwMask;
    DWORD dwEffects;
    int32_t yHeight;
    int32_t yOffset;
    COLORREF crTextColor;
    uint8_t bCharSet;
    uint8_t bPitchAndFamily;
    char szFaceName[32];
    uint16_t wWeight;
    int16_t sSpacing;
    COLORREF crBackColor;
    uint32_t lcid;
    DWORD dwReserved;
    int16_t sStyle;
    uint16_t wKerning;
    uint8_t bUnderlineType;
    uint8_t bAnimation;
    uint8_t bRevAuthor;
    uint8_t bReserved1;
};
static_assert(sizeof(CHARFORMAT2A) == 84, "character format record is 84 bytes");

// The callback reads up to `count` bytes into `buffer`, stores how many it
// read and answers 0, or non-zero for an error that ends the stream.
typedef DWORD (*EDITSTREAMCALLBACK)(uintptr_t cookie, uint8_t* buffer, long count, long* done);
struct EDITSTREAM {
    uintptr_t dwCookie;
    DWORD dwError;
    EDITSTREAMCALLBACK pfnCallback;
};

struct ENLINK {
    NMHDR nmhdr;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    CHARRANGE chrg;
};

// --- List boxes ------------------------------------------------------------------
constexpr DWORD LBS_NOTIFY = 0x1;
constexpr DWORD LBS_SORT = 0x2;
constexpr LRESULT LB_ERR = -1;
constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;
constexpr UINT LB_DELETESTRING = 0x0182;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_GETTOPINDEX = 0x018E;
constexpr UINT LB_FINDSTRING = 0x018F;
constexpr UINT LB_GETITEMDATA = 0x0199;
constexpr UINT LB_SETITEMDATA = 0x019A;
constexpr UINT LB_SETTOPINDEX = 0x0197;
constexpr UINT LB_FINDSTRINGEXACT = 0x01A2;
constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT LBN_DBLCLK = 2;

// --- Combo boxes -----------------------------------------------------------------
constexpr DWORD CBS_SIMPLE = 0x1;
constexpr DWORD CBS_DROPDOWN = 0x2;
constexpr DWORD CBS_DROPDOWNLIST = 0x3;
constexpr DWORD CBS_SORT = 0x100;
constexpr LRESULT CB_ERR = -1;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_FINDSTRING = 0x014C;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_SHOWDROPDOWN = 0x014F;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_GETDROPPEDSTATE = 0x0157;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_EDITCHANGE = 5;
constexpr UINT CBN_DROPDOWN = 7;
constexpr UINT CBN_CLOSEUP = 8;

// --- List views ------------------------------------------------------------------
constexpr DWORD LVS_REPORT = 0x1;
constexpr DWORD LVS_SINGLESEL = 0x4;
constexpr DWORD LVS_SHOWSELALWAYS = 0x8;
constexpr DWORD LVS_NOSORTHEADER = 0x8000;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x20;
constexpr UINT LVM_FIRST = 0x1000;
constexpr UINT LVM_SETBKCOLOR = LVM_FIRST + 1;
constexpr UINT LVM_SETIMAGELIST = LVM_FIRST + 3;
constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
constexpr UINT LVM_GETITEMA = LVM_FIRST + 5;
constexpr UINT LVM_SETITEMA = LVM_FIRST + 6;
constexpr UINT LVM_INSERTITEMA = LVM_FIRST + 7;
constexpr UINT LVM_DELETEITEM = LVM_FIRST + 8;
constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
constexpr UINT LVM_FINDITEMA = LVM_FIRST + 13;
constexpr UINT LVM_GETCOLUMNA = LVM_FIRST + 25;
constexpr UINT LVM_INSERTCOLUMNA = LVM_FIRST + 27;
constexpr UINT LVM_DELETECOLUMN = LVM_FIRST + 28;
constexpr UINT LVM_SETTEXTCOLOR = LVM_FIRST + 36;
constexpr UINT LVM_SETTEXTBKCOLOR = LVM_FIRST + 38;
constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;
constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
constexpr UINT LVM_GETITEMTEXTA = LVM_FIRST + 45;
constexpr UINT LVM_SETITEMTEXTA = LVM_FIRST + 46;
constexpr UINT LVM_SORTITEMS = LVM_FIRST + 48;
constexpr UINT LVM_GETSELECTEDCOUNT = LVM_FIRST + 50;
constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;
constexpr UINT LVM_GETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 55;
constexpr UINT LVM_GETSELECTIONMARK = LVM_FIRST + 66;
constexpr UINT LVM_SETSELECTIONMARK = LVM_FIRST + 67;
constexpr UINT LVM_SETBKIMAGEA = LVM_FIRST + 68;
constexpr UINT LVIF_TEXT = 0x1;
constexpr UINT LVIF_IMAGE = 0x2;
constexpr UINT LVIF_PARAM = 0x4;
constexpr UINT LVIF_STATE = 0x8;
constexpr UINT LVIS_FOCUSED = 0x1;
constexpr UINT LVIS_SELECTED = 0x2;
constexpr UINT LVNI_ALL = 0x0;
constexpr UINT LVNI_FOCUSED = 0x1;
constexpr UINT LVNI_SELECTED = 0x2;
constexpr UINT LVNI_ABOVE = 0x100;
constexpr UINT LVNI_BELOW = 0x200;
constexpr UINT LVFI_PARAM = 0x1;
constexpr UINT LVFI_STRING = 0x2;
constexpr UINT LVCF_FMT = 0x1;
constexpr UINT LVCF_WIDTH = 0x2;
constexpr UINT LVCF_TEXT = 0x4;
constexpr UINT LVCF_SUBITEM = 0x8;
constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;
constexpr WPARAM LVSIL_NORMAL = 0;
constexpr WPARAM LVSIL_SMALL = 1;
constexpr UINT LVBKIF_SOURCE_URL = 0x2;
constexpr UINT LVBKIF_STYLE_TILE = 0x10;
constexpr UINT LVN_ITEMCHANGED = (UINT)-101;

struct LVITEMA {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    char* pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
    int iIndent;
};

struct LVCOLUMNA {
    UINT mask;
    int fmt;
    int cx;
    char* pszText;
    int cchTextMax;
    int iSubItem;
};

struct LVFINDINFOA {
    UINT flags;
    const char* psz;
    LPARAM lParam;
    POINT pt;
    UINT vkDirection;
};

struct LVBKIMAGEA {
    UINT ulFlags;
    void* hbm;
    char* pszImage;
    UINT cchImageMax;
    int xOffsetPercent;
    int yOffsetPercent;
};

struct NMLISTVIEW {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
};

typedef int (*PFNLVCOMPARE)(LPARAM first, LPARAM second, LPARAM parameter);

// --- Tabs ------------------------------------------------------------------------
constexpr UINT TCM_FIRST = 0x1300;
constexpr UINT TCM_GETITEMCOUNT = TCM_FIRST + 4;
constexpr UINT TCM_GETITEMA = TCM_FIRST + 5;
constexpr UINT TCM_INSERTITEMA = TCM_FIRST + 7;
constexpr UINT TCM_DELETEITEM = TCM_FIRST + 8;
constexpr UINT TCM_DELETEALLITEMS = TCM_FIRST + 9;
constexpr UINT TCM_GETCURSEL = TCM_FIRST + 11;
constexpr UINT TCM_SETCURSEL = TCM_FIRST + 12;
constexpr UINT TCM_ADJUSTRECT = TCM_FIRST + 40;
constexpr UINT TCM_GETCURFOCUS = TCM_FIRST + 47;
constexpr UINT TCM_SETCURFOCUS = TCM_FIRST + 48;
constexpr UINT TCIF_TEXT = 0x1;
constexpr UINT TCIF_IMAGE = 0x2;
constexpr UINT TCIF_PARAM = 0x8;
constexpr UINT TCN_SELCHANGE = (UINT)-551;
constexpr UINT TCN_SELCHANGING = (UINT)-552;

struct TCITEMA {
    UINT mask;
    DWORD dwState;
    DWORD dwStateMask;
    char* pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
};

// --- Rebars ----------------------------------------------------------------------
constexpr UINT RB_INSERTBANDA = WM_USER + 1;
constexpr UINT RB_DELETEBAND = WM_USER + 2;
constexpr UINT RB_SETBARINFO = WM_USER + 4;
constexpr UINT RB_GETBANDCOUNT = WM_USER + 12;
constexpr UINT RB_GETBARHEIGHT = WM_USER + 27;
constexpr UINT RBBIM_STYLE = 0x1;
constexpr UINT RBBIM_COLORS = 0x2;
constexpr UINT RBBIM_TEXT = 0x4;
constexpr UINT RBBIM_CHILD = 0x10;
constexpr UINT RBBIM_CHILDSIZE = 0x20;
constexpr UINT RBBIM_SIZE = 0x40;
constexpr UINT RBBIM_BACKGROUND = 0x80;
constexpr UINT RBBS_FIXEDBMP = 0x20;
constexpr UINT RBBS_CHILDEDGE = 0x4;
constexpr UINT RBBS_USECHEVRON = 0x200;
// The classic 32-bit sizes of the records below, accepted as well as ours.
constexpr UINT kRebarInfoSize32 = 12;
constexpr UINT kRebarBandInfoSize32 = 80;

struct REBARINFO {
    UINT cbSize;
    UINT fMask;
    HIMAGELIST himl;
};

struct REBARBANDINFOA {
    UINT cbSize;
    UINT fMask;
    UINT fStyle;
    COLORREF clrFore;
    COLORREF clrBack;
    char* lpText;
    UINT cch;
    int iImage;
    HWND hwndChild;
    UINT cxMinChild;
    UINT cyMinChild;
    UINT cx;
    HBITMAP hbmBack;
    UINT wID;
    UINT cyChild;
    UINT cyMaxChild;
    UINT cyIntegral;
    UINT cxIdeal;
    LPARAM lParam;
    UINT cxHeader;
};

// --- Toolbars --------------------------------------------------------------------
constexpr UINT TB_ADDBUTTONSA = WM_USER + 20;
constexpr UINT TB_GETBUTTON = WM_USER + 23;
constexpr UINT TB_BUTTONCOUNT = WM_USER + 24;
constexpr UINT TB_BUTTONSTRUCTSIZE = WM_USER + 30;
constexpr UINT TB_AUTOSIZE = WM_USER + 33;
constexpr UINT TB_GETBUTTONTEXTA = WM_USER + 45;
constexpr UINT TB_SETIMAGELIST = WM_USER + 48;
constexpr UINT TB_GETIMAGELIST = WM_USER + 49;
constexpr UINT TB_SETHOTIMAGELIST = WM_USER + 52;
constexpr UINT TB_SETEXTENDEDSTYLE = WM_USER + 84;
constexpr UINT TB_GETEXTENDEDSTYLE = WM_USER + 85;
constexpr UINT CCM_SETVERSION = 0x2007;
constexpr UINT CCM_GETVERSION = 0x2008;
constexpr uint8_t TBSTATE_ENABLED = 0x4;
constexpr uint8_t BTNS_SEP = 0x1;
constexpr uint8_t BTNS_AUTOSIZE = 0x10;
constexpr uint8_t BTNS_SHOWTEXT = 0x40;
constexpr UINT kToolbarButtonSize32 = 20;

struct TBBUTTON {
    int iBitmap;
    int idCommand;
    uint8_t fsState;
    uint8_t fsStyle;
    uint8_t bReserved[6];
    uintptr_t dwData;
    intptr_t iString;
};

// --- Status bars -----------------------------------------------------------------
constexpr DWORD SBARS_SIZEGRIP = 0x100;
constexpr UINT SB_SETTEXTA = WM_USER + 1;
constexpr UINT SB_GETTEXTA = WM_USER + 2;
constexpr UINT SB_GETTEXTLENGTHA = WM_USER + 3;
constexpr UINT SB_SETPARTS = WM_USER + 4;
constexpr UINT SB_GETPARTS = WM_USER + 6;

// --- Trackbars -------------------------------------------------------------------
constexpr DWORD TBS_AUTOTICKS = 0x1;
constexpr DWORD TBS_VERT = 0x2;
constexpr DWORD TBS_ENABLESELRANGE = 0x20;
constexpr UINT TBM_GETPOS = WM_USER;
constexpr UINT TBM_GETRANGEMIN = WM_USER + 1;
constexpr UINT TBM_GETRANGEMAX = WM_USER + 2;
constexpr UINT TBM_SETPOS = WM_USER + 5;
constexpr UINT TBM_SETRANGE = WM_USER + 6;
constexpr UINT TBM_SETTICFREQ = WM_USER + 20;
constexpr UINT TBM_SETPAGESIZE = WM_USER + 21;
constexpr UINT TBM_GETPAGESIZE = WM_USER + 22;
constexpr UINT TBM_GETTICFREQ = WM_USER + 99; // ours: the platform has no reader for it
constexpr UINT TB_LINEUP = 0;
constexpr UINT TB_LINEDOWN = 1;
constexpr UINT TB_PAGEUP = 2;
constexpr UINT TB_PAGEDOWN = 3;
constexpr UINT TB_THUMBPOSITION = 4;
constexpr UINT TB_THUMBTRACK = 5;
constexpr UINT TB_TOP = 6;
constexpr UINT TB_BOTTOM = 7;
constexpr UINT TB_ENDTRACK = 8;

// --- Progress bars ---------------------------------------------------------------
constexpr UINT PBM_SETRANGE = WM_USER + 1;
constexpr UINT PBM_SETPOS = WM_USER + 2;
constexpr UINT PBM_DELTAPOS = WM_USER + 3;
constexpr UINT PBM_SETSTEP = WM_USER + 4;
constexpr UINT PBM_STEPIT = WM_USER + 5;
constexpr UINT PBM_GETRANGE = WM_USER + 7;
constexpr UINT PBM_GETPOS = WM_USER + 8;

// --- Scroll bars ("SCROLLBAR") ----------------------------------------------------
constexpr DWORD SBS_HORZ = 0x0000;
constexpr DWORD SBS_VERT = 0x0001;
constexpr UINT SBM_SETPOS = 0x00E0;
constexpr UINT SBM_GETPOS = 0x00E1;
constexpr UINT SBM_SETSCROLLINFO = 0x00E9;
constexpr UINT SBM_GETSCROLLINFO = 0x00EA;
constexpr UINT SIF_RANGE = 0x0001;
constexpr UINT SIF_PAGE = 0x0002;
constexpr UINT SIF_POS = 0x0004;
constexpr UINT SIF_TRACKPOS = 0x0010;
constexpr UINT SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
// WM_HSCROLL / WM_VSCROLL request codes (low word of wParam).
constexpr UINT SB_LINEUP = 0;
constexpr UINT SB_LINEDOWN = 1;
constexpr UINT SB_PAGEUP = 2;
constexpr UINT SB_PAGEDOWN = 3;
constexpr UINT SB_THUMBPOSITION = 4;
constexpr UINT SB_THUMBTRACK = 5;
constexpr UINT SB_TOP = 6;
constexpr UINT SB_BOTTOM = 7;
constexpr UINT SB_ENDSCROLL = 8;

struct SCROLLINFO {
    UINT cbSize;
    UINT fMask;
    int nMin;
    int nMax;
    UINT nPage;
    int nPos;
    int nTrackPos;
};
