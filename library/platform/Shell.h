#pragma once

#include "PlatformTypes.h"
#include "WString.h"

// Lets the user pick a folder; true with its path in `path` when one was chosen.
bool browseForFolder(HWND owner, const char* title, WString& path);
