#include "internal/WBlit.h"

#include <algorithm>

namespace wgfx {
namespace {

// A rectangle in pixel coordinates, wide enough for any surface rectangle
// minus any origin.
struct Span64 {
    int64_t left, top, right, bottom;
};

Span64 inPixels(const RECT& r, const POINT& origin)
{
    return Span64 {int64_t(r.left) - origin.x, int64_t(r.top) - origin.y, int64_t(r.right) - origin.x,
        int64_t(r.bottom) - origin.y};
}

} // namespace

bool blit(wplat::PixelImage& target, const RECT& targetArea, POINT targetOrigin, const wplat::PixelImage& sourceImage,
    const RECT& sourceArea, POINT sourceOrigin, BlitKey key, const std::vector<RECT>* clip)
{
    const Span64 t = inPixels(targetArea, targetOrigin), s = inPixels(sourceArea, sourceOrigin);
    const int64_t tw = t.right - t.left, th = t.bottom - t.top;
    const int64_t sw = s.right - s.left, sh = s.bottom - s.top;
    if (tw <= 0 || th <= 0 || sw <= 0 || sh <= 0) return false;
    if (s.left < 0 || s.top < 0 || s.right > sourceImage.width() || s.bottom > sourceImage.height()) return false;
    // A transfer within one image reads from a copy.
    wplat::PixelImage copy;
    const wplat::PixelImage* source = &sourceImage;
    if (&sourceImage == &target) {
        copy = sourceImage;
        source = &copy;
    }
    // The pieces written: the target's pixels, within each clip rectangle.
    const Span64 whole {std::max<int64_t>(t.left, 0), std::max<int64_t>(t.top, 0),
        std::min<int64_t>(t.right, target.width()), std::min<int64_t>(t.bottom, target.height())};
    std::vector<Span64> pieces;
    if (clip == nullptr) {
        pieces.push_back(whole);
    } else {
        for (const RECT& r : *clip) {
            const Span64 c = inPixels(r, targetOrigin);
            pieces.push_back(Span64 {std::max(whole.left, c.left), std::max(whole.top, c.top),
                std::min(whole.right, c.right), std::min(whole.bottom, c.bottom)});
        }
    }
    const uint32_t keyRgb = key.rgb & wplat::PixelImage::kColourMask;
    for (const Span64& p : pieces) {
        for (int64_t y = p.top; y < p.bottom; ++y) {
            const int64_t sy = s.top + ((2 * (y - t.top) + 1) * sh) / (2 * th);
            const uint32_t* from = source->row(static_cast<int>(sy));
            uint32_t* to = target.row(static_cast<int>(y));
            for (int64_t x = p.left; x < p.right; ++x) {
                const int64_t sx = s.left + ((2 * (x - t.left) + 1) * sw) / (2 * tw);
                const uint32_t pixel = from[sx] & wplat::PixelImage::kColourMask;
                if (key.enabled && pixel == keyRgb) continue;
                to[x] = pixel;
            }
        }
    }
    return true;
}

} // namespace wgfx
