#include "SQLITE_WSQL.h"
#include "SqlTestSupport.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

namespace {

class SQLite : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir.file("test.db");
        db = std::make_unique<SQLITE_WSQLConnection>(path.c_str(), "w+");
        run("CREATE TABLE t (id INTEGER PRIMARY KEY, n INTEGER, f REAL, s TEXT, d DATE, ts TIMESTAMP, b BLOB)");
    }

    void run(const char* sql)
    {
        std::unique_ptr<WSQLStatement> statement(db->createStatement());
        statement->executeUpdate(WString(sql));
    }

    std::unique_ptr<WSQLStatement> query(const char* sql, unsigned long columns)
    {
        std::unique_ptr<WSQLStatement> statement(db->createPreparedStatement(WString(sql)));
        statement->setColumnCount(columns);
        return statement;
    }

    int countRows(WSQLConnection& connection, const char* table = "t")
    {
        std::string sql = std::string("SELECT count(*) FROM ") + table;
        std::unique_ptr<WSQLStatement> statement(connection.createPreparedStatement(WString(sql.c_str())));
        statement->setColumnCount(1);
        statement->setColumnNumber(1);
        statement->executeQuery();
        EXPECT_TRUE(statement->fetch());
        int count = statement->getNumber(1);
        statement->fetchFinish();
        return count;
    }

    TempDir dir;
    std::string path;
    std::unique_ptr<SQLITE_WSQLConnection> db;
};

} // namespace

TEST(SQLiteOpen, ModesOnMissingFile)
{
    TempDir dir;
    std::string path = dir.file("missing.db");
    for (const char* mode : {"r", "rw", "anything"}) {
        WSQLException e = expectSqlError([&] { SQLITE_WSQLConnection c(path.c_str(), mode); });
        EXPECT_EQ(e.getId(), 14) << mode;
        EXPECT_STREQ(e.getMessage().getBuf(), "unable to open database file") << mode;
        EXPECT_FALSE(std::filesystem::exists(path)) << mode;
    }
    {
        SQLITE_WSQLConnection created(path.c_str(), "w+");
        EXPECT_TRUE(created.isActive());
        EXPECT_FALSE(created.connect()); // already open
        std::unique_ptr<WSQLStatement> s(created.createStatement());
        s->executeUpdate(WString("CREATE TABLE x (a)"));
    }
    EXPECT_TRUE(std::filesystem::exists(path));

    SQLITE_WSQLConnection readOnly(path.c_str(), "r");
    std::unique_ptr<WSQLStatement> s(readOnly.createStatement());
    WSQLException e = expectSqlError([&] { s->executeUpdate(WString("INSERT INTO x VALUES (1)")); });
    EXPECT_EQ(e.getId(), 8); // SQLITE_READONLY
    s.reset();
    EXPECT_TRUE(readOnly.close());
    EXPECT_FALSE(readOnly.isActive());
    EXPECT_FALSE(readOnly.close());
}

TEST(SQLiteOpen, LaterConnect)
{
    TempDir dir;
    SQLITE_WSQLConnection connection;
    EXPECT_FALSE(connection.isActive());
    // A statement on a closed connection reports the library's own error.
    WSQLException e = expectSqlError([&] { delete connection.createPreparedStatement(WString("SELECT 1")); });
    EXPECT_EQ(e.getId(), -1);
    EXPECT_STREQ(e.getMessage().getBuf(), "SQLITE database is not open.");

    std::string path = dir.file("later.db");
    connection.setFilename(path.c_str(), "w+");
    EXPECT_TRUE(connection.connect());
    EXPECT_TRUE(connection.isActive());
    EXPECT_STREQ(connection.getName(), path.c_str());
}

