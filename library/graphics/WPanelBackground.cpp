#include "WBitmap.h"
#include "WPanel.h"

// Panels know only platform bitmaps; this is where a library bitmap becomes one.
void WPanel::setBackgroundImage(const WBitmap& image, BkMode mode, bool erase)
{
    setBackgroundBitmap(image.getBitmapHandle(), mode, erase);
}
