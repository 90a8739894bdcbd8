#pragma once

#include "WString.h"

// Appends text to out with '&', '<', '>' and '"' replaced by their entities,
// so a message can be placed in a page without becoming markup.
void appendHtmlEscaped(WString& out, const char* text);
