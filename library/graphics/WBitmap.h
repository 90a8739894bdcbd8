#pragma once
// A decoded raster image: loaded from a file or a repository member
// ("$<repository>:<member>") in any format the codecs read (GIF with all its
// frames, JPEG, PNG, BMP), saved as JPEG (with a quality) or GIF, read and
// written pixel by pixel in COLORREF, drawn onto 32-bit images, resampled.
// Copies share the decoded image; a change detaches the changed copy.

#include <cstdint>
#include <memory>

#include "PixelImage.h"
#include "W2DTypes.h"
#include "WPalette.h"
#include "WString.h"

namespace wgfx {
struct ImageData;
}

class WBitmap {
public:
    // The most memory a decoded image may take, in bytes of 32-bit pixels
    // over all its frames (256 MB unless changed). Larger images, and files
    // larger than this, are refused by open before anything large is
    // allocated. Applies to every bitmap of the program.
    static void setAllocationLimit(uint64_t bytes);
    static uint64_t getAllocationLimit();

    WBitmap();
    explicit WBitmap(const char* fileName);
    // A bitmap made from a 32-bit image (the platform bitmap's pixels).
    explicit WBitmap(const wplat::PixelImage& image);
    WBitmap(HBITMAP bitmap, HPALETTE palette);
    WBitmap(const WBitmap& other);
    WBitmap& operator=(const WBitmap& other);
    virtual ~WBitmap();

    void open(const char* fileName);
    void create(const wplat::PixelImage& image);
    // From a platform bitmap; the palette is not needed for 32-bit pixels.
    void create(HBITMAP bitmap, HPALETTE palette);
    void save(const char* fileName, unsigned long quality);
    void close();

    unsigned long getWidth() const;
    unsigned long getHeight() const;
    unsigned long getBPP() const;
    unsigned long getPixel(unsigned long x, unsigned long y);
    void setPixel(unsigned long x, unsigned long y, unsigned long color);
    void getPalette(WPalette& palette) const;

    void setFrame(unsigned long frame);
    unsigned long getFrameIdx() const { return frameIndex; }
    unsigned long getFrameCount() const { return frameCount; }
    // Milliseconds; 0 without delays.
    unsigned long getFrameDelay() const;

    bool getColorKey(unsigned long& color) const;
    bool isColorKey() const { return hasColorKey; }

    // The platform bitmap's pixels: the selected frame over opaque black, or
    // over the colour key when there is one. Made once and cached; null when
    // empty. The bitmap keeps ownership.
    const wplat::PixelImage* getBitmapImage() const;
    // The same pixels as a platform bitmap, made once and cached; null when
    // empty. The bitmap keeps ownership: callers must not delete it.
    HBITMAP getBitmapHandle() const;
    operator HBITMAP() const { return getBitmapHandle(); }

    const WString& getFilename() const { return fileName; }
    // The decoded image itself; null when empty.
    const wgfx::ImageData* getGDIPlusObject() const { return image.get(); }

    void resample(unsigned long width, unsigned long height);

    // Drawing onto a 32-bit image (a device context's pixels). clip, when
    // given, limits the pixels written.
    void toDevice(wplat::PixelImage& target, int x, int y, const std::vector<RECT>* clip = nullptr) const;
    // source (pixels, right and bottom exclusive) scaled into destination, smoothed.
    void toDevice(wplat::PixelImage& target, const RECT& source, const RECT& destination,
        const std::vector<RECT>* clip = nullptr) const;
    // Into the parallelogram of points (upper-left, upper-right, lower-left);
    // count 3 or 4 draws, any other count draws nothing.
    void toDevice(wplat::PixelImage& target, const POINT* points, unsigned long count, bool smooth,
        const std::vector<RECT>* clip = nullptr) const;

    // The same onto a device context (its image and origin).
    void toDevice(HDC dc, int x, int y) const;
    void toDevice(HDC dc, const RECT& source, const RECT& destination) const;
    void toDevice(HDC dc, const POINT* points, unsigned long count, bool smooth) const;

protected:
    void initialize();
    void loadProperties();

private:
    // The image this bitmap may change, detached from other copies.
    wgfx::ImageData& ownImage();
    // The selected frame over the background, within area, into target.
    void render(wplat::PixelImage& target, const RECT& area) const;
    // Brings the cached platform image and handle up to date after area of
    // the selected frame changed: caches held by this bitmap alone are
    // redrawn in place (handles given out stay valid), shared ones are left
    // to the copies and made anew here on demand.
    void refreshCaches(const RECT& area);

    std::shared_ptr<wgfx::ImageData> image;
    mutable std::shared_ptr<wplat::PixelImage> bitmapImage;
    mutable std::shared_ptr<void> bitmapHandle; // deletes the platform bitmap
    WString fileName;
    unsigned long frameIndex;
    unsigned long frameCount;
    unsigned long colorKey;
    bool hasColorKey;
};
