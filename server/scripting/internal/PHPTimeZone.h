#pragma once

#include <string>

// The name of the system's time zone as PHP's date.timezone takes it
// ("Europe/Berlin"): from TZ, else /etc/timezone, else the zone file that
// /etc/localtime links to. "" when none of them names a zone.
std::string systemTimeZoneName();

// The rule behind it, on given inputs (null: not there). `tz` is the TZ
// variable, `timezoneFile` the contents of /etc/timezone, `localtimeLink` the
// target of /etc/localtime; a name counts only when `zoneDir` holds a zone
// file of that name.
std::string pickTimeZoneName(const char* tz, const char* timezoneFile, const char* localtimeLink, const char* zoneDir);
