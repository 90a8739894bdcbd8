#pragma once
// Drawing surfaces: 32-bit software images that belong to a drawing context.
// Block transfers (copy or stretch, optional source colour key, clip list)
// are our own loops; device contexts draw into the same pixels. Surface loss
// never happens on its own here: W2DContext::loseSurfaces() and
// W2DSurface::simulateLoss() make it happen so the recovery paths run.

#include <memory>
#include <vector>

#include "PixelImage.h"
#include "W2DRegion.h"
#include "W2DTypes.h"
#include "WString.h"
#include "WWindow.h"

class W2DContext;
class W2DSurfaceOffscreen;
class WBitmap;

namespace wgfx {
struct SurfaceMemory;
}

// The result a lost surface reports.
constexpr long DDERR_SURFACELOST = static_cast<long>(0x887601C2L);

// Refills a surface's pixels after loss.
class W2DContentReloader {
public:
    virtual ~W2DContentReloader() = default;
    virtual void reloadContent() { }
};

class W2DSurface {
public:
    W2DSurface();
    virtual ~W2DSurface();
    // A surface owns its pixels and its device context: not copyable.
    W2DSurface(const W2DSurface&) = delete;
    W2DSurface& operator=(const W2DSurface&) = delete;

    virtual void reloadContent();
    virtual void getArea(RECT& area) const = 0;
    virtual unsigned long getWidth() const = 0;
    virtual unsigned long getHeight() const = 0;

    operator HDC() const { return dc; }
    // The surface keeps its own copy of the region last set.
    const W2DRegion* getClipRegion() const { return clipRegion.get(); }

    bool isLost() const;
    void restore();
    // key is a COLORREF; it is compared with source pixels in their own format.
    void setColorKey(unsigned long key);
    void setUseColorKey(bool use) { useColorKey = use; }
    const unsigned long& getColorKey() const { return colorKey; }
    bool isColorKey() const { return useColorKey; }
    void setReloader(W2DContentReloader* r) { reloader = r; }

    // A device context over the surface's pixels (restores a lost surface
    // once); null when the surface is empty or stays lost.
    HDC getDC();
    void releaseDC();
    void erase(const unsigned long& colour);
    void draw(const W2DSurface& source, const RECT& sourceArea, const RECT& targetArea) const;
    void draw(const W2DSurface& source, int x, int y) const;
    void setClipRegion(const W2DRegion& region);
    void setClipWindow(HWND window);
    void setClipWindow(const WWindowContext& window) { setClipWindow(window.getWindowHandle()); }

    // The pixels (null when empty); for presenting and for tests.
    wplat::PixelImage* getImage() const;
    const W2DContext* getContext() const { return context; }
    // Test hook: the surface is lost now; the next `refusedRestores` restores
    // fail as well.
    void simulateLoss(unsigned long refusedRestores = 0);

protected:
    friend class W2DSurfacePrimary;
    void init(const W2DContext& owner, std::shared_ptr<wgfx::SurfaceMemory> memory);
    void close();
    // Makes fresh memory of the given size registered with the context.
    void allocate(const W2DContext& owner, unsigned long width, unsigned long height, const char* failure);
    const std::shared_ptr<wgfx::SurfaceMemory>& getMemory() const { return memory; }

private:
    // One transfer; false when either surface is lost.
    bool transfer(const W2DSurface& source, const RECT& sourceArea, const RECT& targetArea) const;

    std::shared_ptr<wgfx::SurfaceMemory> memory;
    bool hasClipper;
    std::unique_ptr<W2DRegion> clipRegion;
    std::vector<RECT> clipList;
    HWND clipWindow;
    const W2DContext* context;
    HDC dc;
    bool useColorKey;
    unsigned long colorKey;
    W2DContentReloader* reloader;
};

class W2DSurfaceOffscreen : public W2DSurface {
public:
    W2DSurfaceOffscreen();
    ~W2DSurfaceOffscreen() override;

    // A size of 0, above 65536 a side or beyond the allocation limit of
    // WBitmap (width x height x 4 bytes) is refused with WDirectXException
    // "Cannot create offscreen surface.".
    void create(const W2DContext& context, unsigned long width, unsigned long height);
    // The size of the context's area.
    void create(const W2DContext& context);
    void close();

    void getArea(RECT& area) const override;
    unsigned long getWidth() const override;
    unsigned long getHeight() const override;

private:
    friend class W2DSurfacePrimary;
    void adopt(const W2DContext& context, std::shared_ptr<wgfx::SurfaceMemory> memory);
};

// An off-screen surface filled from an image file (or repository member).
class W2DSurfaceBitmap : public W2DSurfaceOffscreen {
public:
    W2DSurfaceBitmap();
    ~W2DSurfaceBitmap() override;

    void create(const W2DContext& context, const char* imageFile);
    const WString& getFilename() const { return fileName; }
    void reloadContent() override;

private:
    // The image drawn over the surface, its colour key (if any) taken on.
    void fill(const WBitmap& image);

    WString fileName;
};

// The visible surface of a context: the context's area, with an optional
// ring of back buffers that flip() swaps with it.
class W2DSurfacePrimary : public W2DSurface {
public:
    W2DSurfacePrimary();
    ~W2DSurfacePrimary() override;

    void create(const W2DContext& context, unsigned long backBufferCount);
    void flip();
    void getBackBuffer(W2DSurfaceOffscreen& target);
    void close();

    void getArea(RECT& area) const override;
    unsigned long getWidth() const override;
    unsigned long getHeight() const override;

private:
    std::vector<std::shared_ptr<wgfx::SurfaceMemory>> backBuffers;
};
