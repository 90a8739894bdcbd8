#include "ODBC_WSQL.h"
#include "internal/ODBC_WSQLLink.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstring>
#include <new>

// --- ODBC_WSQLLink ---

ODBC_WSQLLink::~ODBC_WSQLLink()
{
    // Statements drop their own handles before they let go of the link.
    if (hdbc) {
        SQLDisconnect((SQLHDBC)hdbc);
        SQLFreeConnect((SQLHDBC)hdbc);
    }
    if (henv) SQLFreeEnv((SQLHENV)henv);
}

// --- ODBC_WSQLBase ---

ODBC_WSQLBase::ODBC_WSQLBase() : hstmt(nullptr)
{
}

ODBC_WSQLBase::~ODBC_WSQLBase() = default;

void ODBC_WSQLBase::init(const ODBC_WSQLBase* other)
{
    if (!other) return;
    WSQLBase::init(other);
    link = other->link;
    hstmt = other->getHSTMT();
}

void* ODBC_WSQLBase::getHENV() const
{
    return link ? link->henv : nullptr;
}

void* ODBC_WSQLBase::getHDBC() const
{
    return link ? link->hdbc : nullptr;
}

void* ODBC_WSQLBase::getHSTMT() const
{
    // A statement handle lives no longer than its connection's.
    return link && link->isOpen() ? hstmt : nullptr;
}

bool ODBC_WSQLBase::failed(int code)
{
    SQLRETURN rc = (SQLRETURN)code;
    return rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA;
}

WSQLException ODBC_WSQLBase::makeError(int code, const ODBC_WSQLBase* source)
{
    switch ((SQLRETURN)code) {
    case SQL_STILL_EXECUTING:
        return WSQLException("SQL_STILL_EXECUTING", 0);
    case SQL_NEED_DATA:
        return WSQLException("SQL_NEED_DATA", 0);
    case SQL_INVALID_HANDLE:
        return WSQLException("SQL_INVALID_HANDLE", 0);
    case SQL_ERROR: {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[512] = {};
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLError((SQLHENV)source->getHENV(), (SQLHDBC)source->getHDBC(), (SQLHSTMT)source->getHSTMT(),
            state, &native, message, (SQLSMALLINT)sizeof message, &length);
        if (!SQL_SUCCEEDED(rc)) return WSQLException("", 0);
        message[sizeof message - 1] = 0;
        return WSQLException((const char*)message, (int)native);
    }
    default:
        return WSQLException("", 0);
    }
}

void ODBC_WSQLBase::checkerr(int code, const ODBC_WSQLBase* source) const
{
    if (failed(code) && source->throwExceptions) throw makeError(code, source);
}

// --- ODBC_WSQLConnection ---

ODBC_WSQLConnection::ODBC_WSQLConnection(const char* connectionName) : WSQLConnection(connectionName)
{
}

ODBC_WSQLConnection::ODBC_WSQLConnection(
    const char* connectionName, const char* dsn, const char* userName, const char* secret)
    : WSQLConnection(connectionName)
{
    setDSN(dsn);
    setUser(userName);
    setPassword(secret);
    connect();
}

ODBC_WSQLConnection::~ODBC_WSQLConnection()
{
    if (!active) return;
    try {
        close();
    } catch (const WException&) {
        // Statements still allocated keep the connection; nothing to report to.
    }
}

void ODBC_WSQLConnection::setDSN(const char* value)
{
    dataSource.assign(value ? value : "");
}

void ODBC_WSQLConnection::setUser(const char* value)
{
    user.assign(value ? value : "");
}

void ODBC_WSQLConnection::setPassword(const char* value)
{
    password.assign(value ? value : "");
}

void ODBC_WSQLConnection::freeHandles()
{
    if (!link) return;
    if (link->hdbc) SQLFreeConnect((SQLHDBC)link->hdbc);
    if (link->henv) SQLFreeEnv((SQLHENV)link->henv);
    link->hdbc = nullptr;
    link->henv = nullptr;
    link.reset();
}

bool ODBC_WSQLConnection::connect()
{
    if (active) return false;
    // A fresh link each time: statements of an earlier connect stay with
    // the handles that were freed.
    try {
        link = std::make_shared<ODBC_WSQLLink>();
    } catch (const std::bad_alloc&) {
        throw WException("Out of memory.", -1);
    }
    // SQLAllocEnv makes this an ODBC 2 application: drivers then report the
    // date and time type codes this library uses.
    SQLHENV env = SQL_NULL_HENV;
    SQLRETURN rc = SQLAllocEnv(&env);
    link->henv = failed(rc) ? nullptr : env;
    if (!failed(rc)) {
        SQLHDBC dbc = SQL_NULL_HDBC;
        rc = SQLAllocConnect(env, &dbc);
        link->hdbc = failed(rc) ? nullptr : dbc;
    }
    if (!failed(rc)) {
        rc = SQLConnect((SQLHDBC)link->hdbc, (SQLCHAR*)dataSource.getBuf(), SQL_NTS, (SQLCHAR*)user.getBuf(), SQL_NTS,
            (SQLCHAR*)password.getBuf(), SQL_NTS);
    }
    if (failed(rc)) {
        // Read the driver's message while the handles still exist, then free them.
        WSQLException error = makeError(rc, this);
        freeHandles();
        if (throwExceptions) throw error;
        return false;
    }
    active = true;
    if (!autoCommit) applyAutoCommit(); // chosen before the connection existed
    return true;
}

bool ODBC_WSQLConnection::close()
{
    if (!active) return false;
    SQLRETURN rc = SQLDisconnect((SQLHDBC)link->hdbc);
    if (failed(rc)) {
        // Statements still allocated: the connection stays usable.
        checkerr(rc);
        return false;
    }
    rc = SQLFreeConnect((SQLHDBC)link->hdbc);
    link->hdbc = nullptr; // statements still made from it now see no handles
    SQLRETURN envRc = SQLFreeEnv((SQLHENV)link->henv);
    link->henv = nullptr;
    link.reset();
    active = false;
    checkerr(rc);
    checkerr(envRc);
    return true;
}

WSQLStatement* ODBC_WSQLConnection::createStatement()
{
    return new (std::nothrow) ODBC_WSQLStatement(this);
}

WSQLStatement* ODBC_WSQLConnection::createPreparedStatement(const WString& sql)
{
    return new (std::nothrow) ODBC_WSQLStatement(this, sql);
}

void ODBC_WSQLConnection::applyAutoCommit()
{
    SQLSetConnectAttr(
        (SQLHDBC)getHDBC(), SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)(uintptr_t)(autoCommit ? 1 : 0), SQL_IS_UINTEGER);
}

void ODBC_WSQLConnection::setAutoCommit(bool on)
{
    WSQLConnection::setAutoCommit(on);
    if (getHDBC()) applyAutoCommit();
}

void ODBC_WSQLConnection::commit()
{
    checkerr(SQLEndTran(SQL_HANDLE_DBC, (SQLHDBC)getHDBC(), SQL_COMMIT));
}

void ODBC_WSQLConnection::rollback()
{
    checkerr(SQLEndTran(SQL_HANDLE_DBC, (SQLHDBC)getHDBC(), SQL_ROLLBACK));
}
