#include "W2DSurfaceSet.h"

#include <cmath>

#include "W2DContext.h"
#include "WBitmap.h"
#include "WException.h"
#include "WSystem.h"
#include "internal/ImageData.h"

W2DSurfaceSet::W2DSurfaceSet()
    : frameCount(0), rotationSteps(0), width(0), height(0), context(nullptr), calibre(0), referencePointCount(0)
{
}

W2DSurfaceSet::W2DSurfaceSet(const W2DContext& owner, const char* imageFile) : W2DSurfaceSet()
{
    load(owner, imageFile, 0, nullptr, 0);
}

W2DSurfaceSet::~W2DSurfaceSet()
{
    close();
}

void W2DSurfaceSet::close()
{
    surfaces.reset();
    regions.reset();
    frameDelays.clear();
    referencePoints.clear();
    frameCount = rotationSteps = width = height = referencePointCount = 0;
    context = nullptr;
    calibre = 0;
}

// Null points with a count count as no points. Counts that no memory could
// hold are refused like surfaces too large.
void W2DSurfaceSet::load(
    const W2DContext& owner, const char* imageFile, unsigned long steps, const POINT* points, unsigned long count)
{
    close();
    if (steps > kMaxSurfaces || (points != nullptr && count > kMaxReferencePoints))
        throw WDirectXException("Cannot create offscreen surface.", 0);
    fileName = imageFile;
    rotationSteps = steps;
    context = &owner;
    if (points != nullptr && count != 0) {
        referencePoints.assign(count * (steps + 1), POINT {0, 0});
        std::copy(points, points + count, referencePoints.begin());
        referencePointCount = count;
    }
    fill(false);
}

void W2DSurfaceSet::reloadContent()
{
    if (context != nullptr && frameCount != 0) fill(true);
}

namespace {

// One surface per frame or step: the set's pixels together stay within the
// allocation limit, as the frames of one image do.
void checkSize(unsigned long surfaceCount, uint64_t width, uint64_t height)
{
    if (!wgfx::fitsAllocationLimit(width, height, surfaceCount))
        throw WDirectXException("Cannot create offscreen surface.", 0);
}

int roundToInt(double v)
{
    return static_cast<int>(WSystem::round(v, 0));
}

// Fills the surface with the key colour and makes it the surface's key.
void fillKey(W2DSurfaceOffscreen& surface, const WBitmap& image)
{
    unsigned long key = 0;
    if (!image.getColorKey(key)) return;
    surface.erase(key);
    surface.setColorKey(key);
}

} // namespace

void W2DSurfaceSet::fill(bool reload)
{
    WBitmap image(fileName);
    const unsigned long frames = image.getFrameCount();
    if (rotationSteps == 0) {
        if (frames == 0) return;
        if (!reload) {
            checkSize(frames, image.getWidth(), image.getHeight());
            frameCount = frames;
            frameDelays.assign(frames, 0);
            surfaces.reset(new W2DSurfaceOffscreen[frames]);
        }
        for (unsigned long a = 0; a < frameCount; ++a) {
            W2DSurfaceOffscreen& s = surfaces[a];
            if (!reload) {
                s.create(*context, image.getWidth(), image.getHeight());
                s.setReloader(this);
            } else {
                s.restore();
            }
            fillKey(s, image);
            HDC dc = s.getDC();
            image.setFrame(a);
            if (dc != nullptr) image.toDevice(dc, 0, 0);
            frameDelays[a] = image.getFrameDelay();
            s.releaseDC();
        }
        width = image.getWidth();
        height = image.getHeight();
        calibre = std::sqrt(double(width) * double(width) + double(height) * double(height));
        return;
    }

    const double w = image.getWidth(), h = image.getHeight();
    const double step = 6.2831853 / double(rotationSteps);
    calibre = std::sqrt(w * w + h * h);
    const int side = roundToInt(calibre);
    const int half = side / 2;
    const unsigned long F = frames == 0 ? 1 : frames;
    unsigned long i = 0;
    if (!reload) {
        checkSize(rotationSteps, uint64_t(side), uint64_t(side));
        frameCount = rotationSteps;
        frameDelays.assign(rotationSteps, 0);
        surfaces.reset(new W2DSurfaceOffscreen[rotationSteps]);
        regions.reset(new W2DRegionPolygon[rotationSteps]);
    }
    const double corners[4][2] = {{-w / 2, h / 2}, {w / 2, h / 2}, {w / 2, -h / 2}, {-w / 2, -h / 2}};
    const long iw = static_cast<long>(image.getWidth()), ih = static_cast<long>(image.getHeight());
    double angle = 0;
    for (unsigned long f = 0; f < rotationSteps; ++f) {
        const double c = std::cos(angle), s = std::sin(angle);
        POINT P[4];
        for (int k = 0; k < 4; ++k)
            P[k] = POINT {roundToInt(c * corners[k][0] - s * corners[k][1]) + half,
                roundToInt(s * corners[k][0] + c * corners[k][1]) + half};
        for (unsigned long j = 0; j < referencePointCount; ++j) {
            const double x = double(referencePoints[j].x - iw / 2), y = double(referencePoints[j].y - ih / 2);
            referencePoints[referencePointCount * (f + 1) + j]
                = POINT {roundToInt(c * x - s * y) + half, roundToInt(s * x + c * y) + half};
        }
        W2DSurfaceOffscreen& surface = surfaces[f];
        if (!reload) {
            surface.create(*context, static_cast<unsigned long>(side), static_cast<unsigned long>(side));
            surface.setReloader(this);
        } else {
            surface.restore();
        }
        fillKey(surface, image);
        image.setFrame(i);
        frameDelays[f] = image.getFrameDelay();
        if (++i == F) i = 0;
        regions[f].create(P, 4);
        // Upper-left, upper-right and lower-left corners of the image, in
        // screen coordinates (y grows downwards): P3, P2, P0.
        const POINT target[3] = {P[3], P[2], P[0]};
        if (HDC dc = surface.getDC()) {
            image.toDevice(dc, target, 3, false);
            surface.releaseDC();
        }
        angle += step;
    }
    width = height = static_cast<unsigned long>(side);
}

const W2DSurfaceOffscreen* W2DSurfaceSet::getSurface(unsigned long index) const
{
    return index < frameCount ? &surfaces[index] : nullptr;
}

unsigned long W2DSurfaceSet::getFrameDelay(unsigned long index) const
{
    return index < frameCount ? frameDelays[index] : 0;
}

// A frame set has no rotated points: nothing is copied.
const W2DRegionPolygon* W2DSurfaceSet::getRegion(unsigned long index, POINT* points, unsigned long maxPoints) const
{
    if (index >= frameCount) return nullptr;
    if (rotationSteps != 0 && referencePointCount != 0 && points != nullptr) {
        const unsigned long n = std::min(referencePointCount, maxPoints);
        for (unsigned long j = 0; j < n; ++j)
            points[j] = referencePoints[referencePointCount * (index + 1) + j];
    }
    return regions ? &regions[index] : nullptr;
}
