#pragma once

// Graphic objects behind HDC, HBRUSH, HFONT, HBITMAP and HIMAGELIST.

#include <variant>

#include "Core.h"

namespace wplat::detail {

struct DeviceContext {
    HWND window = nullptr;
    PixelImage* image = nullptr; // what it draws into (not owned)
    HBITMAP selectedBitmap = nullptr;
    POINT origin {0, 0}; // context (0,0) in the image
    std::vector<RECT> clip; // image coordinates; empty = whole image
    bool hasClip = false;
    COLORREF textColor = 0;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
    POINT pen {0, 0};
    COLORREF penColor = 0;
};

// The graphic objects behind the handles.
struct Brush {
    COLORREF color;
    bool stock;
    // A pattern brush's own copy of its bitmap; null for a solid brush.
    std::shared_ptr<const PixelImage> pattern;
};
struct Font {
    LOGFONT logFont;
};
struct Bitmap {
    PixelImage image;
};
struct ImageList {
    int width = 0;
    int height = 0;
    std::vector<PixelImage> images;
    std::vector<std::vector<uint8_t>> masks; // 1 = transparent
    COLORREF background = CLR_NONE;
};

using Object = std::variant<Brush, Font, Bitmap, ImageList, DeviceContext>;

// Ids are never reused, so a stale handle finds nothing.
uintptr_t addObject(Object&& object);
std::shared_ptr<Object> findObject(uintptr_t id);
bool removeObject(uintptr_t id);
template <typename T>
T* get(const void* handle)
{
    auto o = findObject((uintptr_t)handle);
    return o ? std::get_if<T>(o.get()) : nullptr;
}
// The clip rectangles of a context in image coordinates.
std::vector<RECT> clipRects(const DeviceContext& dc);
// Sets one pixel (context coordinates) inside the clip rectangles.
void plot(DeviceContext& dc, const std::vector<RECT>& clip, int x, int y, uint32_t rgb);

HDC createWindowDC(HWND window, PixelImage* image, POINT origin, const std::vector<RECT>& clip, bool paint);
DeviceContext* findDC(HDC dc);
// The logical font of a font handle, or the dialog font for null.
LOGFONT fontOf(HFONT font);

} // namespace wplat::detail
