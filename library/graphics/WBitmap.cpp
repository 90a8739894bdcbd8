#include "WBitmap.h"

#include <climits>
#include <new>
#include <vector>

#include "Platform.h"
#include "WException.h"
#include "WFileStream.h"
#include "WSystem.h"
#include "internal/AtomicFile.h"
#include "internal/ImageData.h"
#include "internal/WImageDraw.h"

namespace {

// Reads the whole file or member through a file stream; false when a read
// fails or the file is larger than the allocation limit. Opening raises the
// file layer's own exceptions.
bool readAll(const char* path, std::vector<uint8_t>& bytes)
{
    WFileStream stream;
    stream.setRefCount(1);
    stream.getFile().open(path, false);
    const uint64_t limit = wgfx::allocationLimit();
    std::vector<uint8_t> chunk(65536);
    for (;;) {
        unsigned long done = 0;
        if (stream.Read(chunk.data(), static_cast<unsigned long>(chunk.size()), &done) != S_OK) return false;
        if (bytes.size() + done > limit) return false;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + long(done));
        if (done < chunk.size()) return true;
    }
}

wgfx::ArgbView viewOf(const wgfx::ImageData& image, unsigned long frame)
{
    return wgfx::ArgbView {image.frames[frame].data(), image.width, image.height};
}

} // namespace

WBitmap::WBitmap()
{
    initialize();
}

WBitmap::WBitmap(const char* name) : WBitmap()
{
    open(name);
}

WBitmap::WBitmap(const wplat::PixelImage& pixels) : WBitmap()
{
    create(pixels);
}

WBitmap::WBitmap(HBITMAP bitmap, HPALETTE palette) : WBitmap()
{
    create(bitmap, palette);
}

WBitmap::WBitmap(const WBitmap& other) = default;
WBitmap& WBitmap::operator=(const WBitmap& other) = default;

WBitmap::~WBitmap()
{
    close();
}

void WBitmap::initialize()
{
    image.reset();
    bitmapImage.reset();
    bitmapHandle.reset();
    frameIndex = 0;
    frameCount = 0;
    colorKey = 0;
    hasColorKey = false;
}

void WBitmap::close()
{
    initialize();
}

void WBitmap::setAllocationLimit(uint64_t bytes)
{
    wgfx::setAllocationLimit(bytes);
}

uint64_t WBitmap::getAllocationLimit()
{
    return wgfx::allocationLimit();
}

// Every failure of reading or decoding, running out of memory included,
// becomes the bitmap exception; only a repository's own errors pass through.
void WBitmap::open(const char* name)
{
    close();
    fileName = name ? name : "";
    const bool member = fileName.startsWith('$');
    auto decoded = std::make_shared<wgfx::ImageData>();
    bool ok = false;
    try {
        std::vector<uint8_t> bytes;
        std::string error;
        ok = readAll(fileName, bytes) && wgfx::decodeImage(bytes.data(), bytes.size(), *decoded, error);
    } catch (const WException&) {
        if (member) throw;
        ok = false;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) throw WBitmapException(WFormattedString("Cannot load bitmap: %s", fileName.getBuf()));
    image = std::move(decoded);
    loadProperties();
}

void WBitmap::create(const wplat::PixelImage& pixels)
{
    close();
    if (pixels.isNull()) throw WBitmapException("Cannot create bitmap.");
    auto made = std::make_shared<wgfx::ImageData>();
    made->width = pixels.width();
    made->height = pixels.height();
    made->pixelFormat = wgfx::PF_32BPP_RGB;
    try {
        made->frames.assign(1, std::vector<uint32_t>(size_t(made->width) * size_t(made->height)));
    } catch (const std::bad_alloc&) {
        throw WBitmapException("Cannot create bitmap.");
    }
    for (int y = 0; y < made->height; ++y)
        for (int x = 0; x < made->width; ++x)
            made->frames[0][size_t(y) * size_t(made->width) + size_t(x)] = 0xFF000000u | pixels.pixel(x, y);
    image = std::move(made);
    loadProperties();
}

