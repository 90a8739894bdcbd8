// List boxes, combo boxes (through their shared item interface) and the
// report list view: rows with their data, searching, selection,
// notifications, columns and sorting.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <cstdlib>
#include <unistd.h>

#include "ControlTestSupport.h"
#include "WControlList.h"
#include "WControlListView.h"

using namespace controltest;

namespace {

class ListControls : public OwnedControlsTest {
protected:
    static void SetUpTestSuite() { startUp("ZvListControlsTest"); }

    // Both kinds of list, through the interface alone.
    std::vector<std::unique_ptr<WControl>> bothLists()
    {
        std::vector<std::unique_ptr<WControl>> lists;
        lists.push_back(
            std::make_unique<WControlListBox>(owner.get(), "list", 5, 5, 150, 100, WControlListBox::STYLE_NOTIFY));
        lists.push_back(std::make_unique<WControlComboBox>(
            owner.get(), "combo", 5, 120, 150, 24, WControlComboBox::STYLE_DROPDOWNLIST));
        return lists;
    }
    static WControlListInterface& items(std::unique_ptr<WControl>& c)
    {
        return *dynamic_cast<WControlListInterface*>(c.get());
    }
};

TEST_F(ListControls, RowsTextsAndData)
{
    for (auto& control : bothLists()) {
        WControlListInterface& list = items(control);
        SCOPED_TRACE(control->getName());
        EXPECT_EQ(list.addItem("first", nullptr), 0u);
        EXPECT_EQ(list.getItemData(0), nullptr);
        int value = 7;
        EXPECT_EQ(list.addItem("second", &value), 1u);
        EXPECT_EQ(list.getItemData(1), &value);
        list.setItemText(1, "middle");
        EXPECT_EQ(list.getItemCount(), 3u);
        WString text;
        EXPECT_TRUE(list.getItemText(1, text));
        EXPECT_STREQ(text.getBuf(), "middle");
        EXPECT_TRUE(list.getItemText(2, text));
        EXPECT_STREQ(text.getBuf(), "second");
        EXPECT_EQ(list.getItemData(2), &value);
        // An index past the end leaves the string as it was.
        text = "unchanged";
        EXPECT_FALSE(list.getItemText(5, text));
        EXPECT_STREQ(text.getBuf(), "unchanged");
        list.setItemData(0, &value);
        EXPECT_EQ(list.getItemData(0), &value);
        list.removeItem(0);
        EXPECT_EQ(list.getItemCount(), 2u);
        EXPECT_TRUE(list.getItemText(0, text));
        EXPECT_STREQ(text.getBuf(), "middle");
        list.removeAll();
        EXPECT_EQ(list.getItemCount(), 0u);
    }
}

TEST_F(ListControls, SelectionThroughTheInterface)
{
    for (auto& control : bothLists()) {
        WControlListInterface& list = items(control);
        SCOPED_TRACE(control->getName());
        int a = 1, b = 2;
        list.addItem("alpha", &a);
        list.addItem("beta", &b);
        WString text("kept");
        EXPECT_EQ(list.getItemIdx(), (unsigned long)-1);
        EXPECT_FALSE(list.getItemText(text));
        EXPECT_STREQ(text.getBuf(), "kept");
        EXPECT_EQ(list.getItemData(), (void*)-1);
        list.selectItem(1);
        EXPECT_EQ(list.getItemIdx(), 1u);
        EXPECT_EQ(list.getItemData(), &b);
        EXPECT_TRUE(list.getItemText(text));
        EXPECT_STREQ(text.getBuf(), "beta");
        // Removing rows above keeps the same row selected.
        list.setItemText(0, "zero");
        EXPECT_EQ(list.getItemIdx(), 2u);
        list.selectItem((unsigned long)-1);
        EXPECT_EQ(list.getItemIdx(), (unsigned long)-1);
    }
}

TEST_F(ListControls, SearchIgnoresCaseAndStartsAfterTheFirstRow)
{
    for (auto& control : bothLists()) {
        WControlListInterface& list = items(control);
        SCOPED_TRACE(control->getName());
        for (const char* t : {"Apple", "pear", "PLUM", "apple"})
            list.addItem(t, nullptr);
        EXPECT_EQ(list.getItemIdx("plum"), 2u);
        EXPECT_EQ(list.getItemIdx("APPLE"), 3u);
        EXPECT_EQ(list.getItemIdx("pea"), (unsigned long)-1);
        list.removeItem(3);
        // The search wraps round to row 0.
        EXPECT_EQ(list.getItemIdx("apple"), 0u);
    }
}

TEST_F(ListControls, SortedListsInsertInOrder)
{
    WControlListBox list(owner.get(), "sorted", 5, 5, 150, 100, WControlListBox::STYLE_SORTED);
    EXPECT_EQ(list.addItem("delta", nullptr), 0u);
    EXPECT_EQ(list.addItem("Alpha", nullptr), 0u);
    EXPECT_EQ(list.addItem("charlie", nullptr), 1u);
    EXPECT_EQ(list.addItem("Bravo", nullptr), 1u);
    WString text;
    std::vector<std::string> rows;
    for (unsigned long i = 0; i < list.getItemCount(); i++) {
        list.getItemText(i, text);
        rows.push_back(text.getBuf());
    }
    EXPECT_EQ(rows, (std::vector<std::string> {"Alpha", "Bravo", "charlie", "delta"}));
    EXPECT_EQ(wplat::getWindowLongPtr(list.getWindowHandle(), GWL_STYLE),
        (LONG_PTR)(0x50210000 | WControlListBox::STYLE_SORTED));
    EXPECT_EQ(wplat::getWindowLongPtr(list.getWindowHandle(), GWL_EXSTYLE), (LONG_PTR)WS_EX_CLIENTEDGE);
}

TEST_F(ListControls, UserChoicesNotifyTheParent)
{
    HWND item = makeItem(parent, "LISTBOX", LBS_NOTIFY, 1005);
    WControlListBox list(owner.get(), "servers", 1005);
    list.addItem("one", nullptr);
    list.addItem("two", nullptr);
    list.addItem("three", nullptr);
    wplat::sendMessage(item, WM_KEYDOWN, VK_DOWN, 0);
    wplat::sendMessage(item, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(list.getItemIdx(), 1u);
    wplat::sendMessage(item, WM_CHAR, 't', 0);
    EXPECT_EQ(list.getItemIdx(), 2u);
    auto changes = notesOf(WM_COMMAND);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].id, 1005u);
    EXPECT_EQ(changes[0].code, LBN_SELCHANGE);
    // The program's own selection is not reported back.
    list.selectItem(0);
    EXPECT_EQ(notesOf(WM_COMMAND).size(), 3u);

