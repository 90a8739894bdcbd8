#include "ODBC_WSQL.h"
#include "internal/ODBC_WSQLLink.h"
#include "internal/WSQLColumnTable.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

// One declared result column. The driver keeps the addresses of `data` and
// `indicator` from SQLBindCol until the columns are unbound, so neither
// moves while bound; getString copies out of `data` into `text`.
struct ODBC_WSQLStatement::ColumnDef {
    unsigned long position = 0;
    DataType type = DataType(0);
    SQLSMALLINT cType = 0;
    unsigned long size = 0; // usable bytes of data
    std::vector<char> data;
    SQLLEN indicator = 0;
    mutable WString text;
};

// One parameter, bound at its first use and again whenever its buffer or
// type changes, so the driver always reads the buffer that holds the value.
struct ODBC_WSQLStatement::ParamDef {
    unsigned long position = 0;
    SQLSMALLINT cType = 0;
    SQLSMALLINT sqlType = 0;
    SQLULEN columnSize = 0;
    std::vector<char> data;
    SQLLEN indicator = 0;
    bool bound = false;
};

namespace {

// Parameter markers of a statement text; every '?' counts.
unsigned long countMarkers(const WString& sql)
{
    unsigned long count = 0;
    for (const char* p = sql.getBuf(); *p; ++p)
        if (*p == '?') ++count;
    return count;
}

// Copies a fixed-size value into a parameter's buffer (sized for it by
// param()) and sets the length the driver reads.
template <typename Param, typename Value>
void storeFixed(Param& p, const Value& value)
{
    memcpy(p.data.data(), &value, sizeof value);
    p.indicator = sizeof value;
}

} // namespace

ODBC_WSQLStatement::ODBC_WSQLStatement()
{
    initialize();
}

ODBC_WSQLStatement::ODBC_WSQLStatement(const ODBC_WSQLConnection* connection)
{
    initialize();
    init(connection);
}

ODBC_WSQLStatement::ODBC_WSQLStatement(const ODBC_WSQLConnection* connection, const WString& sql)
{
    initialize();
    try {
        init(connection, sql);
    } catch (...) {
        // No destructor runs for a failed constructor: free what init made.
        try {
            close();
        } catch (...) {
        }
        throw;
    }
}

ODBC_WSQLStatement::~ODBC_WSQLStatement()
{
    try {
        close();
    } catch (...) {
    }
}

void ODBC_WSQLStatement::initialize()
{
    columnCount = 0;
    columnsBound = false;
    rowsEnded = false;
    paramCount = 0;
}

void ODBC_WSQLStatement::init(const ODBC_WSQLConnection* connection)
{
    if (hstmt) close();
    ODBC_WSQLBase::init(connection);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLRETURN rc = SQLAllocStmt((SQLHDBC)getHDBC(), &stmt);
    hstmt = failed(rc) ? nullptr : stmt;
    checkerr(rc);
}

void ODBC_WSQLStatement::init(const ODBC_WSQLConnection* connection, const WString& sql)
{
    init(connection);
    if (!hstmt) return; // the allocation failed with exceptions off
    SQLRETURN rc = SQLPrepare((SQLHSTMT)getHSTMT(), (SQLCHAR*)sql.getBuf(), SQL_NTS);
    if (failed(rc) && throwExceptions) {
        WSQLException error = makeError(rc, this);
        SQLFreeStmt((SQLHSTMT)getHSTMT(), SQL_DROP);
        hstmt = nullptr;
        throw error;
    }
    unsigned long count = countMarkers(sql);
    std::unique_ptr<ParamDef[]> fresh = newColumnTable<ParamDef>(count + 1);
    for (unsigned long i = 0; i <= count; ++i)
        fresh[i].position = i;
    params = std::move(fresh);
    paramCount = count;
}

void ODBC_WSQLStatement::close()
{
    SQLRETURN rc = SQL_SUCCESS;
    SQLHSTMT stmt = (SQLHSTMT)getHSTMT();
    if (stmt) {
        // Unbind first: should the drop fail, the driver still must not
        // write into the buffers freed below.
        SQLFreeStmt(stmt, SQL_UNBIND);
        SQLFreeStmt(stmt, SQL_RESET_PARAMS);
        rc = SQLFreeStmt(stmt, SQL_DROP);
        if (!failed(rc)) hstmt = nullptr;
    } else {
        hstmt = nullptr; // none, or gone with the closed connection
    }
    columnsBound = false;
    rowsEnded = false;
    freeColumns();
    freeParams();
    checkerr(rc);
}

