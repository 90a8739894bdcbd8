#include "WPalette.h"

#include <cstring>

#include "WException.h"

WPalette::WPalette() : depth(0)
{
}

WPalette::WPalette(const WPalette& other) : depth(0)
{
    duplicate(other);
}

WPalette& WPalette::operator=(const WPalette& other)
{
    if (this != &other) duplicate(other);
    return *this;
}

WPalette::~WPalette()
{
    close();
}

void WPalette::initialize()
{
    depth = 0;
    block.reset();
    handle.reset();
}

void WPalette::close()
{
    initialize();
}

// The depth is kept even when the checks refuse it.
void WPalette::alloc(unsigned long count, unsigned long bits)
{
    depth = bits;
    if (bits > 8) throw WPaletteException("Invalid color deept.");
    if (count > 256) throw WPaletteException("To many colors.");
    // Header and one entry more than asked for, zero-filled: 8 + 4 * count bytes.
    block.reset(new uint32_t[2 + count]());
    table()->palVersion = 0x300;
    table()->palNumEntries = static_cast<uint16_t>(count);
}

void WPalette::makeHandle()
{
    auto object = std::make_unique<WPaletteObject>();
    object->entries.assign(entries(), entries() + table()->palNumEntries);
    handle = std::move(object);
}

void WPalette::create(unsigned long count, unsigned long bits)
{
    close();
    alloc(count, bits);
    makeHandle();
}

void WPalette::create(const RGBQUAD* colors, unsigned long count, unsigned long bits)
{
    close();
    alloc(count, bits);
    if (colors == nullptr && count > 0) throw WPaletteException("Cannot create palette.");
    for (unsigned long i = 0; i < count; ++i) {
        PALETTEENTRY& e = entries()[i];
        e.peRed = colors[i].rgbRed;
        e.peGreen = colors[i].rgbGreen;
        e.peBlue = colors[i].rgbBlue;
        e.peFlags = 0;
    }
    makeHandle();
}

void WPalette::duplicate(const WPalette& other)
{
    // Copy first: other may be ourselves through an alias.
    const unsigned long count = other.getColorCount();
    const unsigned long bits = other.depth;
    std::vector<PALETTEENTRY> copy;
    if (other.block) copy.assign(other.entries(), other.entries() + count);
    const bool had = other.block != nullptr;
    close();
    if (!had) return;
    alloc(count, bits);
    if (count) std::memcpy(entries(), copy.data(), count * sizeof(PALETTEENTRY));
    makeHandle();
}

void WPalette::setColor(unsigned long index, const RGBQUAD& color)
{
    if (!handle || !block || index >= getColorCount()) throw WPaletteException("Invalid palette index.");
    PALETTEENTRY e {color.rgbRed, color.rgbGreen, color.rgbBlue, 0};
    handle->entries[index] = e;
    entries()[index] = e;
}

void WPalette::getColor(unsigned long index, RGBQUAD& color)
{
    if (!handle || !block || index >= getColorCount()) throw WPaletteException("Invalid palette index.");
    const PALETTEENTRY& e = handle->entries[index];
    color.rgbRed = e.peRed;
    color.rgbGreen = e.peGreen;
    color.rgbBlue = e.peBlue;
}

unsigned long WPalette::getColorCount() const
{
    return block ? table()->palNumEntries : 0;
}

WPalette::operator PALETTEENTRY*() const
{
    return block ? entries() : nullptr;
}