    // A combo box shows its selected row as its text.
    HWND comboItem = makeItem(parent, "COMBOBOX", CBS_DROPDOWNLIST, 1006);
    WControlComboBox combo(owner.get(), "kinds", 1006);
    combo.addItem("PHP", nullptr);
    combo.addItem("CGI", nullptr);
    combo.selectItem(1);
    EXPECT_EQ(wplat::getWindowText(comboItem), "CGI");
    notes().clear();
    wplat::sendMessage(comboItem, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(combo.getItemIdx(), 0u);
    EXPECT_EQ(wplat::getWindowText(comboItem), "PHP");
    auto comboChanges = notesOf(WM_COMMAND);
    ASSERT_EQ(comboChanges.size(), 1u);
    EXPECT_EQ(comboChanges[0].id, 1006u);
    EXPECT_EQ(comboChanges[0].code, CBN_SELCHANGE);
}

TEST_F(ListControls, ListViewColumnsAndCells)
{
    WControlListView view(owner.get(), "view", 5, 5, 300, 200, WControlListView::STYLE_REPORT);
    HWND h = view.getWindowHandle();
    EXPECT_EQ(wplat::getWindowLongPtr(h, GWL_STYLE), (LONG_PTR)(0x50000000 + 0x800D + WS_TABSTOP));
    EXPECT_EQ(wplat::sendMessage(h, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), (LRESULT)LVS_EX_FULLROWSELECT);
    view.insertColumn(0, 120, "Name", false);
    view.insertColumn(1, 60, "Size", true);
    EXPECT_EQ(view.getColumnCount(), 2u);
    view.removeColumn(7);
    EXPECT_EQ(view.getColumnCount(), 2u);
    // A list view without a window inserts nothing and counts nothing.
    WControlListView empty;
    empty.insertColumn(0, 10, "x", false);
    EXPECT_EQ(empty.getColumnCount(), 0u);

    int data = 5;
    view.setDefaultImage(3);
    EXPECT_EQ(view.addItem(0, "index.php", &data), 0u);
    EXPECT_EQ(view.addItem(99, "style.css", nullptr), 1u);
    view.setItem(0, 1, "12 KB");
    WString text;
    EXPECT_TRUE(view.getItemText(0, 1, text));
    EXPECT_STREQ(text.getBuf(), "12 KB");
    EXPECT_TRUE(view.getItemText(1, 0, text));
    EXPECT_STREQ(text.getBuf(), "style.css");
    EXPECT_EQ(view.getItemData(0), &data);
    EXPECT_EQ(view.getItemData(9), nullptr);
    LVITEMA item {};
    item.mask = LVIF_IMAGE;
    item.iItem = 1;
    wplat::sendMessage(h, LVM_GETITEMA, 0, (LPARAM)&item);
    EXPECT_EQ(item.iImage, 3);
    view.setItemImage(1, 4);
    wplat::sendMessage(h, LVM_GETITEMA, 0, (LPARAM)&item);
    EXPECT_EQ(item.iImage, 4);

    // Long cells are cut to the string's capacity less one.
    view.setItem(1, 1, std::string(200, 'w').c_str());
    WString fresh;
    EXPECT_TRUE(view.getItemText(1, 1, fresh));
    EXPECT_EQ(fresh.length(), 127u);
    EXPECT_EQ(std::string(fresh.getBuf()), std::string(127, 'w'));
    view.removeColumn(0);
    EXPECT_EQ(view.getColumnCount(), 1u);
    EXPECT_TRUE(view.getItemText(0, 0, text));
    EXPECT_STREQ(text.getBuf(), "12 KB");
}

TEST_F(ListControls, ListViewFindSelectAndWalk)
{
    WControlListView view(owner.get(), "view", 5, 5, 300, 200, WControlListView::STYLE_REPORT);
    view.insertColumn(0, 120, "Name", false);
    int values[4] = {40, 10, 30, 20};
    const char* names[4] = {"d", "a", "c", "b"};
    for (int i = 0; i < 4; i++)
        view.addItem((unsigned long)i, names[i], &values[i]);
    EXPECT_EQ(view.getItemIdx(), (unsigned long)-1);
    EXPECT_FALSE(view.isSelected());
    EXPECT_EQ(view.getItemIdx("C", (unsigned long)-1), 2u);
    EXPECT_EQ(view.getItemIdx("d", 0), (unsigned long)-1);
    EXPECT_EQ(view.getItemIdx(&values[3], 1), 3u);
    EXPECT_EQ(view.getNextItemIdx(2), 3u);
    EXPECT_EQ(view.getNextItemIdx(3), (unsigned long)-1);
    EXPECT_EQ(view.getPrevItemIdx(0), (unsigned long)-1);
    EXPECT_EQ(view.getPrevItemIdx(2), 1u);

    notes().clear();
    view.selectItem(1);
    EXPECT_TRUE(view.isSelected(1));
    EXPECT_TRUE(view.isSelected());
    EXPECT_EQ(view.getItemIdx(), 1u);
    view.selectItem(2);
    // Single selection: the earlier row lost it.
    EXPECT_FALSE(view.isSelected(1));
    EXPECT_TRUE(view.isSelected(2));
    auto changed = notesOf(WM_NOTIFY);
    ASSERT_FALSE(changed.empty());
    EXPECT_EQ(changed[0].code, LVN_ITEMCHANGED);
    EXPECT_EQ(changed[0].range.cpMin, 1);

    view.removeItem();
    EXPECT_EQ(view.getItemCount(), 3u);
    EXPECT_EQ(view.getItemIdx(), (unsigned long)-1);
    view.sortItems([](long a, long b, long) { return *(int*)a - *(int*)b; }, nullptr);
    WString text;
    std::string order;
    for (unsigned long i = 0; i < view.getItemCount(); i++) {
        view.getItemText(i, 0, text);
        order += text.getBuf();
    }
    EXPECT_EQ(order, "abd");
    // A comparison that throws leaves every row whole.
    view.sortItems([](long, long, long) -> int { throw std::runtime_error("compare"); }, nullptr);
    order.clear();
    for (unsigned long i = 0; i < view.getItemCount(); i++) {
        view.getItemText(i, 0, text);
        order += text.getBuf();
    }
    EXPECT_EQ(order, "abd");
    view.setExStyle(LVS_EX_FULLROWSELECT, false);
    view.setExStyle(0x4, true);
    EXPECT_EQ(wplat::sendMessage(view.getWindowHandle(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x4);
    view.removeAll();
    EXPECT_EQ(view.getItemCount(), 0u);
}

TEST_F(ListControls, ListViewClicksSelectAndNotify)
{
    HWND item = wplat::createWindowEx(0, "SysListView32", "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, 0, 0,
        300, 200, parent, (HMENU)(intptr_t)1200, nullptr, nullptr);
    WControlListView view(owner.get(), "files", 1200);
    view.insertColumn(0, 120, "Name", false);
    view.addItem(0, "one", nullptr);
    view.addItem(1, "two", nullptr);
    notes().clear();
    // Far below the header: the second row.
    int rowHeight = 0;
    {
        // Find the row under y by probing from the top down.
        for (int y = 0; y < 200 && view.getItemIdx() != 1; y++) {
            wplat::sendMessage(item, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, y));
            rowHeight = y;
        }
    }
    EXPECT_EQ(view.getItemIdx(), 1u);
    EXPECT_TRUE(view.isSelected(1));
    EXPECT_FALSE(view.isSelected(0));
    bool clicked = false;
    for (const Note& n : notesOf(WM_NOTIFY))
        clicked = clicked || (n.code == NM_CLICK && n.id == 1200u);
    EXPECT_TRUE(clicked);
    EXPECT_GT(rowHeight, 0);
    wplat::sendMessage(item, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(view.getItemIdx(), 0u);
}

TEST_F(ListControls, EveryKindPaintsItself)
{
    WControlListBox list(owner.get(), "list", 5, 5, 150, 100, WControlListBox::STYLE_NOTIFY);
    WControlComboBox combo(owner.get(), "combo", 5, 120, 150, 24, WControlComboBox::STYLE_DROPDOWNLIST);
    WControlListView view(owner.get(), "view", 170, 5, 200, 150, WControlListView::STYLE_REPORT);
    list.addItem("one", nullptr);
    list.addItem("two", nullptr);
    list.selectItem(1);
    combo.addItem("PHP", nullptr);
    combo.selectItem(0);
    view.insertColumn(0, 100, "Name", false);
    view.insertColumn(1, 60, "Size", true);
    view.addItem(0, "index.php", nullptr);
    view.setItem(0, 1, "3 KB");
    view.selectItem(0);
    HIMAGELIST images = wplat::imageListCreate(16, 16, ILC_COLOR32, 1, 1);
    view.setImageListSmall(images);
    for (HWND h : {list.getWindowHandle(), combo.getWindowHandle(), view.getWindowHandle()}) {
        auto pixels = paintNow(h);
        ASSERT_FALSE(pixels.empty());
        EXPECT_GE(colourCount(pixels), 3u) << wplat::getClassName(h);
    }
    auto pixelOf = [](HWND h, int x, int y) {
        const wplat::PixelImage* image = wplat::getBackingImage(h);
        return image != nullptr ? image->pixel(x, y) : 0xFFFFFFFFu;
    };
    int line = textHeightOn(list.getWindowHandle());
    const uint32_t chosen = 0x3399FF;
    // The list box: grey frame, the first row on white, the chosen second row in blue.
    EXPECT_EQ(pixelOf(list.getWindowHandle(), 0, 0), 0x808080u);
    EXPECT_EQ(pixelOf(list.getWindowHandle(), 146, 2), 0xFFFFFFu);
    EXPECT_EQ(pixelOf(list.getWindowHandle(), 146, 2 + line), chosen);
    EXPECT_EQ(pixelOf(list.getWindowHandle(), 146, 2 + 2 * line), 0xFFFFFFu);
    // The list view: its header on the button face, the chosen row in blue
    // as wide as the columns, the rest white.
    int header = line + 6;
    EXPECT_EQ(pixelOf(view.getWindowHandle(), 50, 2), wplat::getSysColor(COLOR_BTNFACE));
    EXPECT_EQ(pixelOf(view.getWindowHandle(), 155, header + 2), chosen);
    EXPECT_EQ(pixelOf(view.getWindowHandle(), 165, header + 2), 0xFFFFFFu);
    EXPECT_EQ(pixelOf(view.getWindowHandle(), 155, header + line + 6), 0xFFFFFFu);
    view.setImageListSmall(nullptr);
    wplat::imageListDestroy(images);
}

} // namespace

namespace {

TEST_F(ListControls, ListViewShowsItsBackgroundPicture)
{
    // A 2x2 PNG: red, green / blue, white.
    static const unsigned char png[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49,
        0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4,
        0x9a, 0x73, 0x00, 0x00, 0x00, 0x12, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0xc0, 0x00,
        0xc2, 0x0c, 0xff, 0x81, 0x00, 0x00, 0x1f, 0xee, 0x05, 0xfb, 0x0b, 0xd9, 0x68, 0x8b, 0x00, 0x00, 0x00, 0x00,
        0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    char path[] = "/tmp/zv-listview-XXXXXX.png";
    int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, png, sizeof png), (ssize_t)sizeof png);
    close(fd);
    HWND item = wplat::createWindowEx(0, "SysListView32", "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 60, 40, parent,
        (HMENU)(intptr_t)1300, nullptr, nullptr);
    WControlListView view(owner.get(), "pictured", 1300);
    auto colourAt = [](int x, int y) {
        static const uint32_t colours[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}};
        return colours[y % 2][x % 2];
    };
    struct Case {
        const char* what;
        std::string source;
    } cases[] = {{"path", path}, {"address", std::string("file://") + path}};
    for (const Case& c : cases) {
        view.setBkImage(c.source.c_str(), true);
        auto pixels = paintNow(item);
        ASSERT_EQ(pixels.size(), (size_t)(60 * 40)) << c.what;
        for (int y : {0, 1, 17, 39})
            for (int x : {0, 1, 30, 59})
                EXPECT_EQ(pixels[(size_t)(y * 60 + x)], colourAt(x, y)) << c.what << " " << x << "," << y;
    }
    // Placed once, not tiled: only the corner shows it.
    view.setBkImage(path, false);
    auto once = paintNow(item);
    EXPECT_EQ(once[0], 0xFF0000u);
    EXPECT_EQ(once[(size_t)(20 * 60 + 30)], 0xFFFFFFu);
    unlink(path);
}

} // namespace
