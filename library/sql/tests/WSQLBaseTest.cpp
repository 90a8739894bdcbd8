#include "WSQLConnectionFactory.h"
#include "SqlTestSupport.h"

#include <cstring>

TEST(WSQLConnectionFactory, TypeNamesAreCaseSensitive)
{
    WSQLException e = expectSqlError([] { WSQLConnectionFactory::getConnection("odbc", "dsn", "", "", ""); });
    EXPECT_STREQ(e.getMessage().getBuf(), "Connection-Type: 'odbc' is not supported!");
    EXPECT_EQ(e.getId(), -1);
    EXPECT_STREQ(e.getName(), "WSQLException");
    e = expectSqlError([] { WSQLConnectionFactory::getConnection("MySQL", "x", "", "", ""); });
    EXPECT_STREQ(e.getMessage().getBuf(), "Connection-Type: 'MySQL' is not supported!");
}

TEST(WSQLConnectionFactory, OdbcConnectionStartsInactive)
{
    WSQLConnection* connection = WSQLConnectionFactory::getConnection("ODBC", "dsn", "user", "secret", nullptr);
    WSQLConnection::Releaser releaser(&connection);
    ASSERT_NE(connection, nullptr);
    EXPECT_FALSE(connection->isActive());
    EXPECT_STREQ(connection->getName(), "dsn");
    EXPECT_FALSE(connection->close()); // nothing to close yet
}

TEST(WSQLConnectionFactory, SqliteConnectionOpensAtOnce)
{
    TempDir dir;
    std::string path = dir.file("a.db");
    WSQLConnection* connection = WSQLConnectionFactory::getConnection("SQLITE", path.c_str(), nullptr, nullptr, "w+");
    {
        WSQLConnection::Releaser releaser(&connection);
        ASSERT_NE(connection, nullptr);
        EXPECT_TRUE(connection->isActive());
        EXPECT_STREQ(connection->getName(), path.c_str());
    }
    EXPECT_EQ(connection, nullptr); // the releaser deleted it
    EXPECT_TRUE(std::filesystem::exists(path));

    std::string missing = dir.file("no/such/dir.db");
    WSQLException e = expectSqlError(
        [&] { WSQLConnectionFactory::getConnection("SQLITE", missing.c_str(), nullptr, nullptr, "w+"); });
    EXPECT_EQ(e.getId(), 14);
}

TEST(WSQLConnectionFactory, StartupKnowsOnlyOdbc)
{
    EXPECT_NO_THROW(WSQLConnectionFactory::startup("ODBC"));
    EXPECT_NO_THROW(WSQLConnectionFactory::shutdown("ODBC"));
    WSQLException e = expectSqlError([] { WSQLConnectionFactory::startup("SQLITE"); });
    EXPECT_STREQ(e.getMessage().getBuf(), "Connection-Type: 'SQLITE' is not supported!");
    e = expectSqlError([] { WSQLConnectionFactory::shutdown("Odbc"); });
    EXPECT_STREQ(e.getMessage().getBuf(), "Connection-Type: 'Odbc' is not supported!");
}

TEST(WSQLBase, ParseDateTime)
{
    WDate date;
    ASSERT_TRUE(WSQLBase::parseDateTime("2024-02-29 13:05:09", date));
    EXPECT_EQ(date.getYear(), 2024);
    EXPECT_EQ(date.getMonth(), 2);
    EXPECT_EQ(date.getDay(), 29);
    EXPECT_EQ(date.getHour(), 13);
    EXPECT_EQ(date.getMinute(), 5);
    EXPECT_EQ(date.getSecond(), 9);

    ASSERT_TRUE(WSQLBase::parseDateTime("2023-12-31", date));
    EXPECT_EQ(date.getYear(), 2023);
    EXPECT_EQ(date.getDay(), 31);
    EXPECT_EQ(date.getHour(), 0);
    EXPECT_EQ(date.getSecond(), 0);

    // Too little to be a date (an empty or NULL column): false, date kept.
    long long before = date.getTime();
    EXPECT_FALSE(WSQLBase::parseDateTime("", date));
    EXPECT_FALSE(WSQLBase::parseDateTime("2024-02", date));
    EXPECT_FALSE(WSQLBase::parseDateTime(nullptr, date));
    EXPECT_EQ(date.getTime(), before);

    EXPECT_THROW(WSQLBase::parseDateTime("2024-13-01", date), WDateException);
}

TEST(WSQLBase, FormatQueryString)
{
    struct Case {
        const char* text;
        bool nullAware;
        const char* expected;
    } cases[] = {
        {"plain text", false, "plain text"},
        {"it's", false, "it\\'s"},
        {"say \"hi\"", false, "say \\\"hi\\\""},
        {"a\\b", false, "a\\\\b"},
        {"NULL", true, ""},
        {"NULL", false, "NULL"},
        {"null", true, "null"},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        WString out("previous");
        WSQLBase::formatQueryString(c.text, out, c.nullAware);
        EXPECT_STREQ(out.getBuf(), c.expected) << c.text;
    }
}

TEST(WSQLBase, ThrowFlagIsSharedAndCopied)
{
    WSQLStatement a;
    EXPECT_TRUE(a.isException());
    a.setException(false);
    WSQLStatement b;
    b.init(&a);
    EXPECT_FALSE(b.isException());
    WSQLStatement c(a);
    EXPECT_FALSE(c.isException());
}

TEST(WSQLStatement, PlainStatementDoesNothing)
{
    WSQLStatement statement;
    EXPECT_FALSE(statement.executeQuery());
    EXPECT_FALSE(statement.executeQuery(WString("select 1")));
    EXPECT_FALSE(statement.executeUpdate());
    EXPECT_FALSE(statement.executeUpdate(WString("select 1")));
    EXPECT_FALSE(statement.fetch());
    EXPECT_FALSE(statement.fetch(1));
    EXPECT_EQ(statement.getColumnCount(true), 0ul);
    EXPECT_EQ(statement.getRowCount(), 0ul);
    EXPECT_EQ(statement.getSizeBytes(1), 0ul);
    EXPECT_EQ(statement.getLastInsertId(), 0ul);
    EXPECT_EQ(statement.getNumber(1), 0);
    EXPECT_EQ(statement.getFloat(1), 0.0);
    EXPECT_EQ(statement.getArray(1), nullptr);

    WSQLStatement other;
    EXPECT_EQ(&statement.getString(1), &other.getString(7));
    EXPECT_EQ(statement.getString(1).length(), 0ul);
    EXPECT_EQ(&statement.getDate(1), &other.getDate(2));

    WSQLConnection connection("name");
    EXPECT_FALSE(connection.connect());
    EXPECT_EQ(connection.createStatement(), nullptr);
    connection.setAutoCommit(false);
    EXPECT_FALSE(connection.isAutoCommit());
    WSQLConnection copy(connection);
    EXPECT_STREQ(copy.getName(), "name");
    EXPECT_FALSE(copy.isAutoCommit());
}

TEST(WSQLException, MessageIsOneLine)
{
    WSQLException e("first line\nsecond line\n", 7);
    EXPECT_STREQ(e.getMessage().getBuf(), "first line second line ");
    EXPECT_EQ(e.getId(), 7);
    EXPECT_EQ(e.getSysErrCode(), 0ul);
}
