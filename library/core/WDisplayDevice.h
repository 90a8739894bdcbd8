#pragma once

#include <cstdint>

#include "WString.h"
#include "WSystemTypes.h"

// One display adapter or monitor. The GUI module enumerates them; the core
// keeps the table and the primary device in the program information.
class WDisplayDevice {
public:
    struct Rect {
        int32_t left;
        int32_t top;
        int32_t right;
        int32_t bottom;
    };
    // The work area (the monitor less task bars), then the whole monitor, in
    // virtual-screen coordinates.
    struct MonitorInfo {
        Rect workArea;
        Rect monitorArea;
    };

    WDisplayDevice();
    WDisplayDevice(const char* name, const char* description, bool primary, const GUID* guid);
    WDisplayDevice(const char* name, const char* description, bool primary, const MonitorInfo& info, const GUID* guid);
    WDisplayDevice(const WDisplayDevice& other) = default;
    WDisplayDevice& operator=(const WDisplayDevice& other) = default;
    ~WDisplayDevice() = default;

    const WString& getDeviceName() const { return deviceName; }
    operator const char*() const { return deviceName.getBuf(); }
    const WString& getDescription() const { return description; }
    bool isPrimary() const { return primary; }
    bool isMonitorInfo() const { return hasMonitorInfo; }
    const MonitorInfo& getMonitorInfo() const { return monitorInfo; }
    operator GUID*() const { return hasGuid ? const_cast<GUID*>(&guid) : nullptr; }

private:
    void initialize(const GUID* guid);

    WString deviceName;
    WString description;
    bool hasGuid;
    bool primary;
    bool hasMonitorInfo;
    MonitorInfo monitorInfo;
    GUID guid;
};

// The primary display: device name "display", no description, no GUID.
extern const WDisplayDevice MIROLA_DISPLAY_DEVICE_PRIMARY;
