// The dialog manager and the menu model.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform.h"

using namespace wplat;

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

std::vector<std::string> g_log;

LRESULT editProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_GETDLGCODE) return DLGC_HASSETSEL;
    if (m == EM_SETSEL) g_log.push_back("select " + std::to_string(getDlgCtrlID(w)));
    if (m == WM_CHAR) g_log.push_back("char " + std::to_string(wp));
    return defWindowProc(w, m, wp, lp);
}

const DialogItemTemplate g_items[] = {
    {"TEDIT", "", 1002, 7, 18, 102, 14, WS_TABSTOP | WS_VISIBLE, 0},
    {"TEDIT", "", 1003, 115, 18, 40, 14, WS_TABSTOP | WS_VISIBLE, 0},
    {"TEDIT", "Start", 1001, 7, 104, 50, 14, WS_TABSTOP | WS_VISIBLE, 0},
    {"TEDIT", "Port", -1, 115, 7, 14, 8, WS_GROUP | WS_VISIBLE, 0},
};
const DialogTemplate g_template = {DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SHELLFONT, 0, 0, 0, 262,
    126, "Test 0.9", "MS Shell Dlg", 8, g_items, 4};

intptr_t g_endWith = 0;

LRESULT dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        // The items exist before the dialog hears of itself.
        g_log.push_back(getDlgItem(dialog, 1003) != nullptr ? "init with items" : "init without items");
        g_log.push_back("param " + std::to_string(lParam));
        if (g_endWith != 0) postMessage(dialog, WM_APP, 0, 0);
        return 1;
    case WM_COMMAND:
        g_log.push_back("command " + std::to_string(LOWORD(wParam)));
        return 1;
    case WM_APP:
        endDialog(dialog, g_endWith);
        return 1;
    default:
        return 0;
    }
}

class Dialog : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(startUi(), UiStart::NoDisplay);
        WindowClass cls;
        cls.name = "TEDIT";
        cls.proc = editProc;
        registerClass(cls);
        registerDialogTemplate(101, &g_template);
    }
    void SetUp() override
    {
        g_log.clear();
        g_endWith = 0;
    }
    static void key(HWND dialog, int vk, bool shift = false)
    {
        MSG msg {getFocus(), WM_KEYDOWN, (WPARAM)vk, 1, 0, {0, 0}};
        if (shift) currentQueueShift(true);
        isDialogMessage(dialog, msg);
        if (shift) currentQueueShift(false);
    }
    static void currentQueueShift(bool down)
    {
        // Key state follows the messages taken from the queue.
        postMessage(nullptr, down ? WM_KEYDOWN : WM_KEYUP, VK_SHIFT, 1);
        MSG msg;
        peekMessage(msg, nullptr, Peek::Remove);
    }
};

TEST_F(Dialog, TemplatesBecomePixelsThroughTheDialogFont)
{
    HWND dialog = createDialogParam(nullptr, 101, nullptr, dialogProc, 77);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ((std::vector<std::string> {"init with items", "param 77", "select 1002"}), g_log);
    RECT client;
    getClientRect(dialog, client);
    EXPECT_EQ(client.right, 393);
    EXPECT_EQ(client.bottom, 205);
    RECT item, origin;
    getWindowRect(getDlgItem(dialog, 1002), item);
    getWindowRect(dialog, origin);
    EXPECT_EQ(item.left - origin.left, 11);
    EXPECT_EQ(item.top - origin.top, 29);
    EXPECT_EQ(item.right - item.left, 153);
    EXPECT_EQ(item.bottom - item.top, 23);
    RECT units {0, 0, 4, 8};
    ASSERT_TRUE(mapDialogRect(dialog, units));
    EXPECT_EQ(units.right, 6);
    EXPECT_EQ(units.bottom, 13);
    EXPECT_EQ(getWindowText(dialog), "Test 0.9");
    EXPECT_FALSE(isWindowVisible(dialog));
    EXPECT_EQ(createDialogParam(nullptr, 999, nullptr, dialogProc, 0), nullptr);
    destroyWindow(dialog);
}

