#include "diagnostics.h"

#include <gtest/gtest.h>
#include <sqlext.h>
#include <sqlite3.h>

namespace ost {
namespace {

// The SQLSTATE of what SQLite itself reports for sql, so that a change in SQLite's
// messages shows here.
std::string StateOf(const char* sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_extended_result_codes(db, 1);
  EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE t(a INTEGER PRIMARY KEY, b TEXT NOT NULL)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  EXPECT_NE(rc, SQLITE_OK) << sql;
  std::string state = SqliteErrorState(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
  sqlite3_close(db);
  return state;
}

TEST(Diagnostics, SqliteErrorsBecomeSqlStates) {
  EXPECT_EQ(StateOf("SELECT * FROM nosuch"), "42S02");
  EXPECT_EQ(StateOf("SELECT nosuch FROM t"), "42S22");
  EXPECT_EQ(StateOf("INSERT INTO t (nosuch) VALUES (1)"), "42S22");
  EXPECT_EQ(StateOf("SELEC 1"), "42000");
  EXPECT_EQ(StateOf("SELECT nosuch_function(1)"), "42000");
  EXPECT_EQ(StateOf("CREATE TABLE t(x)"), "42S01");
  EXPECT_EQ(StateOf("INSERT INTO t VALUES (1)"), "21S01");
  EXPECT_EQ(StateOf("INSERT INTO t VALUES (1, 'a'); INSERT INTO t VALUES (1, 'b')"), "23000");
  EXPECT_EQ(StateOf("INSERT INTO t (a) VALUES (2)"), "23000");
  EXPECT_EQ(StateOf("INSERT INTO t VALUES ('x', 'y')"), "22018");
  EXPECT_STREQ(SqliteErrorState(SQLITE_BUSY, "database is locked"), "HYT00");
  EXPECT_STREQ(SqliteErrorState(SQLITE_IOERR_READ, "disk I/O error"), "HY000");
}

TEST(Diagnostics, RecordsAreReadAsOdbcDefinesIt) {
  Diagnostics diag;
  diag.Add("42S02", "no such table: x", 1);
  diag.Add("01004", "String data, right truncated");
  SQLCHAR state[6];
  SQLINTEGER native = 0;
  SQLCHAR message[16];
  SQLSMALLINT length = 0;
  EXPECT_EQ(GetDiagRec(diag, 1, state, &native, message, sizeof message, &length),
            SQL_SUCCESS_WITH_INFO);  // the message is cut to 15 characters
  EXPECT_STREQ(reinterpret_cast<char*>(state), "42S02");
  EXPECT_EQ(native, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(message)),
            std::string(kMessagePrefix).substr(0, 15));
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::string(kMessagePrefix).size() + 16));
  EXPECT_EQ(GetDiagRec(diag, 3, state, &native, message, sizeof message, &length), SQL_NO_DATA);

  SQLINTEGER count = 0;
  EXPECT_EQ(GetDiagField(diag, SQL_HANDLE_STMT, 0, SQL_DIAG_NUMBER, &count, 0, nullptr, "ostra"),
            SQL_SUCCESS);
  EXPECT_EQ(count, 2);
  char origin[16];
  GetDiagField(diag, SQL_HANDLE_STMT, 1, SQL_DIAG_SUBCLASS_ORIGIN, origin, sizeof origin, &length,
               "ostra");
  EXPECT_STREQ(origin, "ODBC 3.0");
  GetDiagField(diag, SQL_HANDLE_STMT, 2, SQL_DIAG_SUBCLASS_ORIGIN, origin, sizeof origin, &length,
               "ostra");
  EXPECT_STREQ(origin, "ISO 9075");
}

}  // namespace
}  // namespace ost
