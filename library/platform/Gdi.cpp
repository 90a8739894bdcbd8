// Device contexts and graphic objects. Fills and lines are our own loops on
// the 32-bit image; text goes through the backend when the user interface
// runs (measuring falls back to the dialog font's known metrics without it).

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <strings.h>
#include <variant>

#include "internal/Gdi.h"
#include "internal/WindowTable.h"
#include "internal/TextLayout.h"

namespace wplat::detail {

namespace {

// Never destroyed: objects may be released by static destructors at exit.
std::mutex& g_objectsLock = *new std::mutex;
std::map<uintptr_t, std::shared_ptr<Object>>& g_objects = *new std::map<uintptr_t, std::shared_ptr<Object>>;
uintptr_t g_nextObject = 0x1000;

} // namespace

uintptr_t addObject(Object&& object)
{
    std::lock_guard<std::mutex> guard(g_objectsLock);
    // Ids are never reused, so a stale handle finds nothing.
    uintptr_t id = (g_nextObject += 8);
    g_objects[id] = std::make_shared<Object>(std::move(object));
    return id;
}

std::shared_ptr<Object> findObject(uintptr_t id)
{
    std::lock_guard<std::mutex> guard(g_objectsLock);
    auto it = g_objects.find(id);
    return it == g_objects.end() ? nullptr : it->second;
}

bool removeObject(uintptr_t id)
{
    std::lock_guard<std::mutex> guard(g_objectsLock);
    return g_objects.erase(id) != 0;
}

// The clip rectangles of a context in image coordinates.
std::vector<RECT> clipRects(const DeviceContext& dc)
{
    RECT whole {0, 0, dc.image != nullptr ? dc.image->width() : 0, dc.image != nullptr ? dc.image->height() : 0};
    if (!dc.hasClip) return {whole};
    std::vector<RECT> out;
    for (const RECT& r : dc.clip) {
        RECT c = intersect(r, whole);
        if (!rectEmpty(c)) out.push_back(c);
    }
    return out;
}

namespace {

void fillImageRect(DeviceContext& dc, RECT r, COLORREF color)
{
    if (dc.image == nullptr) return;
    r.left += dc.origin.x;
    r.right += dc.origin.x;
    r.top += dc.origin.y;
    r.bottom += dc.origin.y;
    uint32_t rgb = rgbFromColorRef(color);
    for (const RECT& c : clipRects(dc)) {
        RECT p = intersect(r, c);
        if (!rectEmpty(p)) dc.image->fillRect(p.left, p.top, p.right, p.bottom, rgb);
    }
}

// Where a window's client area sits in its top-level's: pattern brushes
// line up across a window and its children.
POINT brushOrigin(const DeviceContext& dc)
{
    POINT o {0, 0};
    auto w = dc.window != nullptr ? findWindow(dc.window) : nullptr;
    for (int depth = 0; w && (w->style & WS_CHILD) != 0 && w->parent != nullptr && depth < 64; depth++) {
        o.x += w->x;
        o.y += w->y;
        w = findWindow(w->parent);
    }
    return o;
}

void fillImagePattern(DeviceContext& dc, RECT r, const PixelImage& pattern)
{
    if (dc.image == nullptr || pattern.isNull()) return;
    POINT phase = brushOrigin(dc);
    int pw = pattern.width();
    int ph = pattern.height();
    for (const RECT& c : clipRects(dc)) {
        RECT p = intersect(
            RECT {r.left + dc.origin.x, r.top + dc.origin.y, r.right + dc.origin.x, r.bottom + dc.origin.y}, c);
        for (int y = p.top; y < p.bottom; y++) {
            int py = ((y - dc.origin.y + phase.y) % ph + ph) % ph;
            for (int x = p.left; x < p.right; x++) {
                int px = ((x - dc.origin.x + phase.x) % pw + pw) % pw;
                dc.image->setPixel(x, y, pattern.pixel(px, py));
            }
        }
    }
}

} // namespace

void plot(DeviceContext& dc, const std::vector<RECT>& clip, int x, int y, uint32_t rgb)
{
    x += dc.origin.x;
    y += dc.origin.y;
    for (const RECT& c : clip) {
        if (x >= c.left && x < c.right && y >= c.top && y < c.bottom) {
            dc.image->setPixel(x, y, rgb);
            return;
        }
    }
}

namespace {

COLORREF sysColor(int index)
{
    switch (index) {
    case COLOR_WINDOW:
        return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
        return RGB(0, 0, 0);
    case COLOR_GRAYTEXT:
        return RGB(109, 109, 109);
    case COLOR_BTNFACE:
    default:
        return RGB(240, 240, 240);
    }
}

// Metrics of Liberation Sans from its OS/2 table, for measuring without the
// user interface: ascent 1854, descent 434 per 2048 units.
TextMetrics estimateMetrics(const LOGFONT& f)
{
    int px = f.lfHeight < 0 ? -f.lfHeight : (f.lfHeight > 0 ? f.lfHeight : 11);
    TextMetrics m;
    m.ascent = (int)std::ceil(px * 1854.0 / 2048.0 - 1e-9);
    m.descent = (int)std::ceil(px * 434.0 / 2048.0 - 1e-9);
    // "A..Za..z" of Liberation Sans at 11 px is 333 px wide.
    int sample = (int)std::lround(px * 333.0 / 11.0);
    m.averageWidth = (sample / 26 + 1) / 2;
    m.maxWidth = px;
    return m;
}

} // namespace

HDC createWindowDC(HWND window, PixelImage* image, POINT origin, const std::vector<RECT>& clip, bool paint)
{
    DeviceContext dc;
    dc.window = window;
    dc.image = image;
    dc.origin = origin;
    dc.clip = clip;
    dc.hasClip = paint || !clip.empty();
    auto w = findWindow(window);
    if (w) dc.font = w->font;
    return (HDC)addObject(std::move(dc));
}

DeviceContext* findDC(HDC dc)
{
    return get<DeviceContext>(dc);
}

LOGFONT fontOf(HFONT font)
{
    Font* f = get<Font>(font);
    if (f != nullptr) return f->logFont;
    LOGFONT dialog {};
    dialog.lfHeight = -11;
    dialog.lfWeight = FW_NORMAL;
    strcpy(dialog.lfFaceName, "MS Shell Dlg");
    return dialog;
}

} // namespace wplat::detail

