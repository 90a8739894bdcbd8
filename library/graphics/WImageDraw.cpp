#include "internal/WImageDraw.h"

#include <algorithm>
#include <cmath>

namespace wgfx {
namespace {

bool clipped(const Clip& clip, int x, int y)
{
    if (clip.rects == nullptr) return false;
    for (const RECT& r : *clip.rects)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return false;
    return true;
}

// Bilinear sample at (u, v) in pixel-centre coordinates, clamped to the
// given source rectangle.
uint32_t bilinear(const ArgbView& image, double u, double v, int l, int t, int r, int b)
{
    u = std::clamp(u, double(l), double(r - 1));
    v = std::clamp(v, double(t), double(b - 1));
    int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
    int x1 = std::min(x0 + 1, r - 1), y1 = std::min(y0 + 1, b - 1);
    double fx = u - x0, fy = v - y0;
    auto px = [&](int x, int y) { return image.pixels[size_t(y) * size_t(image.width) + size_t(x)]; };
    uint32_t p00 = px(x0, y0), p10 = px(x1, y0), p01 = px(x0, y1), p11 = px(x1, y1);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        double c = ((p00 >> shift) & 0xFF) * (1 - fx) * (1 - fy) + ((p10 >> shift) & 0xFF) * fx * (1 - fy)
            + ((p01 >> shift) & 0xFF) * (1 - fx) * fy + ((p11 >> shift) & 0xFF) * fx * fy;
        out |= uint32_t(std::lround(c)) << shift;
    }
    return out;
}

} // namespace

uint32_t blend(uint32_t targetRgb, uint32_t argb)
{
    uint32_t a = argb >> 24;
    if (a == 0xFF) return argb & 0x00FFFFFF;
    if (a == 0) return targetRgb & 0x00FFFFFF;
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t s = (argb >> shift) & 0xFF, d = (targetRgb >> shift) & 0xFF;
        out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
    }
    return out;
}

void drawScaled(wplat::PixelImage& target, const ArgbView& image, const RECT& source, const RECT& destination,
    Sampling sampling, Clip clip)
{
    const int64_t sw = int64_t(source.right) - source.left, sh = int64_t(source.bottom) - source.top;
    const int64_t dw = int64_t(destination.right) - destination.left,
                  dh = int64_t(destination.bottom) - destination.top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || image.pixels == nullptr) return;
    // Source pixels are limited to the image.
    const int sl = std::max(source.left, 0), st = std::max(source.top, 0);
    const int sr = std::min<int>(source.right, image.width), sb = std::min<int>(source.bottom, image.height);
    if (sl >= sr || st >= sb) return;
    const int y0 = std::max(destination.top, 0), y1 = std::min(destination.bottom, target.height());
    const int x0 = std::max(destination.left, 0), x1 = std::min(destination.right, target.width());
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = target.row(y);
        for (int x = x0; x < x1; ++x) {
            if (clipped(clip, x, y)) continue;
            uint32_t p;
            if (sampling == Sampling::Nearest || (sw == dw && sh == dh)) {
                // Centre sampling from the unclipped rectangles.
                int64_t sx = source.left + ((2 * (int64_t(x) - destination.left) + 1) * sw) / (2 * dw);
                int64_t sy = source.top + ((2 * (int64_t(y) - destination.top) + 1) * sh) / (2 * dh);
                if (sx < sl || sx >= sr || sy < st || sy >= sb) continue;
                p = image.pixels[size_t(sy) * size_t(image.width) + size_t(sx)];
            } else {
                double u = source.left + (double(x) - destination.left + 0.5) * double(sw) / double(dw) - 0.5;
                double v = source.top + (double(y) - destination.top + 0.5) * double(sh) / double(dh) - 0.5;
                p = bilinear(image, u, v, sl, st, sr, sb);
            }
            row[x] = blend(row[x], p);
        }
    }
}

void drawParallelogram(
    wplat::PixelImage& target, const ArgbView& image, const POINT points[3], Sampling sampling, Clip clip)
{
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0) return;
    const double ox = points[0].x, oy = points[0].y;
    const double ax = points[1].x - ox, ay = points[1].y - oy; // along the top edge
    const double bx = points[2].x - ox, by = points[2].y - oy; // down the left edge
    const double det = ax * by - ay * bx;
    if (det == 0) return;
    const double cx[4] = {ox, ox + ax, ox + bx, ox + ax + bx};
    const double cy[4] = {oy, oy + ay, oy + by, oy + ay + by};
    // Corners may lie far outside the int range: clamp before converting.
    const double w = target.width(), h = target.height();
    const int left = static_cast<int>(std::clamp(std::floor(*std::min_element(cx, cx + 4)), 0.0, w));
    const int right = static_cast<int>(std::clamp(std::ceil(*std::max_element(cx, cx + 4)), 0.0, w));
    const int top = static_cast<int>(std::clamp(std::floor(*std::min_element(cy, cy + 4)), 0.0, h));
    const int bottom = static_cast<int>(std::clamp(std::ceil(*std::max_element(cy, cy + 4)), 0.0, h));
    for (int y = top; y < bottom; ++y) {
        uint32_t* row = target.row(y);
        for (int x = left; x < right; ++x) {
            if (clipped(clip, x, y)) continue;
            const double dx = x + 0.5 - ox, dy = y + 0.5 - oy;
            const double s = (dx * by - dy * bx) / det; // 0..1 along the top edge
            const double t = (ax * dy - ay * dx) / det; // 0..1 down the left edge
            if (s < 0 || s >= 1 || t < 0 || t >= 1) continue;
            const double u = s * image.width, v = t * image.height;
            uint32_t p;
            if (sampling == Sampling::Nearest) {
                int sx = std::min(static_cast<int>(u), image.width - 1);
                int sy = std::min(static_cast<int>(v), image.height - 1);
                p = image.pixels[size_t(sy) * size_t(image.width) + size_t(sx)];
            } else {
                p = bilinear(image, u - 0.5, v - 0.5, 0, 0, image.width, image.height);
            }
            row[x] = blend(row[x], p);
        }
    }
}

} // namespace wgfx

namespace wgfx {

std::vector<uint32_t> resampleArgb(const ArgbView& image, int width, int height)
{
    std::vector<uint32_t> out(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double u = (x + 0.5) * image.width / double(width) - 0.5;
            double v = (y + 0.5) * image.height / double(height) - 0.5;
            out[size_t(y) * size_t(width) + size_t(x)] = bilinear(image, u, v, 0, 0, image.width, image.height);
        }
    return out;
}

} // namespace wgfx
