#pragma once
// The decoded image behind WBitmap: full-canvas frames of straight
// (not premultiplied) ARGB pixels 0xAARRGGBB, the palette the file carried,
// the pixel-format code reported for it, and per-frame delays.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wgfx {

// Pixel-format codes, as the bitmap interface reports them.
enum PixelFormat : uint32_t {
    PF_UNKNOWN = 0,
    PF_1BPP_INDEXED = 0x30101,
    PF_4BPP_INDEXED = 0x30402,
    PF_8BPP_INDEXED = 0x30803,
    PF_16BPP_GREY = 0x101004,
    PF_16BPP_RGB555 = 0x21005,
    PF_16BPP_RGB565 = 0x21006,
    PF_16BPP_ARGB1555 = 0x61007,
    PF_24BPP_RGB = 0x21808,
    PF_32BPP_RGB = 0x22009,
    PF_32BPP_ARGB = 0x26200A,
    PF_32BPP_PARGB = 0xE200B,
    PF_48BPP_RGB = 0x10300C,
    PF_64BPP_ARGB = 0x34400D,
    PF_64BPP_PARGB = 0x1C400E,
};

// The image flag that marks an alpha channel or transparent palette entries.
constexpr uint32_t IMAGE_FLAG_HAS_ALPHA = 2;

// The widest and tallest image we decode or encode.
constexpr int kMaxSide = 1 << 16;

// The library's ceiling for decoded images: bytes of 32-bit pixels over all
// frames (WBitmap::setAllocationLimit). Decoders check it before they
// allocate anything that grows with the image.
uint64_t allocationLimit();
void setAllocationLimit(uint64_t bytes);
// frames x width x height x 4 bytes stay within the limit, computed without
// wrapping.
bool fitsAllocationLimit(uint64_t width, uint64_t height, uint64_t frames = 1);

struct ImageData {
    int width = 0;
    int height = 0;
    uint32_t pixelFormat = PF_UNKNOWN;
    uint32_t flags = 0;
    std::vector<uint32_t> palette; // ARGB entries
    std::vector<std::vector<uint32_t>> frames; // width*height each
    std::vector<uint32_t> delays; // hundredths of a second; empty: no delay property

    bool isEmpty() const { return frames.empty(); }
};

// Decoders pick the format by its magic bytes. On failure they return false
// and say why in error.
bool decodeImage(const uint8_t* data, size_t size, ImageData& out, std::string& error);
bool decodeGif(const uint8_t* data, size_t size, ImageData& out, std::string& error);
bool decodeJpeg(const uint8_t* data, size_t size, ImageData& out, std::string& error);
bool decodePng(const uint8_t* data, size_t size, ImageData& out, std::string& error);
bool decodeBmp(const uint8_t* data, size_t size, ImageData& out, std::string& error);

// Encoders write one frame. JPEG drops alpha; quality is clamped to 1..100.
bool encodeJpeg(const ImageData& image, size_t frame, long quality, std::vector<uint8_t>& out);
// GIF: an exact palette for up to 256 colours (255 with transparency), a
// median-cut one otherwise; pixels with alpha 0 become the transparent index.
bool encodeGif(const ImageData& image, size_t frame, std::vector<uint8_t>& out);
// PNG, used by tests and tools only (saving offers JPEG and GIF).
bool encodePng(const ImageData& image, size_t frame, std::vector<uint8_t>& out);

// A frame of this size may be decoded: not empty, within the side limit and
// within the allocation limit.
inline bool sizeAcceptable(int64_t w, int64_t h)
{
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && fitsAllocationLimit(uint64_t(w), uint64_t(h));
}

} // namespace wgfx
