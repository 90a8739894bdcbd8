#include "Resources.h"

#include "Platform.h"
#include "WResources.h"
#include "ZorvaneVersion.h"

namespace {

constexpr DWORD ES_AUTOHSCROLL = 0x0080u;
constexpr DWORD BS_PUSHBUTTON = 0x0000u;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003u;
constexpr DWORD SS_LEFT = 0x0000u;

constexpr DWORD EDIT_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD CHECK_STYLE = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD LABEL_STYLE = WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP;

// Template order is the keyboard order.
const wplat::DialogItemTemplate g_mainItems[] = {
    {"EDIT", "", 1002, 7, 18, 102, 14, EDIT_STYLE, 0},
    {"EDIT", "", 1003, 115, 18, 40, 14, EDIT_STYLE, 0},
    {"EDIT", "", 1004, 7, 50, 215, 14, EDIT_STYLE, 0},
    {"BUTTON", "...", 1010, 225, 50, 30, 14, BUTTON_STYLE, 0},
    {"BUTTON", "Start automatically when System starts up (no NT-Service!)", 1009, 8, 73, 206, 10, CHECK_STYLE, 0},
    {"BUTTON", "Start", 1001, 7, 104, 50, 14, BUTTON_STYLE, 0},
    {"BUTTON", "Stop", 1008, 62, 104, 50, 14, BUTTON_STYLE, 0},
    {"STATIC", "Webserver Host / IP", -1, 7, 7, 66, 8, LABEL_STYLE, 0},
    {"STATIC", "Port", -1, 115, 7, 14, 8, LABEL_STYLE, 0},
    // As wide as the host label: the dialog face here is a little wider than
    // the one the layout was made with, and 50 units would wrap the text away.
    {"STATIC", "Document Path", -1, 7, 39, 66, 8, LABEL_STYLE, 0},
    {"STATIC", "", 1007, 7, 90, 248, 8, LABEL_STYLE, 0},
};

// Starts hidden: the program shows it unless started with -autostart.
const wplat::DialogTemplate g_mainDialog = {
    DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SHELLFONT,
    0,
    0,
    0,
    262,
    126,
    "Zorvane 0.9",
    "MS Shell Dlg",
    8,
    g_mainItems,
    (int)(sizeof g_mainItems / sizeof g_mainItems[0]),
};

const WStringResource g_strings[] = {
    {res::IDS_TITLE, ZORVANE_WITH_PHP},
};

} // namespace

namespace res {

void registerResources()
{
    static bool done = false;
    if (done) return;
    done = true;
    wplat::registerDialogTemplate((int)DIALOG_MAIN, &g_mainDialog);
    WResources::registerStrings(g_strings, sizeof g_strings / sizeof g_strings[0]);
}

const char* text(unsigned long id)
{
    const char* found = WResources::findString(id);
    return found != nullptr ? found : "";
}

} // namespace res
