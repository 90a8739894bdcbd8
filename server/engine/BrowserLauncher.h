#pragma once

// Opens a URL in the desktop's browser with xdg-open, started detached
// without a shell; its streams go to /dev/null and it is reaped in the
// background. A missing xdg-open or display is not an error: nothing opens.
void openInBrowser(const char* url);