TEST_F(Dialog, KeysNavigateTheTabStopsAndPressTheButtons)
{
    HWND dialog = createDialogParam(nullptr, 101, nullptr, dialogProc, 0);
    showWindow(dialog, SW_SHOW);
    EXPECT_EQ(getDlgCtrlID(getFocus()), 1002);
    g_log.clear();
    key(dialog, VK_TAB);
    EXPECT_EQ(getDlgCtrlID(getFocus()), 1003);
    key(dialog, VK_TAB);
    EXPECT_EQ(getDlgCtrlID(getFocus()), 1001);
    key(dialog, VK_TAB);
    EXPECT_EQ(getDlgCtrlID(getFocus()), 1002);
    key(dialog, VK_TAB, true);
    EXPECT_EQ(getDlgCtrlID(getFocus()), 1001);
    key(dialog, VK_RETURN);
    key(dialog, VK_ESCAPE);
    EXPECT_EQ((std::vector<std::string> {
                  "select 1003", "select 1001", "select 1002", "select 1001", "command 1", "command 2"}),
        g_log);
    // Other keys reach the focused item as characters.
    g_log.clear();
    MSG msg {getFocus(), WM_KEYDOWN, 'A', (LPARAM)(((uint64_t)'a' << 32) | 1), 0, {0, 0}};
    EXPECT_TRUE(isDialogMessage(dialog, msg));
    ASSERT_TRUE(peekMessage(msg, nullptr, Peek::Remove));
    EXPECT_EQ(msg.message, (UINT)WM_CHAR);
    EXPECT_TRUE(isDialogMessage(dialog, msg));
    EXPECT_EQ((std::vector<std::string> {"char 97"}), g_log);
    // Closing asks for IDCANCEL.
    g_log.clear();
    sendMessage(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(peekMessage(msg, nullptr, Peek::Remove));
    dispatchMessage(msg);
    EXPECT_EQ((std::vector<std::string> {"command 2"}), g_log);
    destroyWindow(dialog);
}

TEST_F(Dialog, ModalDialogsRunTheirOwnLoopAndFreeTheOwner)
{
    WindowClass cls;
    cls.name = "TOWNER";
    cls.proc = defWindowProc;
    registerClass(cls);
    HWND owner
        = createWindowEx(0, "TOWNER", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr, nullptr, nullptr);
    g_endWith = 42;
    EXPECT_EQ(dialogBoxParam(nullptr, 101, owner, dialogProc, 0), 42);
    EXPECT_TRUE(isWindowEnabled(owner));
    EXPECT_EQ(dialogBoxParam(nullptr, 999, owner, dialogProc, 0), -1);
    // A quit message ends the modal loop and stays for the program's loop.
    g_endWith = 0;
    postQuitMessage(5);
    EXPECT_EQ(dialogBoxParam(nullptr, 101, owner, dialogProc, 0), 0);
    MSG msg;
    EXPECT_FALSE(getMessage(msg, nullptr));
    EXPECT_EQ(msg.wParam, 5u);
    destroyWindow(owner);
}

TEST(Menu, ItemsByCommandAndPosition)
{
    HMENU bar = createMenu();
    HMENU popup = createPopupMenu();
    ASSERT_TRUE(appendMenu(popup, MF_STRING, 1000, "Open"));
    ASSERT_TRUE(appendMenu(popup, MF_SEPARATOR, 0, nullptr));
    ASSERT_TRUE(appendMenu(popup, MF_STRING, 1099, "Exit"));
    ASSERT_TRUE(appendMenu(bar, MF_POPUP, (UINT_PTR)popup, "File"));
    EXPECT_EQ(getMenuItemCount(popup), 3);
    EXPECT_EQ(getSubMenu(bar, 0), popup);
    EXPECT_EQ(getMenuItemID(popup, 2), 1099u);
    EXPECT_EQ(getMenuString(bar, 1000, MF_BYCOMMAND), "Open");
    EXPECT_EQ(checkMenuItem(bar, 1000, MF_CHECKED), 0);
    EXPECT_EQ(getMenuState(popup, 1000, MF_BYCOMMAND) & MF_CHECKED, (UINT)MF_CHECKED);
    EXPECT_EQ(checkMenuItem(popup, 1000, MF_UNCHECKED), (int)MF_CHECKED);
    EXPECT_EQ(enableMenuItem(popup, 1099, MF_GRAYED), 0);
    EXPECT_EQ(getMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR, (UINT)MF_SEPARATOR);
    EXPECT_EQ(checkMenuItem(popup, 4711, MF_CHECKED), -1);
    EXPECT_TRUE(removeMenu(popup, 1000, MF_BYCOMMAND));
    EXPECT_EQ(getMenuItemCount(popup), 2);
    EXPECT_TRUE(destroyMenu(bar));
    EXPECT_FALSE(isMenu(popup));
    EXPECT_FALSE(appendMenu(bar, MF_STRING, 1, "x"));
    EXPECT_EQ(getMenuItemCount(bar), -1);
}

} // namespace

namespace {

LRESULT colouringProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    static HBRUSH yellow = createSolidBrush(RGB(255, 255, 0));
    if (message == WM_CTLCOLORSTATIC) {
        setTextColor((HDC)wParam, RGB(0, 0, 255));
        return (LRESULT)yellow;
    }
    (void)dialog;
    return message == WM_INITDIALOG ? 1 : 0;
}

TEST_F(Dialog, StaticTextIsPaintedInTheColoursTheDialogChooses)
{
    static const DialogItemTemplate items[] = {
        {"STATIC", "Webserver Host / IP", -1, 7, 7, 66, 8, WS_GROUP | WS_VISIBLE, 0},
    };
    static const DialogTemplate t = {WS_CAPTION | WS_VISIBLE, 0, 0, 0, 100, 40, "Labels", "MS Shell Dlg", 8, items, 1};
    HWND dialog = createDialogIndirectParam(nullptr, t, nullptr, colouringProc, 0);
    ASSERT_NE(dialog, nullptr);
    MSG msg;
    while (peekMessage(msg, nullptr, Peek::Remove))
        dispatchMessage(msg);
    HWND label = getWindow(dialog, GW_CHILD);
    PixelImage shown;
    ASSERT_TRUE(grabWindow(label, shown));
    EXPECT_EQ(shown.width(), 99);
    EXPECT_EQ(shown.height(), 13);
    int yellow = 0, blue = 0;
    for (int y = 0; y < shown.height(); y++) {
        for (int x = 0; x < shown.width(); x++) {
            uint32_t p = shown.pixel(x, y);
            yellow += p == 0xFFFF00u ? 1 : 0;
            blue += (p & 0xFF) > 0x80 && (p >> 16) < 0x80 ? 1 : 0;
        }
    }
    EXPECT_GT(yellow, 500);
    EXPECT_GT(blue, 20);
    destroyWindow(dialog);
}

} // namespace