namespace wplat {

using namespace detail;

HDC createCompatibleDC(HDC)
{
    DeviceContext dc;
    return (HDC)addObject(std::move(dc));
}

bool deleteDC(HDC dc)
{
    return get<DeviceContext>(dc) != nullptr && removeObject((uintptr_t)dc);
}

HBRUSH createSolidBrush(COLORREF color)
{
    return (HBRUSH)addObject(Brush {color & 0xFFFFFF, false, nullptr});
}

HBRUSH createPatternBrush(HBITMAP bitmap)
{
    Bitmap* b = get<Bitmap>(bitmap);
    if (b == nullptr || b->image.isNull()) return nullptr;
    // The brush keeps a copy: the bitmap may be deleted at once.
    return (HBRUSH)addObject(Brush {0, false, std::make_shared<const PixelImage>(b->image)});
}

HBRUSH getSysColorBrush(int index)
{
    static std::mutex& lock = *new std::mutex;
    static std::map<int, HBRUSH>& brushes = *new std::map<int, HBRUSH>;
    std::lock_guard<std::mutex> guard(lock);
    HBRUSH& b = brushes[index];
    if (b == nullptr) b = (HBRUSH)addObject(Brush {sysColor(index), true, nullptr});
    return b;
}

COLORREF getSysColor(int index)
{
    return sysColor(index);
}

HFONT createFontIndirect(const LOGFONT& font)
{
    Font f {font};
    f.logFont.lfFaceName[31] = '\0';
    return (HFONT)addObject(std::move(f));
}

bool getFontInfo(HFONT font, LOGFONT& out)
{
    Font* f = get<Font>(font);
    if (f == nullptr) return false;
    out = f->logFont;
    return true;
}

HBITMAP createBitmap(int width, int height)
{
    if (width <= 0 || height <= 0) return nullptr;
    return (HBITMAP)addObject(Bitmap {PixelImage(width, height, 0)});
}

HBITMAP createBitmapFromImage(const PixelImage& image)
{
    if (image.isNull()) return nullptr;
    return (HBITMAP)addObject(Bitmap {image});
}

PixelImage* getBitmapImage(HBITMAP bitmap)
{
    Bitmap* b = get<Bitmap>(bitmap);
    return b != nullptr ? &b->image : nullptr;
}

bool deleteObject(HGDIOBJ object)
{
    auto o = findObject((uintptr_t)object);
    if (!o || std::holds_alternative<DeviceContext>(*o) || std::holds_alternative<ImageList>(*o)) return false;
    if (auto* b = std::get_if<Brush>(o.get()); b != nullptr && b->stock) return true;
    return removeObject((uintptr_t)object);
}

HGDIOBJ selectObject(HDC dc, HGDIOBJ object)
{
    DeviceContext* d = findDC(dc);
    auto o = findObject((uintptr_t)object);
    if (d == nullptr || !o) return nullptr;
    if (std::holds_alternative<Font>(*o)) {
        HGDIOBJ old = (HGDIOBJ)d->font;
        d->font = (HFONT)object;
        return old;
    }
    if (std::holds_alternative<Brush>(*o)) {
        HGDIOBJ old = (HGDIOBJ)d->brush;
        d->brush = (HBRUSH)object;
        return old;
    }
    if (auto* b = std::get_if<Bitmap>(o.get())) {
        HGDIOBJ old = (HGDIOBJ)d->selectedBitmap;
        d->selectedBitmap = (HBITMAP)object;
        d->image = &b->image;
        d->origin = POINT {0, 0};
        d->hasClip = false;
        return old;
    }
    return nullptr;
}

COLORREF setTextColor(HDC dc, COLORREF color)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return CLR_NONE;
    COLORREF old = d->textColor;
    d->textColor = color & 0xFFFFFF;
    return old;
}

