#include "WDisplayDevice.h"

#include <cstring>

const WDisplayDevice MIROLA_DISPLAY_DEVICE_PRIMARY("display", "", true, nullptr);

WDisplayDevice::WDisplayDevice()
{
    initialize(nullptr);
}

WDisplayDevice::WDisplayDevice(const char* name, const char* description, bool primary, const GUID* guid)
    : deviceName(name), description(description)
{
    initialize(guid);
    this->primary = primary;
}

WDisplayDevice::WDisplayDevice(const char* name, const char* description, bool primary, const MonitorInfo& info,
                               const GUID* guid)
    : deviceName(name), description(description)
{
    initialize(guid);
    this->primary = primary;
    monitorInfo = info;
    hasMonitorInfo = true;
}

void WDisplayDevice::initialize(const GUID* guid)
{
    hasGuid = guid != nullptr;
    if (hasGuid)
        this->guid = *guid;
    else
        memset(&this->guid, 0, sizeof(this->guid));
    memset(&monitorInfo, 0, sizeof(monitorInfo));
    primary = true;
    hasMonitorInfo = false;
}
