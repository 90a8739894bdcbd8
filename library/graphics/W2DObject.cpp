#include "W2DObject.h"

#include <cstdio>
#include <cstring>

#include "Platform.h"
#include "WRegionRects.h"

void W2DObject::setPosition(int, int) {}

void W2DObject::calcAnimation(const double&) {}

namespace {

// Limits further drawing of the context to the surface's clip region.
void applyClip(HDC dc, const W2DSurface& target)
{
    if (const W2DRegion* clip = target.getClipRegion()) {
        RECT box;
        clip->getBoundingBox(box);
        wplat::intersectClipRect(dc, box);
    }
}

} // namespace

// ---- Bitmap

W2DObjectBitmap::W2DObjectBitmap(const W2DContext& owner, int x, int y, const char* imageFile, float scaleX,
                                 float scaleY)
    : image(std::make_shared<W2DSurfaceBitmap>())
{
    context = &owner;
    image->create(owner, imageFile);
    const int left = x + owner.getOffsetX(), top = y + owner.getOffsetY();
    region.create(RECT{left, top, left + static_cast<int32_t>(scaleX * float(image->getWidth())),
                       top + static_cast<int32_t>(scaleY * float(image->getHeight()))});
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
    region.create(RECT{x, y, x + (area.right - area.left), y + (area.bottom - area.top)});
    interaction = false;
}

void W2DObjectBitmapBackground::drawContent(W2DSurface& target)
{
    target.draw(*image, context->getOffsetX(), context->getOffsetY());
}

// ---- Text

W2DObjectText::W2DObjectText(const W2DContext& owner, const RECT& area, const WFont& f, const char* t, Align a,
                             unsigned long c)
    : colour(c), text(t ? t : ""), align(a), font(f), x(area.left), y(area.top), autoSize(false)
{
    context = &owner;
    region.create(RECT{area.left + owner.getOffsetX(), area.top + owner.getOffsetY(),
                       area.right + owner.getOffsetX(), area.bottom + owner.getOffsetY()});
}

W2DObjectText::W2DObjectText(const W2DContext& owner, int px, int py, const WFont& f, const char* t,
                             unsigned long c)
    : colour(c), text(t ? t : ""), align(ALIGN_LEFT), font(f), x(px + owner.getOffsetX()),
      y(py + owner.getOffsetY()), autoSize(true)
{
    context = &owner;
    measure();
}

// Measured on a context of its own, as the screen's would measure.
void W2DObjectText::measure()
{
    SIZE extent{0, 0};
    HDC dc = wplat::createCompatibleDC(nullptr);
    if (dc != nullptr) {
        wplat::selectObject(dc, wplat::toObject(static_cast<HFONT>(font)));
        wplat::getTextExtentPoint(dc, text.getBuf(), static_cast<int>(text.length()), extent);
        wplat::deleteDC(dc);
    }
    // Outline fonts have no overhang.
    region.create(RECT{x, y, x + extent.cx, y + extent.cy});
}

void W2DObjectText::setText(const WString& t)
{
    text = t;
    if (autoSize)
        measure();
}

void W2DObjectText::setPosition(int px, int py)
{
    const RECT& r = region.getRectangle();
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int left = px + context->getOffsetX(), top = py + context->getOffsetY();
    region.create(RECT{left, top, left + w, top + h});
}

void W2DObjectText::drawContent(W2DSurface& target)
{
    HDC dc = target.getDC();
    if (dc == nullptr)
        return;
    HGDIOBJ old = wplat::selectObject(dc, wplat::toObject(static_cast<HFONT>(font)));
    wplat::setBkColor(dc, 0xFFFFFF);
    wplat::setBkMode(dc, TRANSPARENT);
    wplat::setTextColor(dc, static_cast<COLORREF>(colour));
    applyClip(dc, target);
    RECT r = region.getRectangle();
    const UINT format = (align == ALIGN_RIGHT ? DT_RIGHT : align == ALIGN_CENTER ? DT_CENTER : DT_LEFT) | DT_WORDBREAK;
    wplat::drawText(dc, text.getBuf(), static_cast<int>(std::strlen(text.getBuf())), r, format);
    if (old != nullptr)
        wplat::selectObject(dc, old);
    target.releaseDC();
}

// ---- Button

W2DObjectButton::W2DObjectButton(const W2DContext& owner, int x, int y, const Cfg& configuration, const char* t,
                                 unsigned long width, unsigned long height)
    : cfg(&configuration)
{
    context = &owner;
    setText(t);
    if (width == 0)
        width = cfg->defaultWidth;
    if (height == 0)
        height = cfg->defaultHeight;
    const int left = x + owner.getOffsetX(), top = y + owner.getOffsetY();
    region.create(RECT{left, top, left + static_cast<int32_t>(width), top + static_cast<int32_t>(height)});
}

// Scales start at 1.0 for every text, so a text without scales never keeps
// the scales of the one before.
void W2DObjectButton::setText(const char* t)
{
    images[0].reset();
    images[1].reset();
    text = t ? t : "";
    scaleX = scaleY = 1.0f;
    if (text.length() == 0 || (text[0UL] != '$' && text[0UL] != '!'))
        return;
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
    HDC dc = target.getDC();
    if (dc == nullptr)
        return;
    applyClip(dc, target);
    const RECT r = region.getRectangle();
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
                    if (!shape.contains(x - 1, y) || !shape.contains(x + 1, y) || !shape.contains(x, y - 1) ||
                        !shape.contains(x, y + 1))
                        wplat::fillSolid(dc, RECT{x, y, x + 1, y + 1}, cfg->penColor);
    }
    const int rw = r.right - r.left, rh = r.bottom - r.top;
    if (images[0]) {
        const WBitmap& image = pressed && images[1] ? *images[1] : *images[0];
        const float iw = float(image.getWidth()), ih = float(image.getHeight());
        if (scaleX == 0 && iw > 0 && ih > 0) {
            scaleX = float(rw) / iw;
            scaleY = float(rh) / ih;
            scaleX = scaleY = std::min(scaleX, scaleY);
        }
        const int dw = static_cast<int>(scaleX * iw), dh = static_cast<int>(scaleY * ih);
        const int left = r.left + ((rw - dw) >> 1), top = r.top + ((rh - dh) >> 1);
        image.toDevice(dc, RECT{0, 0, int32_t(iw), int32_t(ih)}, RECT{left, top, left + dw, top + dh});
    } else {
        HGDIOBJ old = wplat::selectObject(dc, wplat::toObject(static_cast<HFONT>(cfg->font)));
        wplat::setBkMode(dc, TRANSPARENT);
        wplat::setTextColor(dc, static_cast<COLORREF>(cfg->textColor));
        RECT measured = r;
        wplat::drawText(dc, text.getBuf(), static_cast<int>(text.length()), measured,
                        DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
        const int textHeight = measured.bottom - measured.top;
        RECT place{r.left, r.top + ((rh - textHeight) >> 1), r.right, r.bottom};
        wplat::drawText(dc, text.getBuf(), static_cast<int>(text.length()), place, DT_WORDBREAK | DT_CENTER);
        if (old != nullptr)
            wplat::selectObject(dc, old);
    }
    target.releaseDC();
}
