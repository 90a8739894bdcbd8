// Opening a PHP extension built as a shared object, without PHP's own loader:
// PHP opens extensions with RTLD_DEEPBIND, which the address sanitizer's
// runtime refuses, so the extension would load in some builds only.
#include "internal/PHPSharedExtension.h"

#include <cstdio>
#include <cstring>

#include <dlfcn.h>

#ifdef ZORVANE_PHP
#include <php.h>
#include <zend_modules.h>
#endif

bool openPHPExtension(const char* path, PHPSharedExtension& extension, char* why, size_t whySize)
{
    extension = PHPSharedExtension();
    if (whySize > 0) why[0] = 0;
#ifdef ZORVANE_PHP
    // Global, as PHP's loader opens them: the extension's own symbols stay
    // visible to what it loads after it.
    void* handle = dlopen(path, RTLD_LAZY | RTLD_GLOBAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        snprintf(why, whySize, "%s", error != nullptr ? error : path);
        return false;
    }
    using GetModule = zend_module_entry* (*)();
    auto getModule = reinterpret_cast<GetModule>(dlsym(handle, "get_module"));
    zend_module_entry* module = getModule != nullptr ? getModule() : nullptr;
    if (module == nullptr) {
        snprintf(why, whySize, "%s is not a PHP extension", path);
    } else if (module->zend_api != ZEND_MODULE_API_NO) {
        snprintf(why, whySize, "%s was built for PHP API %d, the runtime has %d", path, module->zend_api,
            ZEND_MODULE_API_NO);
    } else if (module->build_id == nullptr || strcmp(module->build_id, ZEND_MODULE_BUILD_ID) != 0) {
        snprintf(why, whySize, "%s was built as %s, the runtime is %s", path,
            module->build_id != nullptr ? module->build_id : "?", ZEND_MODULE_BUILD_ID);
    } else {
        extension.handle = handle;
        extension.module = module;
        return true;
    }
    dlclose(handle);
    return false;
#else
    snprintf(why, whySize, "%s: this program is built without PHP", path);
    return false;
#endif
}