TEST_F(SQLite, EveryTypeRoundTrips)
{
    std::unique_ptr<WSQLStatement> insert(
        db->createPreparedStatement(WString("INSERT INTO t (n, f, s, d, ts, b) VALUES (?, ?, ?, ?, ?, ?)")));
    WDate when;
    when.parse(2024, 2, 29, 13, 5, 9);
    const unsigned char blob[] = {1, 0, 2, 0xff, 0};
    insert->setParamNumber(1, -123456);
    insert->setParamFloat(2, 2.5e-3);
    insert->setParamString(3, WString("héllo 'quoted'"));
    insert->setParamDate(4, when, WSQLStatement::TYPE_DATE);
    insert->setParamDate(5, when, WSQLStatement::TYPE_TIMESTAMP);
    insert->setParamArray(6, blob, sizeof blob);
    EXPECT_TRUE(insert->executeUpdate());
    EXPECT_EQ(insert->getLastInsertId(), 1ul);

    auto select = query("SELECT n, f, s, d, ts, b, d AS raw FROM t", 7);
    select->setColumnNumber(1);
    select->setColumnFloat(2);
    select->setColumnString(3, 4); // grows: nothing is cut
    select->setColumnDate(4, WSQLStatement::TYPE_DATE);
    select->setColumnDate(5, WSQLStatement::TYPE_TIMESTAMP);
    select->setColumn(6, WSQLStatement::TYPE_ARRAY, 2);
    EXPECT_TRUE(select->executeQuery());
    ASSERT_TRUE(select->fetch());
    EXPECT_EQ(select->getNumber(1), -123456);
    EXPECT_DOUBLE_EQ(select->getFloat(2), 2.5e-3);
    EXPECT_STREQ(select->getString(3).getBuf(), "héllo 'quoted'");
    EXPECT_STREQ(select->getString(7).getBuf(), "2024-02-29");
    EXPECT_STREQ(select->getString(5).getBuf(), "2024-02-29 13:05:09");

    {
        SCOPED_TRACE("dates in columns 4 and 5");
        expectLeapDayColumns(*select, 4, 5);
    }

    ASSERT_EQ(select->getSizeBytes(6), sizeof blob);
    ASSERT_NE(select->getArray(6), nullptr);
    EXPECT_EQ(memcmp(select->getArray(6), blob, sizeof blob), 0);
    EXPECT_EQ(select->getString(6).length(), sizeof blob);
    EXPECT_FALSE(select->fetch());
}

TEST_F(SQLite, DefaultColumnsAreStringsAndNullsReadEmpty)
{
    run("INSERT INTO t (id, n, s) VALUES (1, 42, 'first')");
    run("INSERT INTO t (id, n, s) VALUES (2, NULL, NULL)");
    auto select = query("SELECT n, s FROM t ORDER BY id", 2);
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "42");
    EXPECT_STREQ(select->getString(2).getBuf(), "first");
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "");
    EXPECT_STREQ(select->getString(2).getBuf(), ""); // not the row before
    EXPECT_EQ(select->getSizeBytes(2), 0ul);
    EXPECT_FALSE(select->fetch());

    WSQLStatement::ColumnInfo info;
    select->getColumnInfo(2, info);
    EXPECT_EQ(info.dataType, WSQLStatement::TYPE_STRING);
    EXPECT_EQ(info.size, 255ul);
}

TEST_F(SQLite, FetchLoopEndsAndStartsOver)
{
    run("INSERT INTO t (id) VALUES (1), (2), (3)");
    auto select = query("SELECT id FROM t ORDER BY id", 1);
    select->setColumnNumber(1);
    select->executeQuery();
    for (int id = 1; id <= 3; ++id) {
        ASSERT_TRUE(select->fetch());
        EXPECT_EQ(select->getNumber(1), id);
    }
    EXPECT_FALSE(select->fetch());
    ASSERT_TRUE(select->fetch()); // after the end the statement runs again
    EXPECT_EQ(select->getNumber(1), 1);

    // A loop left early: executing again starts from the first row.
    ASSERT_TRUE(select->fetch());
    EXPECT_EQ(select->getNumber(1), 2);
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_EQ(select->getNumber(1), 1);
    select->fetchFinish();
    select->fetchFinish(); // harmless twice
    EXPECT_EQ(select->getColumnCount(true), 0ul);
    EXPECT_EQ(select->getColumnCount(false), 1ul);
}

