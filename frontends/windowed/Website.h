#pragma once

#include "WString.h"

// Addresses the tray's website item opens.
namespace Website {

// "file://" and the absolute path, with bytes outside letters, digits and
// "/-._~" percent-encoded.
WString fileAddress(const char* path);
// The README.md of the home folder as a file address, or "" when there is none.
WString readmeAddress(const char* homeFolder);
// The start page of a server listening on host and port, at the address it
// listens on: 127.0.0.1 for an empty or any-address host, else the host's
// IPv4 address. Never a name such as "localhost", which may also stand for
// an IPv6 address where another program listens.
WString startPageAddress(const char* host, unsigned int port);

} // namespace Website
