// putenv() and getenv() of the embedded runtime, on the script's own table.
// The handlers are entered from PHP and call back into it (which may
// longjmp): they hold only trivially destructible locals.
#ifdef ZORVANE_PHP

#include "internal/PHPEnvironment.h"
#include "internal/PHPSapi.h"

#include <ext/standard/basic_functions.h>

#include <cstring>

namespace {

zif_handler originalGetenv = nullptr;

PHPScriptEnvironment* currentEnvironment()
{
    PHPRequestContext* context = currentPHPContext();
    return context != nullptr ? context->environment : nullptr;
}

// putenv(string $assignment): bool
void scriptPutenv(INTERNAL_FUNCTION_PARAMETERS)
{
    char* setting = nullptr;
    size_t length = 0;
    ZEND_PARSE_PARAMETERS_START(1, 1)
    Z_PARAM_STRING(setting, length)
    ZEND_PARSE_PARAMETERS_END();
    if (length == 0 || setting[0] == '=') {
        zend_argument_value_error(1, "must have a valid syntax");
        RETURN_THROWS();
    }
    PHPScriptEnvironment* environment = currentEnvironment();
    RETURN_BOOL(environment != nullptr && environment->change(setting, length));
}

// The process environment as an array, with the script's changes applied.
void applyChanges(const PHPScriptEnvironment& environment, zval* array)
{
    const auto& changes = environment.changes();
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        const char* name = it->first.data();
        size_t nameLength = it->first.size();
        if (it->second.set) {
            zval value;
            ZVAL_STRINGL(&value, it->second.value.data(), it->second.value.size());
            zend_symtable_str_update(Z_ARRVAL_P(array), name, nameLength, &value);
        } else {
            zend_symtable_str_del(Z_ARRVAL_P(array), name, nameLength);
        }
    }
}

// getenv(?string $name = null, bool $local_only = false): array|string|false
void scriptGetenv(INTERNAL_FUNCTION_PARAMETERS)
{
    char* name = nullptr;
    size_t length = 0;
    bool localOnly = false;
    ZEND_PARSE_PARAMETERS_START(0, 2)
    Z_PARAM_OPTIONAL
    Z_PARAM_STRING_OR_NULL(name, length)
    Z_PARAM_BOOL(localOnly)
    ZEND_PARSE_PARAMETERS_END();
    (void)localOnly;
    const PHPScriptEnvironment* environment = currentEnvironment();
    if (environment == nullptr) {
        originalGetenv(execute_data, return_value);
        return;
    }
    if (name == nullptr) {
        originalGetenv(execute_data, return_value);
        if (Z_TYPE_P(return_value) == IS_ARRAY) applyChanges(*environment, return_value);
        return;
    }
    const char* value = nullptr;
    size_t valueLength = 0;
    switch (environment->query(name, length, value, valueLength)) {
    case PHPScriptEnvironment::Lookup::Set:
        RETURN_STRINGL(value, valueLength);
    case PHPScriptEnvironment::Lookup::Unset:
        RETURN_FALSE;
    case PHPScriptEnvironment::Lookup::Unchanged:
        break;
    }
    originalGetenv(execute_data, return_value);
}

zend_internal_function* findFunction(const char* name)
{
    auto* function = static_cast<zend_function*>(zend_hash_str_find_ptr(CG(function_table), name, strlen(name)));
    if (function == nullptr || function->type != ZEND_INTERNAL_FUNCTION) return nullptr;
    return &function->internal_function;
}

} // namespace

bool PHPScriptEnvironment::change(const char* setting, size_t length) noexcept
{
    try {
        const char* equals = static_cast<const char*>(memchr(setting, '=', length));
        if (equals == nullptr) {
            table[std::string(setting, length)] = Change {false, std::string()};
        } else {
            size_t nameLength = static_cast<size_t>(equals - setting);
            table[std::string(setting, nameLength)]
                = Change {true, std::string(equals + 1, length - nameLength - 1)};
        }
        return true;
    } catch (...) {
        return false;
    }
}

PHPScriptEnvironment::Lookup PHPScriptEnvironment::query(
    const char* name, size_t length, const char*& value, size_t& valueLength) const noexcept
{
    auto it = table.find(std::string_view(name, length));
    if (it == table.end()) return Lookup::Unchanged;
    if (!it->second.set) return Lookup::Unset;
    value = it->second.value.data();
    valueLength = it->second.value.size();
    return Lookup::Set;
}

void installScriptEnvironment()
{
    zend_internal_function* putenvFunction = findFunction("putenv");
    zend_internal_function* getenvFunction = findFunction("getenv");
    if (putenvFunction == nullptr || getenvFunction == nullptr) return;
    if (getenvFunction->handler != scriptGetenv) originalGetenv = getenvFunction->handler;
    getenvFunction->handler = scriptGetenv;
    putenvFunction->handler = scriptPutenv;
}

#endif
