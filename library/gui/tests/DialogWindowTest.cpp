// Dialogs made from templates: creation with their items, the dialog-window
// registry, modal results, closing, and the tiled background the dialog
// manager erases with.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlTestSupport.h"
#include "WDialog.h"
#include "WException.h"

using namespace controltest;

namespace {

const wplat::DialogItemTemplate kItems[] = {
    {"STATIC", "Label", 1001, 7, 7, 60, 10, WS_CHILD | WS_VISIBLE, 0},
    {"BUTTON", "OK", IDOK, 7, 40, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
    {"BUTTON", "Cancel", IDCANCEL, 60, 40, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0},
};
const wplat::DialogTemplate kTemplate {
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 0, 120, 60, "Test dialog", "MS Shell Dlg", 8, kItems, 3};
constexpr int kDialogId = 4711;

struct Recording : WDialog {
    Recording() : WDialog(nullptr, kDialogId) { }
    std::vector<std::string> calls;
    int closeWith = 5;
    void onDialogCreate() override
    {
        calls.push_back("create");
        HWND label = wplat::getDlgItem(getWindowHandle(), 1001);
        calls.push_back(label != nullptr ? "label " + wplat::getWindowText(label) : "no label");
    }
    void onDialogClose() override
    {
        calls.push_back("close");
        close(closeWith);
    }
};

class DialogWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        startUp("ZvDialogWindowTest");
        wplat::registerDialogTemplate(kDialogId, &kTemplate);
    }
};

TEST_F(DialogWindow, NonModalDialogsAreRegisteredWhileTheyExist)
{
    Recording dialog;
    EXPECT_EQ(dialog.show(false), 1);
    HWND h = dialog.getWindowHandle();
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(dialog.isModal());
    EXPECT_EQ(dialog.calls, (std::vector<std::string> {"create", "label Label"}));
    EXPECT_TRUE(WSystem::isDialogWindow(h));
    EXPECT_TRUE(dialog.isDialogWindow());
    // The close box asks the handler; it closes with its result.
    wplat::sendMessage(h, WM_CLOSE, 0, 0);
    EXPECT_EQ(dialog.calls.back(), "close");
    EXPECT_FALSE(wplat::isWindow(h));
    EXPECT_FALSE(WSystem::isDialogWindow(h));
    EXPECT_EQ(dialog.getWindowHandle(), nullptr);
}

TEST_F(DialogWindow, ModalDialogsReturnTheirResult)
{
    struct Case {
        const char* what;
        int button;
        int expected;
    } cases[] = {{"closed by its handler", 0, 9}, {"ended with a result", -1, 42}};
    for (const Case& c : cases) {
        Recording dialog;
        dialog.closeWith = 9;
        // A posted message ends the modal loop from inside it.
        struct Poster {
            static LRESULT proc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return wplat::defWindowProc(w, m, wp, lp); }
        };
        wplat::WindowClass cls;
        if (!wplat::getClassInfo("ZvDialogPoker", cls)) {
            cls.name = "ZvDialogPoker";
            cls.proc = Poster::proc;
            wplat::registerClass(cls);
        }
        static Recording* s_dialog;
        static int s_button;
        s_dialog = &dialog;
        s_button = c.button;
        HWND timerWindow
            = wplat::createWindowEx(0, "ZvDialogPoker", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        wplat::setTimer(timerWindow, 1, 10);
        wplat::setWindowLongPtr(
            timerWindow, GWLP_WNDPROC, (LONG_PTR) + [](HWND w, UINT m, WPARAM wp, LPARAM lp) {
                if (m == WM_TIMER) {
                    wplat::killTimer(w, 1);
                    HWND d = s_dialog->getWindowHandle();
                    if (s_button == 0)
                        wplat::sendMessage(d, WM_CLOSE, 0, 0);
                    else
                        s_dialog->close(42);
                    return (LRESULT)0;
                }
                return wplat::defWindowProc(w, m, wp, lp);
            });
        EXPECT_EQ(dialog.show(true), c.expected) << c.what;
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(dialog.getWindowHandle(), nullptr);
        wplat::destroyWindow(timerWindow);
    }
}

TEST_F(DialogWindow, AMissingTemplateThrows)
{
    struct Missing : WDialog {
        Missing() : WDialog(nullptr, 999) { }
        void onDialogCreate() override { }
        void onDialogClose() override { }
    } dialog;
    try {
        dialog.show(false);
        FAIL();
    } catch (const WDialogException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot create non modal dialog.");
    }
    EXPECT_THROW(dialog.show(true), WDialogException);
}

TEST_F(DialogWindow, TheTiledBackgroundShowsBehindTheDialogAndItsLabels)
{
    Recording dialog;
    HBITMAP tile = tileBitmap(0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00);
    dialog.setBackgroundBitmap(tile, WPanel::BKMODE_TILED, true);
    wplat::deleteObject(wplat::toObject(tile));
    dialog.show(false);
    HWND h = dialog.getWindowHandle();
    wplat::showWindow(h, SW_SHOW);
    auto tileAt = [](int x, int y) {
        static const uint32_t colours[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFF00}};
        return colours[y % 2][x % 2];
    };
    std::vector<uint32_t> pixels = paintNow(h);
    RECT client;
    wplat::getClientRect(h, client);
    ASSERT_EQ(pixels.size(), (size_t)(client.right * client.bottom));
    // A corner away from the items shows the tiles exactly.
    for (int y = client.bottom - 4; y < client.bottom; y++)
        for (int x = client.right - 4; x < client.right; x++)
            EXPECT_EQ(pixels[(size_t)(y * client.right + x)], tileAt(x, y)) << x << "," << y;
    // The label's background continues the dialog's pattern.
    HWND label = wplat::getDlgItem(h, 1001);
    std::vector<uint32_t> labelPixels = paintNow(label);
    RECT labelArea;
    wplat::getWindowRect(label, labelArea);
    POINT at {labelArea.left, labelArea.top};
    wplat::screenToClient(h, at);
    RECT labelClient;
    wplat::getClientRect(label, labelClient);
    int x = labelClient.right - 1, y = labelClient.bottom - 1;
    EXPECT_EQ(labelPixels[(size_t)(y * labelClient.right + x)], tileAt(at.x + x, at.y + y));
    dialog.close(0);
}

} // namespace