COLORREF setBkColor(HDC dc, COLORREF color)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return CLR_NONE;
    COLORREF old = d->bkColor;
    d->bkColor = color & 0xFFFFFF;
    return old;
}

int setBkMode(HDC dc, int mode)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return 0;
    int old = d->bkMode;
    d->bkMode = mode;
    return old;
}

int getDeviceCaps(HDC dc, int index)
{
    DeviceContext* d = findDC(dc);
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return screenDpi();
    case BITSPIXEL:
        return 32;
    case HORZRES:
        return d != nullptr && d->image != nullptr ? d->image->width() : 0;
    case VERTRES:
        return d != nullptr && d->image != nullptr ? d->image->height() : 0;
    default:
        return 0;
    }
}

bool fillRect(HDC dc, const RECT& rect, HBRUSH brush)
{
    DeviceContext* d = findDC(dc);
    COLORREF color;
    uintptr_t value = (uintptr_t)brush;
    if (value > 0 && value <= 31) {
        // A system colour index plus one, as classes name their background.
        color = sysColor((int)value - 1);
    } else {
        Brush* b = get<Brush>(brush);
        if (b == nullptr) return false;
        if (b->pattern) {
            if (d == nullptr) return false;
            fillImagePattern(*d, rect, *b->pattern);
            return true;
        }
        color = b->color;
    }
    if (d == nullptr) return false;
    fillImageRect(*d, rect, color);
    return true;
}

bool fillSolid(HDC dc, const RECT& rect, COLORREF color)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return false;
    fillImageRect(*d, rect, color);
    return true;
}

bool rectangle(HDC dc, int left, int top, int right, int bottom)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return false;
    Brush* b = get<Brush>(d->brush);
    if (b != nullptr && b->pattern)
        fillImagePattern(*d, RECT {left + 1, top + 1, right - 1, bottom - 1}, *b->pattern);
    else if (b != nullptr)
        fillImageRect(*d, RECT {left + 1, top + 1, right - 1, bottom - 1}, b->color);
    fillImageRect(*d, RECT {left, top, right, top + 1}, d->penColor);
    fillImageRect(*d, RECT {left, bottom - 1, right, bottom}, d->penColor);
    fillImageRect(*d, RECT {left, top, left + 1, bottom}, d->penColor);
    fillImageRect(*d, RECT {right - 1, top, right, bottom}, d->penColor);
    return true;
}

bool drawFocusRect(HDC dc, const RECT& rect)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr || rectEmpty(rect)) return false;
    COLORREF color = sysColor(COLOR_WINDOWTEXT);
    auto dot = [&](int x, int y) {
        // Dots on the even pixels of the context, so the frame looks the same wherever it is.
        if (((x + y) & 1) == 0) fillImageRect(*d, RECT {x, y, x + 1, y + 1}, color);
    };
    for (int x = rect.left; x < rect.right; x++) {
        dot(x, rect.top);
        dot(x, rect.bottom - 1);
    }
    for (int y = rect.top + 1; y < rect.bottom - 1; y++) {
        dot(rect.left, y);
        dot(rect.right - 1, y);
    }
    return true;
}

