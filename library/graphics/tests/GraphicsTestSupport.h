#pragma once
// Helpers for the graphics tests: a temporary folder, files, and images
// built in memory (GIF through giflib, BMP by a tiny writer).
#include <gif_lib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform.h"
#include "WException.h"

namespace gtest_support {

// The COLORREF the platform keeps for an 0xRRGGBB colour.
inline unsigned long ref(uint32_t rgb)
{
    return wplat::colorRefFromRgb(rgb);
}

// "<exception name>: <message>" of what f throws, or "no exception".
inline std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const WException& e) {
        return std::string(e.getName()) + ": " + e.getMessage().getBuf();
    }
    return "no exception";
}

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zv-graphics-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        dir = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string path(const char* name) const { return dir + "/" + name; }

private:
    std::string dir;
};

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct GifFrame {
    int left, top, width, height;
    std::vector<uint8_t> indexes;
    int delay; // hundredths
    int transparent; // index or -1
    int disposal;
};

inline int gifWrite(GifFileType* gif, const GifByteType* data, int length)
{
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

// A GIF with a global palette (RGB triples, power-of-two count) and frames.
inline std::vector<uint8_t> makeGif(
    int width, int height, const std::vector<uint32_t>& rgbPalette, const std::vector<GifFrame>& frames)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gifWrite, &error);
    std::vector<GifColorType> colours;
    for (uint32_t c : rgbPalette)
        colours.push_back(GifColorType {GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c)});
    gif->SWidth = width;
    gif->SHeight = height;
    gif->SColorResolution = 8;
    gif->SBackGroundColor = 0;
    gif->SColorMap = GifMakeMapObject(int(colours.size()), colours.data());
    for (size_t i = 0; i < frames.size(); ++i) {
        const GifFrame& f = frames[i];
        SavedImage* s = GifMakeSavedImage(gif, nullptr);
        s->ImageDesc.Left = f.left;
        s->ImageDesc.Top = f.top;
        s->ImageDesc.Width = f.width;
        s->ImageDesc.Height = f.height;
        s->ImageDesc.Interlace = false;
        s->ImageDesc.ColorMap = nullptr;
        s->RasterBits = static_cast<GifByteType*>(malloc(f.indexes.size()));
        std::memcpy(s->RasterBits, f.indexes.data(), f.indexes.size());
        GraphicsControlBlock gcb {};
        gcb.DisposalMode = f.disposal;
        gcb.DelayTime = f.delay;
        gcb.TransparentColor = f.transparent;
        EGifGCBToSavedExtension(&gcb, gif, int(i));
    }
    // The writer copies the colour map and leaves the images to us.
    ColorMapObject* map = gif->SColorMap;
    SavedImage* images = gif->SavedImages;
    const int count = gif->ImageCount;
    if (EGifSpew(gif) != GIF_OK) throw std::runtime_error("EGifSpew failed");
    GifFreeMapObject(map);
    for (int i = 0; i < count; ++i) {
        free(images[i].RasterBits);
        GifFreeExtensions(&images[i].ExtensionBlockCount, &images[i].ExtensionBlocks);
    }
    free(images);
    return out;
}

inline void put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A BMP with a 40-byte header (plus masks when given), bottom-up unless
// topDown. rows: already packed pixel bytes per row, top row first.
inline std::vector<uint8_t> makeBmp(int width, int height, int bpp, uint32_t compression,
    const std::vector<uint32_t>& palette, const std::vector<uint32_t>& masks,
    const std::vector<std::vector<uint8_t>>& rows, bool topDown = false)
{
    const size_t stride = ((size_t(width) * size_t(bpp) + 31) / 32) * 4;
    const uint32_t header = 14 + 40 + uint32_t(masks.size() * 4) + uint32_t(palette.size() * 4);
    std::vector<uint8_t> b;
    b.push_back('B');
    b.push_back('M');
    put32(b, header + uint32_t(stride * size_t(height)));
    put32(b, 0);
    put32(b, header);
    put32(b, 40);
    put32(b, uint32_t(width));
    put32(b, uint32_t(topDown ? -height : height));
    put16(b, 1);
    put16(b, uint32_t(bpp));
    put32(b, compression);
    put32(b, uint32_t(stride * size_t(height)));
    put32(b, 2835);
    put32(b, 2835);
    put32(b, uint32_t(palette.size()));
    put32(b, 0);
    for (uint32_t m : masks)
        put32(b, m);
    for (uint32_t c : palette)
        put32(b, c); // B, G, R, 0 in memory
    for (int i = 0; i < height; ++i) {
        const std::vector<uint8_t>& row = rows[size_t(topDown ? i : height - 1 - i)];
        std::vector<uint8_t> padded(row);
        padded.resize(stride, 0);
        b.insert(b.end(), padded.begin(), padded.end());
    }
    return b;
}

} // namespace gtest_support
