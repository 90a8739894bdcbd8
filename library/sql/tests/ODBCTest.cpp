#include "ODBC_WSQL.h"
#include "WSQLConnectionFactory.h"
#include "SqlTestSupport.h"

#include <cstring>
#include <fstream>
#include <glob.h>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
// The SQLite ODBC driver leaks on disconnect from code the quick unwinder
// cannot walk; full stacks reach the driver, which the leak suppressions name.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
#endif

// These tests talk to a real data source: the SQLite ODBC driver on a
// database in a temporary folder. unixODBC is pointed at configuration files
// in that folder, never at the machine's own.
namespace {

std::string findDriver()
{
    glob_t found = {};
    std::string path;
    if (glob("/usr/lib/*/odbc/libsqlite3odbc.so", 0, nullptr, &found) == 0 && found.gl_pathc > 0)
        path = found.gl_pathv[0];
    globfree(&found);
    return path;
}

// How many of the process's descriptors are open on the file at path.
int openDescriptors(const std::string& path)
{
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code ignored;
        if (std::filesystem::read_symlink(entry.path(), ignored) == path) ++count;
    }
    return count;
}

class ODBC : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        driver = findDriver();
        if (driver.empty()) return;
        config = new TempDir();
        database = config->file("odbc.db");
        std::ofstream ini(config->file("odbc.ini"));
        ini << "[zvtest]\nDriver=" << driver << "\nDatabase=" << database << "\nTimeout=2000\n";
        ini.close();
        std::ofstream(config->file("odbcinst.ini")).close();
        // Read by the driver manager at the first connect of the process.
        setenv("ODBCSYSINI", config->path.c_str(), 1);
        setenv("ODBCINI", config->file("odbc.ini").c_str(), 1);
    }

    static void TearDownTestSuite()
    {
        delete config;
        config = nullptr;
    }

    void SetUp() override
    {
        if (driver.empty()) GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
        std::filesystem::remove(database);
        db = std::make_unique<ODBC_WSQLConnection>("test", "zvtest", "", "");
        run("CREATE TABLE t (id INTEGER PRIMARY KEY, n INTEGER, f DOUBLE, s VARCHAR(40), d DATE, ts TIMESTAMP)");
    }

    void TearDown() override
    {
        if (db) db->close();
    }

    void run(const char* sql)
    {
        std::unique_ptr<WSQLStatement> statement(db->createStatement());
        statement->executeUpdate(WString(sql));
    }

    int countRows()
    {
        std::unique_ptr<WSQLStatement> statement(db->createStatement());
        statement->setColumnCount(1);
        statement->setColumnNumber(1);
        statement->executeQuery(WString("SELECT count(*) FROM t"));
        EXPECT_TRUE(statement->fetch());
        int count = statement->getNumber(1);
        statement->fetchFinish();
        return count;
    }

    static std::string driver;
    static std::string database;
    static TempDir* config;
    std::unique_ptr<ODBC_WSQLConnection> db;
};

std::string ODBC::driver;
std::string ODBC::database;
TempDir* ODBC::config;

} // namespace

TEST_F(ODBC, MissingDataSource)
{
    ODBC_WSQLConnection missing("missing");
    missing.setDSN("no-such-dsn");
    WSQLException e = expectSqlError([&] { missing.connect(); });
    EXPECT_NE(strstr(e.getMessage().getBuf(), "Data source name not found"), nullptr) << e.getMessage().getBuf();
    EXPECT_EQ(e.getId(), 0);
    EXPECT_FALSE(missing.isActive());

    // The one flag, set through the common interface, turns errors into answers.
    WSQLConnection& common = missing;
    common.setException(false);
    EXPECT_FALSE(common.connect());
    EXPECT_FALSE(common.isActive());
}

TEST_F(ODBC, FactoryConnectionConnectsLater)
{
    WSQLConnection* connection = WSQLConnectionFactory::getConnection("ODBC", "zvtest", "", "", nullptr);
    WSQLConnection::Releaser releaser(&connection);
    ASSERT_NE(connection, nullptr);
    EXPECT_FALSE(connection->isActive());
    EXPECT_TRUE(connection->connect());
    EXPECT_TRUE(connection->isActive());
    EXPECT_FALSE(connection->connect());
    EXPECT_TRUE(connection->close());
    EXPECT_FALSE(connection->isActive());
}

