// Our own BMP reader: 1/4/8-bit palettes (also RLE4/RLE8), 16-bit (555 or
// bit fields), 24-bit and 32-bit (plain or bit fields with alpha), bottom-up
// or top-down. Every read is bounds-checked against the buffer.
#include <algorithm>
#include <cstring>

#include "internal/ImageData.h"

namespace wgfx {
namespace {

uint32_t u16(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}
uint32_t u32(const uint8_t* p)
{
    return u16(p) | (u16(p + 2) << 16);
}
int32_t s32(const uint8_t* p)
{
    return static_cast<int32_t>(u32(p));
}

// Scales a masked field to 0..255.
uint32_t channel(uint32_t value, uint32_t mask)
{
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1u) == 0)
        ++shift;
    uint32_t max = mask >> shift;
    return static_cast<uint32_t>((uint64_t((value & mask) >> shift) * 255u + max / 2) / max);
}

enum { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

} // namespace

bool decodeBmp(const uint8_t* data, size_t size, ImageData& out, std::string& error)
{
    auto fail = [&](const char* why) {
        error = why;
        out = ImageData();
        return false;
    };
    if (size < 14 + 12) return fail("BMP too short");
    const uint32_t pixelOffset = u32(data + 10);
    const uint8_t* info = data + 14;
    const uint32_t infoSize = u32(info);
    if (infoSize < 12 || 14 + size_t(infoSize) > size) return fail("BMP header damaged");
    int64_t w, h;
    uint32_t bpp, compression = BI_RGB, colours = 0;
    size_t paletteEntrySize = 4;
    if (infoSize == 12) { // the old core header
        w = u16(info + 4);
        h = static_cast<int16_t>(u16(info + 8));
        bpp = u16(info + 10);
        paletteEntrySize = 3;
    } else {
        if (infoSize < 40) return fail("BMP header damaged");
        w = s32(info + 4);
        h = s32(info + 8);
        bpp = u16(info + 14);
        compression = u32(info + 16);
        colours = u32(info + 32);
    }
    const bool topDown = h < 0;
    if (topDown) h = -h;
    if (!sizeAcceptable(w, h)) return fail("BMP size out of range");
    uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha
    if (compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS) {
        size_t count = compression == BI_ALPHABITFIELDS ? 4 : 3;
        const uint8_t* m = info + 40;
        if (infoSize >= 52) count = infoSize >= 56 ? 4 : 3;
        if (size_t(m - data) + count * 4 > size) return fail("BMP header damaged");
        for (size_t i = 0; i < count; ++i)
            masks[i] = u32(m + i * 4);
    } else if (compression == BI_RGB && bpp == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (compression == BI_RGB && (bpp == 24 || bpp == 32)) {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
    }
    const int W = static_cast<int>(w), H = static_cast<int>(h);
    const bool runLength = compression == BI_RLE8 || compression == BI_RLE4;
    if (!runLength && compression != BI_RGB && compression != BI_BITFIELDS && compression != BI_ALPHABITFIELDS)
        return fail("BMP compression not supported");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return fail("BMP bit depth not supported");
    if (runLength && ((compression == BI_RLE8) != (bpp == 8) || (compression == BI_RLE4) != (bpp == 4)))
        return fail("BMP compression damaged");

    // Palette.
    if (bpp <= 8) {
        uint32_t count = colours == 0 || colours > (1u << bpp) ? (1u << bpp) : colours;
        const uint8_t* p = info + infoSize;
        if (size_t(p - data) + count * paletteEntrySize > size) return fail("BMP palette damaged");
        for (uint32_t i = 0; i < count; ++i, p += paletteEntrySize)
            out.palette.push_back(0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0]);
        out.pixelFormat = bpp == 1 ? PF_1BPP_INDEXED : bpp == 4 ? PF_4BPP_INDEXED : PF_8BPP_INDEXED;
    }
    if (pixelOffset >= size) return fail("BMP pixel data missing");
    const uint8_t* bits = data + pixelOffset;
    const size_t available = size - pixelOffset;
    // Plain pixel rows must all be there before the image is allocated. Run
    // data may legitimately cover a large image with a few bytes, so there
    // only the allocation limit (checked above) bounds the size.
    const size_t stride = ((size_t(W) * bpp + 31) / 32) * 4;
    if (!runLength && stride * size_t(H) > available) return fail("BMP pixel data truncated");

    out.width = W;
    out.height = H;
    auto colourOf = [&](uint32_t index) { return index < out.palette.size() ? out.palette[index] : 0xFF000000u; };
    // Pixels run data never reaches keep colour 0.
    out.frames.assign(1, std::vector<uint32_t>(size_t(W) * size_t(H), runLength ? colourOf(0) : 0xFF000000u));
    std::vector<uint32_t>& pixels = out.frames[0];
    auto at
        = [&](int x, int y) -> uint32_t& { return pixels[size_t(topDown ? y : H - 1 - y) * size_t(W) + size_t(x)]; };

    if (runLength) {
        size_t i = 0;
        // Runs and deltas move the column on without end of line: it is held
        // at one past the row, so it cannot wrap however many runs follow.
        int64_t x = 0, y = 0;
        const bool four = compression == BI_RLE4;
        // Pixels k = 0..count-1 of a run from column x; only those inside
        // the row are written, and the column moves on by count.
        auto run = [&](size_t count, auto&& indexAt) {
            if (y < H) {
                const int64_t end = std::min<int64_t>(x + int64_t(count), W);
                for (int64_t px = x; px < end; ++px)
                    at(int(px), int(y)) = colourOf(indexAt(size_t(px - x)));
            }
            x = std::min<int64_t>(x + int64_t(count), int64_t(W) + 1);
        };
        while (i + 1 < available && y < H) {
            const uint8_t count = bits[i], value = bits[i + 1];
            i += 2;
            if (count > 0) {
                run(count, [&](size_t k) -> uint32_t { return four ? ((k & 1) ? value & 0x0F : value >> 4) : value; });
            } else if (value == 0) { // end of line
                x = 0;
                ++y;
            } else if (value == 1) { // end of bitmap
                break;
            } else if (value == 2) { // delta
                if (i + 1 >= available) break;
                x = std::min<int64_t>(x + bits[i], int64_t(W) + 1);
                y += bits[i + 1];
                i += 2;
            } else { // literal run, padded to 16 bits
                const size_t bytes = four ? (value + 1u) / 2u : value;
                if (i + bytes > available) return fail("BMP run data damaged");
                const uint8_t* literal = bits + i;
                run(value, [&](size_t k) -> uint32_t {
                    return four ? ((k & 1) ? literal[k / 2] & 0x0F : literal[k / 2] >> 4) : literal[k];
                });
                i += (bytes + 1) & ~size_t(1);
            }
        }
        return true;
    }
    for (int y = 0; y < H; ++y) {
        const uint8_t* row = bits + stride * size_t(y);
        for (int x = 0; x < W; ++x) {
            uint32_t value;
            switch (bpp) {
            case 1:
                value = colourOf((row[x / 8] >> (7 - x % 8)) & 1u);
                break;
            case 4:
                value = colourOf((row[x / 2] >> ((x % 2) ? 0 : 4)) & 0x0Fu);
                break;
            case 8:
                value = colourOf(row[x]);
                break;
            default: {
                uint32_t raw = bpp == 16 ? u16(row + x * 2)
                    : bpp == 24          ? (u16(row + x * 3) | (uint32_t(row[x * 3 + 2]) << 16))
                                         : u32(row + x * 4);
                uint32_t a = masks[3] ? channel(raw, masks[3]) : 0xFF;
                value = (a << 24) | (channel(raw, masks[0]) << 16) | (channel(raw, masks[1]) << 8)
                    | channel(raw, masks[2]);
            }
            }
            at(x, y) = value;
        }
    }
    if (bpp == 16)
        out.pixelFormat = masks[3] ? PF_16BPP_ARGB1555 : masks[1] == 0x07E0 ? PF_16BPP_RGB565 : PF_16BPP_RGB555;
    else if (bpp == 24)
        out.pixelFormat = PF_24BPP_RGB;
    else if (bpp == 32)
        out.pixelFormat = masks[3] ? PF_32BPP_ARGB : PF_32BPP_RGB;
    if (masks[3]) out.flags |= IMAGE_FLAG_HAS_ALPHA;
    return true;
}

} // namespace wgfx
