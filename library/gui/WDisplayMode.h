#pragma once

#include "PlatformTypes.h"

// One screen mode: exactly the platform's 156-byte mode record.
class WDisplayMode {
public:
    WDisplayMode();
    WDisplayMode(unsigned long xRes, unsigned long yRes, unsigned long bpp, unsigned long frequency);
    WDisplayMode(const WDisplayMode& other) = default;
    WDisplayMode& operator=(const WDisplayMode& other) = default;

    unsigned long getXRes() const { return mode.dmPelsWidth; }
    unsigned long getYRes() const { return mode.dmPelsHeight; }
    unsigned long getBPP() const { return mode.dmBitsPerPel; }
    unsigned long getFrequency() const { return mode.dmDisplayFrequency; }

    const DEVMODEA& getRecord() const { return mode; }
    DEVMODEA& getRecord() { return mode; }

private:
    DEVMODEA mode;
};
