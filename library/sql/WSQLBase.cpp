#include "WSQL.h"

#include <cstdio>
#include <cstring>

WSQLBase::WSQLBase() : throwExceptions(true)
{
}

WSQLBase::WSQLBase(const WSQLBase& other) : throwExceptions(other.throwExceptions)
{
}

WSQLBase& WSQLBase::operator=(const WSQLBase& other)
{
    throwExceptions = other.throwExceptions;
    return *this;
}

WSQLBase::~WSQLBase() = default;

void WSQLBase::init(const WSQLBase* other)
{
    if (other) throwExceptions = other->throwExceptions;
}

bool WSQLBase::parseDateTime(const char* text, WDate& date)
{
    unsigned int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!text || sscanf(text, "%u-%u-%u %u:%u:%u", &year, &month, &day, &hour, &minute, &second) < 3)
        return false; // an empty or NULL column: the date stays as it was
    date.parse((int)year, (int)month, (int)day, (int)hour, (int)minute, (int)second, WDate::TIME_ZONE_DEFAULT);
    return true;
}

void WSQLBase::formatQueryString(const char* text, WString& out, bool nullAware)
{
    out.assign("");
    if (!text || (nullAware && strcmp(text, "NULL") == 0)) return;
    for (const char* p = text; *p; ++p) {
        if (*p == '\\' || *p == '\'' || *p == '"') out.append('\\');
        out.append(*p);
    }
}

// --- WSQLConnection: the defaults of every engine operation ---

WSQLConnection::WSQLConnection() : active(false), autoCommit(true)
{
}

WSQLConnection::WSQLConnection(const char* connectionName)
    : active(false), autoCommit(true), name(connectionName ? connectionName : "")
{
}

WSQLConnection::WSQLConnection(const WSQLConnection& other)
    : WSQLBase(other), active(other.active), autoCommit(other.autoCommit), name(other.name)
{
}

WSQLConnection& WSQLConnection::operator=(const WSQLConnection& other)
{
    WSQLBase::operator=(other);
    active = other.active;
    autoCommit = other.autoCommit;
    name = other.name;
    return *this;
}

WSQLConnection::~WSQLConnection() = default;

bool WSQLConnection::connect()
{
    return false;
}

bool WSQLConnection::close()
{
    return false;
}

WSQLStatement* WSQLConnection::createStatement()
{
    return nullptr;
}

WSQLStatement* WSQLConnection::createPreparedStatement(const WString&)
{
    return nullptr;
}

void WSQLConnection::setAutoCommit(bool on)
{
    autoCommit = on;
}

void WSQLConnection::commit()
{
}

void WSQLConnection::rollback()
{
}

WSQLConnection::Releaser::~Releaser()
{
    if (variable && *variable) {
        delete *variable;
        *variable = nullptr;
    }
}

// --- WSQLStatement: the defaults of every engine operation ---

WSQLStatement::WSQLStatement() = default;

WSQLStatement::WSQLStatement(const WSQLStatement& other) : WSQLBase(other)
{
}

WSQLStatement& WSQLStatement::operator=(const WSQLStatement& other)
{
    WSQLBase::operator=(other);
    return *this;
}

WSQLStatement::~WSQLStatement() = default;

void WSQLStatement::init(const WSQLConnection*, const WString&)
{
}

void WSQLStatement::init(const WSQLConnection*)
{
}

void WSQLStatement::close()
{
}

void WSQLStatement::setColumnCount(unsigned long)
{
}

unsigned long WSQLStatement::getColumnCount(bool) const
{
    return 0;
}

void WSQLStatement::getColumnInfo(unsigned long, ColumnInfo&) const
{
}

void WSQLStatement::setColumn(unsigned long, DataType, unsigned long)
{
}

void WSQLStatement::setColumnNumber(unsigned long)
{
}

void WSQLStatement::setColumnFloat(unsigned long)
{
}

void WSQLStatement::setColumnString(unsigned long, unsigned long)
{
}

void WSQLStatement::setColumnArray(unsigned long, const unsigned char*, unsigned long)
{
}

void WSQLStatement::setColumnDate(unsigned long, DataType)
{
}

void WSQLStatement::bind()
{
}

void WSQLStatement::setParamString(unsigned long, const WString&)
{
}

void WSQLStatement::setParamNumber(unsigned long, int)
{
}

void WSQLStatement::setParamFloat(unsigned long, double)
{
}

void WSQLStatement::setParamArray(unsigned long, const unsigned char*, unsigned long)
{
}

void WSQLStatement::setParamDate(unsigned long, const WDate&, DataType)
{
}

bool WSQLStatement::executeQuery()
{
    return false;
}

bool WSQLStatement::executeQuery(const WString&)
{
    return false;
}

bool WSQLStatement::executeUpdate()
{
    return false;
}

bool WSQLStatement::executeUpdate(const WString&)
{
    return false;
}

bool WSQLStatement::fetch(unsigned long)
{
    return false;
}

bool WSQLStatement::fetch()
{
    return false;
}

void WSQLStatement::fetchFinish()
{
}

unsigned long WSQLStatement::getRowCount()
{
    return 0;
}

const WString& WSQLStatement::getString(unsigned long) const
{
    static const WString empty;
    return empty;
}

int WSQLStatement::getNumber(unsigned long) const
{
    return 0;
}

double WSQLStatement::getFloat(unsigned long) const
{
    return 0.0;
}

const unsigned char* WSQLStatement::getArray(unsigned long) const
{
    return nullptr;
}

const WDate& WSQLStatement::getDate(unsigned long) const
{
    static const WDate shared; // the time of the first call
    return shared;
}

unsigned long WSQLStatement::getSizeBytes(unsigned long) const
{
    return 0;
}

unsigned long WSQLStatement::getLastInsertId() const
{
    return 0;
}

void WSQLStatement::throwColumnPosition(unsigned long position)
{
    throw WSQLException(WFormattedString("Invalid column position %lu", position), -1);
}

void WSQLStatement::throwParamPosition(unsigned long position)
{
    throw WSQLException(WFormattedString("Invalid parameter position %lu", position), -1);
}

WSQLStatement::Releaser::~Releaser()
{
    if (variable && *variable) {
        delete *variable;
        *variable = nullptr;
    }
}