void WBitmap::create(HBITMAP bitmap, HPALETTE)
{
    close();
    const wplat::PixelImage* pixels = bitmap ? wplat::getBitmapImage(bitmap) : nullptr;
    if (pixels == nullptr || pixels->isNull()) throw WBitmapException("Cannot create bitmap.");
    create(*pixels);
}

void WBitmap::loadProperties()
{
    frameCount = 1;
    if (!image) return;
    frameCount = static_cast<unsigned long>(image->frames.size());
    if ((image->flags & wgfx::IMAGE_FLAG_HAS_ALPHA) != 0) {
        // The last fully transparent palette entry wins.
        for (uint32_t entry : image->palette)
            if ((entry >> 24) == 0) {
                hasColorKey = true;
                colorKey = wplat::colorRefFromRgb(entry & 0x00FFFFFF);
            }
    }
}

wgfx::ImageData& WBitmap::ownImage()
{
    if (image.use_count() > 1) image = std::make_shared<wgfx::ImageData>(*image);
    return *image;
}

void WBitmap::save(const char* name, unsigned long quality)
{
    WString extension;
    WSystem::extractFileExtension(name, extension);
    extension.toLowerCase();
    const bool jpeg = extension.equals("jpg");
    if (!jpeg && !extension.equals("gif")) throw WBitmapException("Bitmap format is not supported for saving!");
    // Encode in memory, then replace the file in one step: a failure at any
    // point leaves an existing file whole.
    std::vector<uint8_t> bytes;
    bool ok = false;
    try {
        ok = image
            && (jpeg ? wgfx::encodeJpeg(*image, frameIndex, static_cast<long>(quality > 1000 ? 1000 : quality), bytes)
                     : wgfx::encodeGif(*image, frameIndex, bytes));
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok || !wgfx::replaceFile(name, bytes.data(), bytes.size()))
        throw WBitmapException("Error while saving image!");
}

unsigned long WBitmap::getWidth() const
{
    return image ? static_cast<unsigned long>(image->width) : 0;
}

unsigned long WBitmap::getHeight() const
{
    return image ? static_cast<unsigned long>(image->height) : 0;
}

unsigned long WBitmap::getBPP() const
{
    if (!image) return 0;
    switch (image->pixelFormat) {
    case wgfx::PF_1BPP_INDEXED:
        return 1;
    case wgfx::PF_4BPP_INDEXED:
        return 4;
    case wgfx::PF_8BPP_INDEXED:
        return 8;
    case wgfx::PF_16BPP_RGB555:
    case wgfx::PF_16BPP_RGB565:
    case wgfx::PF_16BPP_ARGB1555:
    case wgfx::PF_16BPP_GREY:
        return 16;
    case wgfx::PF_24BPP_RGB:
        return 24;
    case wgfx::PF_32BPP_RGB:
    case wgfx::PF_32BPP_PARGB:
    case wgfx::PF_32BPP_ARGB:
        return 32;
    case wgfx::PF_48BPP_RGB:
        return 48;
    case wgfx::PF_64BPP_ARGB:
    case wgfx::PF_64BPP_PARGB:
        return 64;
    default:
        return 0;
    }
}

unsigned long WBitmap::getPixel(unsigned long x, unsigned long y)
{
    if (!image || x >= getWidth() || y >= getHeight()) return 0;
    uint32_t p = image->frames[frameIndex][y * getWidth() + x];
    return wplat::colorRefFromRgb(p & 0x00FFFFFF);
}

// Indexed images take the pixel too: their palette is rebuilt on saving.
// Without the memory to detach from copies, nothing changes.
void WBitmap::setPixel(unsigned long x, unsigned long y, unsigned long color)
{
    if (!image || x >= getWidth() || y >= getHeight()) return;
    try {
        wgfx::ImageData& own = ownImage();
        own.frames[frameIndex][y * getWidth() + x] = 0xFF000000u | wplat::rgbFromColorRef(static_cast<uint32_t>(color));
        refreshCaches(RECT {int32_t(x), int32_t(y), int32_t(x + 1), int32_t(y + 1)});
    } catch (const std::bad_alloc&) {
    }
}

