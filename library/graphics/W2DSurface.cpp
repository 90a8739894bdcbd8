#include "W2DSurface.h"

#include <climits>
#include <new>

#include "W2DContext.h"
#include "WBitmap.h"
#include "WException.h"
#include "internal/ImageData.h"
#include "internal/SurfaceMemory.h"
#include "internal/WBlit.h"

namespace wgfx {

// Sizes beyond the allocation limit, and memory that runs out, make no
// surface; callers report that with their own message.
std::shared_ptr<SurfaceMemory> SurfaceDevice::make(int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide
        || !fitsAllocationLimit(uint64_t(width), uint64_t(height)))
        return nullptr;
    std::shared_ptr<SurfaceMemory> memory;
    try {
        memory = std::make_shared<SurfaceMemory>();
        memory->bitmap = wplat::createBitmap(width, height);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (memory->bitmap == nullptr) return nullptr;
    memory->image = wplat::getBitmapImage(memory->bitmap);
    std::lock_guard<std::mutex> guard(lock);
    std::erase_if(made, [](const std::weak_ptr<SurfaceMemory>& w) { return w.expired(); });
    made.push_back(memory);
    return memory;
}

void SurfaceDevice::loseAll()
{
    std::lock_guard<std::mutex> guard(lock);
    for (auto& weak : made)
        if (auto memory = weak.lock()) memory->lost = true;
}

} // namespace wgfx

namespace {
// A restored surface starts black, like a new one, so refilling it gives
// exactly the pixels of the first fill.
constexpr uint32_t kRestoredFill = 0x000000;
} // namespace

// ---- W2DSurface

W2DSurface::W2DSurface()
    : hasClipper(false), clipWindow(nullptr), context(nullptr), dc(nullptr), useColorKey(false), colorKey(0),
      reloader(nullptr)
{
}

W2DSurface::~W2DSurface()
{
    close();
}

void W2DSurface::close()
{
    releaseDC();
    memory.reset();
    hasClipper = false;
    clipList.clear();
    clipWindow = nullptr;
    context = nullptr;
}

void W2DSurface::init(const W2DContext& owner, std::shared_ptr<wgfx::SurfaceMemory> adopted)
{
    close();
    memory = std::move(adopted);
    context = &owner;
}

void W2DSurface::allocate(const W2DContext& owner, unsigned long width, unsigned long height, const char* failure)
{
    close();
    std::shared_ptr<wgfx::SurfaceMemory> made;
    if (owner.getDevice() != nullptr && width > 0 && height > 0 && width <= unsigned(wgfx::kMaxSide)
        && height <= unsigned(wgfx::kMaxSide))
        made = owner.getDevice()->make(static_cast<int>(width), static_cast<int>(height));
    if (!made) throw WDirectXException(failure, 0);
    memory = std::move(made);
    context = &owner;
}

void W2DSurface::reloadContent()
{
    if (reloader != nullptr) reloader->reloadContent();
}

bool W2DSurface::isLost() const
{
    return memory && memory->lost;
}

void W2DSurface::restore()
{
    if (!memory || !memory->lost) return;
    if (memory->refusedRestores > 0) {
        --memory->refusedRestores;
        return;
    }
    memory->lost = false;
    memory->image->fill(kRestoredFill);
}

void W2DSurface::simulateLoss(unsigned long refusedRestores)
{
    if (!memory) return;
    memory->lost = true;
    memory->refusedRestores = refusedRestores;
}

void W2DSurface::setColorKey(unsigned long key)
{
    colorKey = key;
    useColorKey = true;
}

wplat::PixelImage* W2DSurface::getImage() const
{
    return memory ? memory->image : nullptr;
}

HDC W2DSurface::getDC()
{
    releaseDC();
    if (!memory) return nullptr;
    if (memory->lost) {
        restore(); // one retry
        if (memory->lost) return nullptr;
    }
    HDC made = wplat::createCompatibleDC(nullptr);
    if (made == nullptr) return nullptr;
    wplat::selectObject(made, wplat::toObject(memory->bitmap));
    dc = made;
    return dc;
}

// A context the window layer no longer knows is gone as well.
void W2DSurface::releaseDC()
{
    if (dc != nullptr) wplat::deleteDC(dc);
    dc = nullptr;
}

void W2DSurface::erase(const unsigned long& colour)
{
    HDC target = getDC();
    if (target == nullptr) return;
    RECT area;
    getArea(area);
    // The context draws in pixel coordinates of the surface.
    const POINT o = memory->origin;
    RECT local {area.left - o.x, area.top - o.y, area.right - o.x, area.bottom - o.y};
    wplat::fillSolid(target, local, static_cast<COLORREF>(colour));
    releaseDC();
    if (context != nullptr && &context->getSurfacePrimary() == this) context->presentPrimary();
}

