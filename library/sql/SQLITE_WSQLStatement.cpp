#include "SQLITE_WSQL.h"
#include "internal/SQLITE_WSQLDatabase.h"
#include "internal/WSQLColumnTable.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <new>
#include <strings.h>

// One declared result column: its type and the buffer the getters read.
struct SQLITE_WSQLStatement::ColumnDef {
    unsigned long position = 0;
    DataType type = DataType(0);
    WString value;
};

SQLITE_WSQLStatement::SQLITE_WSQLStatement(const SQLITE_WSQLConnection* connection)
{
    initialize();
    init(connection);
}

SQLITE_WSQLStatement::SQLITE_WSQLStatement(const SQLITE_WSQLConnection* connection, const WString& sql)
{
    initialize();
    init(connection, sql);
}

SQLITE_WSQLStatement::~SQLITE_WSQLStatement()
{
    // Finalized before the database can go with this statement's share.
    if (statement) sqlite3_finalize(statement);
}

void SQLITE_WSQLStatement::initialize()
{
    statement = nullptr;
    columnCount = 0;
    paramCount = 0;
}

void SQLITE_WSQLStatement::init(const SQLITE_WSQLConnection* connection)
{
    if (statement) close();
    SQLITE_WSQLBase::init(connection);
}

void SQLITE_WSQLStatement::init(const SQLITE_WSQLConnection* connection, const WString& sql)
{
    init(connection);
    prepare(sql);
}

void SQLITE_WSQLStatement::prepare(const WString& sql)
{
    sqlite3* db = handle();
    if (!db) throw WSQLException("SQLITE database is not open.", -1);
    if (sql.length() > (unsigned long)INT32_MAX) checkerr(SQLITE_TOOBIG);
    // Only the first statement of the text is prepared; the tail is ignored.
    sqlite3_stmt* prepared = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.getBuf(), (int)sql.length(), &prepared, nullptr);
    checkerr(rc);
    statement = prepared;
    paramCount = statement ? (unsigned long)sqlite3_bind_parameter_count(statement) : 0;
}

void SQLITE_WSQLStatement::close()
{
    if (statement) sqlite3_finalize(statement);
    statement = nullptr;
    paramCount = 0;
}

void SQLITE_WSQLStatement::requireStatement() const
{
    if (!handle()) throw WSQLException("SQLITE database is not open.", -1);
    if (!statement) throw WSQLException("No SQL statement prepared.", -1);
}

// --- columns ---

void SQLITE_WSQLStatement::checkColumnPos(unsigned long position) const
{
    if (position == 0 || position > columnCount) throwColumnPosition(position);
}

void SQLITE_WSQLStatement::setColumnCount(unsigned long count)
{
    columns = newColumnTable<ColumnDef>(count);
    columnCount = count;
    for (unsigned long i = 1; i <= count; ++i)
        setColumnString(i, 255);
}

void SQLITE_WSQLStatement::setColumn(unsigned long position, DataType type, unsigned long size)
{
    checkColumnPos(position);
    ColumnDef& column = columns[position - 1];
    column.value.resize(size);
    if (size > 0) // size 0 leaves the string on the shared empty buffer
        memset(column.value.getBuf(), 0, column.value.getBufLength());
    column.value.truncate(0);
    column.position = position;
    column.type = type;
}

void SQLITE_WSQLStatement::setColumnNumber(unsigned long position)
{
    setColumn(position, TYPE_NUMBER, 4);
}

void SQLITE_WSQLStatement::setColumnFloat(unsigned long position)
{
    setColumn(position, TYPE_FLOAT, 8);
}

void SQLITE_WSQLStatement::setColumnString(unsigned long position, unsigned long size)
{
    setColumn(position, TYPE_STRING, size);
}

void SQLITE_WSQLStatement::setColumnDate(unsigned long position, DataType type)
{
    setColumn(position, type, 19); // "YYYY-MM-DD HH:MM:SS"
}

