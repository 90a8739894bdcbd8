// GIF through giflib: every frame composited onto the logical screen with
// its disposal method; writing one frame with an exact or quantised palette.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "internal/ImageData.h"

namespace wgfx {
namespace {

// Frames beyond this are refused even when small: each costs a canvas copy.
constexpr size_t kMaxGifFrames = 10000;

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
    if (map != nullptr) GifFreeMapObject(map);
    for (int i = 0; i < count; ++i) {
        SavedImage& image = images[i];
        if (image.ImageDesc.ColorMap != nullptr) GifFreeMapObject(image.ImageDesc.ColorMap);
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

// Files are read record by record: a frame's size and count are checked
// against the limits before its pixels are decoded, line by line into the
// canvas, so a frame never needs a raster of its own.
bool decodeGif(const uint8_t* data, size_t size, ImageData& out, std::string& error)
{
    MemoryReader reader {data, size, 0};
    int status = 0;
    GifFileType* gif = DGifOpen(&reader, readMemory, &status);
    if (gif == nullptr) {
        error = GifErrorString(status) ? GifErrorString(status) : "cannot open GIF";
        return false;
    }
    struct Closer {
        GifFileType* g;
        ~Closer()
        {
            int e;
            DGifCloseFile(g, &e);
        }
    } closer {gif};
    auto fail = [&](const char* why) {
        error = why;
        out = ImageData();
        return false;
    };
    auto failed = [&]() {
        const char* text = GifErrorString(gif->Error);
        return fail(text ? text : "cannot read GIF");
    };
    const int w = gif->SWidth, h = gif->SHeight;
    if (!sizeAcceptable(w, h)) return fail("GIF size out of range");
    out.width = w;
    out.height = h;
    out.pixelFormat = PF_8BPP_INDEXED;
    const size_t canvasPixels = size_t(w) * size_t(h);
    // The decoding work of all frames together: their areas may not add up
    // to more pixels than the allocation limit holds.
    uint64_t areaLeft = allocationLimit() / 4;

    // What the next frame starts from: nothing (the clear canvas), or a
    // frame already made, with the area of that frame cleared when its
    // disposal asked for it. "Restore previous" keeps the start of the
    // frame before, so no canvas is ever copied aside.
    struct Start {
        long frame = -1;
        bool clearArea = false;
        int left = 0, top = 0, right = 0, bottom = 0;
    } start;
    uint32_t clearPixel = 0;
    GraphicsControlBlock gcb {};
    auto resetControl = [&gcb] {
        gcb = GraphicsControlBlock {};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    };
    resetControl();
    std::vector<GifByteType> line;

    GifRecordType record = UNDEFINED_RECORD_TYPE;
    do {
        if (DGifGetRecordType(gif, &record) == GIF_ERROR) return failed();
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return failed();
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr)
                DGifExtensionToGCB(block[0], block + 1, &gcb); // a damaged block keeps the defaults
            while (block != nullptr)
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return failed();
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR) return failed();
        const GifImageDesc& desc = gif->Image;
        const int fl = desc.Left, ft = desc.Top, fw = desc.Width, fh = desc.Height;
        if (fw <= 0 || fh <= 0) return fail("GIF frame empty");
        const size_t count = out.frames.size();
        if (count >= kMaxGifFrames || !fitsAllocationLimit(uint64_t(w), uint64_t(h), count + 1))
            return fail("GIF has too many frames");
        const uint64_t area = uint64_t(fw) * uint64_t(fh);
        if (area > areaLeft) return fail("GIF frames too large");
        areaLeft -= area;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;

        if (count == 0) {
            // The palette reported: the global map, else the first frame's own.
            if (map != nullptr) {
                for (int i = 0; i < map->ColorCount; ++i)
                    out.palette.push_back(argb(map->Colors[i], i == gcb.TransparentColor ? 0 : 0xFF));
                if (gcb.TransparentColor != NO_TRANSPARENT_COLOR && gcb.TransparentColor < map->ColorCount)
                    out.flags |= IMAGE_FLAG_HAS_ALPHA;
            }
            // Transparent canvas; where the key colour is known, keep its RGB
            // so a later save finds the same colour again.
            if ((out.flags & IMAGE_FLAG_HAS_ALPHA) != 0)
                clearPixel = out.palette[size_t(gcb.TransparentColor)] & 0x00FFFFFF;
        }

        std::vector<uint32_t> canvas;
        if (start.frame < 0)
            canvas.assign(canvasPixels, clearPixel);
        else
            canvas = out.frames[size_t(start.frame)];
        if (start.clearArea)
            for (int y = start.top; y < start.bottom; ++y)
                std::fill(canvas.begin() + long(size_t(y) * size_t(w) + size_t(start.left)),
                    canvas.begin() + long(size_t(y) * size_t(w) + size_t(start.right)), clearPixel);

        // Interlaced frames store rows in four passes.
        static const int passStart[4] = {0, 4, 2, 1}, passStep[4] = {8, 8, 4, 2};
        const int passes = desc.Interlace ? 4 : 1;
        line.resize(size_t(fw));
        const int fromX = std::max(0, -fl), toX = int(std::min<int64_t>(fw, int64_t(w) - fl));
        for (int pass = 0; pass < passes; ++pass) {
            for (int y = desc.Interlace ? passStart[pass] : 0; y < fh; y += desc.Interlace ? passStep[pass] : 1) {
                if (DGifGetLine(gif, line.data(), fw) == GIF_ERROR) return failed();
                const int64_t cy = int64_t(ft) + y;
                if (map == nullptr || cy < 0 || cy >= h) continue;
                uint32_t* target = canvas.data() + size_t(cy) * size_t(w);
                for (int x = fromX; x < toX; ++x) {
                    const int index = line[size_t(x)];
                    if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
                    target[fl + x] = argb(map->Colors[index], 0xFF);
                }
            }
        }
        out.frames.push_back(std::move(canvas));
        out.delays.push_back(static_cast<uint32_t>(std::max(gcb.DelayTime, 0)));
        // giflib keeps a record of every image read (and a copy of its colour
        // map), growing its array one by one; we need none of them.
        GifFreeSavedImages(gif);
        gif->ImageCount = 0;

        if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
            start = Start {long(count), true, std::clamp(fl, 0, w), std::clamp(ft, 0, h),
                int(std::clamp<int64_t>(int64_t(fl) + fw, 0, w)), int(std::clamp<int64_t>(int64_t(ft) + fh, 0, h))};
        } else if (gcb.DisposalMode != DISPOSE_PREVIOUS) {
            start = Start {long(count), false};
        }
        resetControl();
    } while (record != TERMINATE_RECORD_TYPE);
    if (out.frames.empty()) return fail("GIF has no image");
    return true;
}

