#pragma once
// Regions: areas of the plane in integer device coordinates, in four shapes.
// The handle is a rectangle set of our own; the flat description (RGNDATA)
// is made on demand and cached until the next create or close.

#include <memory>

#include "W2DTypes.h"
#include <cstdint>

class W2DRegion {
public:
    enum Type { RECTANGLE = 0, ROUND_RECTANGLE = 1, ELLIPSE = 2, POLYGON = 3 };

    W2DRegion();
    W2DRegion(const W2DRegion& other);
    W2DRegion& operator=(const W2DRegion& other);
    virtual ~W2DRegion();
    virtual Type getType() const = 0;

    operator HRGN() const { return m_handle.get(); }
    operator RGNDATA*() const;

    bool isPointIn(int x, int y) const;
    bool isRectIn(const RECT& rect) const;
    void getBoundingBox(RECT& box) const;
    unsigned long getWidth() const;
    unsigned long getHeight() const;
    // The two regions share at least one pixel.
    bool isRegionIn(const W2DRegion& other) const;

protected:
    void close();
    void setHandle(WRegionRects&& rects);

private:
    mutable std::unique_ptr<uint32_t[]> m_data; // RGNDATA, 4-byte aligned
    std::unique_ptr<WRegionRects> m_handle;
};

class W2DRegionRectangle : public W2DRegion {
public:
    W2DRegionRectangle();
    W2DRegionRectangle(const W2DRegionRectangle& other);
    W2DRegionRectangle& operator=(const W2DRegionRectangle& other);
    ~W2DRegionRectangle() override;
    Type getType() const override { return RECTANGLE; }

    void create(const RECT& rect);
    void close();
    const RECT& getRectangle() const { return m_rect; }

private:
    RECT m_rect;
};

class W2DRegionRoundRectangle : public W2DRegion {
public:
    W2DRegionRoundRectangle();
    W2DRegionRoundRectangle(const W2DRegionRoundRectangle& other);
    W2DRegionRoundRectangle& operator=(const W2DRegionRoundRectangle& other);
    ~W2DRegionRoundRectangle() override;
    Type getType() const override { return ROUND_RECTANGLE; }

    void create(const RECT& rect, unsigned long ellipseWidth, unsigned long ellipseHeight);
    void close();
    const RECT& getRectangle() const { return m_rect; }
    unsigned long getEllipseWidth() const { return m_ellipseWidth; }
    unsigned long getEllipseHeight() const { return m_ellipseHeight; }

private:
    RECT m_rect;
    unsigned long m_ellipseWidth;
    unsigned long m_ellipseHeight;
};

class W2DRegionEllipse : public W2DRegion {
public:
    W2DRegionEllipse();
    W2DRegionEllipse(const W2DRegionEllipse& other);
    W2DRegionEllipse& operator=(const W2DRegionEllipse& other);
    ~W2DRegionEllipse() override;
    Type getType() const override { return ELLIPSE; }

    void create(const RECT& rect);
    void close();
    const RECT& getEllipseRectangle() const { return m_rect; }

private:
    RECT m_rect;
};

class W2DRegionPolygon : public W2DRegion {
public:
    W2DRegionPolygon();
    W2DRegionPolygon(const W2DRegionPolygon& other);
    W2DRegionPolygon& operator=(const W2DRegionPolygon& other);
    ~W2DRegionPolygon() override;
    Type getType() const override { return POLYGON; }

    // Fill rule: non-zero winding.
    void create(const POINT* points, unsigned long count);
    void close();
    const POINT* getPoints() const { return m_points.get(); }
    unsigned long getPointCount() const { return m_count; }

private:
    std::unique_ptr<POINT[]> m_points;
    unsigned long m_count;
};
