#pragma once
// The block transfer behind surfaces: copy or nearest-neighbour stretch
// with an optional source colour key, limited to a clip list and to the
// target. Stretching samples at pixel centres from the unclipped rectangles,
// so clipped pieces line up exactly with an unclipped transfer.

#include <cstdint>
#include <vector>

#include "PixelImage.h"
#include "W2DTypes.h"

namespace wgfx {

struct BlitKey {
    bool enabled = false;
    uint32_t rgb = 0; // compared with the low 24 bits of source pixels
};

// Rectangles and the clip list in surface coordinates; an image's pixel
// (0, 0) sits at its origin. The arithmetic is wide enough for any
// coordinates. An empty or inverted rectangle, or a source rectangle
// reaching outside the source, transfers nothing (false). clip == nullptr:
// no clip list. Source and target may be the same image.
bool blit(wplat::PixelImage& target, const RECT& targetArea, POINT targetOrigin, const wplat::PixelImage& source,
    const RECT& sourceArea, POINT sourceOrigin, BlitKey key, const std::vector<RECT>* clip);

} // namespace wgfx
