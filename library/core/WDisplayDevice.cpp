#include "WDisplayDevice.h"

#include <cstring>

const WDisplayDevice MIROLA_DISPLAY_DEVICE_PRIMARY("display", "", true, nullptr);

WDisplayDevice::WDisplayDevice()
{
    initialize(nullptr);
}

WDisplayDevice::WDisplayDevice(const char* name, const char* text, bool isPrimary, const GUID* id)
    : deviceName(name), description(text)
{
    initialize(id);
    primary = isPrimary;
}

WDisplayDevice::WDisplayDevice(
    const char* name, const char* text, bool isPrimary, const MonitorInfo& info, const GUID* id)
    : deviceName(name), description(text)
{
    initialize(id);
    primary = isPrimary;
    monitorInfo = info;
    hasMonitorInfo = true;
}

void WDisplayDevice::initialize(const GUID* id)
{
    hasGuid = id != nullptr;
    if (hasGuid)
        guid = *id;
    else
        memset(&guid, 0, sizeof(guid));
    memset(&monitorInfo, 0, sizeof(monitorInfo));
    primary = true;
    hasMonitorInfo = false;
}