TEST_F(ODBC, EveryTypeRoundTrips)
{
    std::unique_ptr<WSQLStatement> insert(
        db->createPreparedStatement(WString("INSERT INTO t (n, f, s, d, ts) VALUES (?, ?, ?, ?, ?)")));
    WDate when;
    when.parse(2024, 2, 29, 13, 5, 9);
    insert->setParamNumber(1, -123456);
    insert->setParamFloat(2, 2.5e-3);
    insert->setParamString(3, WString("it's here"));
    insert->setParamDate(4, when, WSQLStatement::TYPE_DATE);
    insert->setParamDate(5, when, WSQLStatement::TYPE_TIMESTAMP);
    EXPECT_TRUE(insert->executeUpdate());
    EXPECT_EQ(insert->getRowCount(), 1ul);

    std::unique_ptr<WSQLStatement> select(db->createPreparedStatement(WString("SELECT n, f, s, d, ts FROM t")));
    select->setColumnCount(5);
    select->setColumnNumber(1);
    select->setColumnFloat(2);
    select->setColumnString(3, 40);
    select->setColumnDate(4, WSQLStatement::TYPE_DATE);
    select->setColumnDate(5, WSQLStatement::TYPE_TIMESTAMP);
    EXPECT_TRUE(select->executeQuery());
    EXPECT_EQ(select->getColumnCount(true), 5ul);
    ASSERT_TRUE(select->fetch());
    EXPECT_EQ(select->getNumber(1), -123456);
    EXPECT_DOUBLE_EQ(select->getFloat(2), 2.5e-3);
    EXPECT_STREQ(select->getString(3).getBuf(), "it's here");
    EXPECT_EQ(select->getSizeBytes(3), 9ul);

    {
        SCOPED_TRACE("dates in columns 4 and 5");
        expectLeapDayColumns(*select, 4, 5);
    }

    WSQLStatement::ColumnInfo info;
    select->getColumnInfo(3, info);
    EXPECT_EQ(info.position, 3ul);
    EXPECT_EQ(info.dataType, WSQLStatement::TYPE_STRING);
    EXPECT_EQ(info.size, 40ul);
    EXPECT_STREQ(info.name.getBuf(), "s");
    EXPECT_STRCASEEQ(info.typeName.getBuf(), "varchar");
    EXPECT_EQ(info.length, 40ul);
    select->getColumnInfo(5, info);
    EXPECT_EQ(info.engineType, 11); // timestamp, as an ODBC 2 application sees it
    EXPECT_FALSE(select->fetch());
}

TEST_F(ODBC, NullsAndTruncation)
{
    run("INSERT INTO t (id, s) VALUES (1, 'hello world')");
    run("INSERT INTO t (id, s) VALUES (2, NULL)");
    std::unique_ptr<WSQLStatement> select(db->createStatement());
    select->setColumnCount(2);
    select->setColumnString(2, 5);
    select->executeQuery(WString("SELECT id, s FROM t ORDER BY id"));
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "1");
    EXPECT_STREQ(select->getString(2).getBuf(), "hell"); // 5 bytes, the last one the NUL
    EXPECT_EQ(select->getSizeBytes(2), 11ul);
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(2).getBuf(), "");
    EXPECT_EQ(select->getSizeBytes(2), (unsigned long)-1); // the NULL indicator
    EXPECT_FALSE(select->fetch());
}

TEST_F(ODBC, ParametersGrowAndCheckPositions)
{
    std::unique_ptr<WSQLStatement> insert(db->createPreparedStatement(WString("INSERT INTO t (id, s) VALUES (?, ?)")));
    for (unsigned long position : {0ul, 3ul}) {
        WSQLException e = expectSqlError([&] { insert->setParamNumber(position, 1); });
        EXPECT_STREQ(e.getMessage().getBuf(), WFormattedString("Invalid parameter position %lu", position).getBuf());
        EXPECT_EQ(e.getId(), -1);
    }
    std::string longText(1000, 'x');
    longText += "end";
    insert->setParamNumber(1, 1);
    insert->setParamString(2, WString("short"));
    insert->executeUpdate();
    insert->setParamNumber(1, 2);
    insert->setParamString(2, WString(longText.c_str()));
    insert->executeUpdate();

    std::unique_ptr<WSQLStatement> select(db->createPreparedStatement(WString("SELECT s FROM t WHERE id = ?")));
    select->setColumnCount(1);
    select->setColumnString(1, 2000);
    select->setParamNumber(1, 2);
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), longText.c_str());
    select->setParamNumber(1, 1);
    select->executeQuery(); // closes the open cursor itself
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "short");
}