TEST_F(SQLite, PreparedInsertRunsAgainWithNewValues)
{
    std::unique_ptr<WSQLStatement> insert(db->createPreparedStatement(WString("INSERT INTO t (n, s) VALUES (?, ?)")));
    WSQLException e = expectSqlError([&] { insert->setParamNumber(3, 1); });
    EXPECT_STREQ(e.getMessage().getBuf(), "Invalid parameter position 3");
    EXPECT_EQ(e.getId(), -1);
    e = expectSqlError([&] { insert->setParamString(0, WString("x")); });
    EXPECT_STREQ(e.getMessage().getBuf(), "Invalid parameter position 0");

    insert->setParamNumber(1, 10);
    insert->setParamString(2, WString("ten"));
    insert->executeUpdate();
    insert->setParamNumber(1, 20);
    insert->setParamString(2, WString("twenty"));
    insert->executeUpdate();
    EXPECT_EQ(insert->getLastInsertId(), 2ul);

    // A plain statement takes parameters once it has been given SQL.
    std::unique_ptr<WSQLStatement> select(db->createStatement());
    select->executeQuery(WString("SELECT s FROM t WHERE n = ?"));
    select->setColumnCount(1);
    select->setParamNumber(1, 20);
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "twenty");
    // New values while rows are pending: the query starts over with them.
    select->setParamNumber(1, 10);
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "ten");
    EXPECT_FALSE(select->fetch());
}

TEST_F(SQLite, ParametersAreCopiedWhenSet)
{
    std::unique_ptr<WSQLStatement> insert(db->createPreparedStatement(WString("INSERT INTO t (id, b) VALUES (1, ?)")));
    unsigned char bytes[] = {'a', 'b', 'c'};
    insert->setParamArray(1, bytes, sizeof bytes);
    memset(bytes, 'x', sizeof bytes); // the caller's buffer changes after the bind
    insert->executeUpdate();

    auto select = query("SELECT b FROM t", 1);
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "abc");
}

TEST_F(SQLite, PositionsAreChecked)
{
    auto select = query("SELECT id FROM t", 1);
    for (unsigned long position : {0ul, 2ul}) {
        WSQLException e = expectSqlError([&] { select->getString(position); });
        EXPECT_STREQ(e.getMessage().getBuf(), WFormattedString("Invalid column position %lu", position).getBuf());
        EXPECT_EQ(e.getId(), -1);
        EXPECT_THROW(select->setColumnNumber(position), WSQLException);
        EXPECT_THROW(select->getNumber(position), WSQLException);
        EXPECT_THROW(select->getDate(position), WSQLException);
    }
}

TEST_F(SQLite, SmallNumberBuffersDoNotOverflow)
{
    run("INSERT INTO t (id, n, f) VALUES (1, 2000000000, 1.25)");
    auto select = query("SELECT n, f FROM t", 2);
    select->setColumn(1, WSQLStatement::TYPE_NUMBER, 1);
    select->setColumn(2, WSQLStatement::TYPE_FLOAT, 2);
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_EQ(select->getNumber(1), 2000000000);
    EXPECT_DOUBLE_EQ(select->getFloat(2), 1.25);
}

TEST_F(SQLite, ColumnInfoNamesOrigins)
{
    run("INSERT INTO t (id, n, s) VALUES (1, 5, 'x')");
    auto select = query("SELECT n AS alias, s, n + 1 FROM t", 4);
    select->setColumnNumber(1);
    WSQLStatement::ColumnInfo info;
    select->getColumnInfo(1, info);
    EXPECT_EQ(info.position, 1ul);
    EXPECT_EQ(info.dataType, WSQLStatement::TYPE_NUMBER);
    EXPECT_EQ(info.size, 4ul);
    EXPECT_STREQ(info.name.getBuf(), "n");
    EXPECT_STREQ(info.typeName.getBuf(), "INTEGER");
    EXPECT_EQ(info.engineType, 0); // no row yet

    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_EQ(select->getColumnCount(true), 3ul);
    select->getColumnInfo(1, info);
    EXPECT_EQ(info.engineType, 1); // integer
    select->getColumnInfo(2, info);
    EXPECT_STREQ(info.name.getBuf(), "s");
    EXPECT_STREQ(info.typeName.getBuf(), "TEXT");
    EXPECT_EQ(info.engineType, 3); // text
    select->getColumnInfo(3, info);
    EXPECT_STREQ(info.name.getBuf(), "");
    EXPECT_STREQ(info.typeName.getBuf(), "");
    // A declared column the statement does not have: defaults only, and
    // the connection's next error message is still its own.
    select->getColumnInfo(4, info);
    EXPECT_STREQ(info.name.getBuf(), "");
    EXPECT_EQ(info.engineType, 0);
    EXPECT_EQ(select->getSizeBytes(4), 0ul);
    select->fetchFinish();

    WSQLException e = expectSqlError([&] { run("INSERT INTO t (id) VALUES (1)"); });
    EXPECT_EQ(e.getId(), 19);
    EXPECT_STREQ(e.getMessage().getBuf(), "UNIQUE constraint failed: t.id");
}