bool W2DSurface::transfer(const W2DSurface& source, const RECT& sourceArea, const RECT& targetArea) const
{
    if (!memory || !source.memory) return true; // nothing to do, nothing lost
    if (memory->lost || source.memory->lost) return false;
    wgfx::BlitKey key {source.useColorKey, wplat::rgbFromColorRef(static_cast<uint32_t>(source.colorKey))};
    wgfx::blit(*memory->image, targetArea, memory->origin, *source.memory->image, sourceArea, source.memory->origin,
        key, hasClipper ? &clipList : nullptr);
    return true;
}

void W2DSurface::draw(const W2DSurface& source, const RECT& sourceArea, const RECT& targetArea) const
{
    if (!transfer(source, sourceArea, targetArea)) {
        // Lost: restore this surface, let the source refill itself, try once more.
        const_cast<W2DSurface*>(this)->restore();
        if (isLost()) return;
        const_cast<W2DSurface&>(source).reloadContent();
        transfer(source, sourceArea, targetArea);
    }
    if (context != nullptr && &context->getSurfacePrimary() == this) context->presentPrimary();
}

void W2DSurface::draw(const W2DSurface& source, int x, int y) const
{
    RECT sourceArea;
    source.getArea(sourceArea);
    // A far corner beyond the coordinate range is beyond every surface too.
    if (int64_t(x) + int64_t(source.getWidth()) > INT32_MAX || int64_t(y) + int64_t(source.getHeight()) > INT32_MAX)
        return;
    RECT targetArea {x, y, x + static_cast<int32_t>(source.getWidth()), y + static_cast<int32_t>(source.getHeight())};
    draw(source, sourceArea, targetArea);
}

void W2DSurface::setClipRegion(const W2DRegion& region)
{
    if (!memory) throw WDirectXException("Cannot create clipper object.", 0);
    const RGNDATA* data = region;
    clipList.assign(data->rects(), data->rects() + data->rdh.nCount);
    hasClipper = true;
    clipWindow = nullptr;
    // Our own copy: the caller's region may not outlive the surface.
    std::unique_ptr<W2DRegion> copy;
    switch (region.getType()) {
    case W2DRegion::RECTANGLE:
        copy = std::make_unique<W2DRegionRectangle>(static_cast<const W2DRegionRectangle&>(region));
        break;
    case W2DRegion::ROUND_RECTANGLE:
        copy = std::make_unique<W2DRegionRoundRectangle>(static_cast<const W2DRegionRoundRectangle&>(region));
        break;
    case W2DRegion::ELLIPSE:
        copy = std::make_unique<W2DRegionEllipse>(static_cast<const W2DRegionEllipse&>(region));
        break;
    case W2DRegion::POLYGON:
        copy = std::make_unique<W2DRegionPolygon>(static_cast<const W2DRegionPolygon&>(region));
        break;
    }
    clipRegion = std::move(copy);
}

// The clip list becomes the surface's whole area: our primary surface holds
// exactly the window's area.
void W2DSurface::setClipWindow(HWND window)
{
    if (!memory) throw WDirectXException("Cannot create clipper object.", 0);
    RECT area;
    getArea(area);
    clipList.assign(1, area);
    hasClipper = true;
    clipWindow = window;
}

// ---- Off-screen surfaces

W2DSurfaceOffscreen::W2DSurfaceOffscreen() = default;
W2DSurfaceOffscreen::~W2DSurfaceOffscreen() = default;

void W2DSurfaceOffscreen::create(const W2DContext& owner, unsigned long width, unsigned long height)
{
    allocate(owner, width, height, "Cannot create offscreen surface.");
}

void W2DSurfaceOffscreen::create(const W2DContext& owner)
{
    RECT area;
    owner.getArea(area);
    create(owner, static_cast<unsigned long>(std::max(area.right - area.left, 0)),
        static_cast<unsigned long>(std::max(area.bottom - area.top, 0)));
}

void W2DSurfaceOffscreen::close()
{
    W2DSurface::close();
}

void W2DSurfaceOffscreen::adopt(const W2DContext& owner, std::shared_ptr<wgfx::SurfaceMemory> adopted)
{
    init(owner, std::move(adopted));
}

// The real size of the pixels, also for a back buffer.
void W2DSurfaceOffscreen::getArea(RECT& area) const
{
    area = RECT {0, 0, static_cast<int32_t>(getWidth()), static_cast<int32_t>(getHeight())};
}

