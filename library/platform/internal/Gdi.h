#pragma once

// Graphic objects behind HDC, HBRUSH, HFONT, HBITMAP and HIMAGELIST.

#include "Core.h"

namespace wplat::detail {

struct DeviceContext {
    HWND window = nullptr;
    PixelImage* image = nullptr;     // what it draws into (not owned)
    HBITMAP selectedBitmap = nullptr;
    POINT origin{0, 0};               // context (0,0) in the image
    std::vector<RECT> clip;           // image coordinates; empty = whole image
    bool hasClip = false;
    COLORREF textColor = 0;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
    POINT pen{0, 0};
    COLORREF penColor = 0;
};

HDC createWindowDC(HWND window, PixelImage* image, POINT origin, const std::vector<RECT>& clip, bool paint);
DeviceContext* findDC(HDC dc);
// The logical font of a font handle, or the dialog font for null.
LOGFONT fontOf(HFONT font);

} // namespace wplat::detail
