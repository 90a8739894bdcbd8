#pragma once

#include "WSQL.h"

// Makes connections by engine name: "ODBC" (a data source, not yet
// connected) or "SQLITE" (a database file, opened at once). Names are
// compared exactly.
class WSQLConnectionFactory {
public:
    // The caller owns and deletes the result; null only when memory runs out.
    static WSQLConnection* getConnection(
        const char* type, const char* name, const char* user, const char* password, const char* mode);
    static void startup(const char* type);
    static void shutdown(const char* type);

private:
    [[noreturn]] static void notSupported(const char* type);
};
