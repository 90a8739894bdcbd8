#include "WSQLConnectionFactory.h"

#include "ODBC_WSQL.h"
#include "SQLITE_WSQL.h"

#include <cstring>
#include <new>

namespace {

const char* orEmpty(const char* text)
{
    return text ? text : "";
}

} // namespace

WSQLConnection* WSQLConnectionFactory::getConnection(
    const char* type, const char* name, const char* user, const char* password, const char* mode)
{
    if (type && strcmp(type, "ODBC") == 0) {
        ODBC_WSQLConnection* connection = new (std::nothrow) ODBC_WSQLConnection(orEmpty(name));
        if (connection) {
            connection->setDSN(orEmpty(name));
            connection->setUser(orEmpty(user));
            connection->setPassword(orEmpty(password));
        }
        return connection;
    }
    if (type && strcmp(type, "SQLITE") == 0) {
        // Opens at once; a failed open frees the object and passes the error on.
        return new (std::nothrow) SQLITE_WSQLConnection(orEmpty(name), mode ? mode : "rw");
    }
    notSupported(type);
}

void WSQLConnectionFactory::startup(const char* type)
{
    if (!type || strcmp(type, "ODBC") != 0) notSupported(type);
}

void WSQLConnectionFactory::shutdown(const char* type)
{
    if (!type || strcmp(type, "ODBC") != 0) notSupported(type);
}

void WSQLConnectionFactory::notSupported(const char* type)
{
    throw WSQLException(WFormattedString("Connection-Type: '%s' is not supported!", orEmpty(type)), -1);
}