void ODBC_WSQLStatement::freeColumns()
{
    columns.reset();
    columnCount = 0;
}

void ODBC_WSQLStatement::freeParams()
{
    params.reset();
    paramCount = 0;
}

// --- columns ---

void ODBC_WSQLStatement::checkColumnPos(unsigned long position) const
{
    if (position == 0 || position > columnCount) throwColumnPosition(position);
}

void ODBC_WSQLStatement::unbindColumns()
{
    if (columnsBound && getHSTMT()) SQLFreeStmt((SQLHSTMT)getHSTMT(), SQL_UNBIND);
    columnsBound = false;
}

void ODBC_WSQLStatement::setColumnCount(unsigned long count)
{
    std::unique_ptr<ColumnDef[]> fresh = newColumnTable<ColumnDef>(count);
    unbindColumns(); // the driver must let go of the old buffers first
    columns = std::move(fresh);
    columnCount = count;
    for (unsigned long i = 1; i <= count; ++i)
        setColumnString(i, 255);
}

void ODBC_WSQLStatement::setColumn(unsigned long position, DataType type, unsigned long size)
{
    checkColumnPos(position);
    SQLSMALLINT cType = 0;
    unsigned long minimum = 0; // fixed-size values need their whole size
    switch (type) {
    case TYPE_STRING:
        cType = SQL_C_CHAR;
        break;
    case TYPE_NUMBER:
        cType = SQL_C_LONG;
        minimum = sizeof(SQLINTEGER);
        break;
    case TYPE_FLOAT:
        cType = SQL_C_DOUBLE;
        minimum = sizeof(SQLDOUBLE);
        break;
    case TYPE_DATE:
    case TYPE_TIMESTAMP:
        cType = SQL_C_TIMESTAMP;
        minimum = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
    case TYPE_ARRAY:
        cType = SQL_C_BINARY;
        break;
    }
    // The buffer (with room for the driver's NUL) is made before anything
    // changes: a size that cannot be had leaves the column as it was.
    unsigned long usable = std::max(size, minimum);
    std::vector<char> buffer;
    if (usable >= (unsigned long)std::numeric_limits<SQLLEN>::max() || usable >= buffer.max_size())
        throw WMemoryException(WFormattedString("Out of memory. Cannot alloc %lu bytes.", usable), -2);
    try {
        buffer.assign(usable + 1, 0);
    } catch (const std::bad_alloc&) {
        throw WMemoryException(WFormattedString("Out of memory. Cannot alloc %lu bytes.", usable + 1), -2);
    }
    unbindColumns(); // the driver must let go of the old buffer first
    ColumnDef& column = columns[position - 1];
    column.size = usable;
    column.data.swap(buffer);
    column.indicator = 0;
    column.text.truncate(0);
    column.position = position;
    column.type = type;
    column.cType = cType;
}

void ODBC_WSQLStatement::setColumnNumber(unsigned long position)
{
    setColumn(position, TYPE_NUMBER, 4);
}

void ODBC_WSQLStatement::setColumnFloat(unsigned long position)
{
    setColumn(position, TYPE_FLOAT, 8);
}

void ODBC_WSQLStatement::setColumnString(unsigned long position, unsigned long size)
{
    setColumn(position, TYPE_STRING, size);
}

void ODBC_WSQLStatement::setColumnArray(unsigned long position, unsigned long size)
{
    setColumn(position, TYPE_ARRAY, size);
}

void ODBC_WSQLStatement::setColumnDate(unsigned long position, DataType type)
{
    setColumn(position, type, sizeof(SQL_TIMESTAMP_STRUCT));
}

void ODBC_WSQLStatement::bindColumn(ColumnDef& column)
{
    SQLRETURN rc = SQLBindCol((SQLHSTMT)getHSTMT(), (SQLUSMALLINT)column.position, column.cType, column.data.data(),
        (SQLLEN)column.size, &column.indicator);
    if (failed(rc)) {
        // Leave no column half bound to a buffer that may go away.
        WSQLException error = makeError(rc, this);
        unbindColumns();
        if (throwExceptions) throw error;
    }
}

