#pragma once
// A drawing context: the surface device, the primary surface and the
// coordinate frame of graphic objects (an offset added to positions).

#include <memory>

#include "W2DSurface.h"

namespace wgfx {
class SurfaceDevice;
}

class W2DContext {
public:
    W2DContext();
    virtual ~W2DContext();
    W2DContext(const W2DContext&) = delete;
    W2DContext& operator=(const W2DContext&) = delete;

    // The area the primary surface shows, in primary-surface coordinates.
    virtual void getArea(RECT& area) const = 0;

    W2DSurfacePrimary& getSurfacePrimary() { return primary; }
    const W2DSurfacePrimary& getSurfacePrimary() const { return primary; }
    int getOffsetX() const { return offsetX; }
    int getOffsetY() const { return offsetY; }
    bool isOpen() const { return device != nullptr; }

    // Every surface this context made is lost, as after a display change.
    // Called by tests; the recovery paths restore and refill them.
    void loseSurfaces();

    wgfx::SurfaceDevice* getDevice() const { return device.get(); }
    // Called after the primary surface's pixels changed (transfer, erase,
    // flip): a context bound to a window shows them there.
    virtual void presentPrimary() const { }

protected:
    // Makes the surface device (the stand-in for the display driver).
    void openDevice();
    void setOffsets(int x, int y)
    {
        offsetX = x;
        offsetY = y;
    }
    void close();

private:
    std::shared_ptr<wgfx::SurfaceDevice> device;
    W2DSurfacePrimary primary;
    int offsetX;
    int offsetY;
};
