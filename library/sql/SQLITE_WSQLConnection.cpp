#include "SQLITE_WSQL.h"
#include "internal/SQLITE_WSQLDatabase.h"

#include <sqlite3.h>

#include <cstring>
#include <new>

// --- SQLITE_WSQLDatabase ---

SQLITE_WSQLDatabase::~SQLITE_WSQLDatabase()
{
    // The last holder of a database its connection never closed. Statements
    // finalize before they let go, so this close does not wait for any.
    if (handle) sqlite3_close_v2(handle);
}

// --- SQLITE_WSQLBase ---

SQLITE_WSQLBase::SQLITE_WSQLBase() = default;

SQLITE_WSQLBase::~SQLITE_WSQLBase() = default;

void SQLITE_WSQLBase::init(const SQLITE_WSQLBase* other)
{
    if (!other) return;
    WSQLBase::init(other);
    database = other->database;
}

sqlite3* SQLITE_WSQLBase::handle() const
{
    return database ? database->handle : nullptr;
}

WSQLException SQLITE_WSQLBase::makeError(int code) const
{
    // The connection's message may belong to an earlier call (a misused
    // statement sets no message); then SQLite's text for the code is right.
    sqlite3* db = handle();
    if (db && sqlite3_errcode(db) == code) return WSQLException(sqlite3_errmsg(db), code);
    return WSQLException(sqlite3_errstr(code), code);
}

void SQLITE_WSQLBase::checkerr(int code) const
{
    if (code != SQLITE_OK) throw makeError(code);
}

// --- SQLITE_WSQLConnection ---

SQLITE_WSQLConnection::SQLITE_WSQLConnection()
{
    initialize();
}

SQLITE_WSQLConnection::SQLITE_WSQLConnection(const char* fileName, const char* openMode)
{
    initialize();
    setFilename(fileName, openMode);
    connect();
}

// Statements still holding the database keep it open until the last of them
// goes (see SQLITE_WSQLDatabase).
SQLITE_WSQLConnection::~SQLITE_WSQLConnection() = default;

void SQLITE_WSQLConnection::initialize()
{
    name.assign("");
    mode.assign("rw");
}

void SQLITE_WSQLConnection::setFilename(const char* fileName, const char* openMode)
{
    name.assign(fileName ? fileName : "");
    mode.assign(openMode ? openMode : "rw");
}

bool SQLITE_WSQLConnection::connect()
{
    if (active) return false;
    int flags = SQLITE_OPEN_READWRITE;
    if (mode.equals("r"))
        flags = SQLITE_OPEN_READONLY;
    else if (mode.equals("w+"))
        flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(name.getBuf(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        // SQLite hands out a handle even when the open fails; it holds the
        // message and must be closed.
        WSQLException error(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), db ? sqlite3_errcode(db) : rc);
        sqlite3_close(db);
        throw error;
    }
    std::shared_ptr<SQLITE_WSQLDatabase> opened;
    try {
        opened = std::make_shared<SQLITE_WSQLDatabase>(db);
    } catch (const std::bad_alloc&) {
        sqlite3_close(db);
        throw WException("Out of memory.", -1);
    }
    // Another connection's short write lock is waited for, not failed on.
    sqlite3_busy_timeout(db, SQLITE_WSQLDatabase::BUSY_TIMEOUT_MS);
    opened->autoCommit = autoCommit;
    // A fresh database each time: statements of an earlier connect stay
    // with the file that is closed now.
    database = opened;
    active = true;
    if (!autoCommit) {
        try {
            execute("BEGIN");
        } catch (...) {
            database.reset(); // closes the file
            active = false;
            throw;
        }
    }
    return true;
}

bool SQLITE_WSQLConnection::close()
{
    if (!active) return false;
    // Without the _v2 form, live statements make this fail (and keep the
    // connection usable) instead of deferring the close.
    checkerr(sqlite3_close(database->handle));
    database->handle = nullptr; // statements still made from it now fail
    database.reset();
    active = false;
    return true;
}

WSQLStatement* SQLITE_WSQLConnection::createStatement()
{
    return new (std::nothrow) SQLITE_WSQLStatement(this);
}

WSQLStatement* SQLITE_WSQLConnection::createPreparedStatement(const WString& sql)
{
    return new (std::nothrow) SQLITE_WSQLStatement(this, sql);
}

bool SQLITE_WSQLConnection::inTransaction() const
{
    sqlite3* db = handle();
    return db && sqlite3_get_autocommit(db) == 0;
}

void SQLITE_WSQLConnection::execute(const char* sql)
{
    checkerr(sqlite3_exec(handle(), sql, nullptr, nullptr, nullptr));
}

void SQLITE_WSQLConnection::setAutoCommitFlag(bool on)
{
    WSQLConnection::setAutoCommit(on);
    if (database) database->autoCommit = on;
}

// SQLite commits each statement unless a transaction is open, so turning
// auto-commit off opens one, and commit or rollback open the next.
void SQLITE_WSQLConnection::setAutoCommit(bool on)
{
    bool was = autoCommit;
    setAutoCommitFlag(on);
    if (!active || was == on) return;
    if (!on && !inTransaction())
        execute("BEGIN");
    else if (on && inTransaction())
        execute("COMMIT"); // as a driver does when auto-commit comes back on
}

void SQLITE_WSQLConnection::commit()
{
    if (autoCommit || !active) return;
    if (inTransaction()) execute("COMMIT");
    execute("BEGIN");
}

void SQLITE_WSQLConnection::rollback()
{
    if (autoCommit || !active) return;
    if (inTransaction()) execute("ROLLBACK");
    execute("BEGIN");
}