void ODBC_WSQLStatement::bind()
{
    columnsBound = getHSTMT() != nullptr; // from here on the driver may hold our buffers
    for (unsigned long i = 0; i < columnCount && columnsBound; ++i)
        bindColumn(columns[i]);
}

unsigned long ODBC_WSQLStatement::getColumnCount(bool live) const
{
    if (!live || !getHSTMT()) return columnCount;
    SQLSMALLINT count = 0;
    SQLRETURN rc = SQLNumResultCols((SQLHSTMT)getHSTMT(), &count);
    checkerr(rc);
    return failed(rc) || count < 0 ? 0 : (unsigned long)count;
}

// The statement's result columns, 0 where the driver cannot tell yet.
unsigned long ODBC_WSQLStatement::liveColumns() const
{
    SQLSMALLINT count = 0;
    if (!getHSTMT() || failed(SQLNumResultCols((SQLHSTMT)getHSTMT(), &count)) || count < 0) return 0;
    return (unsigned long)count;
}

bool ODBC_WSQLStatement::textAttribute(unsigned long position, unsigned short field, WString& out) const
{
    out.resize(255);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLColAttribute((SQLHSTMT)getHSTMT(), (SQLUSMALLINT)position, field, out.getBuf(),
        (SQLSMALLINT)out.getBufLength(), &length, nullptr);
    checkerr(rc);
    if (failed(rc)) length = 0;
    out.truncate((unsigned long)std::clamp<long>(length, 0, 255));
    out.truncate(strlen(out.getBuf()));
    return true;
}

long ODBC_WSQLStatement::numberAttribute(unsigned long position, unsigned short field) const
{
    SQLLEN value = 0;
    SQLRETURN rc = SQLColAttribute((SQLHSTMT)getHSTMT(), (SQLUSMALLINT)position, field, nullptr, 0, nullptr, &value);
    checkerr(rc);
    return failed(rc) ? 0 : (long)value;
}

bool ODBC_WSQLStatement::getColumnName(unsigned long position, WString& out) const
{
    return getHSTMT() && textAttribute(position, SQL_DESC_LABEL, out);
}

bool ODBC_WSQLStatement::getColumnDataTypeName(unsigned long position, WString& out) const
{
    return getHSTMT() && textAttribute(position, SQL_DESC_TYPE_NAME, out);
}

int ODBC_WSQLStatement::getColumnDataType(unsigned long position) const
{
    return getHSTMT() ? (int)numberAttribute(position, SQL_DESC_TYPE) : 0;
}

unsigned long ODBC_WSQLStatement::getColumnSize(unsigned long position, bool octets) const
{
    if (!getHSTMT()) return 0;
    long size = numberAttribute(position, octets ? SQL_DESC_OCTET_LENGTH : SQL_DESC_LENGTH);
    return size < 0 ? 0 : (unsigned long)size;
}

void ODBC_WSQLStatement::getColumnInfo(unsigned long position, ColumnInfo& info) const
{
    checkColumnPos(position);
    const ColumnDef& column = columns[position - 1];
    info = ColumnInfo();
    info.position = position;
    info.size = column.size;
    info.dataType = column.type;
    // Only columns the statement really has: asking for others is an error.
    if (!getHSTMT() || position > liveColumns()) return;
    getColumnName(position, info.name);
    getColumnDataTypeName(position, info.typeName);
    info.octetLength = getColumnSize(position, true);
    info.length = getColumnSize(position, false);
    info.engineType = getColumnDataType(position);
}

// --- parameters ---

void ODBC_WSQLStatement::checkParamPos(unsigned long position) const
{
    if (position == 0 || position > paramCount) throwParamPosition(position);
}

void ODBC_WSQLStatement::bindParam(ParamDef& p)
{
    SQLRETURN rc = SQLBindParameter((SQLHSTMT)getHSTMT(), (SQLUSMALLINT)p.position, SQL_PARAM_INPUT, p.cType, p.sqlType,
        p.columnSize, 0, p.data.data(), (SQLLEN)p.data.size(), &p.indicator);
    p.bound = !failed(rc);
    if (p.bound) return;
    // The driver may still hold this parameter's old buffer: unbind them all.
    WSQLException error = makeError(rc, this);
    if (getHSTMT()) SQLFreeStmt((SQLHSTMT)getHSTMT(), SQL_RESET_PARAMS);
    for (unsigned long i = 1; i <= paramCount; ++i)
        params[i].bound = false;
    if (throwExceptions) throw error;
}

