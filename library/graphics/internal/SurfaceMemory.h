#pragma once
// Internals of surfaces: the pixels (a platform bitmap, so device contexts
// can draw into them), the loss flag, and the device that made them.

#include <memory>
#include <mutex>
#include <vector>

#include "PixelImage.h"
#include "Platform.h"

namespace wgfx {

struct SurfaceMemory {
    HBITMAP bitmap = nullptr;
    wplat::PixelImage* image = nullptr; // the bitmap's pixels
    POINT origin {0, 0}; // surface coordinates of pixel (0,0)
    bool lost = false;
    unsigned long refusedRestores = 0;

    SurfaceMemory() = default;
    SurfaceMemory(const SurfaceMemory&) = delete;
    SurfaceMemory& operator=(const SurfaceMemory&) = delete;
    ~SurfaceMemory()
    {
        if (bitmap != nullptr) wplat::deleteObject(wplat::toObject(bitmap));
    }
};

// The stand-in for the display driver: it makes surface memory and can
// lose all of it at once.
class SurfaceDevice {
public:
    std::shared_ptr<SurfaceMemory> make(int width, int height);
    void loseAll();

private:
    std::mutex lock;
    std::vector<std::weak_ptr<SurfaceMemory>> made;
};

} // namespace wgfx