TEST_F(ODBC, FetchLoopsEndCleanly)
{
    run("INSERT INTO t (id) VALUES (1)");
    run("INSERT INTO t (id) VALUES (2)");
    std::unique_ptr<WSQLStatement> select(db->createPreparedStatement(WString("SELECT id FROM t ORDER BY id")));
    select->setColumnCount(1);
    select->setColumnNumber(1);
    for (int pass = 0; pass < 2; ++pass) {
        select->executeQuery();
        int rows = 0;
        while (select->fetch())
            EXPECT_EQ(select->getNumber(1), ++rows);
        EXPECT_EQ(rows, 2);
        EXPECT_FALSE(select->fetch());
        select->fetchFinish(); // after the end: harmless
    }
    select->executeQuery();
    EXPECT_TRUE(select->fetch(1));
    EXPECT_TRUE(select->fetch(1));
    EXPECT_FALSE(select->fetch(1)); // the end, with the cursor left open
    select->fetchFinish();

    // Columns declared again after the execute are bound before the next row.
    select->executeQuery();
    select->setColumnString(1, 10);
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "1");
}

TEST_F(ODBC, ErrorsWithAndWithoutExceptions)
{
    std::unique_ptr<WSQLStatement> statement(db->createStatement());
    WSQLException e = expectSqlError([&] { statement->executeQuery(WString("SELECT * FROM nowhere")); });
    EXPECT_NE(strstr(e.getMessage().getBuf(), "no such table: nowhere"), nullptr) << e.getMessage().getBuf();
    EXPECT_EQ(e.getId(), 1); // the engine's own code

    statement->setException(false);
    EXPECT_FALSE(statement->executeQuery(WString("SELECT * FROM nowhere")));
    EXPECT_FALSE(statement->fetch()); // no cursor: an answer, not an endless loop
    EXPECT_FALSE(statement->fetch(1));
    EXPECT_TRUE(statement->executeQuery(WString("SELECT 1")));

    // A statement that fails to prepare leaves no handle behind.
    e = expectSqlError([&] { delete db->createPreparedStatement(WString("SELECT * FROM nowhere")); });
    EXPECT_EQ(e.getId(), 1);

    // A statement takes the connection's flag when it is made.
    db->setException(false);
    std::unique_ptr<WSQLStatement> quiet(db->createPreparedStatement(WString("SELEKT")));
    EXPECT_FALSE(quiet->isException());
    EXPECT_FALSE(quiet->executeQuery());
    quiet.reset();
    statement.reset();
    db->setException(true);
    EXPECT_TRUE(db->close());
}

TEST_F(ODBC, TransactionsCommitAndRollBack)
{
    db->setAutoCommit(false);
    run("INSERT INTO t (id) VALUES (1)");
    EXPECT_EQ(countRows(), 1);
    db->rollback();
    EXPECT_EQ(countRows(), 0);
    run("INSERT INTO t (id) VALUES (2)");
    db->commit();
    db->setAutoCommit(true);
    db->close();

    // Chosen before the connection exists, the setting applies once it does.
    db = std::make_unique<ODBC_WSQLConnection>("again");
    db->setDSN("zvtest");
    db->setAutoCommit(false);
    EXPECT_TRUE(db->connect());
    run("INSERT INTO t (id) VALUES (3)");
    EXPECT_EQ(countRows(), 2);
    db->rollback();
    EXPECT_EQ(countRows(), 1);
    db->setAutoCommit(true); // ends the transaction the count opened
}

TEST_F(ODBC, CloseWithLiveStatementFails)
{
    WSQLStatement* statement = db->createPreparedStatement(WString("SELECT id FROM t"));
    WSQLException e = expectSqlError([&] { db->close(); });
    EXPECT_NE(strstr(e.getMessage().getBuf(), "unfinished statements"), nullptr) << e.getMessage().getBuf();
    EXPECT_TRUE(db->isActive());
    delete statement;
    EXPECT_TRUE(db->close());
    EXPECT_FALSE(db->isActive());
    EXPECT_FALSE(db->close());
}

