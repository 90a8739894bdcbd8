#include "WControlList.h"

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

// The native messages of one kind of list.
struct WControlListMessages {
    UINT add, insert, setData, getData, getTextLen, getText, findExact, getSel, setSel, remove, reset, count;
};

namespace {

const WControlListMessages kListBox {LB_ADDSTRING, LB_INSERTSTRING, LB_SETITEMDATA, LB_GETITEMDATA, LB_GETTEXTLEN,
    LB_GETTEXT, LB_FINDSTRINGEXACT, LB_GETCURSEL, LB_SETCURSEL, LB_DELETESTRING, LB_RESETCONTENT, LB_GETCOUNT};
const WControlListMessages kComboBox {CB_ADDSTRING, CB_INSERTSTRING, CB_SETITEMDATA, CB_GETITEMDATA, CB_GETLBTEXTLEN,
    CB_GETLBTEXT, CB_FINDSTRINGEXACT, CB_GETCURSEL, CB_SETCURSEL, CB_DELETESTRING, CB_RESETCONTENT, CB_GETCOUNT};

LRESULT send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Without a window every answer is the error value.
    return window != nullptr ? wplat::sendMessage(window, message, wParam, lParam) : -1;
}

unsigned long addItem(HWND w, const WControlListMessages& m, const char* text, void* data)
{
    LRESULT index = send(w, m.add, 0, (LPARAM)(text != nullptr ? text : ""));
    if (index >= 0 && data != nullptr) send(w, m.setData, (WPARAM)index, (LPARAM)data);
    return (unsigned long)index;
}

bool getItemText(HWND w, const WControlListMessages& m, unsigned long index, WString& text)
{
    LRESULT length = send(w, m.getTextLen, (WPARAM)index, 0);
    if (length < 0) return false;
    unsigned long n = (unsigned long)length;
    if (text.getBufLength() < n + 1) text.resize(n);
    if (n == 0) {
        text.truncate(0);
        return true;
    }
    LRESULT copied = send(w, m.getText, (WPARAM)index, (LPARAM)text.getBuf());
    text.truncate(copied < 0 ? 0 : (unsigned long)copied);
    return true;
}

} // namespace

void* WControlListInterface::getItemData() const
{
    return getItemData(getItemIdx());
}

bool WControlListInterface::getItemText(WString& text) const
{
    return getItemText(getItemIdx(), text);
}

// --- Both kinds ----------------------------------------------------------------------

const WControlListMessages& WControlListCommon::messages() const
{
    return kind == Kind::COMBO_BOX ? kComboBox : kListBox;
}

void WControlListCommon::createList(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, unsigned long style)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    const char* className = kind == Kind::COMBO_BOX ? "COMBOBOX" : "LISTBOX";
    WControl::create(
        owner, controlName, WWindowStyle(className, style | 0x50210000, WS_EX_CLIENTEDGE), x, y, width, height);
    wcontrols::setDefaultFont(window);
}

void WControlListCommon::setFont(const WFont& font)
{
    wplat::sendMessage(window, WM_SETFONT, (WPARAM)(HFONT)font, 1);
}

unsigned long WControlListCommon::addItem(const char* text, void* data)
{
    return ::addItem(window, messages(), text, data);
}

void WControlListCommon::setItemText(unsigned long index, const char* text)
{
    send(window, messages().insert, (WPARAM)index, (LPARAM)(text != nullptr ? text : ""));
}

void WControlListCommon::setItemData(unsigned long index, void* data)
{
    send(window, messages().setData, (WPARAM)index, (LPARAM)data);
}

void* WControlListCommon::getItemData(unsigned long index) const
{
    return (void*)send(window, messages().getData, (WPARAM)index, 0);
}

bool WControlListCommon::getItemText(unsigned long index, WString& text) const
{
    return ::getItemText(window, messages(), index, text);
}

unsigned long WControlListCommon::getItemIdx(const char* text) const
{
    return (unsigned long)send(window, messages().findExact, 0, (LPARAM)(text != nullptr ? text : ""));
}

unsigned long WControlListCommon::getItemIdx() const
{
    return (unsigned long)send(window, messages().getSel, 0, 0);
}

void WControlListCommon::selectItem(unsigned long index)
{
    send(window, messages().setSel, (WPARAM)index, 0);
}

void WControlListCommon::removeItem(unsigned long index)
{
    send(window, messages().remove, (WPARAM)index, 0);
}

void WControlListCommon::removeAll()
{
    send(window, messages().reset, 0, 0);
}

unsigned long WControlListCommon::getItemCount() const
{
    LRESULT n = send(window, messages().count, 0, 0);
    return n < 0 ? 0 : (unsigned long)n;
}

// --- List box ------------------------------------------------------------------------

WControlListBox::WControlListBox(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
    : WControlListCommon(Kind::LIST_BOX)
{
    create(owner, controlName, dialogItemId);
}

WControlListBox::WControlListBox(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
    : WControlListCommon(Kind::LIST_BOX)
{
    create(owner, controlName, x, y, width, height, style);
}

void WControlListBox::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlListBox::create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
{
    createList(owner, controlName, x, y, width, height, (unsigned long)style);
}

// --- Combo box -----------------------------------------------------------------------

WControlComboBox::WControlComboBox(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
    : WControlListCommon(Kind::COMBO_BOX)
{
    create(owner, controlName, dialogItemId);
}

WControlComboBox::WControlComboBox(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
    : WControlListCommon(Kind::COMBO_BOX)
{
    create(owner, controlName, x, y, width, height, style);
}

void WControlComboBox::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlComboBox::create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style)
{
    createList(owner, controlName, x, y, width, height, (unsigned long)style);
}
