#pragma once

#include "WSQL.h"

struct sqlite3;
struct sqlite3_stmt;

class SQLITE_WSQLConnection;

// The database handle shared by a SQLite connection and its statements.
// SQLite errors always throw, whatever the throw-exceptions flag says.
class SQLITE_WSQLBase : public virtual WSQLBase {
public:
    SQLITE_WSQLBase();
    ~SQLITE_WSQLBase() override;

    using WSQLBase::init;
    // Copies the other's throw-exceptions flag and database handle.
    virtual void init(const SQLITE_WSQLBase* other);

protected:
    // Throws the engine's message and code for any code but 0.
    void checkerr(int code) const;
    // The error for code: the connection's own message when it describes
    // code, else SQLite's generic text for it.
    WSQLException makeError(int code) const;

    sqlite3* handle;
};

// One SQLite database file. Modes: "r" read-only, "w+" read-write and
// created when missing, anything else ("rw") read-write on an existing file.
// With auto-commit off the connection keeps a transaction open, which
// commit and rollback end and open anew.
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

    WString mode;
};

// A statement on a SQLite database. Nothing runs at executeQuery(): the
// first fetch steps the statement, and the fetch after the last row resets
// it so that it can run again.
class SQLITE_WSQLStatement : public WSQLStatement, public SQLITE_WSQLBase {
public:
    explicit SQLITE_WSQLStatement(const SQLITE_WSQLConnection* connection);
    SQLITE_WSQLStatement(const SQLITE_WSQLConnection* connection, const WString& sql);
    SQLITE_WSQLStatement(const SQLITE_WSQLStatement&) = delete;
    SQLITE_WSQLStatement& operator=(const SQLITE_WSQLStatement&) = delete;
    ~SQLITE_WSQLStatement() override;

    using WSQLStatement::init;
    using SQLITE_WSQLBase::init;
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
    int step();

    sqlite3_stmt* statement;
    unsigned long columnCount;
    unsigned long paramCount;
    ColumnDef* columns;
    mutable WDate date;
};
