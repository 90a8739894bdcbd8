#pragma once

#include "WControl.h"
#include "WFont.h"

// The item interface that list boxes and combo boxes share. Indexes are
// unsigned; the all-ones value (-1) stands for no item.
class WControlListInterface {
public:
    virtual unsigned long addItem(const char* text, void* data) = 0;
    // Inserts a new row at the index; no row is replaced.
    virtual void setItemText(unsigned long index, const char* text) = 0;
    virtual void setItemData(unsigned long index, void* data) = 0;
    virtual void* getItemData(unsigned long index) const = 0;
    virtual void* getItemData() const;
    virtual bool getItemText(unsigned long index, WString& text) const = 0;
    virtual bool getItemText(WString& text) const;
    // The first row after row 0 (wrapping round to it) whose text equals
    // the text without regard to case.
    virtual unsigned long getItemIdx(const char* text) const = 0;
    virtual unsigned long getItemIdx() const = 0;
    virtual void selectItem(unsigned long index) = 0;
    virtual void removeItem(unsigned long index) = 0;
    virtual void removeAll() = 0;
    virtual unsigned long getItemCount() const = 0;

protected:
    ~WControlListInterface() = default;
};

struct WControlListMessages;

// What list boxes and combo boxes share: the item calls, which differ only
// in the native messages they send.
class WControlListCommon : public WControl, public WControlListInterface {
public:
    void setFont(const WFont& font);

    unsigned long addItem(const char* text, void* data) override;
    void setItemText(unsigned long index, const char* text) override;
    void setItemData(unsigned long index, void* data) override;
    void* getItemData(unsigned long index) const override;
    using WControlListInterface::getItemData;
    bool getItemText(unsigned long index, WString& text) const override;
    using WControlListInterface::getItemText;
    unsigned long getItemIdx(const char* text) const override;
    unsigned long getItemIdx() const override;
    void selectItem(unsigned long index) override;
    void removeItem(unsigned long index) override;
    void removeAll() override;
    unsigned long getItemCount() const override;

protected:
    enum class Kind { LIST_BOX, COMBO_BOX };

    explicit WControlListCommon(Kind listKind) : kind(listKind) { }
    WControlListCommon(const WControlListCommon& other) = default;
    WControlListCommon& operator=(const WControlListCommon& other) = default;
    ~WControlListCommon() override = default;

    // Creates the native window of the kind (once) with the default font.
    void createList(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, unsigned long style);

private:
    // The native messages of the kind.
    const WControlListMessages& messages() const;

    Kind kind;
};

// A list box. Its style bits go to the native window as they are.
class WControlListBox : public WControlListCommon {
public:
    enum Style { STYLE_PLAIN = 0x0, STYLE_NOTIFY = 0x1, STYLE_SORTED = 0x3 };

    WControlListBox() : WControlListCommon(Kind::LIST_BOX) { }
    WControlListBox(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlListBox(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, Style style);
    WControlListBox(const WControlListBox& other) = default;
    WControlListBox& operator=(const WControlListBox& other) = default;
    ~WControlListBox() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height,
        Style style);
};

// A combo box. Its style bits go to the native window as they are.
class WControlComboBox : public WControlListCommon {
public:
    enum Style { STYLE_DROPDOWN = 0x2, STYLE_DROPDOWNLIST = 0x3, STYLE_DROPDOWNLIST_SORTED = 0x103 };

    WControlComboBox() : WControlListCommon(Kind::COMBO_BOX) { }
    WControlComboBox(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlComboBox(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, Style style);
    WControlComboBox(const WControlComboBox& other) = default;
    WControlComboBox& operator=(const WControlComboBox& other) = default;
    ~WControlComboBox() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height,
        Style style);
};
