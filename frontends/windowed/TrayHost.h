#pragma once

// Whether the desktop has a notification area to show the tray icon in now.
// The icon itself waits for one: it appears when a tray host starts later.
bool isTrayAvailable();
