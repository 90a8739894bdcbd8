#pragma once

// Matching of file names against find patterns: '*' stands for any run of
// characters, '?' for exactly one; other characters match themselves (names
// are case-sensitive). As on the desktop systems the patterns come from,
// "*.*" matches every name and a pattern ending in ".*" also matches a name
// without any extension ("abc.*" matches "abc").
namespace WWildcard {

bool hasWildcards(const char* pattern);
bool matches(const char* pattern, const char* name);

} // namespace WWildcard