void WBitmap::getPalette(WPalette& palette) const
{
    if (!image || image->palette.empty()) return;
    std::vector<RGBQUAD> quads;
    for (uint32_t entry : image->palette)
        quads.push_back(RGBQUAD {uint8_t(entry), uint8_t(entry >> 8), uint8_t(entry >> 16), 0});
    try {
        palette.create(quads.data(), static_cast<unsigned long>(quads.size()), getBPP());
    } catch (const WException&) {
        throw WBitmapException("Cannot load palette from bitmap.");
    }
}

void WBitmap::setFrame(unsigned long frame)
{
    if (!image || frame >= frameCount || frame == frameIndex) return;
    frameIndex = frame;
    refreshCaches(RECT {0, 0, image->width, image->height});
}

unsigned long WBitmap::getFrameDelay() const
{
    if (!image || frameIndex >= image->delays.size()) return 0;
    return static_cast<unsigned long>(image->delays[frameIndex]) * 10;
}

bool WBitmap::getColorKey(unsigned long& color) const
{
    if (!hasColorKey) return false;
    color = colorKey;
    return true;
}

void WBitmap::render(wplat::PixelImage& target, const RECT& area) const
{
    const uint32_t background = hasColorKey ? wplat::rgbFromColorRef(static_cast<uint32_t>(colorKey)) : 0;
    const std::vector<uint32_t>& pixels = image->frames[frameIndex];
    for (int y = area.top; y < area.bottom; ++y) {
        uint32_t* row = target.row(y);
        const uint32_t* source = pixels.data() + size_t(y) * size_t(image->width);
        for (int x = area.left; x < area.right; ++x)
            row[x] = wgfx::blend(background, source[x]);
    }
}

const wplat::PixelImage* WBitmap::getBitmapImage() const
{
    if (!image) return nullptr;
    if (!bitmapImage) {
        try {
            auto made = std::make_shared<wplat::PixelImage>(image->width, image->height);
            render(*made, RECT {0, 0, image->width, image->height});
            bitmapImage = std::move(made);
        } catch (const std::bad_alloc&) {
            return nullptr; // as for an empty bitmap
        }
    }
    return bitmapImage.get();
}

void WBitmap::refreshCaches(const RECT& area)
{
    if (bitmapImage.use_count() == 1)
        render(*bitmapImage, area);
    else
        bitmapImage.reset();
    wplat::PixelImage* handlePixels
        = bitmapHandle ? wplat::getBitmapImage(static_cast<HBITMAP>(bitmapHandle.get())) : nullptr;
    if (bitmapHandle.use_count() == 1 && handlePixels != nullptr && handlePixels->width() == image->width
        && handlePixels->height() == image->height)
        render(*handlePixels, area);
    else
        bitmapHandle.reset();
}

// Every frame is resampled, so the frame count stays true.
void WBitmap::resample(unsigned long width, unsigned long height)
{
    if (!image || width == 0 || height == 0 || width > unsigned(wgfx::kMaxSide) || height > unsigned(wgfx::kMaxSide)
        || !wgfx::fitsAllocationLimit(width, height, image->frames.size()))
        return;
    // Made aside first: when memory runs out, nothing changes.
    std::vector<std::vector<uint32_t>> frames;
    try {
        for (const std::vector<uint32_t>& frame : image->frames)
            frames.push_back(wgfx::resampleArgb(wgfx::ArgbView {frame.data(), image->width, image->height},
                static_cast<int>(width), static_cast<int>(height)));
    } catch (const std::bad_alloc&) {
        return;
    }
    if (image.use_count() > 1) {
        // Detach without copying the old pixels.
        auto detached = std::make_shared<wgfx::ImageData>();
        detached->pixelFormat = image->pixelFormat;
        detached->flags = image->flags;
        detached->palette = image->palette;
        detached->delays = image->delays;
        image = std::move(detached);
    }
    wgfx::ImageData& own = *image;
    bitmapImage.reset();
    bitmapHandle.reset();
    own.frames = std::move(frames);
    own.width = static_cast<int>(width);
    own.height = static_cast<int>(height);
}

