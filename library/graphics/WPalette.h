#pragma once
// A logical colour palette of at most 256 entries and at most 8 bits per
// pixel, kept as a table and as a palette object the handle points at.

#include <cstdint>
#include <memory>
#include <vector>

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct PALETTEENTRY {
    uint8_t peRed;
    uint8_t peGreen;
    uint8_t peBlue;
    uint8_t peFlags;
};

struct LOGPALETTE {
    uint16_t palVersion;
    uint16_t palNumEntries;
    PALETTEENTRY palPalEntry[1];
};

// The palette object behind a handle: its own copy of the entries.
struct WPaletteObject {
    std::vector<PALETTEENTRY> entries;
};
using HPALETTE = WPaletteObject*;

class WPalette {
public:
    WPalette();
    WPalette(const WPalette& other);
    WPalette& operator=(const WPalette& other);
    ~WPalette();

    // count black entries.
    void create(unsigned long count, unsigned long depth);
    void create(const RGBQUAD* colors, unsigned long count, unsigned long depth);
    void setColor(unsigned long index, const RGBQUAD& color);
    void getColor(unsigned long index, RGBQUAD& color);
    unsigned long getColorCount() const;
    unsigned long getBPP() const { return depth; }
    operator HPALETTE() const { return handle.get(); }
    operator PALETTEENTRY*() const;
    void close();

private:
    void initialize();
    void alloc(unsigned long count, unsigned long depth);
    void duplicate(const WPalette& other);
    void makeHandle();
    LOGPALETTE* table() const { return reinterpret_cast<LOGPALETTE*>(block.get()); }
    PALETTEENTRY* entries() const { return reinterpret_cast<PALETTEENTRY*>(block.get() + 1); }

    unsigned long depth;
    std::unique_ptr<uint32_t[]> block; // the LOGPALETTE, 4-byte aligned
    std::unique_ptr<WPaletteObject> handle;
};