unsigned long SQLITE_WSQLStatement::getColumnCount(bool live) const
{
    if (live && statement) return (unsigned long)sqlite3_data_count(statement);
    return columnCount;
}

void SQLITE_WSQLStatement::getColumnInfo(unsigned long position, ColumnInfo& info) const
{
    checkColumnPos(position);
    const ColumnDef& column = columns[position - 1];
    info = ColumnInfo();
    info.position = position;
    info.size = column.value.getBufLength() - 1;
    info.dataType = column.type;
    if (!statement) return;
    // Asking beyond the statement's columns would leave a range error on
    // the connection and spoil the next error message.
    int index = (int)(position - 1);
    if (position <= (unsigned long)sqlite3_column_count(statement)) {
        const char* origin = sqlite3_column_origin_name(statement, index);
        const char* declared = sqlite3_column_decltype(statement, index);
        info.name.assign(origin ? origin : "");
        info.typeName.assign(declared ? declared : "");
    }
    if (position <= (unsigned long)sqlite3_data_count(statement))
        info.engineType = sqlite3_column_type(statement, index);
}

// --- parameters ---

void SQLITE_WSQLStatement::checkParamPos(unsigned long position) const
{
    if (position == 0 || position > paramCount) throwParamPosition(position);
    requireStatement();
}

// SQLite refuses new values while a statement is part-way through its rows
// (a fetch loop left early); setting a parameter starts it over.
void SQLITE_WSQLStatement::readyForBinding()
{
    if (sqlite3_stmt_busy(statement)) sqlite3_reset(statement);
}

void SQLITE_WSQLStatement::setParamString(unsigned long position, const WString& value)
{
    checkParamPos(position);
    readyForBinding();
    checkerr(sqlite3_bind_text(statement, (int)position, value.getBuf(), -1, SQLITE_TRANSIENT));
}

void SQLITE_WSQLStatement::setParamNumber(unsigned long position, int value)
{
    checkParamPos(position);
    readyForBinding();
    checkerr(sqlite3_bind_int(statement, (int)position, value));
}

void SQLITE_WSQLStatement::setParamFloat(unsigned long position, double value)
{
    checkParamPos(position);
    readyForBinding();
    checkerr(sqlite3_bind_double(statement, (int)position, value));
}

void SQLITE_WSQLStatement::setParamArray(unsigned long position, const unsigned char* data, unsigned long length)
{
    checkParamPos(position);
    readyForBinding();
    if (length > (unsigned long)INT32_MAX) checkerr(SQLITE_TOOBIG);
    // SQLite keeps its own copy, so the caller's bytes may go at once.
    checkerr(sqlite3_bind_blob(
        statement, (int)position, data ? (const void*)data : (const void*)"", (int)length, SQLITE_TRANSIENT));
}

void SQLITE_WSQLStatement::setParamDate(unsigned long position, const WDate& value, DataType type)
{
    checkParamPos(position);
    const char* pattern = type == TYPE_TIMESTAMP ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d";
    setParamString(position, value.format(pattern, WDate::TIME_ZONE_DEFAULT));
}

// --- execution ---

namespace {

// True for a statement that opens a transaction itself.
bool beginsTransaction(sqlite3_stmt* statement)
{
    const char* sql = sqlite3_sql(statement);
    if (!sql) return false;
    while (isspace((unsigned char)*sql))
        ++sql;
    return strncasecmp(sql, "BEGIN", 5) == 0 && !isalnum((unsigned char)sql[5]) && sql[5] != '_';
}

} // namespace

void SQLITE_WSQLStatement::joinTransaction()
{
    sqlite3* db = handle();
    if (!db || database->autoCommit || sqlite3_get_autocommit(db) == 0 || beginsTransaction(statement)) return;
    checkerr(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr));
}

int SQLITE_WSQLStatement::step()
{
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        // Take the message before the reset that makes the statement usable again.
        WSQLException error = makeError(rc);
        sqlite3_reset(statement);
        throw error;
    }
    return rc;
}

