// Image lists: strips of equal pictures with their masks, drawn through
// the mask.

#include <algorithm>
#include <climits>

#include "internal/Gdi.h"

namespace wplat {

using namespace detail;

// --- Image lists ------------------------------------------------------------------

HIMAGELIST imageListCreate(int width, int height, UINT, int initial, int)
{
    if (width <= 0 || height <= 0 || initial < 0) return nullptr;
    ImageList list;
    list.width = width;
    list.height = height;
    return (HIMAGELIST)addObject(std::move(list));
}

bool imageListDestroy(HIMAGELIST list)
{
    return get<ImageList>(list) != nullptr && removeObject((uintptr_t)list);
}

static int appendStrip(ImageList& list, const PixelImage& image, const PixelImage* mask, const COLORREF* maskColor)
{
    if (image.height() < list.height || image.width() < list.width) return -1;
    int first = (int)list.images.size();
    int count = image.width() / list.width;
    for (int i = 0; i < count; i++) {
        PixelImage part(list.width, list.height);
        std::vector<uint8_t> transparent((size_t)(list.width * list.height), 0);
        for (int y = 0; y < list.height; y++) {
            for (int x = 0; x < list.width; x++) {
                uint32_t p = image.pixel(i * list.width + x, y);
                bool clear = false;
                if (mask != nullptr) clear = mask->pixel(i * list.width + x, y) != 0;
                if (maskColor != nullptr) clear = p == rgbFromColorRef(*maskColor);
                transparent[(size_t)(y * list.width + x)] = clear ? 1 : 0;
                part.setPixel(x, y, p);
            }
        }
        list.images.push_back(std::move(part));
        list.masks.push_back(std::move(transparent));
    }
    return first;
}

int imageListAdd(HIMAGELIST list, HBITMAP image, HBITMAP mask)
{
    ImageList* l = get<ImageList>(list);
    PixelImage* i = getBitmapImage(image);
    if (l == nullptr || i == nullptr) return -1;
    return appendStrip(*l, *i, getBitmapImage(mask), nullptr);
}

int imageListAddMasked(HIMAGELIST list, HBITMAP image, COLORREF maskColor)
{
    ImageList* l = get<ImageList>(list);
    PixelImage* i = getBitmapImage(image);
    if (l == nullptr || i == nullptr) return -1;
    return appendStrip(*l, *i, nullptr, &maskColor);
}

bool imageListReplace(HIMAGELIST list, int index, HBITMAP image, HBITMAP mask)
{
    ImageList* l = get<ImageList>(list);
    PixelImage* i = getBitmapImage(image);
    if (l == nullptr || i == nullptr || index < 0 || index >= (int)l->images.size()) return false;
    ImageList one;
    one.width = l->width;
    one.height = l->height;
    if (appendStrip(one, *i, getBitmapImage(mask), nullptr) < 0 || one.images.empty()) return false;
    l->images[(size_t)index] = std::move(one.images[0]);
    l->masks[(size_t)index] = std::move(one.masks[0]);
    return true;
}

int imageListGetImageCount(HIMAGELIST list)
{
    ImageList* l = get<ImageList>(list);
    return l != nullptr ? (int)l->images.size() : 0;
}

bool imageListSetImageCount(HIMAGELIST list, UINT count)
{
    ImageList* l = get<ImageList>(list);
    if (l == nullptr) return false;
    // Image indices are ints; a count that cannot be had leaves the list as it was.
    if (count > (UINT)INT_MAX) return false;
    try {
        std::vector<PixelImage> images = l->images;
        std::vector<std::vector<uint8_t>> masks = l->masks;
        images.resize(count, PixelImage(l->width, l->height));
        masks.resize(count, std::vector<uint8_t>((size_t)l->width * (size_t)l->height, 0));
        l->images.swap(images);
        l->masks.swap(masks);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool imageListSetIconSize(HIMAGELIST list, int width, int height)
{
    ImageList* l = get<ImageList>(list);
    if (l == nullptr || width <= 0 || height <= 0) return false;
    l->width = width;
    l->height = height;
    l->images.clear();
    l->masks.clear();
    return true;
}

bool imageListGetIconSize(HIMAGELIST list, int& width, int& height)
{
    ImageList* l = get<ImageList>(list);
    if (l == nullptr) return false;
    width = l->width;
    height = l->height;
    return true;
}

COLORREF imageListSetBkColor(HIMAGELIST list, COLORREF color)
{
    ImageList* l = get<ImageList>(list);
    if (l == nullptr) return CLR_NONE;
    COLORREF old = l->background;
    l->background = color;
    return old;
}

HIMAGELIST imageListDuplicate(HIMAGELIST list)
{
    ImageList* l = get<ImageList>(list);
    if (l == nullptr) return nullptr;
    ImageList copy = *l;
    return (HIMAGELIST)addObject(std::move(copy));
}

bool imageListDraw(HIMAGELIST list, int index, HDC dc, int x, int y)
{
    ImageList* l = get<ImageList>(list);
    DeviceContext* d = findDC(dc);
    if (l == nullptr || d == nullptr || d->image == nullptr || index < 0 || index >= (int)l->images.size())
        return false;
    auto clip = clipRects(*d);
    const PixelImage& image = l->images[(size_t)index];
    const std::vector<uint8_t>& mask = l->masks[(size_t)index];
    for (int row = 0; row < l->height; row++) {
        for (int col = 0; col < l->width; col++) {
            bool clear = mask[(size_t)(row * l->width + col)] != 0;
            if (clear && l->background == CLR_NONE) continue;
            uint32_t p = clear ? rgbFromColorRef(l->background) : image.pixel(col, row);
            plot(*d, clip, x + col, y + row, p);
        }
    }
    return true;
}

} // namespace wplat
