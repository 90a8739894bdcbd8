#pragma once

#include "WSQL.h"

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

class SQLITE_WSQLConnection;
class SQLITE_WSQLDatabase;

// The database shared by a SQLite connection and its statements. Once the
// connection is closed, its statements fail with "SQLITE database is not
// open." (-1). SQLite errors always throw, whatever the throw-exceptions flag
// says.
class SQLITE_WSQLBase : public virtual WSQLBase {
public:
    SQLITE_WSQLBase();
    ~SQLITE_WSQLBase() override;

    using WSQLBase::init;
    // Copies the other's throw-exceptions flag and shares its database.
    virtual void init(const SQLITE_WSQLBase* other);

protected:
    // The open database; null before connect and after close.
    sqlite3* handle() const;
    // Throws the engine's message and code for any code but 0.
    void checkerr(int code) const;
    // The error for code: the connection's own message when it describes
    // code, else SQLite's generic text for it.
    WSQLException makeError(int code) const;

    std::shared_ptr<SQLITE_WSQLDatabase> database;
};

// One SQLite database file. Modes: "r" read-only, "w+" read-write and
// created when missing, anything else ("rw") read-write on an existing file.
// A statement waits up to a few seconds for another connection's lock
// before it fails with "database is locked".
// With auto-commit off every statement runs inside a transaction, which
// commit and rollback end: when SQLite ends one by itself (ON CONFLICT
// ROLLBACK, a full disk, COMMIT given as SQL text), the next statement opens
// a new one, so nothing is committed that the caller may still roll back.
class SQLITE_WSQLConnection : public WSQLConnection, public SQLITE_WSQLBase {
public:
    SQLITE_WSQLConnection();
    // Opens the file at once; a failure leaves the constructor.
    SQLITE_WSQLConnection(const char* fileName, const char* mode);
    SQLITE_WSQLConnection(const SQLITE_WSQLConnection&) = delete;
    SQLITE_WSQLConnection& operator=(const SQLITE_WSQLConnection&) = delete;
    ~SQLITE_WSQLConnection() override;

    using SQLITE_WSQLBase::init;

    void setFilename(const char* fileName, const char* mode);

    bool connect() override;
    bool close() override;
    WSQLStatement* createStatement() override;
    WSQLStatement* createPreparedStatement(const WString& sql) override;
    void setAutoCommit(bool on) override;
    void commit() override;
    void rollback() override;

private:
    void initialize();
    void execute(const char* sql);
    bool inTransaction() const;
    void setAutoCommitFlag(bool on);

    WString mode;
};

// A statement on a SQLite database. Nothing runs at executeQuery(): the
// first fetch steps the statement, and the fetch after the last row resets
// it so that it can run again. getDate of a NULL gives 1970-01-01 00:00:00
// UTC, never an earlier row's date.
class SQLITE_WSQLStatement : public WSQLStatement, public SQLITE_WSQLBase {
public:
    explicit SQLITE_WSQLStatement(const SQLITE_WSQLConnection* connection);
    SQLITE_WSQLStatement(const SQLITE_WSQLConnection* connection, const WString& sql);
    SQLITE_WSQLStatement(const SQLITE_WSQLStatement&) = delete;
    SQLITE_WSQLStatement& operator=(const SQLITE_WSQLStatement&) = delete;
    ~SQLITE_WSQLStatement() override;

    using SQLITE_WSQLBase::init;
    using WSQLStatement::init;
    virtual void init(const SQLITE_WSQLConnection* connection, const WString& sql);
    virtual void init(const SQLITE_WSQLConnection* connection);

    void close() override;

    void setColumnCount(unsigned long count) override;
    unsigned long getColumnCount(bool live) const override;
    void getColumnInfo(unsigned long position, ColumnInfo& info) const override;
    void setColumn(unsigned long position, DataType type, unsigned long size) override;
    void setColumnNumber(unsigned long position) override;
    void setColumnFloat(unsigned long position) override;
    void setColumnString(unsigned long position, unsigned long size) override;
    void setColumnDate(unsigned long position, DataType type) override;

    void setParamString(unsigned long position, const WString& value) override;
    void setParamNumber(unsigned long position, int value) override;
    void setParamFloat(unsigned long position, double value) override;
    void setParamArray(unsigned long position, const unsigned char* data, unsigned long length) override;
    void setParamDate(unsigned long position, const WDate& date, DataType type) override;

    bool executeQuery() override;
    bool executeQuery(const WString& sql) override;
    bool executeUpdate() override;
    bool executeUpdate(const WString& sql) override;
    bool fetch() override;
    void fetchFinish() override;
    unsigned long getRowCount() override;

    const WString& getString(unsigned long position) const override;
    int getNumber(unsigned long position) const override;
    double getFloat(unsigned long position) const override;
    const unsigned char* getArray(unsigned long position) const override;
    const WDate& getDate(unsigned long position) const override;
    unsigned long getSizeBytes(unsigned long position) const override;
    unsigned long getLastInsertId() const override;

private:
    struct ColumnDef;

    void initialize();
    void prepare(const WString& sql);
    void requireStatement() const;
    void readyForBinding();
    void checkColumnPos(unsigned long position) const;
    void checkParamPos(unsigned long position) const;
    // With auto-commit off, opens a transaction when none is open.
    void joinTransaction();
    int step();

    sqlite3_stmt* statement;
    unsigned long columnCount;
    unsigned long paramCount;
    std::unique_ptr<ColumnDef[]> columns;
    mutable WDate date;
};
