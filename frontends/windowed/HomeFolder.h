#pragma once

#include <string>

// Where the windowed program finds cfg/ and www/. It makes this folder the
// current one, as every file name it uses is relative.
namespace HomeFolder {

// The first of the program's folder, its parent and the parent's parent that
// holds a cfg/ folder: next to the program, <prefix>/bin beside <prefix>/cfg,
// or <project>/build/bin in a build tree. The program's folder when none does.
std::string find(const std::string& programDirectory);

} // namespace HomeFolder
