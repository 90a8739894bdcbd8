// GIF through giflib: every frame composited onto the logical screen with
// its disposal method; writing one frame with an exact or quantised palette.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "ImageData.h"

namespace wgfx {
namespace {

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int readMemory(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* in = static_cast<MemoryReader*>(gif->UserData);
    size_t n = std::min<size_t>(static_cast<size_t>(std::max(length, 0)), in->size - in->pos);
    std::memcpy(buffer, in->data + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
}

int writeMemory(GifFileType* gif, const GifByteType* buffer, int length)
{
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), buffer, buffer + length);
    return length;
}

// Writing copies the screen's colour map and leaves the saved images to the
// caller: both are freed here after the file is written or abandoned.
void freeWritten(ColorMapObject* map, SavedImage* images, int count)
{
    if (map != nullptr)
        GifFreeMapObject(map);
    for (int i = 0; i < count; ++i) {
        SavedImage& image = images[i];
        if (image.ImageDesc.ColorMap != nullptr)
            GifFreeMapObject(image.ImageDesc.ColorMap);
        free(image.RasterBits);
        GifFreeExtensions(&image.ExtensionBlockCount, &image.ExtensionBlocks);
    }
    free(images);
}

uint32_t argb(const GifColorType& c, uint8_t alpha)
{
    return (uint32_t(alpha) << 24) | (uint32_t(c.Red) << 16) | (uint32_t(c.Green) << 8) | c.Blue;
}

} // namespace

bool decodeGif(const uint8_t* data, size_t size, ImageData& out, std::string& error)
{
    MemoryReader reader{data, size, 0};
    int status = 0;
    GifFileType* gif = DGifOpen(&reader, readMemory, &status);
    if (gif == nullptr) {
        error = GifErrorString(status) ? GifErrorString(status) : "cannot open GIF";
        return false;
    }
    struct Closer {
        GifFileType* g;
        ~Closer() { int e; DGifCloseFile(g, &e); }
    } closer{gif};
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
        const char* text = GifErrorString(gif->Error);
        error = text ? text : "cannot read GIF";
        return false;
    }
    int w = gif->SWidth, h = gif->SHeight;
    if (!sizeAcceptable(w, h)) {
        error = "GIF size out of range";
        return false;
    }
    out.width = w;
    out.height = h;
    out.pixelFormat = PF_8BPP_INDEXED;

    // The palette reported: the global map, else the first frame's own.
    const ColorMapObject* reported = gif->SColorMap ? gif->SColorMap : gif->SavedImages[0].ImageDesc.ColorMap;
    GraphicsControlBlock firstGcb{};
    firstGcb.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif, 0, &firstGcb);
    if (reported) {
        for (int i = 0; i < reported->ColorCount; ++i) {
            bool clear = i == firstGcb.TransparentColor;
            out.palette.push_back(argb(reported->Colors[i], clear ? 0 : 0xFF));
        }
        if (firstGcb.TransparentColor != NO_TRANSPARENT_COLOR && firstGcb.TransparentColor < reported->ColorCount)
            out.flags |= IMAGE_FLAG_HAS_ALPHA;
    }

    // Transparent canvas; where the key colour is known, keep its RGB so a
    // later save finds the same colour again.
    uint32_t clearPixel = 0;
    if ((out.flags & IMAGE_FLAG_HAS_ALPHA) != 0)
        clearPixel = out.palette[firstGcb.TransparentColor] & 0x00FFFFFF;
    std::vector<uint32_t> canvas(size_t(w) * size_t(h), clearPixel);
    std::vector<uint32_t> previous;
    for (int f = 0; f < gif->ImageCount; ++f) {
        const SavedImage& frame = gif->SavedImages[f];
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        DGifSavedExtensionToGCB(gif, f, &gcb);
        const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
        if (gcb.DisposalMode == DISPOSE_PREVIOUS)
            previous = canvas;
        int fl = frame.ImageDesc.Left, ft = frame.ImageDesc.Top;
        int fw = frame.ImageDesc.Width, fh = frame.ImageDesc.Height;
        if (map && frame.RasterBits && fw > 0 && fh > 0) {
            for (int y = std::max(0, -ft); y < fh && ft + y < h; ++y)
                for (int x = std::max(0, -fl); x < fw && fl + x < w; ++x) {
                    int index = frame.RasterBits[size_t(y) * size_t(fw) + size_t(x)];
                    if (index == gcb.TransparentColor || index >= map->ColorCount)
                        continue;
                    canvas[size_t(ft + y) * size_t(w) + size_t(fl + x)] = argb(map->Colors[index], 0xFF);
                }
        }
        out.frames.push_back(canvas);
        out.delays.push_back(static_cast<uint32_t>(std::max(gcb.DelayTime, 0)));
        // Prepare the canvas for the next frame.
        if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
            for (int y = std::max(0, ft); y < std::min(h, ft + fh); ++y)
                for (int x = std::max(0, fl); x < std::min(w, fl + fw); ++x)
                    canvas[size_t(y) * size_t(w) + size_t(x)] = clearPixel;
        } else if (gcb.DisposalMode == DISPOSE_PREVIOUS && !previous.empty()) {
            canvas = previous;
        }
    }
    return true;
}

