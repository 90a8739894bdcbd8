#pragma once

// Display devices and their modes, behind an interface so tests can put a
// fake machine in place of the real one. The default provider asks the X
// server (RandR); without a display it lists nothing and refuses changes.

#include <memory>
#include <string>
#include <vector>

#include "PlatformTypes.h"

namespace wplat {

struct DisplayModeInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t frequency = 0;
};

struct DisplayDeviceInfo {
    std::string name;
    std::string description;
    bool primary = false;
    bool hasMonitor = false;
    RECT workArea {0, 0, 0, 0};
    RECT monitorArea {0, 0, 0, 0};
    bool hasGuid = false;
    GUID guid {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
};

class DisplayProvider {
public:
    virtual ~DisplayProvider() = default;
    virtual void devices(std::vector<DisplayDeviceInfo>& out) = 0;
    // An empty name is the primary display.
    virtual bool currentMode(const std::string& device, DisplayModeInfo& mode) = 0;
    virtual bool modes(const std::string& device, std::vector<DisplayModeInfo>& out) = 0;
    virtual bool setMode(const std::string& device, const DisplayModeInfo& mode) = 0;
};

DisplayProvider& displayProvider();
// Installs another provider (tests); null brings back the default one.
void setDisplayProvider(std::shared_ptr<DisplayProvider> provider);

} // namespace wplat
