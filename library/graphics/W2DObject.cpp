#include "W2DObject.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "Platform.h"
#include "internal/WRegionRects.h"

void W2DObject::setPosition(int, int)
{
}

void W2DObject::calcAnimation(const double&)
{
}

namespace {

// Limits drawing through a surface's device context to the surface's clip
// region, which need not be a rectangle. The context itself clips to the
// region's bounding box; the pixels the drawing may reach are saved first,
// and when the guard ends only those inside the region keep what was drawn.
// (Images drawn onto a context ignore its clip; reach covers them too.)
class RegionClip {
public:
    RegionClip(HDC dc, const W2DSurface& target, const RECT& reach)
    {
        const W2DRegion* clip = target.getClipRegion();
        image = target.getImage();
        if (clip == nullptr || image == nullptr) return;
        RECT box;
        clip->getBoundingBox(box);
        wplat::intersectClipRect(dc, box);
        const RGNDATA* data = *clip;
        rects.assign(data->rects(), data->rects() + data->rdh.nCount);
        area = RECT {std::max(reach.left, 0), std::max(reach.top, 0), std::min(reach.right, image->width()),
            std::min(reach.bottom, image->height())};
        if (area.left >= area.right || area.top >= area.bottom) return;
        const size_t width = size_t(area.right - area.left);
        saved.resize(width * size_t(area.bottom - area.top));
        for (int y = area.top; y < area.bottom; ++y)
            std::copy_n(image->row(y) + area.left, width, saved.data() + size_t(y - area.top) * width);
    }
    ~RegionClip()
    {
        if (saved.empty()) return;
        // What was drawn inside the region goes into the saved pixels, which
        // then replace the whole area.
        const size_t width = size_t(area.right - area.left);
        for (const RECT& r : rects) {
            const int left = std::max(r.left, area.left), right = std::min(r.right, area.right);
            if (left >= right) continue;
            for (int y = std::max(r.top, area.top); y < std::min(r.bottom, area.bottom); ++y)
                std::copy(image->row(y) + left, image->row(y) + right,
                    saved.data() + size_t(y - area.top) * width + size_t(left - area.left));
        }
        for (int y = area.top; y < area.bottom; ++y)
            std::copy_n(saved.data() + size_t(y - area.top) * width, width, image->row(y) + area.left);
    }
    RegionClip(const RegionClip&) = delete;
    RegionClip& operator=(const RegionClip&) = delete;

private:
    wplat::PixelImage* image = nullptr;
    std::vector<RECT> rects;
    RECT area {0, 0, 0, 0};
    std::vector<uint32_t> saved;
};

// Paints through the target's device context, clipped to its clip region.
template <typename Paint>
void paintClipped(W2DSurface& target, const RECT& reach, const Paint& paint)
{
    HDC dc = target.getDC();
    if (dc == nullptr) return;
    {
        const RegionClip clip(dc, target, reach);
        paint(dc);
    }
    target.releaseDC();
}

// A size times a scale read from configuration text, as a pixel count
// that cannot wrap.
int32_t scaled(float scale, unsigned long size)
{
    const double value = double(scale) * double(size);
    return static_cast<int32_t>(std::clamp(value, 0.0, double(1 << 20)));
}

// left + size, held within the coordinate range.
int32_t endOf(int32_t left, int64_t size)
{
    return static_cast<int32_t>(std::min<int64_t>(int64_t(left) + size, INT32_MAX));
}

RECT unionOf(const RECT& a, const RECT& b)
{
    return RECT {
        std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

} // namespace

// ---- Bitmap

W2DObjectBitmap::W2DObjectBitmap(
    const W2DContext& owner, int x, int y, const char* imageFile, float scaleX, float scaleY)
    : image(std::make_shared<W2DSurfaceBitmap>())
{
    context = &owner;
    image->create(owner, imageFile);
    const int left = x + owner.getOffsetX(), top = y + owner.getOffsetY();
    region.create(RECT {
        left, top, endOf(left, scaled(scaleX, image->getWidth())), endOf(top, scaled(scaleY, image->getHeight()))});
}

void W2DObjectBitmap::drawContent(W2DSurface& target)
{
    RECT area;
    image->getArea(area);
    target.draw(*image, area, region.getRectangle());
}

W2DObjectBitmapBackground::W2DObjectBitmapBackground(const W2DContext& owner, const char* imageFile)
    : W2DObjectBitmap(owner, 0, 0, imageFile, 1.0f, 1.0f)
{
    RECT area;
    owner.getArea(area);
    const int x = owner.getOffsetX(), y = owner.getOffsetY();
    region.create(RECT {x, y, x + (area.right - area.left), y + (area.bottom - area.top)});
    interaction = false;
}

void W2DObjectBitmapBackground::drawContent(W2DSurface& target)
{
    target.draw(*image, context->getOffsetX(), context->getOffsetY());
}

// ---- Text

W2DObjectText::W2DObjectText(
    const W2DContext& owner, const RECT& area, const WFont& f, const char* t, Align a, unsigned long c)
    : colour(c), text(t ? t : ""), align(a), font(f), x(area.left), y(area.top), autoSize(false)
{
    context = &owner;
    region.create(RECT {area.left + owner.getOffsetX(), area.top + owner.getOffsetY(), area.right + owner.getOffsetX(),
        area.bottom + owner.getOffsetY()});
}

W2DObjectText::W2DObjectText(const W2DContext& owner, int px, int py, const WFont& f, const char* t, unsigned long c)
    : colour(c), text(t ? t : ""), align(ALIGN_LEFT), font(f), x(px + owner.getOffsetX()), y(py + owner.getOffsetY()),
      autoSize(true)
{
    context = &owner;
    measure();
}

// Measured on a context of its own, as the screen's would measure.
void W2DObjectText::measure()
{
    SIZE extent {0, 0};
    HDC dc = wplat::createCompatibleDC(nullptr);
    if (dc != nullptr) {
        wplat::selectObject(dc, wplat::toObject(static_cast<HFONT>(font)));
        wplat::getTextExtentPoint(dc, text.getBuf(), static_cast<int>(text.length()), extent);
        wplat::deleteDC(dc);
    }
    // Outline fonts have no overhang.
    region.create(RECT {x, y, x + extent.cx, y + extent.cy});
}

void W2DObjectText::setText(const WString& t)
{
    text = t;
    if (autoSize) measure();
}

void W2DObjectText::setPosition(int px, int py)
{
    const RECT& r = region.getRectangle();
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int left = px + context->getOffsetX(), top = py + context->getOffsetY();
    region.create(RECT {left, top, left + w, top + h});
}

void W2DObjectText::drawContent(W2DSurface& target)
{
    const RECT area = region.getRectangle();
    paintClipped(target, area, [&](HDC dc) {
        HGDIOBJ old = wplat::selectObject(dc, wplat::toObject(static_cast<HFONT>(font)));
        wplat::setBkColor(dc, 0xFFFFFF);
        wplat::setBkMode(dc, TRANSPARENT);
        wplat::setTextColor(dc, static_cast<COLORREF>(colour));
        RECT r = area;
        const UINT format = (align == ALIGN_RIGHT           ? DT_RIGHT
                                    : align == ALIGN_CENTER ? DT_CENTER
                                                            : DT_LEFT)
            | DT_WORDBREAK;
        wplat::drawText(dc, text.getBuf(), static_cast<int>(std::strlen(text.getBuf())), r, format);
        if (old != nullptr) wplat::selectObject(dc, old);
    });
}

// ---- Button

W2DObjectButton::W2DObjectButton(const W2DContext& owner, int x, int y, const Cfg& configuration, const char* t,
    unsigned long width, unsigned long height)
    : cfg(&configuration)
{
    context = &owner;
    setText(t);
    if (width == 0) width = cfg->defaultWidth;
    if (height == 0) height = cfg->defaultHeight;
    const int left = x + owner.getOffsetX(), top = y + owner.getOffsetY();
    region.create(RECT {left, top, endOf(left, int64_t(std::min<unsigned long>(width, INT32_MAX))),
        endOf(top, int64_t(std::min<unsigned long>(height, INT32_MAX)))});
}

// Scales start at 1.0 for every text, so a text without scales never keeps
// the scales of the one before.
void W2DObjectButton::setText(const char* t)
{
    images[0].reset();
    images[1].reset();
    text = t ? t : "";
    scaleX = scaleY = 1.0f;
    if (text.length() == 0 || (text[0UL] != '$' && text[0UL] != '!')) return;
    WString rest(text.getBuf() + 1);
    if (text[0UL] == '!') {
        WString left, right;
        if (rest.split(",", left, right, true)) {
            float sx = 1.0f, sy = 1.0f;
            if (std::sscanf(left.getBuf(), "%f:%f", &sx, &sy) == 2) {
                scaleX = sx;
                scaleY = sy;
            }
            rest = right;
        }
    }
    WString normal, pressedFile;
    if (rest.split(",", normal, pressedFile, true)) {
        images[0] = std::make_shared<WBitmap>(normal.getBuf());
        images[1] = std::make_shared<WBitmap>(pressedFile.getBuf());
    } else {
        rest.trim();
        images[0] = std::make_shared<WBitmap>(rest.getBuf());
    }
}

const WBitmap* W2DObjectButton::getBitmap(unsigned long index) const
{
    return index < 2 ? images[index].get() : nullptr;
}

bool W2DObjectButton::onNotification(Notify notify, unsigned long)
{
    if (notify == NOTIFY_ENTER) {
        pressed = true;
        return true;
    }
    if (notify == NOTIFY_LEAVE) {
        pressed = false;
        return true;
    }
    return false;
}

void W2DObjectButton::drawContent(W2DSurface& target)
{
    const RECT r = region.getRectangle();
    const int rw = r.right - r.left, rh = r.bottom - r.top;
    // The image and where it goes: scaled, centred in the button.
    const WBitmap* image = images[0] ? (pressed && images[1] ? images[1].get() : images[0].get()) : nullptr;
    RECT imageArea {0, 0, 0, 0};
    if (image != nullptr) {
        const float iw = float(image->getWidth()), ih = float(image->getHeight());
        if (scaleX == 0 && iw > 0 && ih > 0) {
            scaleX = float(rw) / iw;
            scaleY = float(rh) / ih;
            scaleX = scaleY = std::min(scaleX, scaleY);
        }
        const int dw = scaled(scaleX, image->getWidth()), dh = scaled(scaleY, image->getHeight());
        const int left = r.left + ((rw - dw) >> 1), top = r.top + ((rh - dh) >> 1);
        imageArea = RECT {left, top, endOf(left, dw), endOf(top, dh)};
    }
    paintClipped(target, image != nullptr ? unionOf(r, imageArea) : r, [&](HDC dc) {
        if (!onlyText && (cfg->shape == 1 || cfg->shape == 2)) {
            // Brush inside, one-pixel pen outline, by the same pixel rule as regions.
            WRegionRects shape = cfg->shape == 1 ? WRegionRects::rectangle(r) : WRegionRects::roundRectangle(r, 10, 10);
            HBRUSH brush = pressed ? cfg->brushPressed : cfg->brushNormal;
            if (brush != nullptr)
                for (const RECT& band : shape.rects())
                    wplat::fillRect(dc, band, brush);
            for (const RECT& band : shape.rects())
                for (int y = band.top; y < band.bottom; ++y)
                    for (int x = band.left; x < band.right; ++x)
                        if (!shape.contains(x - 1, y) || !shape.contains(x + 1, y) || !shape.contains(x, y - 1)
                            || !shape.contains(x, y + 1))
                            wplat::fillSolid(dc, RECT {x, y, x + 1, y + 1}, cfg->penColor);
        }
        if (image != nullptr) {
            image->toDevice(dc, RECT {0, 0, int32_t(image->getWidth()), int32_t(image->getHeight())}, imageArea);
            return;
        }
        HGDIOBJ old = wplat::selectObject(dc, wplat::toObject(static_cast<HFONT>(cfg->font)));
        wplat::setBkMode(dc, TRANSPARENT);
        wplat::setTextColor(dc, static_cast<COLORREF>(cfg->textColor));
        RECT measured = r;
        wplat::drawText(
            dc, text.getBuf(), static_cast<int>(text.length()), measured, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
        const int textHeight = measured.bottom - measured.top;
        RECT place {r.left, r.top + ((rh - textHeight) >> 1), r.right, r.bottom};
        wplat::drawText(dc, text.getBuf(), static_cast<int>(text.length()), place, DT_WORDBREAK | DT_CENTER);
        if (old != nullptr) wplat::selectObject(dc, old);
    });
}
