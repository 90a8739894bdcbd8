#pragma once

#include "WSQL.h"

#include <memory>

class ODBC_WSQLConnection;
class ODBC_WSQLLink;

// The three ODBC handles (environment, connection, statement) and the
// translation of ODBC return codes into WSQLException. Engine errors throw
// only while the throw-exceptions flag is set; with it cleared they are
// dropped and the failing operation answers false where it has an answer.
// The environment and connection handles are shared with the connection:
// once it is closed, all three read as null here.
class ODBC_WSQLBase : public virtual WSQLBase {
public:
    ODBC_WSQLBase();
    ~ODBC_WSQLBase() override;

    using WSQLBase::init;
    // Copies the other's throw-exceptions flag and all three handles.
    virtual void init(const ODBC_WSQLBase* other);

    void* getHENV() const;
    void* getHDBC() const;
    void* getHSTMT() const;

protected:
    void checkerr(int code) const { checkerr(code, this); }
    // Nothing for success, "with info" and "no data"; otherwise throws the
    // driver's message and native code when source's flag is set.
    void checkerr(int code, const ODBC_WSQLBase* source) const;
    // The exception for a failed code, read from source's handles.
    static WSQLException makeError(int code, const ODBC_WSQLBase* source);
    static bool failed(int code);

    std::shared_ptr<ODBC_WSQLLink> link;
    void* hstmt;
};

// A connection to an ODBC data source by name, user and password.
class ODBC_WSQLConnection : public WSQLConnection, public ODBC_WSQLBase {
public:
    // Not connected, no settings.
    explicit ODBC_WSQLConnection(const char* name);
    // Stores the settings and connects at once.
    ODBC_WSQLConnection(const char* name, const char* dataSource, const char* user, const char* password);
    ODBC_WSQLConnection(const ODBC_WSQLConnection&) = delete;
    ODBC_WSQLConnection& operator=(const ODBC_WSQLConnection&) = delete;
    ~ODBC_WSQLConnection() override;

    using ODBC_WSQLBase::init;

    void setDSN(const char* dataSource);
    void setUser(const char* user);
    void setPassword(const char* password);

    bool connect() override;
    bool close() override;
    WSQLStatement* createStatement() override;
    WSQLStatement* createPreparedStatement(const WString& sql) override;
    void setAutoCommit(bool on) override;
    void commit() override;
    void rollback() override;

private:
    void applyAutoCommit();
    void freeHandles();

    WString dataSource;
    WString user;
    WString password;
};

// A statement on an ODBC connection. Result columns are bound to buffers of
// their own that the driver fills at each fetch; parameters are bound at
// their first use and re-bound whenever their buffer has to grow. getDate
// of a NULL gives 1970-01-01 00:00:00 UTC, never an earlier row's date.
class ODBC_WSQLStatement : public WSQLStatement, public ODBC_WSQLBase {
public:
    ODBC_WSQLStatement();
    explicit ODBC_WSQLStatement(const ODBC_WSQLConnection* connection);
    ODBC_WSQLStatement(const ODBC_WSQLConnection* connection, const WString& sql);
    ODBC_WSQLStatement(const ODBC_WSQLStatement&) = delete;
    ODBC_WSQLStatement& operator=(const ODBC_WSQLStatement&) = delete;
    ~ODBC_WSQLStatement() override;

    using ODBC_WSQLBase::init;
    using WSQLStatement::init;
    virtual void init(const ODBC_WSQLConnection* connection, const WString& sql);
    virtual void init(const ODBC_WSQLConnection* connection);

    void close() override;

    void setColumnCount(unsigned long count) override;
    unsigned long getColumnCount(bool live) const override;
    void getColumnInfo(unsigned long position, ColumnInfo& info) const override;
    void setColumn(unsigned long position, DataType type, unsigned long size) override;
    void setColumnNumber(unsigned long position) override;
    void setColumnFloat(unsigned long position) override;
    void setColumnString(unsigned long position, unsigned long size) override;
    using WSQLStatement::setColumnArray;
    virtual void setColumnArray(unsigned long position, unsigned long size);
    void setColumnDate(unsigned long position, DataType type) override;
    void bind() override;

    void setParamString(unsigned long position, const WString& value) override;
    void setParamNumber(unsigned long position, int value) override;
    void setParamFloat(unsigned long position, double value) override;
    void setParamArray(unsigned long position, const unsigned char* data, unsigned long length) override;
    void setParamDate(unsigned long position, const WDate& date, DataType type) override;

    bool executeQuery() override;
    bool executeQuery(const WString& sql) override;
    bool executeUpdate() override;
    bool executeUpdate(const WString& sql) override;
    // orientation: 1 next, 2 first, 3 last, 4 prior, 5 absolute, 6 relative
    // (offset 0). False at the end of the data; the cursor stays open.
    bool fetch(unsigned long orientation) override;
    // False after the last row, with the cursor closed.
    bool fetch() override;
    void fetchFinish() override;
    unsigned long getRowCount() override;

    const WString& getString(unsigned long position) const override;
    int getNumber(unsigned long position) const override;
    double getFloat(unsigned long position) const override;
    const unsigned char* getArray(unsigned long position) const override;
    const WDate& getDate(unsigned long position) const override;
    unsigned long getSizeBytes(unsigned long position) const override;

private:
    struct ColumnDef;
    struct ParamDef;

    void initialize();
    void bindColumn(ColumnDef& column);
    void bindParam(ParamDef& param);
    void unbindColumns();
    void freeColumns();
    void freeParams();
    void closeCursor();
    ParamDef& param(unsigned long position, short cType, short sqlType, unsigned long size);
    void checkColumnPos(unsigned long position) const;
    void checkParamPos(unsigned long position) const;
    unsigned long liveColumns() const;
    bool getColumnName(unsigned long position, WString& name) const;
    bool getColumnDataTypeName(unsigned long position, WString& name) const;
    int getColumnDataType(unsigned long position) const;
    unsigned long getColumnSize(unsigned long position, bool octets) const;
    bool textAttribute(unsigned long position, unsigned short field, WString& out) const;
    long numberAttribute(unsigned long position, unsigned short field) const;

    unsigned long columnCount;
    std::unique_ptr<ColumnDef[]> columns;
    bool columnsBound;
    bool rowsEnded; // fetch() met the end since the last execute
    unsigned long paramCount;
    std::unique_ptr<ParamDef[]> params; // indexed by position; entry 0 unused
    mutable WDate date;
};