bool moveToEx(HDC dc, int x, int y, POINT* previous)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return false;
    if (previous != nullptr) *previous = d->pen;
    d->pen = POINT {x, y};
    return true;
}

bool lineTo(HDC dc, int x, int y)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr || d->image == nullptr) return false;
    // Bresenham; the end point is not drawn, as the platform does.
    int x0 = d->pen.x, y0 = d->pen.y;
    int dx = std::abs(x - x0), sx = x0 < x ? 1 : -1;
    int dy = -std::abs(y - y0), sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    auto clip = clipRects(*d);
    uint32_t rgb = rgbFromColorRef(d->penColor);
    while (x0 != x || y0 != y) {
        plot(*d, clip, x0, y0, rgb);
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    d->pen = POINT {x, y};
    return true;
}

bool getTextExtentPoint(HDC dc, const char* text, int length, SIZE& size)
{
    DeviceContext* d = findDC(dc);
    LOGFONT f = fontOf(d != nullptr ? d->font : nullptr);
    std::string s = length < 0 ? std::string(text != nullptr ? text : "") : std::string(text, (size_t)length);
    Backend* b = backend();
    if (b != nullptr && b->textExtent(f, s, size)) return true;
    TextMetrics m = estimateMetrics(f);
    size = SIZE {(int32_t)(s.size() * (size_t)m.averageWidth), m.ascent + m.descent};
    return true;
}

bool getTextMetrics(HDC dc, TEXTMETRIC& metrics)
{
    DeviceContext* d = findDC(dc);
    LOGFONT f = fontOf(d != nullptr ? d->font : nullptr);
    TextMetrics m;
    Backend* b = backend();
    if (b == nullptr || !b->textMetrics(f, m)) m = estimateMetrics(f);
    metrics = TEXTMETRIC {m.ascent + m.descent, m.ascent, m.descent, 0, 0, m.averageWidth, m.maxWidth,
        f.lfWeight != 0 ? f.lfWeight : FW_NORMAL};
    return true;
}

bool textOut(HDC dc, int x, int y, const char* text, int length)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr || d->image == nullptr || text == nullptr) return false;
    std::string s = length < 0 ? std::string(text) : std::string(text, (size_t)length);
    LOGFONT f = fontOf(d->font);
    if (d->bkMode == OPAQUE) {
        SIZE size;
        getTextExtentPoint(dc, s.c_str(), (int)s.size(), size);
        fillImageRect(*d, RECT {x, y, x + size.cx, y + size.cy}, d->bkColor);
    }
    Backend* b = backend();
    if (b != nullptr && isUiThread())
        b->drawText(*d->image, clipRects(*d), f, d->textColor, x + d->origin.x, y + d->origin.y, s);
    return true;
}

int drawText(HDC dc, const char* text, int length, RECT& rect, UINT format)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr || text == nullptr) return 0;
    std::string s = length < 0 ? std::string(text) : std::string(text, (size_t)length);
    auto measure = [dc](const std::string& piece) {
        SIZE size {0, 0};
        getTextExtentPoint(dc, piece.c_str(), (int)piece.size(), size);
        return (int)size.cx;
    };
    TEXTMETRIC metrics;
    getTextMetrics(dc, metrics);
    int lineHeight = metrics.tmHeight;
    std::vector<TextLine> lines = layoutText(s, format, rect.right - rect.left, measure);
    int widest = 0;
    std::vector<int> widths;
    for (const TextLine& line : lines) {
        widths.push_back(measure(line.text));
        widest = std::max(widest, widths.back());
    }
    int height = lineHeight * (int)lines.size();
    if ((format & DT_CALCRECT) != 0) {
        // Wrapped text keeps the width it was given unless a word is wider.
        int right = rect.left + widest;
        if ((format & DT_WORDBREAK) != 0 && (format & DT_SINGLELINE) == 0) right = std::max(rect.right, right);
        rect.right = right;
        rect.bottom = rect.top + height;
        return height;
    }
    int y = rect.top;
    if ((format & DT_SINGLELINE) != 0) {
        if ((format & DT_VCENTER) != 0)
            y = rect.top + (rect.bottom - rect.top - lineHeight) / 2;
        else if ((format & DT_BOTTOM) != 0)
            y = rect.bottom - lineHeight;
    }
    bool savedClip = d->hasClip;
    std::vector<RECT> saved = d->clip;
    intersectClipRect(dc, rect);
    for (size_t i = 0; i < lines.size(); i++, y += lineHeight) {
        const TextLine& line = lines[i];
        int x = rect.left;
        if ((format & DT_CENTER) != 0)
            x = rect.left + (rect.right - rect.left - widths[i]) / 2;
        else if ((format & DT_RIGHT) != 0)
            x = rect.right - widths[i];
        textOut(dc, x, y, line.text.c_str(), (int)line.text.size());
        if (line.underline >= 0) {
            // The prefixed character is underlined just below the base line.
            int from = x + measure(line.text.substr(0, (size_t)line.underline));
            size_t next = (size_t)line.underline + 1;
            while (next < line.text.size() && ((unsigned char)line.text[next] & 0xC0) == 0x80)
                next++;
            int to = x + measure(line.text.substr(0, next));
            fillImageRect(*d, RECT {from, y + metrics.tmAscent + 1, to, y + metrics.tmAscent + 2}, d->textColor);
        }
    }
    d->clip = saved;
    d->hasClip = savedClip;
    return height;
}

