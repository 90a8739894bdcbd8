#pragma once

#include <cstddef>
#include <string>
#include <vector>

class HTTPRequest;

// Who reads the variables: the built-in PHP runtime ($_SERVER) or a CGI
// program (its environment).
enum class ScriptKind { PHP, CGI };

// The variables a script sees for one request, as a web server in front of
// PHP-FPM or a CGI program gives them: the request line, both endpoints, the
// script's paths, and every request header as HTTP_<NAME>. A header that was
// not sent has no variable. Built once per script run.
class ScriptVariables {
public:
    ScriptVariables(const HTTPRequest& request, ScriptKind kind);

    size_t count() const { return names.size(); }
    const char* name(size_t i) const { return names[i].c_str(); }
    const char* value(size_t i) const { return values[i].c_str(); }

    // The variable name of a header, "HTTP_" + its name with '-' as '_'; ""
    // for a name with other characters than letters, digits and '-' (an
    // "X_Forwarded_For" must not pass for "X-Forwarded-For").
    static std::string headerVariable(const char* headerName);

    // The fixed administrator address CGI programs get as SERVER_ADMIN.
    static const char* const SERVER_ADMIN;

private:
    void add(const char* name, const char* value);
    void addHeaders(const HTTPRequest& request, ScriptKind kind);

    std::vector<std::string> names;
    std::vector<std::string> values;
};