// The record of a position, holding at least size bytes and bound with
// the given types.
ODBC_WSQLStatement::ParamDef& ODBC_WSQLStatement::param(
    unsigned long position, short cType, short sqlType, unsigned long size)
{
    ParamDef& p = params[position];
    bool grow = p.data.size() < size;
    if (grow) p.data.resize(size);
    if (grow || !p.bound || p.cType != cType || p.sqlType != sqlType) {
        p.cType = cType;
        p.sqlType = sqlType;
        if (sqlType == SQL_TIMESTAMP)
            p.columnSize = 19; // "YYYY-MM-DD HH:MM:SS": the seconds must fit
        else if (sqlType == SQL_DATE)
            p.columnSize = 10;
        else
            p.columnSize = p.data.size();
        bindParam(p);
    }
    return p;
}

void ODBC_WSQLStatement::setParamString(unsigned long position, const WString& value)
{
    checkParamPos(position);
    unsigned long n = value.length();
    ParamDef& p = param(position, SQL_C_CHAR, SQL_VARCHAR, std::max(n + 1, 256ul));
    memcpy(p.data.data(), value.getBuf(), n + 1);
    p.indicator = (SQLLEN)n;
}

void ODBC_WSQLStatement::setParamNumber(unsigned long position, int value)
{
    checkParamPos(position);
    storeFixed(param(position, SQL_C_LONG, SQL_INTEGER, sizeof(SQLINTEGER)), (SQLINTEGER)value);
}

void ODBC_WSQLStatement::setParamFloat(unsigned long position, double value)
{
    checkParamPos(position);
    storeFixed(param(position, SQL_C_DOUBLE, SQL_DOUBLE, sizeof(SQLDOUBLE)), (SQLDOUBLE)value);
}

void ODBC_WSQLStatement::setParamArray(unsigned long position, const unsigned char* data, unsigned long length)
{
    checkParamPos(position);
    if (!data) length = 0;
    ParamDef& p = param(position, SQL_C_BINARY, SQL_BINARY, std::max(length, 1ul));
    if (length) memcpy(p.data.data(), data, length);
    p.indicator = (SQLLEN)length;
}

void ODBC_WSQLStatement::setParamDate(unsigned long position, const WDate& value, DataType type)
{
    checkParamPos(position);
    if (type == TYPE_DATE) {
        // A date goes as a date structure: given a timestamp, drivers store
        // the time of day too, even into a DATE column.
        SQL_DATE_STRUCT day = {};
        day.year = (SQLSMALLINT)value.getYear();
        day.month = (SQLUSMALLINT)value.getMonth();
        day.day = (SQLUSMALLINT)value.getDay();
        storeFixed(param(position, SQL_C_DATE, SQL_DATE, sizeof(SQL_DATE_STRUCT)), day);
        return;
    }
    SQL_TIMESTAMP_STRUCT stamp = {};
    stamp.year = (SQLSMALLINT)value.getYear();
    stamp.month = (SQLUSMALLINT)value.getMonth();
    stamp.day = (SQLUSMALLINT)value.getDay();
    stamp.hour = (SQLUSMALLINT)value.getHour();
    stamp.minute = (SQLUSMALLINT)value.getMinute();
    stamp.second = (SQLUSMALLINT)value.getSecond();
    stamp.fraction = 0;
    storeFixed(param(position, SQL_C_TIMESTAMP, SQL_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)), stamp);
}

// --- execution ---

// Closing a cursor that is not open is harmless with SQL_CLOSE, unlike
// SQLCloseCursor, so a finished fetch loop may be finished again.
void ODBC_WSQLStatement::closeCursor()
{
    rowsEnded = false;
    if (getHSTMT()) SQLFreeStmt((SQLHSTMT)getHSTMT(), SQL_CLOSE);
}

bool ODBC_WSQLStatement::executeQuery()
{
    closeCursor();
    bind();
    SQLRETURN rc = SQLExecute((SQLHSTMT)getHSTMT());
    checkerr(rc);
    return !failed(rc) && rc != SQL_NO_DATA;
}

