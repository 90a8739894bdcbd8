#include "WImageList.h"

#include "Platform.h"
#include "WException.h"

WImageList::WImageList() : list(nullptr)
{
}

WImageList::WImageList(const WImageList& other) : list(nullptr)
{
    other.copyTo(*this);
}

WImageList& WImageList::operator=(const WImageList& other)
{
    if (this != &other) other.copyTo(*this);
    return *this;
}

WImageList::~WImageList()
{
    destroy();
}

void WImageList::destroy()
{
    if (list != nullptr) wplat::imageListDestroy(list);
    list = nullptr;
}

void WImageList::create(unsigned long width, unsigned long height, unsigned long count)
{
    if (list != nullptr) return;
    list = wplat::imageListCreate((int)width, (int)height, ILC_COLOR32 | ILC_MASK, (int)count, (int)count);
    if (list == nullptr) throw WImageListException("Cannot create image list.", -1);
    wplat::imageListSetBkColor(list, CLR_NONE);
}

void WImageList::addImage(HBITMAP bitmap)
{
    if (wplat::imageListAdd(list, bitmap, nullptr) < 0) throw WImageListException("Cannot add image.", -2);
}

void WImageList::addImage(HBITMAP bitmap, unsigned long maskColor)
{
    if (wplat::imageListAddMasked(list, bitmap, (COLORREF)maskColor) < 0)
        throw WImageListException("Cannot add masked image.", -2);
}

void WImageList::setImage(unsigned long index, HBITMAP bitmap)
{
    if (!wplat::imageListReplace(list, (int)index, bitmap, nullptr)) throw WImageListException("Cannot set image.", -3);
}

void WImageList::resize(unsigned long width, unsigned long height, unsigned long count)
{
    if (!wplat::imageListSetIconSize(list, (int)width, (int)height)
        || !wplat::imageListSetImageCount(list, (UINT)count))
        throw WImageListException("Cannot resize image list.", -4);
}

unsigned long WImageList::size() const
{
    return (unsigned long)wplat::imageListGetImageCount(list);
}

void WImageList::copyTo(WImageList& target) const
{
    if (&target == this) return;
    // The target's old list is released, not leaked.
    HIMAGELIST copy = list != nullptr ? wplat::imageListDuplicate(list) : nullptr;
    target.destroy();
    target.list = copy;
}
