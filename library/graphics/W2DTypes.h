#pragma once
// Records and handle types of the graphics interfaces. RECT, POINT,
// COLORREF (0x00BBGGRR) and the device-context and bitmap handles come from
// the window layer; rectangles include left and top and exclude right and
// bottom.

#include <cstdint>

#include "PixelImage.h"
#include "PlatformTypes.h"

// The flat description of a region: a header and `nCount` rectangles that
// follow it in `Buffer`, banded top to bottom, left to right.
struct RGNDATAHEADER {
    uint32_t dwSize; // of this header
    uint32_t iType; // 1: rectangles
    uint32_t nCount; // rectangles in Buffer
    uint32_t nRgnSize; // bytes of the rectangle list
    RECT rcBound;
};

struct RGNDATA {
    RGNDATAHEADER rdh;
    char Buffer[1];

    const RECT* rects() const { return reinterpret_cast<const RECT*>(Buffer); }
};

class WRegionRects;
// A region handle: a rectangle set owned by a W2DRegion.
using HRGN = WRegionRects*;