bool ODBC_WSQLStatement::executeQuery(const WString& sql)
{
    closeCursor();
    bind();
    SQLRETURN rc = SQLExecDirect((SQLHSTMT)getHSTMT(), (SQLCHAR*)sql.getBuf(), SQL_NTS);
    checkerr(rc);
    return !failed(rc) && rc != SQL_NO_DATA;
}

bool ODBC_WSQLStatement::executeUpdate()
{
    return executeQuery();
}

bool ODBC_WSQLStatement::executeUpdate(const WString& sql)
{
    return executeQuery(sql);
}

bool ODBC_WSQLStatement::fetch()
{
    if (!columnsBound && columnCount > 0) bind(); // columns declared again since the execute
    if (rowsEnded) return false; // the cursor is closed already: the same answer again
    SQLRETURN rc = SQLFetchScroll((SQLHSTMT)getHSTMT(), SQL_FETCH_NEXT, 0);
    if (rc == SQL_NO_DATA) {
        fetchFinish();
        rowsEnded = true;
        return false;
    }
    checkerr(rc);
    return !failed(rc);
}

bool ODBC_WSQLStatement::fetch(unsigned long orientation)
{
    if (!columnsBound && columnCount > 0) bind();
    SQLRETURN rc = SQLFetchScroll((SQLHSTMT)getHSTMT(), (SQLSMALLINT)orientation, 0);
    if (rc == SQL_NO_DATA) return false;
    checkerr(rc);
    return !failed(rc);
}

void ODBC_WSQLStatement::fetchFinish()
{
    if (getHSTMT()) checkerr(SQLFreeStmt((SQLHSTMT)getHSTMT(), SQL_CLOSE));
}

unsigned long ODBC_WSQLStatement::getRowCount()
{
    SQLLEN count = 0;
    SQLRETURN rc = SQLRowCount((SQLHSTMT)getHSTMT(), &count);
    checkerr(rc);
    return failed(rc) ? 0 : (unsigned long)count;
}

// --- reading ---

const WString& ODBC_WSQLStatement::getString(unsigned long position) const
{
    checkColumnPos(position);
    const ColumnDef& column = columns[position - 1];
    if (column.indicator == SQL_NULL_DATA) {
        column.text.truncate(0);
        return column.text;
    }
    // Character data ends in a NUL the driver writes inside the buffer.
    unsigned long limit = column.size;
    if (column.cType == SQL_C_CHAR) limit = limit > 0 ? limit - 1 : 0;
    unsigned long n;
    if (column.indicator < 0) // length unknown: the buffer is full
        n = column.cType == SQL_C_CHAR ? strnlen(column.data.data(), limit) : limit;
    else
        n = std::min((unsigned long)column.indicator, limit);
    column.text.assign(column.data.data(), n);
    return column.text;
}

int ODBC_WSQLStatement::getNumber(unsigned long position) const
{
    checkColumnPos(position);
    const ColumnDef& column = columns[position - 1];
    return numberFromBytes<int32_t>(column.data.data(), column.size);
}

double ODBC_WSQLStatement::getFloat(unsigned long position) const
{
    checkColumnPos(position);
    const ColumnDef& column = columns[position - 1];
    return numberFromBytes<double>(column.data.data(), column.size);
}

const unsigned char* ODBC_WSQLStatement::getArray(unsigned long position) const
{
    checkColumnPos(position);
    return (const unsigned char*)columns[position - 1].data.data();
}

const WDate& ODBC_WSQLStatement::getDate(unsigned long position) const
{
    checkColumnPos(position);
    const ColumnDef& column = columns[position - 1];
    if (column.cType != SQL_C_TIMESTAMP) {
        if (!parseDateTime(getString(position).getBuf(), date)) setNullDate(date);
        return date;
    }
    if (column.indicator <= 0) { // a NULL, or no row fetched yet
        setNullDate(date);
        return date;
    }
    SQL_TIMESTAMP_STRUCT stamp;
    memcpy(&stamp, column.data.data(), sizeof stamp);
    date.parse(stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second, WDate::TIME_ZONE_DEFAULT);
    return date;
}

unsigned long ODBC_WSQLStatement::getSizeBytes(unsigned long position) const
{
    checkColumnPos(position);
    return (unsigned long)columns[position - 1].indicator;
}
