#pragma once
// A plain 32-bit software image shared by device contexts, bitmaps and
// drawing surfaces. Header-only on purpose: it has no dependencies and both
// the window toolkit and the graphics module compile it as they are.
//
// Layout: rows top-down, `stride()` pixels per row (>= width), one uint32_t
// per pixel holding 0x00RRGGBB. The high byte is not part of the colour:
// everything here stores 0 there and every reader ignores it, so a painter
// that writes 0xFF there (as Qt does for its RGB32 format) does no harm.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace wplat {

class PixelImage {
public:
    static constexpr uint32_t kColourMask = 0x00FFFFFFu;

    PixelImage() = default;
    PixelImage(int width, int height, uint32_t fill = 0) { reset(width, height, fill); }

    // Replaces size and contents; negative sizes count as 0.
    void reset(int width, int height, uint32_t fill = 0)
    {
        m_width = std::max(width, 0);
        m_height = std::max(height, 0);
        if (m_width == 0 || m_height == 0) m_width = m_height = 0;
        m_stride = m_width;
        m_pixels.assign(static_cast<size_t>(m_stride) * static_cast<size_t>(m_height), fill & kColourMask);
    }

    int width() const { return m_width; }
    int height() const { return m_height; }
    int stride() const { return m_stride; } // in pixels
    int bytesPerLine() const { return m_stride * 4; }
    bool isNull() const { return m_width == 0; }

    uint32_t* data() { return m_pixels.data(); }
    const uint32_t* data() const { return m_pixels.data(); }
    uint32_t* row(int y) { return m_pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(m_stride); }
    const uint32_t* row(int y) const
    {
        return m_pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(m_stride);
    }

    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < m_width && y < m_height; }

    // Outside the image: pixel() gives 0 and setPixel() does nothing.
    uint32_t pixel(int x, int y) const { return contains(x, y) ? row(y)[x] & kColourMask : 0; }
    void setPixel(int x, int y, uint32_t rgb)
    {
        if (contains(x, y)) row(y)[x] = rgb & kColourMask;
    }

    void fill(uint32_t rgb) { std::fill(m_pixels.begin(), m_pixels.end(), rgb & kColourMask); }

    // Fills [left,right) x [top,bottom), clipped to the image.
    void fillRect(int left, int top, int right, int bottom, uint32_t rgb)
    {
        left = std::max(left, 0);
        top = std::max(top, 0);
        right = std::min(right, m_width);
        bottom = std::min(bottom, m_height);
        for (int y = top; y < bottom; ++y)
            std::fill(row(y) + left, row(y) + std::max(left, right), rgb & kColourMask);
    }

    // Same size and same colours (the unused high byte is ignored).
    bool sameAs(const PixelImage& other) const
    {
        if (m_width != other.m_width || m_height != other.m_height) return false;
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x)
                if (((row(y)[x] ^ other.row(y)[x]) & kColourMask) != 0) return false;
        return true;
    }

private:
    int m_width = 0;
    int m_height = 0;
    int m_stride = 0;
    std::vector<uint32_t> m_pixels;
};

// The platform's colour reference is 0x00BBGGRR; pixels are 0x00RRGGBB.
constexpr uint32_t rgbFromColorRef(uint32_t c)
{
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr uint32_t colorRefFromRgb(uint32_t p)
{
    return ((p & 0xFFu) << 16) | (p & 0xFF00u) | ((p >> 16) & 0xFFu);
}

} // namespace wplat
