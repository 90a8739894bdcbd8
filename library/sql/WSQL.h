#pragma once

#include "WDate.h"
#include "WException.h"
#include "WString.h"

class WSQLConnection;
class WSQLStatement;

// What every connection and statement shares: the throw-exceptions flag and
// two text helpers. Engine classes inherit it virtually, so each object has
// exactly one flag whichever interface it is reached through.
class WSQLBase {
public:
    WSQLBase();
    WSQLBase(const WSQLBase& other);
    WSQLBase& operator=(const WSQLBase& other);
    virtual ~WSQLBase();

    // Copies the other object's throw-exceptions flag.
    virtual void init(const WSQLBase* other);

    bool isException() const { return throwExceptions; }
    void setException(bool on) { throwExceptions = on; }

    // Reads "year-month-day hour:minute:second" (the time may be missing) into
    // date, in the date's own zone. False, with date unchanged, when the text
    // holds fewer than a year, a month and a day.
    static bool parseDateTime(const char* text, WDate& date);

    // Escapes backslashes and both kinds of quotes with a backslash; with
    // nullAware, the text "NULL" gives empty output. UNSAFE for SQLite and
    // for standard SQL, where a backslash escapes nothing: a value built this
    // way can end a quoted literal early. Bind values as parameters instead;
    // nothing in this library builds SQL with it.
    static void formatQueryString(const char* text, WString& out, bool nullAware);

protected:
    bool throwExceptions;
};

// A connection to one database. It is inactive until connect succeeds and
// active until close succeeds. Statements it makes must be deleted before
// it is closed.
class WSQLConnection : public virtual WSQLBase {
public:
    // Deletes the connection a variable points to when the scope ends.
    class Releaser {
    public:
        explicit Releaser(WSQLConnection** owner) : variable(owner) { }
        Releaser(const Releaser& other) = default;
        Releaser& operator=(const Releaser& other) = default;
        ~Releaser();

    private:
        WSQLConnection** variable;
    };

    WSQLConnection();
    explicit WSQLConnection(const char* name);
    WSQLConnection(const WSQLConnection& other);
    WSQLConnection& operator=(const WSQLConnection& other);
    ~WSQLConnection() override;

    bool isActive() const { return active; }
    bool isAutoCommit() const { return autoCommit; }
    const char* getName() const { return name.getBuf(); }

    virtual bool connect();
    virtual bool close();
    // The caller owns the statements returned.
    virtual WSQLStatement* createStatement();
    virtual WSQLStatement* createPreparedStatement(const WString& sql);
    virtual void setAutoCommit(bool on);
    virtual void commit();
    virtual void rollback();

protected:
    bool active;
    bool autoCommit;
    WString name;
};

// One SQL statement: result columns are declared by 1-based position with
// a type and buffer size, parameters are set by 1-based position, then the
// statement runs and each fetch fills the column buffers for the getters.
// This base does nothing: every execute and fetch answers false.
class WSQLStatement : public virtual WSQLBase {
public:
    enum DataType {
        TYPE_STRING = 1,
        TYPE_NUMBER = 2, // signed 32-bit integer
        TYPE_FLOAT = 3, // 64-bit floating point
        TYPE_DATE = 4,
        TYPE_TIMESTAMP = 5, // a date with time of day
        TYPE_ARRAY = 6, // raw bytes
    };

    // What getColumnInfo reports about one result column.
    class ColumnInfo {
    public:
        unsigned long position = 0;
        DataType dataType = DataType(0);
        unsigned long size = 0; // usable bytes of the column's buffer
        WString name;
        int engineType = 0; // the engine's own type code
        WString typeName; // the engine's name of the column type
        unsigned long octetLength = 0;
        unsigned long length = 0;
    };

    // Deletes the statement a variable points to when the scope ends.
    class Releaser {
    public:
        explicit Releaser(WSQLStatement** owner) : variable(owner) { }
        Releaser(const Releaser& other) = default;
        Releaser& operator=(const Releaser& other) = default;
        ~Releaser();

    private:
        WSQLStatement** variable;
    };

    WSQLStatement();
    WSQLStatement(const WSQLStatement& other);
    WSQLStatement& operator=(const WSQLStatement& other);
    ~WSQLStatement() override;

    using WSQLBase::init;
    virtual void init(const WSQLConnection* connection, const WString& sql);
    virtual void init(const WSQLConnection* connection);
    virtual void close();

    virtual void setColumnCount(unsigned long count);
    virtual unsigned long getColumnCount(bool live) const;
    virtual void getColumnInfo(unsigned long position, ColumnInfo& info) const;
    virtual void setColumn(unsigned long position, DataType type, unsigned long size);
    virtual void setColumnNumber(unsigned long position);
    virtual void setColumnFloat(unsigned long position);
    virtual void setColumnString(unsigned long position, unsigned long size);
    virtual void setColumnArray(unsigned long position, const unsigned char* data, unsigned long size);
    virtual void setColumnDate(unsigned long position, DataType type);
    virtual void bind();

    virtual void setParamString(unsigned long position, const WString& value);
    virtual void setParamNumber(unsigned long position, int value);
    virtual void setParamFloat(unsigned long position, double value);
    virtual void setParamArray(unsigned long position, const unsigned char* data, unsigned long length);
    virtual void setParamDate(unsigned long position, const WDate& date, DataType type);

    virtual bool executeQuery();
    virtual bool executeQuery(const WString& sql);
    virtual bool executeUpdate();
    virtual bool executeUpdate(const WString& sql);
    virtual bool fetch(unsigned long orientation);
    virtual bool fetch();
    virtual void fetchFinish();
    virtual unsigned long getRowCount();

    virtual const WString& getString(unsigned long position) const;
    virtual int getNumber(unsigned long position) const;
    virtual double getFloat(unsigned long position) const;
    virtual const unsigned char* getArray(unsigned long position) const;
    virtual const WDate& getDate(unsigned long position) const;
    virtual unsigned long getSizeBytes(unsigned long position) const;
    virtual unsigned long getLastInsertId() const;

protected:
    // The position errors shared by both engines.
    [[noreturn]] static void throwColumnPosition(unsigned long position);
    [[noreturn]] static void throwParamPosition(unsigned long position);
};
