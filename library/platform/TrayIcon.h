#pragma once

#include <string>

#include "PlatformTypes.h"
#include "ProgramIcon.h"

// The icon in the notification area of the desktop's panel. Mouse actions
// reach the window as the message 0x402 with the icon id in wParam and the
// mouse message in lParam (0x203 double click, 0x204 right button).
constexpr UINT TRAY_CALLBACK_MESSAGE = 0x402;
// Longest tip in bytes; longer texts are cut.
constexpr unsigned long TRAY_TIP_LENGTH = 127;

// Whether the desktop shows a notification area now (a tray host runs).
bool trayHostAvailable();
bool addTrayIcon(HWND window, unsigned int id, HICON icon, const char* tip);
bool setTrayTip(HWND window, unsigned int id, const char* tip);
bool removeTrayIcon(HWND window, unsigned int id);
// The tip an icon shows now ("" when there is no such icon).
std::string getTrayTip(HWND window, unsigned int id);