TEST_F(SQLite, ErrorsCarryTheirCodes)
{
    WSQLException e = expectSqlError([&] { delete db->createPreparedStatement(WString("SELEKT 1")); });
    EXPECT_EQ(e.getId(), 1);
    EXPECT_NE(strstr(e.getMessage().getBuf(), "syntax error"), nullptr) << e.getMessage().getBuf();

    std::unique_ptr<WSQLStatement> statement(db->createStatement());
    // Errors honour no flag on SQLite.
    statement->setException(false);
    e = expectSqlError([&] { statement->executeUpdate(WString("INSERT INTO nowhere VALUES (1)")); });
    EXPECT_EQ(e.getId(), 1);
    EXPECT_STREQ(e.getMessage().getBuf(), "no such table: nowhere");

    // Nothing prepared: the library says so itself.
    std::unique_ptr<WSQLStatement> empty(db->createStatement());
    e = expectSqlError([&] { empty->executeUpdate(); });
    EXPECT_STREQ(e.getMessage().getBuf(), "No SQL statement prepared.");
    EXPECT_EQ(e.getId(), -1);
    e = expectSqlError([&] { empty->fetch(); });
    EXPECT_STREQ(e.getMessage().getBuf(), "No SQL statement prepared.");
    e = expectSqlError([&] { empty->executeUpdate(WString("-- only a comment")); });
    EXPECT_STREQ(e.getMessage().getBuf(), "No SQL statement prepared.");
    EXPECT_FALSE(empty->executeQuery());

    e = expectSqlError([&] { empty->getRowCount(); });
    EXPECT_STREQ(e.getMessage().getBuf(), "getRowCount() is not available on SQLITE database engine.");
    EXPECT_EQ(e.getId(), -1);

    // A failed step leaves the statement ready to run again.
    std::unique_ptr<WSQLStatement> insert(db->createPreparedStatement(WString("INSERT INTO t (id) VALUES (?)")));
    insert->setParamNumber(1, 7);
    insert->executeUpdate();
    e = expectSqlError([&] { insert->executeUpdate(); });
    EXPECT_EQ(e.getId(), 19);
    insert->setParamNumber(1, 8);
    EXPECT_TRUE(insert->executeUpdate());
}

TEST_F(SQLite, CloseWithLiveStatementFails)
{
    WSQLStatement* statement = db->createPreparedStatement(WString("SELECT id FROM t"));
    WSQLStatement::Releaser releaser(&statement);
    WSQLException e = expectSqlError([&] { db->close(); });
    EXPECT_EQ(e.getId(), 5);
    EXPECT_STREQ(e.getMessage().getBuf(), "unable to close due to unfinalized statements or unfinished backups");
    EXPECT_TRUE(db->isActive());

    statement->close(); // finalized: the connection may go now
    EXPECT_TRUE(db->close());
    EXPECT_FALSE(db->isActive());
}

TEST_F(SQLite, DeletedConnectionWaitsForItsStatements)
{
    run("INSERT INTO t (id) VALUES (1)");
    std::unique_ptr<WSQLStatement> select = query("SELECT id FROM t", 1);
    db.reset(); // the database closes once the statement is gone
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(1).getBuf(), "1");
    select.reset();
    // The file is closed: another connection may take a write lock at once.
    SQLITE_WSQLConnection other(path.c_str(), "rw");
    std::unique_ptr<WSQLStatement> exclusive(other.createStatement());
    EXPECT_TRUE(exclusive->executeUpdate(WString("BEGIN EXCLUSIVE")));
    EXPECT_TRUE(exclusive->executeUpdate(WString("COMMIT")));
}

TEST_F(SQLite, ColumnTableTooLargeFails)
{
    auto select = query("SELECT id FROM t", 1);
    try {
        select->setColumnCount((unsigned long)-1 / 4);
        FAIL() << "no exception";
    } catch (const WSQLException&) {
        FAIL() << "wrong class";
    } catch (const WException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Out of memory.");
        EXPECT_EQ(e.getId(), -1);
    }
    EXPECT_EQ(select->getColumnCount(false), 1ul); // the old columns stay
}

