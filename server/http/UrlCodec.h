#pragma once

#include "WString.h"

// Cleans a request URL into out: a '/' is put first when the URL does not
// begin with one; every '/' or '\\' is written as '/' and dropped right after
// another separator, so runs collapse to one '/'. The query part is cleaned
// the same way; nothing is percent-decoded.
void cleanRequestURL(const char* url, WString& out);

// True when a '/'-separated segment of path is exactly "..".
bool hasParentSegment(const char* path);
