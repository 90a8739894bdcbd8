// The control base: names, attaching by id, the control table, routing to
// the owning context and the arrange handler.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform.h"
#include "WControl.h"
#include "WException.h"
#include "WSystem.h"

namespace {

const int g_offscreen = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 0);

// A stand-in native control class: keeps its text, counts presses.
int g_presses = 0;
LRESULT buttonProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_LBUTTONDOWN) g_presses++;
    return wplat::defWindowProc(w, m, wp, lp);
}

struct Owner : WWindowContext {
    explicit Owner(HWND h) { window = h; }
    std::vector<std::string> calls;
    bool takeTab = false;
    bool takeKeys = false;
    bool setFocusNextControl(WControl& c, bool forward) override
    {
        calls.push_back(std::string("next ") + c.getName() + (forward ? " return" : " tab"));
        return takeTab;
    }
    bool onControlKeyPressed(WControl&, int key) override
    {
        calls.push_back("key " + std::to_string(key));
        return takeKeys;
    }
    bool onControlMessage(WControl&, unsigned long message, unsigned long, unsigned long) override
    {
        if (message == WM_USER) calls.push_back("message");
        return false;
    }
};

struct Trimmed : WControl {
    using WControl::WControl;
    bool formatText(WString& text) const override
    {
        text = "formatted";
        return true;
    }
    bool isTextControl() const override { return textual; }
    bool textual = true;
};

struct Arranger : WWindow::EventHandler {
    std::vector<std::string> calls;
    void onWindowMouseLeftDown(int x, int y, void* extra) override
    {
        calls.push_back("down " + std::to_string(x) + "," + std::to_string(y) + (extra ? " control" : ""));
    }
    void onWindowUserMessage(void* a, void*) override { calls.push_back("paint " + std::to_string((uintptr_t)a)); }
};

class Control : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WSystem::startup("ZvControlTest", nullptr, nullptr, (char*)"", 1);
        wplat::WindowClass cls;
        cls.name = "TESTBUTTON";
        cls.proc = buttonProc;
        wplat::registerClass(cls);
    }
    void SetUp() override
    {
        dialog = wplat::createWindowEx(
            0, "ZvControlTest", "dialog", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200, nullptr, nullptr, nullptr, nullptr);
        item = wplat::createWindowEx(0, "TESTBUTTON", "item", WS_CHILD | WS_VISIBLE, 20, 30, 80, 24, dialog,
            (HMENU)(intptr_t)1001, nullptr, nullptr);
        g_presses = 0;
    }
    void TearDown() override { wplat::destroyWindow(dialog); }

    HWND dialog = nullptr;
    HWND item = nullptr;
};

TEST_F(Control, NameIdsFollowTheNumberSignPattern)
{
    struct Case {
        const char* name;
        unsigned long id;
    } cases[] = {{"#42", 42}, {"#x", 0}, {"42", 0}, {"#", 0}, {"#7a", 7}, {"#42abc", 42}, {"#1001 Start", 1001},
        {"#42 ", 42}, {"", 0}, {"# 5", 5}};
    Owner owner(dialog);
    for (const Case& c : cases) {
        WControl control(&owner, c.name, WWindowStyle("TESTBUTTON", WS_CHILD, 0), 0, 0, 10, 10);
        EXPECT_EQ(control.getNameId(), c.id) << c.name;
        EXPECT_EQ(control.getControlId(), 0u);
    }
}

TEST_F(Control, AttachingByIdRegistersAndSubclasses)
{
    Owner owner(dialog);
    WControl control(&owner, "ok", 1001);
    EXPECT_EQ(control.getWindowHandle(), item);
    EXPECT_EQ(control.getControlId(), 1001u);
    EXPECT_EQ(WControlManager::getControl(item), &control);
    EXPECT_EQ((WControl*)wplat::getWindowLongPtr(item, GWLP_USERDATA), &control);
    EXPECT_EQ(control.getPrevWndProc(), (WNDPROC)buttonProc);
    control.create(&owner, "again", 1001);
    EXPECT_STREQ(control.getName(), "ok");
    // A second control on the same item is refused.
    EXPECT_THROW(WControl(&owner, "twice", 1001), WControlException);
}

TEST_F(Control, UnknownIdThrowsWithTheName)
{
    Owner owner(dialog);
    try {
        WControl control(&owner, "missing", 999);
        FAIL();
    } catch (const WControlException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot create GUI control missing");
        EXPECT_EQ(e.getId(), -1);
    }
}

TEST_F(Control, DeletingAnAttachedWrapperGivesTheItemBack)
{
    Owner owner(dialog);
    {
        WControl control(&owner, "first", 1001);
    }
    EXPECT_TRUE(wplat::isWindow(item));
    EXPECT_EQ(WControlManager::getControl(item), nullptr);
    EXPECT_EQ((WNDPROC)wplat::getWindowLongPtr(item, GWLP_WNDPROC), (WNDPROC)buttonProc);
    WControl again(&owner, "second", 1001);
    EXPECT_EQ(WControlManager::getControl(item), &again);
}

