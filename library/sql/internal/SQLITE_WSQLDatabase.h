#pragma once

struct sqlite3;

// One open SQLite database, shared by the connection that opened it and the
// statements made from it. The connection's close() empties `handle`, so a
// statement never reaches a freed handle, or through a reused address
// another database. A connection deleted while statements still hold the
// database leaves it open for them; the last holder closes it.
class SQLITE_WSQLDatabase {
public:
    // How long a statement waits for another connection's lock to go before
    // it fails with "database is locked".
    static constexpr int BUSY_TIMEOUT_MS = 5000;

    explicit SQLITE_WSQLDatabase(sqlite3* db) : handle(db) { }
    ~SQLITE_WSQLDatabase();
    SQLITE_WSQLDatabase(const SQLITE_WSQLDatabase&) = delete;
    SQLITE_WSQLDatabase& operator=(const SQLITE_WSQLDatabase&) = delete;

    // Null once the connection closed the database.
    sqlite3* handle;
    // The connection's setting: off, every statement runs inside a
    // transaction, opened again whenever SQLite ended the last one.
    bool autoCommit = true;
};