bool SQLITE_WSQLStatement::executeQuery()
{
    if (!statement) return false;
    requireStatement();
    // The rows start over at the next fetch, even after a loop left early.
    sqlite3_reset(statement);
    return true;
}

bool SQLITE_WSQLStatement::executeQuery(const WString& sql)
{
    close();
    prepare(sql);
    return true;
}

bool SQLITE_WSQLStatement::executeUpdate()
{
    requireStatement();
    readyForBinding();
    joinTransaction();
    step();
    // Reset at once, so the statement can run again with new parameters.
    checkerr(sqlite3_reset(statement));
    return true;
}

bool SQLITE_WSQLStatement::executeUpdate(const WString& sql)
{
    close();
    prepare(sql);
    requireStatement();
    joinTransaction();
    step();
    // Reset, so that a statement that returned rows holds no read lock.
    checkerr(sqlite3_reset(statement));
    return true;
}

bool SQLITE_WSQLStatement::fetch()
{
    requireStatement();
    if (!sqlite3_stmt_busy(statement)) joinTransaction(); // the first row of a run
    if (step() == SQLITE_DONE) {
        checkerr(sqlite3_reset(statement));
        return false;
    }
    unsigned long live = (unsigned long)sqlite3_data_count(statement);
    for (unsigned long i = 0; i < live && i < columnCount; ++i) {
        ColumnDef& column = columns[i];
        int index = (int)i;
        if (column.type == TYPE_NUMBER) {
            int32_t number = sqlite3_column_int(statement, index);
            column.value.assign((const char*)&number, sizeof number);
        } else if (column.type == TYPE_FLOAT) {
            double number = sqlite3_column_double(statement, index);
            column.value.assign((const char*)&number, sizeof number);
        } else {
            const unsigned char* text = sqlite3_column_text(statement, index);
            if (text)
                column.value.assign(text, (unsigned long)sqlite3_column_bytes(statement, index));
            else
                column.value.truncate(0); // NULL reads as empty, never as the row before
        }
    }
    return true;
}

void SQLITE_WSQLStatement::fetchFinish()
{
    if (statement && handle()) checkerr(sqlite3_reset(statement));
}

unsigned long SQLITE_WSQLStatement::getRowCount()
{
    throw WSQLException("getRowCount() is not available on SQLITE database engine.", -1);
}

// --- reading ---

const WString& SQLITE_WSQLStatement::getString(unsigned long position) const
{
    checkColumnPos(position);
    return columns[position - 1].value;
}

int SQLITE_WSQLStatement::getNumber(unsigned long position) const
{
    checkColumnPos(position);
    const WString& value = columns[position - 1].value;
    return numberFromBytes<int32_t>(value.getBuf(), value.length());
}

double SQLITE_WSQLStatement::getFloat(unsigned long position) const
{
    checkColumnPos(position);
    const WString& value = columns[position - 1].value;
    return numberFromBytes<double>(value.getBuf(), value.length());
}

const unsigned char* SQLITE_WSQLStatement::getArray(unsigned long position) const
{
    checkColumnPos(position);
    return (const unsigned char*)columns[position - 1].value.getBuf();
}

const WDate& SQLITE_WSQLStatement::getDate(unsigned long position) const
{
    checkColumnPos(position);
    if (!parseDateTime(columns[position - 1].value.getBuf(), date)) setNullDate(date);
    return date;
}

unsigned long SQLITE_WSQLStatement::getSizeBytes(unsigned long position) const
{
    checkColumnPos(position);
    if (!statement || position > (unsigned long)sqlite3_data_count(statement)) return 0;
    return (unsigned long)sqlite3_column_bytes(statement, (int)(position - 1));
}

unsigned long SQLITE_WSQLStatement::getLastInsertId() const
{
    sqlite3* db = handle();
    if (!statement || !db) return 0;
    return (unsigned long)sqlite3_last_insert_rowid(db);
}