bool encodeGif(const ImageData& image, size_t frameIndex, std::vector<uint8_t>& out)
{
    if (frameIndex >= image.frames.size() || image.width <= 0 || image.height <= 0)
        return false;
    const std::vector<uint32_t>& pixels = image.frames[frameIndex];
    const size_t count = size_t(image.width) * size_t(image.height);

    // Transparent pixels take the key colour's index: the colour of the
    // palette's last clear entry, else the colour the clear pixels carry.
    bool transparent = false;
    uint32_t keyRgb = 0;
    for (uint32_t p : pixels)
        if ((p >> 24) == 0) {
            transparent = true;
            keyRgb = p & 0x00FFFFFF;
            break;
        }
    for (uint32_t entry : image.palette)
        if ((entry >> 24) == 0 && transparent)
            keyRgb = entry & 0x00FFFFFF;

    std::map<uint32_t, int> colours;
    for (uint32_t p : pixels)
        if ((p >> 24) != 0)
            colours.emplace(p & 0x00FFFFFF, 0);
    const size_t limit = transparent ? 255 : 256;

    std::vector<GifByteType> raster(count);
    std::vector<GifColorType> table;
    int transparentIndex = NO_TRANSPARENT_COLOR;
    if (colours.size() <= limit) {
        for (auto& [rgb, index] : colours) {
            index = static_cast<int>(table.size());
            table.push_back(GifColorType{GifByteType(rgb >> 16), GifByteType(rgb >> 8), GifByteType(rgb)});
        }
        if (transparent) {
            transparentIndex = static_cast<int>(table.size());
            table.push_back(GifColorType{GifByteType(keyRgb >> 16), GifByteType(keyRgb >> 8), GifByteType(keyRgb)});
        }
        for (size_t i = 0; i < count; ++i)
            raster[i] = (pixels[i] >> 24) == 0 ? GifByteType(transparentIndex)
                                               : GifByteType(colours[pixels[i] & 0x00FFFFFF]);
    } else {
        // Median cut over the opaque colours (clear pixels take their stored
        // colour here; their index is replaced below).
        std::vector<GifByteType> r(count), g(count), b(count);
        for (size_t i = 0; i < count; ++i) {
            r[i] = GifByteType(pixels[i] >> 16);
            g[i] = GifByteType(pixels[i] >> 8);
            b[i] = GifByteType(pixels[i]);
        }
        int size = static_cast<int>(limit);
        std::vector<GifColorType> map(256);
        if (GifQuantizeBuffer(static_cast<unsigned>(image.width), static_cast<unsigned>(image.height), &size,
                              r.data(), g.data(), b.data(), raster.data(), map.data()) != GIF_OK)
            return false;
        table.assign(map.begin(), map.begin() + size);
        if (transparent) {
            transparentIndex = static_cast<int>(table.size());
            table.push_back(GifColorType{GifByteType(keyRgb >> 16), GifByteType(keyRgb >> 8), GifByteType(keyRgb)});
            for (size_t i = 0; i < count; ++i)
                if ((pixels[i] >> 24) == 0)
                    raster[i] = GifByteType(transparentIndex);
        }
    }
    // Colour tables hold a power of two entries.
    int tableSize = 2;
    while (tableSize < static_cast<int>(table.size()))
        tableSize *= 2;
    table.resize(size_t(tableSize), GifColorType{0, 0, 0});

    int status = 0;
    out.clear();
    GifFileType* gif = EGifOpen(&out, writeMemory, &status);
    if (gif == nullptr)
        return false;
    bool ok = false;
    ColorMapObject* map = nullptr;
    do {
        map = GifMakeMapObject(tableSize, table.data());
        if (map == nullptr)
            break;
        gif->SWidth = image.width;
        gif->SHeight = image.height;
        gif->SColorResolution = 8;
        gif->SBackGroundColor = 0;
        gif->SColorMap = map;
        SavedImage* saved = GifMakeSavedImage(gif, nullptr);
        if (saved == nullptr)
            break;
        saved->ImageDesc.Left = 0;
        saved->ImageDesc.Top = 0;
        saved->ImageDesc.Width = image.width;
        saved->ImageDesc.Height = image.height;
        saved->ImageDesc.Interlace = false;
        saved->ImageDesc.ColorMap = nullptr;
        saved->RasterBits = static_cast<GifByteType*>(malloc(count));
        if (saved->RasterBits == nullptr)
            break;
        std::memcpy(saved->RasterBits, raster.data(), count);
        uint32_t delay = frameIndex < image.delays.size() ? image.delays[frameIndex] : 0;
        if (transparent || delay != 0) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
            gcb.UserInputFlag = false;
            gcb.DelayTime = static_cast<int>(std::min<uint32_t>(delay, 65535));
            gcb.TransparentColor = transparentIndex;
            if (EGifGCBToSavedExtension(&gcb, gif, 0) != GIF_OK)
                break;
        }
        SavedImage* images = gif->SavedImages;
        const int imageCount = gif->ImageCount;
        const bool spewed = EGifSpew(gif) == GIF_OK; // writes and closes on success
        if (spewed) {
            ok = true;
            gif = nullptr;
        } else {
            if (gif->SColorMap == map)
                gif->SColorMap = nullptr;
            gif->SavedImages = nullptr;
            gif->ImageCount = 0;
        }
        freeWritten(map, images, imageCount);
        map = nullptr;
    } while (false);
    if (gif != nullptr) {
        if (gif->SColorMap == map)
            gif->SColorMap = nullptr;
        freeWritten(map, gif->SavedImages, gif->ImageCount);
        gif->SavedImages = nullptr;
        gif->ImageCount = 0;
        int e;
        EGifCloseFile(gif, &e);
    }
    return ok;
}

} // namespace wgfx
