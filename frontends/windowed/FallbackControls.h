#pragma once

// Plain edit, button and static classes for the configuration dialog, used
// only where the window layer has no classes of those names yet: text by
// WM_SETTEXT/WM_GETTEXT, typing into edits, check state of check boxes and
// BN_CLICKED to the parent, painted from their state.
void registerFallbackControls();