unsigned long W2DSurfaceOffscreen::getWidth() const
{
    const wplat::PixelImage* image = getImage();
    return image ? static_cast<unsigned long>(image->width()) : 0;
}

unsigned long W2DSurfaceOffscreen::getHeight() const
{
    const wplat::PixelImage* image = getImage();
    return image ? static_cast<unsigned long>(image->height()) : 0;
}

// ---- Bitmap surfaces

W2DSurfaceBitmap::W2DSurfaceBitmap() = default;
W2DSurfaceBitmap::~W2DSurfaceBitmap() = default;

void W2DSurfaceBitmap::create(const W2DContext& owner, const char* imageFile)
{
    WBitmap image(imageFile);
    fileName = imageFile;
    W2DSurfaceOffscreen::create(owner, image.getWidth(), image.getHeight());
    setUseColorKey(false);
    fill(image);
}

void W2DSurfaceBitmap::reloadContent()
{
    fill(WBitmap(fileName));
}

void W2DSurfaceBitmap::fill(const WBitmap& image)
{
    unsigned long key = 0;
    if (image.getColorKey(key)) {
        erase(key);
        setColorKey(key);
    }
    if (HDC target = getDC()) {
        image.toDevice(target, 0, 0);
        releaseDC();
    }
}

// ---- Primary surface

W2DSurfacePrimary::W2DSurfacePrimary() = default;

W2DSurfacePrimary::~W2DSurfacePrimary()
{
    close();
}

void W2DSurfacePrimary::create(const W2DContext& owner, unsigned long backBufferCount)
{
    close();
    RECT area;
    owner.getArea(area);
    const int w = std::max(area.right - area.left, 1), h = std::max(area.bottom - area.top, 1);
    std::shared_ptr<wgfx::SurfaceMemory> front = owner.getDevice() ? owner.getDevice()->make(w, h) : nullptr;
    if (!front) throw WDirectXException("Cannot create primary surface.", 0);
    front->origin = POINT {area.left, area.top};
    std::vector<std::shared_ptr<wgfx::SurfaceMemory>> ring;
    for (unsigned long i = 0; i < backBufferCount; ++i) {
        auto back = owner.getDevice()->make(w, h);
        if (!back) throw WDirectXException("Cannot create primary surface.", 0);
        ring.push_back(std::move(back));
    }
    init(owner, std::move(front));
    backBuffers = std::move(ring);
}

void W2DSurfacePrimary::close()
{
    W2DSurface::close();
    backBuffers.clear();
}

// The front pixels and the first back buffer's change places; further back
// buffers move up one place in the ring.
void W2DSurfacePrimary::flip()
{
    if (!getMemory() || backBuffers.empty() || isLost()) return;
    std::swap(*getMemory()->image, *backBuffers.front()->image);
    for (size_t i = 0; i + 1 < backBuffers.size(); ++i)
        std::swap(*backBuffers[i]->image, *backBuffers[i + 1]->image);
    getContext()->presentPrimary();
}

void W2DSurfacePrimary::getBackBuffer(W2DSurfaceOffscreen& target)
{
    for (;;) {
        if (!getMemory() || backBuffers.empty()) throw WDirectXException("Cannot get attached surface", 0x887600FFL);
        if (!isLost()) break;
        restore();
        if (isLost()) throw WDirectXException("Cannot get attached surface", DDERR_SURFACELOST);
    }
    target.adopt(*getContext(), backBuffers.front());
}

void W2DSurfacePrimary::getArea(RECT& area) const
{
    if (getContext() != nullptr) getContext()->getArea(area);
}

unsigned long W2DSurfacePrimary::getWidth() const
{
    if (getContext() == nullptr) return 0;
    RECT area;
    getContext()->getArea(area);
    return static_cast<unsigned long>(std::max(area.right - area.left, 0));
}

unsigned long W2DSurfacePrimary::getHeight() const
{
    if (getContext() == nullptr) return 0;
    RECT area;
    getContext()->getArea(area);
    return static_cast<unsigned long>(std::max(area.bottom - area.top, 0));
}

// ---- Context

W2DContext::W2DContext() : offsetX(0), offsetY(0)
{
}

W2DContext::~W2DContext()
{
    try {
        close();
    } catch (...) {
    }
}

void W2DContext::openDevice()
{
    device = std::make_shared<wgfx::SurfaceDevice>();
}

void W2DContext::close()
{
    primary.close();
    device.reset();
}

void W2DContext::loseSurfaces()
{
    if (device) device->loseAll();
}