bool encodeGif(const ImageData& image, size_t frameIndex, std::vector<uint8_t>& out)
{
    // The screen and frame sizes are 16-bit fields: larger sizes cannot be
    // written (giflib would keep only the low bits).
    if (frameIndex >= image.frames.size() || image.width <= 0 || image.height <= 0 || image.width > 0xFFFF
        || image.height > 0xFFFF)
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
        if ((entry >> 24) == 0 && transparent) keyRgb = entry & 0x00FFFFFF;

    std::map<uint32_t, int> colours;
    for (uint32_t p : pixels)
        if ((p >> 24) != 0) colours.emplace(p & 0x00FFFFFF, 0);
    const size_t limit = transparent ? 255 : 256;

    std::vector<GifByteType> raster(count);
    std::vector<GifColorType> table;
    int transparentIndex = NO_TRANSPARENT_COLOR;
    if (colours.size() <= limit) {
        for (auto& [rgb, index] : colours) {
            index = static_cast<int>(table.size());
            table.push_back(GifColorType {GifByteType(rgb >> 16), GifByteType(rgb >> 8), GifByteType(rgb)});
        }
        if (transparent) {
            transparentIndex = static_cast<int>(table.size());
            table.push_back(GifColorType {GifByteType(keyRgb >> 16), GifByteType(keyRgb >> 8), GifByteType(keyRgb)});
        }
        for (size_t i = 0; i < count; ++i)
            raster[i]
                = (pixels[i] >> 24) == 0 ? GifByteType(transparentIndex) : GifByteType(colours[pixels[i] & 0x00FFFFFF]);
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
        if (GifQuantizeBuffer(static_cast<unsigned>(image.width), static_cast<unsigned>(image.height), &size, r.data(),
                g.data(), b.data(), raster.data(), map.data())
            != GIF_OK)
            return false;
        table.assign(map.begin(), map.begin() + size);
        if (transparent) {
            transparentIndex = static_cast<int>(table.size());
            table.push_back(GifColorType {GifByteType(keyRgb >> 16), GifByteType(keyRgb >> 8), GifByteType(keyRgb)});
            for (size_t i = 0; i < count; ++i)
                if ((pixels[i] >> 24) == 0) raster[i] = GifByteType(transparentIndex);
        }
    }
    // Colour tables hold a power of two entries.
    int tableSize = 2;
    while (tableSize < static_cast<int>(table.size()))
        tableSize *= 2;
    table.resize(size_t(tableSize), GifColorType {0, 0, 0});

    int status = 0;
    out.clear();
    GifFileType* gif = EGifOpen(&out, writeMemory, &status);
    if (gif == nullptr) return false;
    bool ok = false;
    ColorMapObject* map = nullptr;
    do {
        map = GifMakeMapObject(tableSize, table.data());
        if (map == nullptr) break;
        gif->SWidth = image.width;
        gif->SHeight = image.height;
        gif->SColorResolution = 8;
        gif->SBackGroundColor = 0;
        gif->SColorMap = map;
        SavedImage* saved = GifMakeSavedImage(gif, nullptr);
        if (saved == nullptr) break;
        saved->ImageDesc.Left = 0;
        saved->ImageDesc.Top = 0;
        saved->ImageDesc.Width = image.width;
        saved->ImageDesc.Height = image.height;
        saved->ImageDesc.Interlace = false;
        saved->ImageDesc.ColorMap = nullptr;
        saved->RasterBits = static_cast<GifByteType*>(malloc(count));
        if (saved->RasterBits == nullptr) break;
        std::memcpy(saved->RasterBits, raster.data(), count);
        uint32_t delay = frameIndex < image.delays.size() ? image.delays[frameIndex] : 0;
        if (transparent || delay != 0) {
            GraphicsControlBlock gcb {};
            gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
            gcb.UserInputFlag = false;
            gcb.DelayTime = static_cast<int>(std::min<uint32_t>(delay, 65535));
            gcb.TransparentColor = transparentIndex;
            if (EGifGCBToSavedExtension(&gcb, gif, 0) != GIF_OK) break;
        }
        SavedImage* images = gif->SavedImages;
        const int imageCount = gif->ImageCount;
        const bool spewed = EGifSpew(gif) == GIF_OK; // writes and closes on success
        if (spewed) {
            ok = true;
            gif = nullptr;
        } else {
            if (gif->SColorMap == map) gif->SColorMap = nullptr;
            gif->SavedImages = nullptr;
            gif->ImageCount = 0;
        }
        freeWritten(map, images, imageCount);
        map = nullptr;
    } while (false);
    if (gif != nullptr) {
        if (gif->SColorMap == map) gif->SColorMap = nullptr;
        freeWritten(map, gif->SavedImages, gif->ImageCount);
        gif->SavedImages = nullptr;
        gif->ImageCount = 0;
        int e;
        EGifCloseFile(gif, &e);
    }
    return ok;
}

} // namespace wgfx