TEST_F(SQLite, TransactionsFollowAutoCommit)
{
    SQLITE_WSQLConnection other(path.c_str(), "rw");
    db->setAutoCommit(false);
    EXPECT_FALSE(db->isAutoCommit());
    run("INSERT INTO t (id) VALUES (1)");
    EXPECT_EQ(countRows(*db), 1);
    db->rollback();
    EXPECT_EQ(countRows(*db), 0);

    run("INSERT INTO t (id) VALUES (2)");
    EXPECT_EQ(countRows(other), 0); // not committed yet
    db->commit();
    EXPECT_EQ(countRows(other), 1);

    run("INSERT INTO t (id) VALUES (3)");
    db->setAutoCommit(true); // commits what is open
    EXPECT_EQ(countRows(other), 2);
    run("INSERT INTO t (id) VALUES (4)");
    db->rollback(); // nothing open: nothing to undo
    EXPECT_EQ(countRows(other), 3);
}

TEST_F(SQLite, AutoCommitChosenBeforeConnect)
{
    db.reset();
    SQLITE_WSQLConnection connection;
    connection.setFilename(path.c_str(), "rw");
    connection.setAutoCommit(false);
    connection.connect();
    {
        std::unique_ptr<WSQLStatement> insert(connection.createStatement());
        insert->executeUpdate(WString("INSERT INTO t (id) VALUES (1)"));
    }
    connection.rollback();
    EXPECT_EQ(countRows(connection), 0);
}

// A statement outlives its connection's close(): it then fails with the
// library's own message and never reaches the freed handle, whose address a
// database opened next may well get.
TEST_F(SQLite, StatementsOfAClosedConnectionFail)
{
    run("INSERT INTO t (id) VALUES (1)");
    WSQLStatement* plain = db->createStatement();
    WSQLStatement::Releaser plainReleaser(&plain);
    WSQLStatement* prepared = db->createPreparedStatement(WString("INSERT INTO t (id) VALUES (?)"));
    WSQLStatement::Releaser preparedReleaser(&prepared);
    prepared->close(); // finalized, so the connection may close
    ASSERT_TRUE(db->close());

    // Another database with the same table, opened right after.
    std::string otherPath = dir.file("other.db");
    SQLITE_WSQLConnection other(otherPath.c_str(), "w+");
    {
        std::unique_ptr<WSQLStatement> create(other.createStatement());
        create->executeUpdate(WString("CREATE TABLE t (id INTEGER PRIMARY KEY, n INTEGER)"));
    }
    struct Use {
        const char* name;
        std::function<void(WSQLStatement&)> call;
    };
    const Use uses[] = {
        {"executeUpdate(sql)", [](WSQLStatement& s) { s.executeUpdate(WString("INSERT INTO t (id) VALUES (7)")); }},
        {"executeQuery(sql)", [](WSQLStatement& s) { s.executeQuery(WString("SELECT id FROM t")); }},
        {"executeUpdate()", [](WSQLStatement& s) { s.executeUpdate(); }},
        {"fetch()", [](WSQLStatement& s) { s.fetch(); }},
        {"init(sql)",
            [&](WSQLStatement& s) {
                static_cast<SQLITE_WSQLStatement&>(s).init(
                    (const SQLITE_WSQLConnection*)nullptr, WString("INSERT INTO t (id) VALUES (8)"));
            }},
    };
    for (WSQLStatement* statement : {plain, prepared}) {
        for (const Use& use : uses) {
            SCOPED_TRACE(use.name);
            WSQLException e = expectSqlError([&] { use.call(*statement); });
            EXPECT_STREQ(e.getMessage().getBuf(), "SQLITE database is not open.");
            EXPECT_EQ(e.getId(), -1);
        }
    }
    EXPECT_EQ(countRows(other), 0);
    SQLITE_WSQLConnection again(path.c_str(), "rw");
    EXPECT_EQ(countRows(again), 1);
}

