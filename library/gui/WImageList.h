#pragma once

#include "PlatformTypes.h"

// Owns a native list of 32-bit images with masks (list views, toolbars).
class WImageList {
public:
    WImageList();
    WImageList(const WImageList& other);
    WImageList& operator=(const WImageList& other);
    ~WImageList();

    void destroy();
    void create(unsigned long width, unsigned long height, unsigned long count);
    void addImage(HBITMAP bitmap);
    void addImage(HBITMAP bitmap, unsigned long maskColor);
    void setImage(unsigned long index, HBITMAP bitmap);
    void resize(unsigned long width, unsigned long height, unsigned long count);
    unsigned long size() const;
    void copyTo(WImageList& target) const;

    HIMAGELIST getImageListHandle() const { return list; }
    operator HIMAGELIST() const { return list; }

private:
    HIMAGELIST list;
};
