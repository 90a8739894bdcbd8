#pragma once

#include <cstdint>

// Handles and records that appear in the library's interfaces. The window
// system behind the handles is the GUI module's business; here they are opaque.
typedef struct WWindowHandle__* HWND;
typedef struct WInstanceHandle__* HINSTANCE;
typedef struct WCursorHandle__* HCURSOR;

// A 128-bit identifier, laid out as 32-bit, 16-bit, 16-bit and 8 bytes.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// A file time: 100-nanosecond units since 1 January 1601 UTC, in two halves.
struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};