TEST_F(Control, AnItemWithIdZeroOutlivesItsWrapper)
{
    HWND zero = wplat::createWindowEx(
        0, "TESTBUTTON", "zero", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, dialog, (HMENU)(intptr_t)0, nullptr, nullptr);
    // Id 0 finds the first item with that id: this one, created after `item`.
    ASSERT_EQ(wplat::getDlgItem(dialog, 0), zero);
    Owner owner(dialog);
    {
        WControl control(&owner, "zero", 0);
        EXPECT_EQ(control.getWindowHandle(), zero);
    }
    EXPECT_TRUE(wplat::isWindow(zero));
    EXPECT_EQ((WNDPROC)wplat::getWindowLongPtr(zero, GWLP_WNDPROC), (WNDPROC)buttonProc);
    WControl copy;
    {
        WControl control(&owner, "zero", 0);
        copy = control;
    }
    EXPECT_TRUE(wplat::isWindow(zero));
}

TEST_F(Control, CreatedControlsCarryTabStopAndDieWithTheirWindow)
{
    Owner owner(dialog);
    WControl control(&owner, "made", WWindowStyle("TESTBUTTON", WS_CHILD, 0), 5, 6, 50, 20);
    HWND h = control.getWindowHandle();
    EXPECT_NE(wplat::getWindowLongPtr(h, GWL_STYLE) & WS_TABSTOP, 0);
    control.create(&owner, "other", WWindowStyle("TESTBUTTON", WS_CHILD, 0), 5, 6, 50, 20);
    EXPECT_EQ(control.getWindowHandle(), h);
    control.setClientEdge(true);
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);
    control.setClientEdge(false);
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    control.destroy();
    EXPECT_FALSE(wplat::isWindow(h));
    EXPECT_EQ(WControlManager::getControl(h), nullptr);
    EXPECT_STREQ(control.getName(), "made");
}

TEST_F(Control, DestroyingTheParentEmptiesTheTable)
{
    Owner owner(dialog);
    WControl control(&owner, "made", WWindowStyle("TESTBUTTON", WS_CHILD, 0), 5, 6, 50, 20);
    HWND h = control.getWindowHandle();
    wplat::destroyWindow(dialog);
    EXPECT_EQ(WControlManager::getControl(h), nullptr);
    control.destroy();
}

TEST_F(Control, KeysAndTabsGoToTheOwningContext)
{
    Owner owner(dialog);
    WControl control(&owner, "keys", 1001);
    wplat::sendMessage(item, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(wplat::sendMessage(item, WM_CHAR, VK_TAB, 0), 0);
    owner.takeTab = true;
    owner.takeKeys = true;
    EXPECT_EQ(wplat::sendMessage(item, WM_CHAR, VK_RETURN, 0), 1);
    EXPECT_EQ(wplat::sendMessage(item, WM_KEYDOWN, 'B', 0), 1);
    MSG tab {item, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_EQ(wplat::sendMessage(item, WM_GETDLGCODE, VK_TAB, (LPARAM)&tab), DLGC_WANTALLKEYS);
    wplat::sendMessage(item, WM_USER, 0, 0);
    EXPECT_EQ((std::vector<std::string> {
                  "key 65", "next keys tab", "next keys return", "key 66", "next keys tab", "message"}),
        owner.calls);
}

TEST_F(Control, ArrangeHandlerTakesClicksInParentCoordinates)
{
    Owner owner(dialog);
    WControl control(&owner, "arrange", 1001);
    Arranger arranger;
    control.setArangeHandler(&arranger);
    wplat::sendMessage(item, WM_LBUTTONDOWN, 0, MAKELPARAM(3, 4));
    EXPECT_EQ(g_presses, 0);
    ASSERT_EQ(arranger.calls.size(), 1u);
    EXPECT_EQ(arranger.calls[0], "down 23,34 control");
    wplat::sendMessage(item, WM_PAINT, 0, 0);
    EXPECT_EQ(arranger.calls.back(), "paint 1");
    control.setArangeHandler(nullptr);
    wplat::sendMessage(item, WM_LBUTTONDOWN, 0, MAKELPARAM(3, 4));
    EXPECT_EQ(g_presses, 1);
}

TEST_F(Control, LeavingATextControlFormatsItsText)
{
    Owner owner(dialog);
    Trimmed control(&owner, "text", 1001);
    wplat::setWindowText(item, "typed");
    wplat::sendMessage(item, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(wplat::getWindowText(item), "formatted");
    wplat::setWindowText(item, "typed");
    control.textual = false;
    wplat::sendMessage(item, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(wplat::getWindowText(item), "typed");
}

} // namespace