COLORREF getPixel(HDC dc, int x, int y)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr || d->image == nullptr || !d->image->contains(x + d->origin.x, y + d->origin.y)) return CLR_NONE;
    return colorRefFromRgb(d->image->pixel(x + d->origin.x, y + d->origin.y));
}

bool bitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY)
{
    DeviceContext* t = findDC(target);
    DeviceContext* s = findDC(source);
    if (t == nullptr || s == nullptr || t->image == nullptr || s->image == nullptr) return false;
    auto clip = clipRects(*t);
    for (int row = 0; row < height; row++) {
        for (int col = 0; col < width; col++) {
            int sx = sourceX + col + s->origin.x, sy = sourceY + row + s->origin.y;
            if (!s->image->contains(sx, sy)) continue;
            plot(*t, clip, x + col, y + row, s->image->pixel(sx, sy));
        }
    }
    return true;
}

PixelImage* getDCImage(HDC dc, POINT* origin)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return nullptr;
    if (origin != nullptr) *origin = d->origin;
    return d->image;
}

bool intersectClipRect(HDC dc, const RECT& rect)
{
    DeviceContext* d = findDC(dc);
    if (d == nullptr) return false;
    RECT r {rect.left + d->origin.x, rect.top + d->origin.y, rect.right + d->origin.x, rect.bottom + d->origin.y};
    std::vector<RECT> current = clipRects(*d);
    std::vector<RECT> out;
    for (const RECT& c : current) {
        RECT i = intersect(c, r);
        if (!rectEmpty(i)) out.push_back(i);
    }
    d->clip = out;
    d->hasClip = true;
    return true;
}

SIZE getFontBaseUnits(HFONT font)
{
    LOGFONT f = fontOf(font);
    TextMetrics m;
    Backend* b = backend();
    if (b == nullptr || !b->textMetrics(f, m)) m = estimateMetrics(f);
    return SIZE {m.averageWidth, m.ascent + m.descent};
}

SIZE getDialogBaseUnits()
{
    return getFontBaseUnits(nullptr);
}

std::string mapFaceName(const char* face)
{
    static const char* const sans[] = {"MS Shell Dlg", "MS Shell Dlg 2", "MS Sans Serif", "Microsoft Sans Serif",
        "Tahoma", "Arial", "Helvetica", "Verdana", "Segoe UI"};
    std::string name = face != nullptr ? face : "";
    if (name.empty()) return "Liberation Sans";
    for (const char* s : sans) {
        if (strcasecmp(name.c_str(), s) == 0) return "Liberation Sans";
    }
    if (strcasecmp(name.c_str(), "Courier New") == 0 || strcasecmp(name.c_str(), "Courier") == 0
        || strcasecmp(name.c_str(), "Lucida Console") == 0)
        return "Liberation Mono";
    if (strcasecmp(name.c_str(), "Times New Roman") == 0 || strcasecmp(name.c_str(), "Times") == 0)
        return "Liberation Serif";
    return name;
}

} // namespace wplat