// With auto-commit off, a transaction SQLite ended by itself (ON CONFLICT
// ROLLBACK, COMMIT as SQL text) is opened again before the next statement,
// so rollback() still undoes what follows.
TEST_F(SQLite, StatementsAfterAnEndedTransactionCanBeRolledBack)
{
    run("CREATE TABLE u (id INTEGER PRIMARY KEY ON CONFLICT ROLLBACK)");
    SQLITE_WSQLConnection other(path.c_str(), "rw");
    db->setAutoCommit(false);

    // A conflict rolls the whole transaction back and ends it.
    run("INSERT INTO u (id) VALUES (1)");
    EXPECT_THROW(run("INSERT INTO u (id) VALUES (1)"), WSQLException);
    run("INSERT INTO u (id) VALUES (2)");
    std::unique_ptr<WSQLStatement> insert(db->createPreparedStatement(WString("INSERT INTO u (id) VALUES (?)")));
    insert->setParamNumber(1, 3);
    insert->executeUpdate();
    EXPECT_EQ(countRows(other, "u"), 0);
    db->rollback();
    EXPECT_EQ(countRows(*db, "u"), 0);

    // COMMIT given as SQL text ends the transaction as well.
    run("INSERT INTO u (id) VALUES (4)");
    run("COMMIT");
    EXPECT_EQ(countRows(other, "u"), 1);
    run("INSERT INTO u (id) VALUES (5)");
    insert->setParamNumber(1, 6);
    insert->executeUpdate();
    EXPECT_EQ(countRows(other, "u"), 1);
    db->rollback();
    EXPECT_EQ(countRows(other, "u"), 1);
    EXPECT_EQ(countRows(*db, "u"), 1);

    // A query run after ROLLBACK as text is inside a transaction again.
    run("ROLLBACK");
    run("INSERT INTO u (id) VALUES (7)");
    EXPECT_EQ(countRows(*db, "u"), 2);
    db->rollback();
    EXPECT_EQ(countRows(*db, "u"), 1);
    db->setAutoCommit(true);
}

// A NULL date reads as one fixed moment, never as the row before it.
TEST_F(SQLite, NullDatesNeverShowThePreviousRow)
{
    run("INSERT INTO t (id, d, ts) VALUES (1, '2024-02-29', '2024-02-29 13:05:09')");
    run("INSERT INTO t (id, d, ts) VALUES (2, NULL, NULL)");
    run("INSERT INTO t (id, d, ts) VALUES (3, '', 'no date')");
    auto select = query("SELECT d, ts FROM t ORDER BY id", 2);
    select->setColumnDate(1, WSQLStatement::TYPE_DATE);
    select->setColumnDate(2, WSQLStatement::TYPE_TIMESTAMP);
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_EQ(select->getDate(1).getYear(), 2024);
    EXPECT_EQ(select->getDate(2).getHour(), 13);
    for (int row = 2; row <= 3; ++row) {
        SCOPED_TRACE(row);
        ASSERT_TRUE(select->fetch());
        EXPECT_EQ(select->getDate(1).getTime(), 0);
        EXPECT_EQ(select->getDate(2).getTime(), 0);
    }
    EXPECT_FALSE(select->fetch());
}

// A write lock held for a moment by another connection is waited for.
TEST_F(SQLite, TwoWritersWaitForEachOther)
{
    SQLITE_WSQLConnection holder(path.c_str(), "rw");
    std::unique_ptr<WSQLStatement> lock(holder.createStatement());
    lock->executeUpdate(WString("BEGIN IMMEDIATE"));
    lock->executeUpdate(WString("INSERT INTO t (id) VALUES (1)"));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        lock->executeUpdate(WString("COMMIT"));
    });
    EXPECT_NO_THROW(run("INSERT INTO t (id) VALUES (2)"));
    release.join();
    EXPECT_EQ(countRows(*db), 2);

    // Two writers at once: every insert lands.
    std::atomic<int> failures {0};
    auto writer = [&](int first) {
        SQLITE_WSQLConnection connection(path.c_str(), "rw");
        std::unique_ptr<WSQLStatement> insert(
            connection.createPreparedStatement(WString("INSERT INTO t (id) VALUES (?)")));
        for (int i = 0; i < 50; ++i) {
            try {
                insert->setParamNumber(1, first + i);
                insert->executeUpdate();
            } catch (const WSQLException&) {
                failures++;
            }
        }
    };
    std::thread a(writer, 1000);
    std::thread b(writer, 2000);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(countRows(*db), 102);
}

// A column size whose buffer would wrap around is refused; the column stays.
TEST_F(SQLite, HugeColumnSizesAreRefused)
{
    run("INSERT INTO t (id, s) VALUES (1, 'kept')");
    auto select = query("SELECT id, s FROM t", 2);
    expectColumnSizesRefused(*select, 2, {(unsigned long)-1, (unsigned long)-2});
    select->executeQuery();
    ASSERT_TRUE(select->fetch());
    EXPECT_STREQ(select->getString(2).getBuf(), "kept");
}
