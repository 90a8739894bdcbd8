#include "W2DRegion.h"

#include <cstring>

#include "internal/WRegionRects.h"

W2DRegion::W2DRegion() = default;

// A copy of the base alone gets its own copy of the rectangle set; the shapes
// re-create theirs from their shape fields.
W2DRegion::W2DRegion(const W2DRegion& other)
{
    if (other.m_handle) m_handle = std::make_unique<WRegionRects>(*other.m_handle);
}

W2DRegion& W2DRegion::operator=(const W2DRegion& other)
{
    if (this != &other) {
        close();
        if (other.m_handle) m_handle = std::make_unique<WRegionRects>(*other.m_handle);
    }
    return *this;
}

W2DRegion::~W2DRegion() = default;

void W2DRegion::close()
{
    m_data.reset();
    m_handle.reset();
}

void W2DRegion::setHandle(WRegionRects&& rects)
{
    m_data.reset();
    m_handle = std::make_unique<WRegionRects>(std::move(rects));
}

W2DRegion::operator RGNDATA*() const
{
    if (m_data) return reinterpret_cast<RGNDATA*>(m_data.get());
    const std::vector<RECT> empty;
    const std::vector<RECT>& rects = m_handle ? m_handle->rects() : empty;
    size_t bytes = sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT);
    m_data.reset(new uint32_t[(bytes + 3) / 4 + 1]());
    RGNDATAHEADER header {};
    header.dwSize = sizeof(RGNDATAHEADER);
    header.iType = 1;
    header.nCount = static_cast<uint32_t>(rects.size());
    header.nRgnSize = static_cast<uint32_t>(rects.size() * sizeof(RECT));
    header.rcBound = m_handle ? m_handle->bounds() : RECT {0, 0, 0, 0};
    char* base = reinterpret_cast<char*>(m_data.get());
    std::memcpy(base, &header, sizeof header);
    if (!rects.empty()) std::memcpy(base + sizeof header, rects.data(), rects.size() * sizeof(RECT));
    return reinterpret_cast<RGNDATA*>(m_data.get());
}

bool W2DRegion::isPointIn(int x, int y) const
{
    return m_handle && m_handle->contains(x, y);
}

bool W2DRegion::isRectIn(const RECT& rect) const
{
    return m_handle && m_handle->overlaps(rect);
}

void W2DRegion::getBoundingBox(RECT& box) const
{
    box = m_handle ? m_handle->bounds() : RECT {0, 0, 0, 0};
}

unsigned long W2DRegion::getWidth() const
{
    RECT b;
    getBoundingBox(b);
    return static_cast<unsigned long>(int64_t(b.right) - b.left); // up to 2^32 - 1: no wrap
}

unsigned long W2DRegion::getHeight() const
{
    RECT b;
    getBoundingBox(b);
    return static_cast<unsigned long>(int64_t(b.bottom) - b.top); // up to 2^32 - 1: no wrap
}

// A region without a handle overlaps nothing.
bool W2DRegion::isRegionIn(const W2DRegion& other) const
{
    if (!m_handle || !other.m_handle) return false;
    return m_handle->intersects(*other.m_handle);
}

// ---- Rectangle

W2DRegionRectangle::W2DRegionRectangle() : m_rect {0, 0, 0, 0}
{
}

W2DRegionRectangle::W2DRegionRectangle(const W2DRegionRectangle& other) : W2DRegionRectangle()
{
    create(other.m_rect);
}

W2DRegionRectangle& W2DRegionRectangle::operator=(const W2DRegionRectangle& other)
{
    if (this != &other) create(other.m_rect);
    return *this;
}

W2DRegionRectangle::~W2DRegionRectangle() = default;

void W2DRegionRectangle::create(const RECT& rect)
{
    close();
    setHandle(WRegionRects::rectangle(rect));
    m_rect = rect;
}

void W2DRegionRectangle::close()
{
    W2DRegion::close();
    m_rect = RECT {0, 0, 0, 0};
}

// ---- Round rectangle

W2DRegionRoundRectangle::W2DRegionRoundRectangle() : m_rect {0, 0, 0, 0}, m_ellipseWidth(0), m_ellipseHeight(0)
{
}

W2DRegionRoundRectangle::W2DRegionRoundRectangle(const W2DRegionRoundRectangle& other) : W2DRegionRoundRectangle()
{
    create(other.m_rect, other.m_ellipseWidth, other.m_ellipseHeight);
}

W2DRegionRoundRectangle& W2DRegionRoundRectangle::operator=(const W2DRegionRoundRectangle& other)
{
    if (this != &other) create(other.m_rect, other.m_ellipseWidth, other.m_ellipseHeight);
    return *this;
}

W2DRegionRoundRectangle::~W2DRegionRoundRectangle() = default;

void W2DRegionRoundRectangle::create(const RECT& rect, unsigned long ellipseWidth, unsigned long ellipseHeight)
{
    close();
    setHandle(WRegionRects::roundRectangle(rect, ellipseWidth, ellipseHeight));
    m_rect = rect;
    m_ellipseWidth = ellipseWidth;
    m_ellipseHeight = ellipseHeight;
}

void W2DRegionRoundRectangle::close()
{
    W2DRegion::close();
    m_rect = RECT {0, 0, 0, 0};
    m_ellipseWidth = m_ellipseHeight = 0;
}

// ---- Ellipse

W2DRegionEllipse::W2DRegionEllipse() : m_rect {0, 0, 0, 0}
{
}

W2DRegionEllipse::W2DRegionEllipse(const W2DRegionEllipse& other) : W2DRegionEllipse()
{
    create(other.m_rect);
}

W2DRegionEllipse& W2DRegionEllipse::operator=(const W2DRegionEllipse& other)
{
    if (this != &other) create(other.m_rect);
    return *this;
}

W2DRegionEllipse::~W2DRegionEllipse() = default;

void W2DRegionEllipse::create(const RECT& rect)
{
    close();
    setHandle(WRegionRects::ellipse(rect));
    m_rect = rect;
}

void W2DRegionEllipse::close()
{
    W2DRegion::close();
    m_rect = RECT {0, 0, 0, 0};
}

// ---- Polygon

W2DRegionPolygon::W2DRegionPolygon() : m_count(0)
{
}

W2DRegionPolygon::W2DRegionPolygon(const W2DRegionPolygon& other) : W2DRegionPolygon()
{
    create(other.m_points.get(), other.m_count);
}

W2DRegionPolygon& W2DRegionPolygon::operator=(const W2DRegionPolygon& other)
{
    if (this != &other) {
        // Copy the points first: other may share nothing with us, but be safe.
        std::unique_ptr<POINT[]> copy(other.m_count ? new POINT[other.m_count] : nullptr);
        if (other.m_count) std::memcpy(copy.get(), other.m_points.get(), other.m_count * sizeof(POINT));
        create(copy.get(), other.m_count);
    }
    return *this;
}

W2DRegionPolygon::~W2DRegionPolygon() = default;

// Null points count as no points.
void W2DRegionPolygon::create(const POINT* points, unsigned long count)
{
    if (points == nullptr) count = 0;
    close();
    setHandle(WRegionRects::polygon(points, count));
    if (count) {
        m_points.reset(new POINT[count]);
        std::memcpy(m_points.get(), points, count * sizeof(POINT));
    }
    m_count = count;
}

void W2DRegionPolygon::close()
{
    W2DRegion::close();
    m_points.reset();
    m_count = 0;
}
