#include "CGIEnvironment.h"

#include "ScriptVariables.h"

CGIEnvironment::CGIEnvironment(const HTTPRequest& request) : block(1024)
{
    ScriptVariables variables(request, ScriptKind::CGI);
    for (size_t i = 0; i < variables.count(); i++) {
        block.append(variables.name(i));
        block.append("=");
        block.append(variables.value(i));
        block.append(reinterpret_cast<const unsigned char*>(""), 1);
    }
    // The block ends with one more NUL after the last entry's.
    block.append(reinterpret_cast<const unsigned char*>(""), 1);
}

CGIEnvironment::~CGIEnvironment()
{
}
