#pragma once

// The standard control classes of the window layer: "BUTTON", "STATIC",
// "EDIT", "RICHEDIT20A", "LISTBOX", "COMBOBOX", "SysListView32",
// "SysTabControl32", "ReBarWindow32", "ToolbarWindow32",
// "msctls_statusbar32", "msctls_trackbar32", "msctls_progress32" (also
// as "PROGRESS") and "SCROLLBAR". Each keeps its state (texts, check states, items,
// selections, ranges) in its own class procedure and paints itself; the
// substrate shows the painting and brings the input.

#include "ControlTypes.h"

namespace wplat {

// Registers every class once; later calls do nothing. Safe on any thread.
void registerControlClasses();

} // namespace wplat
