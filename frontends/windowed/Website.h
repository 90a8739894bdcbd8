#pragma once

#include "WString.h"

// Addresses the tray's website item opens.
namespace Website {

// "file://" and the absolute path, with bytes outside letters, digits and
// "/-._~" percent-encoded.
WString fileAddress(const char* path);
// The README.md of the home folder as a file address, or "" when there is none.
WString readmeAddress(const char* homeFolder);
// The start page of a server listening on host and port ("localhost" for an
// empty or any-address host; IPv6 addresses in brackets).
WString startPageAddress(const char* host, unsigned int port);

} // namespace Website
