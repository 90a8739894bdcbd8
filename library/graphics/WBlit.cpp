#include "internal/WBlit.h"

#include <algorithm>

namespace wgfx {

bool blit(wplat::PixelImage& target, const RECT& t, const wplat::PixelImage& sourceImage, const RECT& s, BlitKey key,
          const std::vector<RECT>* clip)
{
    const int64_t tw = int64_t(t.right) - t.left, th = int64_t(t.bottom) - t.top;
    const int64_t sw = int64_t(s.right) - s.left, sh = int64_t(s.bottom) - s.top;
    if (tw <= 0 || th <= 0 || sw <= 0 || sh <= 0)
        return false;
    if (s.left < 0 || s.top < 0 || s.right > sourceImage.width() || s.bottom > sourceImage.height())
        return false;
    // A transfer within one image reads from a copy.
    wplat::PixelImage copy;
    const wplat::PixelImage* source = &sourceImage;
    if (&sourceImage == &target) {
        copy = sourceImage;
        source = &copy;
    }
    std::vector<RECT> pieces;
    RECT whole{std::max(t.left, 0), std::max(t.top, 0), std::min<int32_t>(t.right, target.width()),
               std::min<int32_t>(t.bottom, target.height())};
    if (clip == nullptr) {
        pieces.push_back(whole);
    } else {
        for (const RECT& c : *clip)
            pieces.push_back(RECT{std::max(whole.left, c.left), std::max(whole.top, c.top),
                                  std::min(whole.right, c.right), std::min(whole.bottom, c.bottom)});
    }
    const uint32_t keyRgb = key.rgb & wplat::PixelImage::kColourMask;
    for (const RECT& p : pieces) {
        for (int32_t y = p.top; y < p.bottom; ++y) {
            const int64_t sy = s.top + ((2 * (int64_t(y) - t.top) + 1) * sh) / (2 * th);
            const uint32_t* from = source->row(static_cast<int>(sy));
            uint32_t* to = target.row(y);
            for (int32_t x = p.left; x < p.right; ++x) {
                const int64_t sx = s.left + ((2 * (int64_t(x) - t.left) + 1) * sw) / (2 * tw);
                const uint32_t pixel = from[sx] & wplat::PixelImage::kColourMask;
                if (key.enabled && pixel == keyRgb)
                    continue;
                to[x] = pixel;
            }
        }
    }
    return true;
}

} // namespace wgfx
