#include "WControlList.h"

#include "ControlTypes.h"
#include "WControlHelpers.h"

namespace {

// The native messages of one kind of list.
struct ListMessages {
    UINT add, insert, setData, getData, getTextLen, getText, findExact, getSel, setSel, remove, reset, count;
};
const ListMessages kListBox{LB_ADDSTRING,   LB_INSERTSTRING, LB_SETITEMDATA, LB_GETITEMDATA,
                            LB_GETTEXTLEN,  LB_GETTEXT,      LB_FINDSTRINGEXACT, LB_GETCURSEL,
                            LB_SETCURSEL,   LB_DELETESTRING, LB_RESETCONTENT, LB_GETCOUNT};
const ListMessages kComboBox{CB_ADDSTRING,    CB_INSERTSTRING, CB_SETITEMDATA, CB_GETITEMDATA,
                             CB_GETLBTEXTLEN, CB_GETLBTEXT,    CB_FINDSTRINGEXACT, CB_GETCURSEL,
                             CB_SETCURSEL,    CB_DELETESTRING, CB_RESETCONTENT, CB_GETCOUNT};

LRESULT send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Without a window every answer is the error value.
    return window != nullptr ? wplat::sendMessage(window, message, wParam, lParam) : -1;
}

unsigned long addItem(HWND w, const ListMessages& m, const char* text, void* data)
{
    LRESULT index = send(w, m.add, 0, (LPARAM)(text != nullptr ? text : ""));
    if (index >= 0 && data != nullptr)
        send(w, m.setData, (WPARAM)index, (LPARAM)data);
    return (unsigned long)index;
}

bool getItemText(HWND w, const ListMessages& m, unsigned long index, WString& text)
{
    LRESULT length = send(w, m.getTextLen, (WPARAM)index, 0);
    if (length < 0)
        return false;
    unsigned long n = (unsigned long)length;
    if (text.getBufLength() < n + 1)
        text.resize(n);
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

// --- List box ------------------------------------------------------------------------

WControlListBox::WControlListBox(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    create(context, name, dialogItemId);
}

WControlListBox::WControlListBox(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                                 unsigned long height, Style style)
{
    create(context, name, x, y, width, height, style);
}

void WControlListBox::create(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    WControl::create(context, name, dialogItemId);
}

void WControlListBox::create(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                             unsigned long height, Style style)
{
    if (window != nullptr)
        return;
    wplat::registerControlClasses();
    WControl::create(context, name, WWindowStyle("LISTBOX", (unsigned long)style | 0x50210000, WS_EX_CLIENTEDGE), x,
                     y, width, height);
    wcontrols::setDefaultFont(window);
}

void WControlListBox::setFont(const WFont& font)
{
    wplat::sendMessage(window, WM_SETFONT, (WPARAM)(HFONT)font, 1);
}

unsigned long WControlListBox::addItem(const char* text, void* data)
{
    return ::addItem(window, kListBox, text, data);
}

void WControlListBox::setItemText(unsigned long index, const char* text)
{
    send(window, LB_INSERTSTRING, (WPARAM)index, (LPARAM)(text != nullptr ? text : ""));
}

void WControlListBox::setItemData(unsigned long index, void* data)
{
    send(window, LB_SETITEMDATA, (WPARAM)index, (LPARAM)data);
}

void* WControlListBox::getItemData(unsigned long index) const
{
    return (void*)send(window, LB_GETITEMDATA, (WPARAM)index, 0);
}

bool WControlListBox::getItemText(unsigned long index, WString& text) const
{
    return ::getItemText(window, kListBox, index, text);
}

unsigned long WControlListBox::getItemIdx(const char* text) const
{
    return (unsigned long)send(window, LB_FINDSTRINGEXACT, 0, (LPARAM)(text != nullptr ? text : ""));
}

unsigned long WControlListBox::getItemIdx() const
{
    return (unsigned long)send(window, LB_GETCURSEL, 0, 0);
}

void WControlListBox::selectItem(unsigned long index)
{
    send(window, LB_SETCURSEL, (WPARAM)index, 0);
}

void WControlListBox::removeItem(unsigned long index)
{
    send(window, LB_DELETESTRING, (WPARAM)index, 0);
}

void WControlListBox::removeAll()
{
    send(window, LB_RESETCONTENT, 0, 0);
}

unsigned long WControlListBox::getItemCount() const
{
    LRESULT n = send(window, LB_GETCOUNT, 0, 0);
    return n < 0 ? 0 : (unsigned long)n;
}

// --- Combo box -----------------------------------------------------------------------

WControlComboBox::WControlComboBox(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    create(context, name, dialogItemId);
}

WControlComboBox::WControlComboBox(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                                   unsigned long height, Style style)
{
    create(context, name, x, y, width, height, style);
}

void WControlComboBox::create(WWindowContext* context, const char* name, unsigned long dialogItemId)
{
    WControl::create(context, name, dialogItemId);
}

void WControlComboBox::create(WWindowContext* context, const char* name, int x, int y, unsigned long width,
                              unsigned long height, Style style)
{
    if (window != nullptr)
        return;
    wplat::registerControlClasses();
    WControl::create(context, name, WWindowStyle("COMBOBOX", (unsigned long)style | 0x50210000, WS_EX_CLIENTEDGE),
                     x, y, width, height);
    wcontrols::setDefaultFont(window);
}

void WControlComboBox::setFont(const WFont& font)
{
    wplat::sendMessage(window, WM_SETFONT, (WPARAM)(HFONT)font, 1);
}

unsigned long WControlComboBox::addItem(const char* text, void* data)
{
    return ::addItem(window, kComboBox, text, data);
}

void WControlComboBox::setItemText(unsigned long index, const char* text)
{
    send(window, CB_INSERTSTRING, (WPARAM)index, (LPARAM)(text != nullptr ? text : ""));
}

void WControlComboBox::setItemData(unsigned long index, void* data)
{
    send(window, CB_SETITEMDATA, (WPARAM)index, (LPARAM)data);
}

void* WControlComboBox::getItemData(unsigned long index) const
{
    return (void*)send(window, CB_GETITEMDATA, (WPARAM)index, 0);
}

bool WControlComboBox::getItemText(unsigned long index, WString& text) const
{
    return ::getItemText(window, kComboBox, index, text);
}

unsigned long WControlComboBox::getItemIdx(const char* text) const
{
    return (unsigned long)send(window, CB_FINDSTRINGEXACT, 0, (LPARAM)(text != nullptr ? text : ""));
}

unsigned long WControlComboBox::getItemIdx() const
{
    return (unsigned long)send(window, CB_GETCURSEL, 0, 0);
}

void WControlComboBox::selectItem(unsigned long index)
{
    send(window, CB_SETCURSEL, (WPARAM)index, 0);
}

void WControlComboBox::removeItem(unsigned long index)
{
    send(window, CB_DELETESTRING, (WPARAM)index, 0);
}

void WControlComboBox::removeAll()
{
    send(window, CB_RESETCONTENT, 0, 0);
}

unsigned long WControlComboBox::getItemCount() const
{
    LRESULT n = send(window, CB_GETCOUNT, 0, 0);
    return n < 0 ? 0 : (unsigned long)n;
}
