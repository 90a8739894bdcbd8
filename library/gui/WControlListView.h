#pragma once

#include "WControl.h"

// A report list: columns, rows with an image, a user value and cell texts.
class WControlListView : public WControl {
public:
    enum Style { STYLE_REPORT = 0, STYLE_REPORT_SORTHEADER = 1, STYLE_PLAIN = 2 };

    WControlListView();
    WControlListView(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    WControlListView(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
        unsigned long height, Style style);
    WControlListView(const WControlListView& other) = default;
    WControlListView& operator=(const WControlListView& other) = default;
    ~WControlListView() override = default;

    void create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId);
    void create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width, unsigned long height,
        Style style);

    void insertColumn(unsigned long index, unsigned long width, const char* title, bool rightAligned);
    void removeColumn(unsigned long index);
    unsigned long getColumnCount() const { return columnCount; }
    void setImageListLarge(HIMAGELIST list);
    void setImageListSmall(HIMAGELIST list);
    void setDefaultImage(unsigned long image) { defaultImage = image; }

    unsigned long addItem(unsigned long index, const char* text, void* data);
    void setItem(unsigned long row, unsigned long column, const char* text);
    void setItemImage(unsigned long row, unsigned long image);
    void setItemData(unsigned long row, void* data);
    void* getItemData(unsigned long row) const;
    bool getItemText(unsigned long row, unsigned long column, WString& text) const;
    unsigned long getItemCount() const;
    unsigned long getItemIdx() const;
    unsigned long getItemIdx(const char* text, unsigned long start) const;
    unsigned long getItemIdx(void* data, unsigned long start) const;
    unsigned long getNextItemIdx(unsigned long row) const;
    unsigned long getPrevItemIdx(unsigned long row) const;
    void selectItem(unsigned long row);
    bool isSelected(unsigned long row) const;
    bool isSelected() const;
    void removeItem(unsigned long row);
    void removeItem();
    void removeAll();
    void sortItems(int (*compare)(long, long, long), void* parameter);
    void setTextColor(unsigned long color);
    void setTextBkColor(unsigned long color);
    void setBkColor(unsigned long color);
    void setBkImage(const char* path, bool tile);

    void setExStyle(unsigned long bits, bool set) override;

private:
    unsigned long columnCount;
    unsigned long defaultImage;
};
