#pragma once

// What the control tests share: a parent window that records the
// notifications its children send, and an owning context over it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

#include "ControlTypes.h"
#include "Controls.h"
#include "Platform.h"
#include "WControl.h"
#include "WSystem.h"

namespace controltest {

struct Note {
    UINT message;
    unsigned id;
    UINT code;
    HWND from;
    CHARRANGE range;
    WPARAM wParam;
};

inline std::vector<Note>& notes()
{
    static std::vector<Note> all;
    return all;
}

inline LRESULT recorderProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_COMMAND) {
        notes().push_back(Note {m, LOWORD(wp), HIWORD(wp), (HWND)lp, {0, 0}, wp});
        return 0;
    }
    if (m == WM_NOTIFY) {
        const NMHDR* h = (const NMHDR*)lp;
        Note n {m, (unsigned)h->idFrom, h->code, h->hwndFrom, {0, 0}, wp};
        if (h->code == EN_LINK) n.range = ((const ENLINK*)lp)->chrg;
        if (h->code == LVN_ITEMCHANGED)
            n.range = CHARRANGE {((const NMLISTVIEW*)lp)->iItem, (int32_t)((const NMLISTVIEW*)lp)->uNewState};
        notes().push_back(n);
        return 0;
    }
    if (m == WM_HSCROLL || m == WM_VSCROLL) {
        notes().push_back(Note {m, 0, LOWORD(wp), (HWND)lp, {(int32_t)HIWORD(wp), 0}, wp});
        return 0;
    }
    return wplat::defWindowProc(w, m, wp, lp);
}

// Starts the library with the user interface on the offscreen platform.
inline void startUp(const char* title)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    WSystem::startup(title, nullptr, nullptr, (char*)"", 1);
    wplat::registerControlClasses();
    wplat::WindowClass cls;
    cls.name = "ZvRecorder";
    cls.proc = recorderProc;
    wplat::registerClass(cls);
}

inline HWND makeParent()
{
    notes().clear();
    return wplat::createWindowEx(0, "ZvRecorder", "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400, 300, nullptr,
        nullptr, nullptr, nullptr);
}

// A native child made the way a dialog makes its items.
inline HWND makeItem(HWND parent, const char* cls, DWORD style, int id, const char* text = "")
{
    return wplat::createWindowEx(
        0, cls, text, WS_CHILD | WS_VISIBLE | style, 10, 10, 120, 24, parent, (HMENU)(intptr_t)id, nullptr, nullptr);
}

struct Owner : WWindowContext {
    explicit Owner(HWND h) { window = h; }
};

// Tests of controls made on a recording parent, owned through `owner`.
class OwnedControlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent = makeParent();
        ASSERT_NE(parent, nullptr);
        owner = std::make_unique<Owner>(parent);
    }
    void TearDown() override
    {
        owner.reset();
        wplat::destroyWindow(parent);
    }

    HWND parent = nullptr;
    std::unique_ptr<Owner> owner;
};

inline void click(HWND w, int x = 5, int y = 5)
{
    wplat::sendMessage(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    wplat::sendMessage(w, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

inline std::vector<Note> notesOf(UINT message)
{
    std::vector<Note> out;
    for (const Note& n : notes()) {
        if (n.message == message) out.push_back(n);
    }
    return out;
}

// Paints the window now and returns what it shows (empty without a view).
inline std::vector<uint32_t> paintNow(HWND w)
{
    wplat::invalidateRect(w, nullptr, true);
    wplat::updateWindow(w);
    const wplat::PixelImage* image = wplat::getBackingImage(w);
    std::vector<uint32_t> pixels;
    if (image == nullptr) return pixels;
    for (int y = 0; y < image->height(); y++) {
        for (int x = 0; x < image->width(); x++)
            pixels.push_back(image->data()[y * image->stride() + x] & 0xFFFFFF);
    }
    return pixels;
}

inline size_t colourCount(const std::vector<uint32_t>& pixels)
{
    return std::set<uint32_t>(pixels.begin(), pixels.end()).size();
}

// Height of a text line on the window's own context.
inline int textHeightOn(HWND w)
{
    HDC dc = wplat::getDC(w);
    TEXTMETRIC tm {};
    wplat::getTextMetrics(dc, tm);
    wplat::releaseDC(w, dc);
    return tm.tmHeight;
}

// A 2x2 bitmap for tiling, its pixels given row by row (0xRRGGBB).
inline HBITMAP tileBitmap(uint32_t topLeft, uint32_t topRight, uint32_t bottomLeft, uint32_t bottomRight)
{
    HBITMAP b = wplat::createBitmap(2, 2);
    wplat::PixelImage* image = wplat::getBitmapImage(b);
    image->setPixel(0, 0, topLeft);
    image->setPixel(1, 0, topRight);
    image->setPixel(0, 1, bottomLeft);
    image->setPixel(1, 1, bottomRight);
    return b;
}

} // namespace controltest
