#pragma once
// One image file turned into a set of off-screen surfaces for sprites:
// a frame set (one surface per animation frame) or a rotation set (N square
// surfaces, each the image turned a further step, with its outline region
// and rotated reference points). The set refills its surfaces after loss.

#include <memory>
#include <vector>

#include "W2DRegion.h"
#include "W2DSurface.h"
#include "WString.h"

class W2DSurfaceSet : public W2DContentReloader {
public:
    W2DSurfaceSet();
    W2DSurfaceSet(const W2DContext& context, const char* imageFile);
    ~W2DSurfaceSet() override;
    W2DSurfaceSet(const W2DSurfaceSet&) = delete;
    W2DSurfaceSet& operator=(const W2DSurfaceSet&) = delete;

    void load(const W2DContext& context, const char* imageFile, unsigned long rotationSteps,
        const POINT* referencePoints, unsigned long referencePointCount);
    void close();

    unsigned long getFrameCount() const { return frameCount; }
    unsigned long getWidth() const { return width; }
    unsigned long getHeight() const { return height; }
    double getCalibre() const { return calibre; }
    const W2DSurfaceOffscreen* getSurface(unsigned long index) const;
    unsigned long getFrameDelay(unsigned long index) const;
    // The outline of a rotated frame, and up to maxPoints of its rotated
    // reference points copied into points.
    const W2DRegionPolygon* getRegion(unsigned long index, POINT* points, unsigned long maxPoints) const;

protected:
    void reloadContent() override;

private:
    // Rotation steps and reference points a set may have.
    static constexpr unsigned long kMaxSurfaces = 1 << 16;
    static constexpr unsigned long kMaxReferencePoints = 1 << 16;

    void fill(bool reload);

    unsigned long frameCount;
    std::vector<unsigned long> frameDelays;
    unsigned long rotationSteps;
    unsigned long width;
    unsigned long height;
    WString fileName;
    std::unique_ptr<W2DSurfaceOffscreen[]> surfaces;
    std::unique_ptr<W2DRegionPolygon[]> regions;
    const W2DContext* context;
    double calibre;
    std::vector<POINT> referencePoints;
    unsigned long referencePointCount;
};
