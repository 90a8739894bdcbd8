#pragma once
// Drawing straight-ARGB pixels onto 32-bit software images: unscaled,
// stretched, and through a parallelogram, blended by source alpha. These
// are the loops behind WBitmap's drawing and surface filling.

#include <cstdint>
#include <vector>

#include "PixelImage.h"
#include "W2DTypes.h"

namespace wgfx {

enum class Sampling { Nearest, Smooth };

// A source of ARGB pixels, width * height, rows top-down.
struct ArgbView {
    const uint32_t* pixels;
    int width;
    int height;
};

// Only pixels inside one of the clip rectangles (when given) and inside the
// target are written.
struct Clip {
    const std::vector<RECT>* rects = nullptr;
};

// Blends one ARGB pixel over an RGB one.
uint32_t blend(uint32_t targetRgb, uint32_t argb);

// Draws the part source of the image scaled into destination (right and
// bottom exclusive). Empty rectangles draw nothing.
void drawScaled(wplat::PixelImage& target, const ArgbView& image, const RECT& source, const RECT& destination,
    Sampling sampling, Clip clip = {});

// Draws the whole image into the parallelogram whose upper-left,
// upper-right and lower-left corners are points[0..2].
void drawParallelogram(
    wplat::PixelImage& target, const ArgbView& image, const POINT points[3], Sampling sampling, Clip clip = {});

} // namespace wgfx

namespace wgfx {
// The image scaled to width x height, bilinear, alpha kept.
std::vector<uint32_t> resampleArgb(const ArgbView& image, int width, int height);
} // namespace wgfx
