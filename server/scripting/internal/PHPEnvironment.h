#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// A script's own environment. putenv() in one script must not change the
// environment of the whole process: other workers' scripts, the log's local
// time and the name resolver read it at the same time, and the C library's
// environment is not safe to change while other threads read it. So a script
// changes only this table, which lives as long as its request; getenv() looks
// here first and then at the process environment, which nothing changes
// while the server runs. Programs a script starts get the process
// environment (proc_open's env argument passes variables on).
class PHPScriptEnvironment {
public:
    enum class Lookup { Unchanged, Set, Unset };

    // "NAME=value" sets NAME, "NAME" unsets it. False when memory ran out.
    bool change(const char* setting, size_t length) noexcept;
    // What the script did to name; value and valueLength are set for Set.
    Lookup query(const char* name, size_t length, const char*& value, size_t& valueLength) const noexcept;

    // NAME -> value, or no value (unset).
    struct Change {
        bool set;
        std::string value;
    };
    const std::map<std::string, Change, std::less<>>& changes() const { return table; }

private:
    std::map<std::string, Change, std::less<>> table;
};

// Puts the runtime's putenv() and getenv() on the current script's table.
// Once per start-up, after the standard functions are registered and before
// the runtime copies its function table for the threads.
void installScriptEnvironment();