// A statement that outlives its connection's close() never hands the freed
// handles on: whatever it is asked, nothing reaches the database opened next.
TEST_F(ODBC, StatementsOfAClosedConnectionTouchNoOtherDatabase)
{
    std::unique_ptr<ODBC_WSQLStatement> statement(static_cast<ODBC_WSQLStatement*>(db->createStatement()));
    statement->close(); // frees its handle, so the connection may close
    ASSERT_TRUE(db->close());
    EXPECT_EQ(statement->getHDBC(), nullptr);
    EXPECT_EQ(statement->getHENV(), nullptr);
    EXPECT_EQ(statement->getHSTMT(), nullptr);

    ODBC_WSQLConnection other("other", "zvtest", "", "");
    EXPECT_THROW(statement->executeUpdate(WString("INSERT INTO t (id) VALUES (7)")), WSQLException);
    EXPECT_THROW(statement->executeQuery(WString("SELECT id FROM t")), WSQLException);
    EXPECT_THROW(statement->init((const ODBC_WSQLConnection*)nullptr), WSQLException);
    EXPECT_EQ(statement->getHDBC(), nullptr);
    statement.reset();
    std::unique_ptr<WSQLStatement> count(other.createStatement());
    count->setColumnCount(1);
    count->setColumnNumber(1);
    count->executeQuery(WString("SELECT count(*) FROM t"));
    ASSERT_TRUE(count->fetch());
    EXPECT_EQ(count->getNumber(1), 0);
    count->fetchFinish();
    count.reset();
    other.close();
}

// A NULL date reads as one fixed moment, never as the row before it, both
// from a date column and from text read as a date.
TEST_F(ODBC, NullDatesNeverShowThePreviousRow)
{
    run("INSERT INTO t (id, s, d, ts) VALUES (1, '2024-02-29 13:05:09', '2024-02-29', '2024-02-29 13:05:09')");
    run("INSERT INTO t (id, s, d, ts) VALUES (2, NULL, NULL, NULL)");
    std::unique_ptr<WSQLStatement> select(db->createStatement());
    select->setColumnCount(3);
    select->setColumnDate(1, WSQLStatement::TYPE_DATE);
    select->setColumnDate(2, WSQLStatement::TYPE_TIMESTAMP);
    select->setColumnString(3, 40);
    select->executeQuery(WString("SELECT d, ts, s FROM t ORDER BY id"));
    ASSERT_TRUE(select->fetch());
    for (unsigned long position = 1; position <= 3; ++position)
        EXPECT_EQ(select->getDate(position).getYear(), 2024) << position;
    ASSERT_TRUE(select->fetch());
    for (unsigned long position = 1; position <= 3; ++position)
        EXPECT_EQ(select->getDate(position).getTime(), 0) << position;
    EXPECT_FALSE(select->fetch());
}

// A column size whose buffer would wrap around is refused; the column stays
// bound to its old buffer and keeps working.
TEST_F(ODBC, HugeColumnSizesAreRefused)
{
    run("INSERT INTO t (id, s) VALUES (1, 'kept')");
    std::unique_ptr<WSQLStatement> select(db->createPreparedStatement(WString("SELECT id, s FROM t")));
    select->setColumnCount(2);
    expectColumnSizesRefused(*select, 2, {(unsigned long)-1, (unsigned long)-2, 1ul << 63});
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(2).getBuf(), "kept");
    select->fetchFinish();
}

// A connection deleted while a statement still lives: the statement keeps
// working, and the last of them disconnects and frees the handles (the leak
// checker of the sanitizer pass sees any left behind).
TEST_F(ODBC, DeletedConnectionWaitsForItsStatements)
{
    run("INSERT INTO t (id) VALUES (1)");
    std::unique_ptr<WSQLStatement> select(db->createPreparedStatement(WString("SELECT id FROM t")));
    select->setColumnCount(1);
    db.reset();
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "1");
    select->fetchFinish();
    EXPECT_GE(openDescriptors(database), 1);
    select.reset();
    EXPECT_EQ(openDescriptors(database), 0); // the database file is closed
    db = std::make_unique<ODBC_WSQLConnection>("again", "zvtest", "", "");
    run("INSERT INTO t (id) VALUES (2)");
    EXPECT_EQ(countRows(), 2);
}