void WBitmap::toDevice(wplat::PixelImage& target, int x, int y, const std::vector<RECT>* clip) const
{
    // An image whose far corner lies beyond the coordinate range is beyond
    // every target as well.
    if (!image || int64_t(x) + image->width > INT32_MAX || int64_t(y) + image->height > INT32_MAX) return;
    RECT source {0, 0, image->width, image->height};
    RECT destination {x, y, x + image->width, y + image->height};
    wgfx::drawScaled(
        target, viewOf(*image, frameIndex), source, destination, wgfx::Sampling::Nearest, wgfx::Clip {clip});
}

void WBitmap::toDevice(
    wplat::PixelImage& target, const RECT& source, const RECT& destination, const std::vector<RECT>* clip) const
{
    if (!image) return;
    wgfx::drawScaled(
        target, viewOf(*image, frameIndex), source, destination, wgfx::Sampling::Smooth, wgfx::Clip {clip});
}

void WBitmap::toDevice(wplat::PixelImage& target, const POINT* points, unsigned long count, bool smooth,
    const std::vector<RECT>* clip) const
{
    if (!image || points == nullptr || (count != 3 && count != 4)) return;
    POINT copy[3] = {points[0], points[1], points[2]};
    wgfx::drawParallelogram(target, viewOf(*image, frameIndex), copy,
        smooth ? wgfx::Sampling::Smooth : wgfx::Sampling::Nearest, wgfx::Clip {clip});
}

HBITMAP WBitmap::getBitmapHandle() const
{
    if (!bitmapHandle) {
        const wplat::PixelImage* pixels = getBitmapImage();
        if (pixels == nullptr) return nullptr;
        HBITMAP made = nullptr;
        try {
            made = wplat::createBitmapFromImage(*pixels);
        } catch (const std::bad_alloc&) {
            made = nullptr;
        }
        if (made == nullptr) return nullptr;
        bitmapHandle = std::shared_ptr<void>(made, [](void* h) { wplat::deleteObject((HGDIOBJ)h); });
    }
    return static_cast<HBITMAP>(bitmapHandle.get());
}

namespace {

// The context's image with the point shifted into image coordinates.
wplat::PixelImage* imageOf(HDC dc, POINT& origin)
{
    origin = POINT {0, 0};
    return dc ? wplat::getDCImage(dc, &origin) : nullptr;
}

// Shifts a coordinate by a context's origin; false when the result leaves
// the coordinate range (and with it every image).
bool shift(int32_t& value, int32_t by)
{
    const int64_t moved = int64_t(value) + by;
    if (moved < INT32_MIN || moved > INT32_MAX) return false;
    value = static_cast<int32_t>(moved);
    return true;
}

bool shifted(RECT& r, const POINT& o)
{
    return shift(r.left, o.x) && shift(r.top, o.y) && shift(r.right, o.x) && shift(r.bottom, o.y);
}

} // namespace

void WBitmap::toDevice(HDC dc, int x, int y) const
{
    POINT o;
    wplat::PixelImage* target = imageOf(dc, o);
    if (target != nullptr && shift(x, o.x) && shift(y, o.y)) toDevice(*target, x, y);
}

void WBitmap::toDevice(HDC dc, const RECT& source, const RECT& destination) const
{
    POINT o;
    RECT moved = destination;
    wplat::PixelImage* target = imageOf(dc, o);
    if (target != nullptr && shifted(moved, o)) toDevice(*target, source, moved);
}

void WBitmap::toDevice(HDC dc, const POINT* points, unsigned long count, bool smooth) const
{
    POINT o;
    wplat::PixelImage* target = imageOf(dc, o);
    if (target == nullptr || points == nullptr || (count != 3 && count != 4)) return;
    POINT copy[3] = {points[0], points[1], points[2]};
    for (POINT& p : copy)
        if (!shift(p.x, o.x) || !shift(p.y, o.y)) return;
    toDevice(*target, copy, 3, smooth);
}
