// Display modes and the WSystem operations that list and switch them.

#include "WDisplayMode.h"

#include <cstring>
#include <vector>

#include "DisplayProvider.h"
#include "WException.h"
#include "WLinkedList.h"
#include "WSystem.h"

WDisplayMode::WDisplayMode()
{
    memset(&mode, 0, sizeof mode);
}

WDisplayMode::WDisplayMode(unsigned long xRes, unsigned long yRes, unsigned long bpp, unsigned long frequency)
    : WDisplayMode()
{
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    mode.dmBitsPerPel = (DWORD)bpp;
    mode.dmPelsWidth = (DWORD)xRes;
    mode.dmPelsHeight = (DWORD)yRes;
    mode.dmDisplayFrequency = (DWORD)frequency;
}

namespace {

// The primary device is addressed as the default display (no name).
std::string providerName(const WDisplayDevice& device)
{
    return device.isPrimary() ? std::string() : std::string(device.getDeviceName().getBuf());
}

WDisplayMode fromInfo(const wplat::DisplayModeInfo& info)
{
    return WDisplayMode(info.width, info.height, info.bitsPerPixel, info.frequency);
}

} // namespace

void WSystem::getCurrentDisplayMode(WDisplayMode& mode, const WDisplayDevice& device)
{
    wplat::DisplayModeInfo info;
    if (!wplat::displayProvider().currentMode(providerName(device), info)) {
        WFormattedString message("Cannot get current display mode for %s", device.getDeviceName().getBuf());
        throw WSystemException(message, -1);
    }
    mode = fromInfo(info);
}

void WSystem::setDisplayMode(const WDisplayMode& mode, const WDisplayDevice& device)
{
    wplat::DisplayModeInfo info {
        (uint32_t)mode.getXRes(), (uint32_t)mode.getYRes(), (uint32_t)mode.getBPP(), (uint32_t)mode.getFrequency()};
    if (wplat::displayProvider().setMode(providerName(device), info)) return;
    if (device.isPrimary()) throw WSystemException("Cannot set display mode.", -3);
    WFormattedString message("Cannot set display mode for %s", device.getDeviceName().getBuf());
    throw WSystemException(message, -3);
}

void WSystem::getDisplayModes(WLinkedList<WDisplayMode, const WDisplayMode&>& modes, const WDisplayDevice& device,
    unsigned long xRes, unsigned long yRes, unsigned long bpp, unsigned long frequency)
{
    modes.removeAll();
    std::vector<wplat::DisplayModeInfo> all;
    wplat::displayProvider().modes(providerName(device), all);
    for (const auto& m : all) {
        if ((xRes == 0 || xRes == m.width) && (yRes == 0 || yRes == m.height) && (bpp == 0 || bpp == m.bitsPerPixel)
            && (frequency == 0 || frequency == m.frequency))
            modes.add(fromInfo(m));
    }
}

bool WSystem::setOptimalDisplayMode(WDisplayMode& mode, const WDisplayDevice& device, unsigned long xRes,
    unsigned long yRes, unsigned long bpp, unsigned long frequency)
{
    getCurrentDisplayMode(mode, device);
    if (mode.getXRes() == xRes) return true;
    WLinkedList<WDisplayMode, const WDisplayMode&> list;
    getDisplayModes(list, device, xRes, yRes, bpp, 0);
    WDisplayMode best;
    WDisplayMode fallback;
    while (list.hasMoreElements()) {
        const WDisplayMode& m = list.nextValue();
        // The highest rate within the asked bound wins; the earliest of equals.
        if (m.getFrequency() > best.getFrequency() && (frequency == 0 || m.getFrequency() <= frequency)) best = m;
        if (m.getFrequency() == 0) fallback = m;
    }
    if (best.getXRes() == xRes && xRes != 0) {
        setDisplayMode(best, device);
        return true;
    }
    if (fallback.getXRes() == xRes && xRes != 0) {
        setDisplayMode(fallback, device);
        return true;
    }
    return false;
}
