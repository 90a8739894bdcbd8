#pragma once

#include <cstddef>

// A PHP extension that lives in its own file, opened for the runtime to
// register: `module` is the extension's zend_module_entry, `handle` the
// library handle (dlopen) it came from.
struct PHPSharedExtension {
    void* handle = nullptr;
    void* module = nullptr;
};

// Opens the extension file at `path` and checks that it was built for the
// runtime this program links. On failure the file is closed again, `why`
// tells the reason and the result is false.
bool openPHPExtension(const char* path, PHPSharedExtension& extension, char* why, size_t whySize);
