// The stand-in driver through the real unixODBC driver manager, called as the tool calls it.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "sandbox_db.h"

namespace ost {
namespace {

const char kDsn[] = "ostra";
const char kUser[] = "sa";
const char kPassword[] = "p;w#d=x {1}";

// One machine-root-like folder for the whole program: unixODBC reads ODBCSYSINI once.
class OdbcFolder : public ::testing::Environment {
 public:
  static std::string dir;

  void SetUp() override {
    char pattern[] = "/tmp/ost-odbc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    std::string error;
    ASSERT_TRUE(WriteOdbcConfig(dir + "/odbc", OST_ODBC_DRIVER_PATH, dir + "/db", kDsn, kUser,
                                kPassword, &error))
        << error;
    // The same data source for a client whose text is GBK, and one naming a set that
    // does not exist, both with the absolute folder.
    std::ofstream ini(dir + "/odbc/odbc.ini", std::ios::app);
    for (const char* name : {"ostra_gbk", "ostra_bad"}) {
      ini << "[" << name << "]\nDriver = " << kSandboxOdbcDriverName << "\nDatabase = " << dir
          << "/db\nUID = " << kUser << "\nPWD = " << kPassword
          << "\nClientCharset = " << (std::string(name) == "ostra_gbk" ? "GBK" : "NO-SUCH-SET-17")
          << "\n";
    }
    // And with a folder relative to this file.
    ini << "[ostra_rel]\nDriver = " << kSandboxOdbcDriverName
        << "\nDatabase = ../db\nUID = " << kUser << "\nPWD = " << kPassword << "\n";
    ini.close();
    ASSERT_TRUE(ini.good());
    setenv("ODBCSYSINI", (dir + "/odbc").c_str(), 1);
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0); }
};
std::string OdbcFolder::dir;

struct Diag {
  std::string state;
  SQLINTEGER native = 0;
  std::string message;
};

Diag FirstDiag(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {0};
  SQLCHAR message[256] = {0};
  Diag diag;
  SQLSMALLINT length = 0;
  if (SQL_SUCCEEDED(
          SQLGetDiagRec(type, handle, 1, state, &diag.native, message, sizeof message, &length))) {
    diag.state = reinterpret_cast<char*>(state);
    diag.message = reinterpret_cast<char*>(message);
  }
  return diag;
}

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    options.componentNumbers = {-1, 5, -1, 7, -1, -1};
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)));
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(30), 0);
  }

  void TearDown() override {
    if (connected) SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }

  // Lays out the databases from options and connects as the tool does.
  SQLRETURN Connect(const char* user = kUser, const char* password = kPassword,
                    const char* dsn = kDsn) {
    std::string error;
    EXPECT_TRUE(CreateSandboxDatabases(OdbcFolder::dir + "/db", options, &error)) << error;
    SQLRETURN rc =
        SQLConnect(dbc, Text(dsn), SQL_NTS, Text(user), SQL_NTS, Text(password), SQL_NTS);
    connected = SQL_SUCCEEDED(rc);
    return rc;
  }

  // Executes on a new statement handle; the handle stays in stmt until the next call.
  SQLRETURN Exec(const std::string& sql) {
    if (stmt) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    return SQLExecDirect(stmt, Text(sql.c_str()), SQL_NTS);
  }

  // The first column of every row, read into a bound text buffer of the given size.
  std::vector<std::string> Texts(const std::string& sql, SQLLEN size = 256) {
    std::vector<std::string> rows;
    EXPECT_EQ(Exec(sql), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_STMT, stmt).message;
    std::vector<char> buffer(size);
    SQLLEN indicator = 0;
    SQLBindCol(stmt, 1, SQL_C_CHAR, buffer.data(), size, &indicator);
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
      rows.push_back(indicator == SQL_NULL_DATA ? "NULL" : buffer.data());
    }
    return rows;
  }

  // The tool's update numbers: "ii:nn" per row, as unsigned integers.
  std::vector<std::string> UpdateNumbers() {
    std::vector<std::string> rows;
    EXPECT_EQ(Exec("SELECT ii,nn FROM ostra.dbo.sys_server_update ORDER BY nn DESC"), SQL_SUCCESS);
    SQLUINTEGER ii = 0, nn = 0;
    SQLLEN iiLength = 0, nnLength = 0;
    SQLBindCol(stmt, 1, SQL_C_ULONG, &ii, 0, &iiLength);
    SQLBindCol(stmt, 2, SQL_C_ULONG, &nn, 0, &nnLength);
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
      rows.push_back(std::to_string(ii) + ":" + std::to_string(nn));
    }
    EXPECT_EQ(rc, SQL_NO_DATA);
    return rows;
  }

  SandboxDbOptions options;
  SQLHENV env = SQL_NULL_HANDLE;
  SQLHDBC dbc = SQL_NULL_HANDLE;
  SQLHSTMT stmt = SQL_NULL_HANDLE;
  bool connected = false;
};

TEST_F(Driver, ALoginOtherThanTheDataSourcesFailsWith28000) {
  EXPECT_EQ(Connect(kUser, "wrong"), SQL_ERROR);
  Diag diag = FirstDiag(SQL_HANDLE_DBC, dbc);
  EXPECT_EQ(diag.state, "28000");
  EXPECT_NE(diag.message.find("[ost][SQL Server stand-in]Login failed for user 'sa'."),
            std::string::npos)
      << diag.message;
  EXPECT_EQ(SQLConnect(dbc, Text(kDsn), SQL_NTS, Text("sb"), SQL_NTS, Text(kPassword), SQL_NTS),
            SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, dbc).state, "28000");
  // Logins compare without case, passwords exactly.
  EXPECT_EQ(Connect("SA", kPassword), SQL_SUCCESS);
}

TEST_F(Driver, AnUnknownDataSourceIsTheDriverManagersIm002) {
  EXPECT_EQ(
      SQLConnect(dbc, Text("nosuch"), SQL_NTS, Text(kUser), SQL_NTS, Text(kPassword), SQL_NTS),
      SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, dbc).state, "IM002");
}

TEST_F(Driver, TheToolsQueriesReadTheSandboxData) {
  options.componentNumbers = {0, 12, -1, 7, -1, -1};
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  EXPECT_EQ(Texts("SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC", 8),
            std::vector<std::string>{"3.80"});
  EXPECT_EQ(UpdateNumbers(), (std::vector<std::string>{"1:12", "3:7", "0:0"}));
  EXPECT_EQ(Texts("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='29'", 128),
            std::vector<std::string>{"1"});
  EXPECT_EQ(Texts("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='45'", 128),
            std::vector<std::string>{"site"});
  EXPECT_EQ(Texts("SELECT wcroot FROM velin.dbo.web_main WHERE wcid='site'"),
            std::vector<std::string>{"D:\\wwwroot"});
  EXPECT_EQ(Texts("SELECT TOP 1 cversion FROM velin.dbo.sys_version ORDER BY cversion DESC", 8),
            std::vector<std::string>{"7.0"});
}

TEST_F(Driver, ALongVersionIsCutWithInfo01004) {
  options.ostraVersion = "10.0.12345";
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  ASSERT_EQ(Exec("SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC"),
            SQL_SUCCESS);
  char version[8];
  std::memset(version, 0, sizeof version);
  SQLLEN length = 0;
  SQLBindCol(stmt, 1, SQL_C_CHAR, version, sizeof version, &length);
  EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(version, "10.0.12");
  EXPECT_EQ(length, 10);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_STMT, stmt).state, "01004");
  EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

TEST_F(Driver, EmptyTablesAndMissingRowsGiveNoData) {
  options.ostraVersion = "";
  options.webMainRow = false;
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  for (const char* sql : {"SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC",
                          "SELECT wcroot FROM velin.dbo.web_main WHERE wcid='site'"}) {
    ASSERT_EQ(Exec(sql), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA) << sql;
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA) << sql;
  }
}

TEST_F(Driver, NullNeedsAnIndicator) {
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  ASSERT_EQ(Exec("SELECT NULL, NULL"), SQL_SUCCESS);
  SQLINTEGER a = 0, b = 0;
  SQLLEN indicator = 0;
  SQLBindCol(stmt, 1, SQL_C_SLONG, &a, 0, &indicator);
  SQLBindCol(stmt, 2, SQL_C_SLONG, &b, 0, nullptr);
  EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
  EXPECT_EQ(indicator, SQL_NULL_DATA);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_STMT, stmt).state, "22002");
}

TEST_F(Driver, TheProcedureCallRecordsTheComponentVersion) {
  options.componentNumbers = {-1, 5, -1, -1, -1, -1};
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  const std::string call = "{CALL ostra.dbo.cp_sys_server_update_set(";
  EXPECT_TRUE(SQL_SUCCEEDED(Exec(call + "3, 380, 'Ostra 服务器', 'it''s new')}")));
  EXPECT_TRUE(SQL_SUCCEEDED(Exec(call + "1, 6, 'Agent', '')}")));
  EXPECT_EQ(UpdateNumbers(), (std::vector<std::string>{"3:380", "1:6"}));
  EXPECT_TRUE(SQL_SUCCEEDED(Exec(call + "3, 381, 'Ostra 服务器', 'again')}")));
  EXPECT_EQ(UpdateNumbers(), (std::vector<std::string>{"3:381", "1:6"}));
  EXPECT_EQ(Texts("SELECT cname || '/' || cdesc FROM ostra.dbo.sys_server_update_log "
                  "WHERE ii = 3 ORDER BY nn"),
            (std::vector<std::string>{"Ostra 服务器/it's new", "Ostra 服务器/again"}));
}

TEST_F(Driver, AMissingDatabaseFileFailsOnlyTheStatementsThatNameIt) {
  options.createVelin = false;
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  EXPECT_EQ(Exec("SELECT wcroot FROM velin.dbo.web_main WHERE wcid='site'"), SQL_ERROR);
  Diag diag = FirstDiag(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ(diag.state, "42000");
  EXPECT_NE(diag.message.find("Database 'velin' does not exist."), std::string::npos)
      << diag.message;
  EXPECT_EQ(Texts("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='45'"),
            std::vector<std::string>{"site"});
  // Connecting never creates the missing file.
  EXPECT_NE(access((OdbcFolder::dir + "/db/velin.sqlite").c_str(), F_OK), 0);
}

TEST_F(Driver, ABatchRunsUpToItsFirstFailingStatement) {
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  EXPECT_EQ(Exec("INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.81');\r\n"
                 "INSERT INTO ostra.dbo.nosuch VALUES (1);\r\n"
                 "INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('3.82');\r\n"),
            SQL_ERROR);
  Diag diag = FirstDiag(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ(diag.state, "42S02");
  EXPECT_NE(diag.message.find("nosuch"), std::string::npos) << diag.message;
  EXPECT_EQ(Texts("SELECT cversion FROM ostra.dbo.sys_version ORDER BY cversion"),
            (std::vector<std::string>{"3.80", "3.81"}));
}

TEST_F(Driver, AScriptBatchInTheSandboxDialect) {
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  EXPECT_EQ(
      Exec("-- update 381\r\n"
           "/* adds a table /* and a row */ */\r\n"
           "CREATE TABLE ostra.dbo.sys_note ([id] INTEGER PRIMARY KEY, note NVARCHAR(50));\r\n"
           "ALTER TABLE ostra.dbo.sys_note ADD cdate DATETIME;\r\n"
           "CREATE INDEX ix_note ON ostra.dbo.sys_note (note);\r\n"
           "INSERT INTO ostra.dbo.sys_note (id, note, cdate) VALUES (1, N'说明', GETDATE());\r\n"
           "UPDATE ostra..sys_dict SET dcvalue = '0' WHERE dcname = '29';\r\n"),
      SQL_SUCCESS)
      << FirstDiag(SQL_HANDLE_STMT, stmt).message;
  EXPECT_EQ(Texts("SELECT note FROM ostra.dbo.sys_note WHERE cdate IS NOT NULL"),
            std::vector<std::string>{"说明"});
  EXPECT_EQ(Texts("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='29'"),
            std::vector<std::string>{"0"});
  // An object without a database would vanish with the connection: refused.
  EXPECT_EQ(Exec("CREATE TABLE loose (a INTEGER)"), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_STMT, stmt).state, "42000");
  // Empty batches (the tool sends them between two separators) run and do nothing.
  EXPECT_EQ(Exec(""), SQL_SUCCESS);
  EXPECT_EQ(Exec("\r\n-- nothing\r\n"), SQL_SUCCESS);
  // A searched UPDATE that matches nothing is SQL_NO_DATA (ODBC 3).
  EXPECT_EQ(Exec("UPDATE ostra.dbo.sys_dict SET dcvalue = 'x' WHERE dcname = 'none'"), SQL_NO_DATA);
}

TEST_F(Driver, ErrorsCarryRealSqlStatesAndSqliteCodes) {
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  struct Case {
    const char* sql;
    const char* state;
  } cases[] = {
      {"SELEC 1", "42000"},
      {"SELECT 'unclosed", "42000"},
      {"SELECT nosuch FROM ostra.dbo.sys_version", "42S22"},
      {"INSERT INTO ostra.dbo.sys_dict (dcname, dcvalue) VALUES ('29', 'x')", "23000"},
      {"SELECT {fn NOW()}", "42000"},
      {"SELECT ?", "07002"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Exec(c.sql), SQL_ERROR) << c.sql;
    Diag diag = FirstDiag(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(diag.state, c.state) << c.sql << ": " << diag.message;
    EXPECT_EQ(diag.message.rfind("[ost][SQL Server stand-in]", 0), 0u) << diag.message;
  }
  Exec("INSERT INTO ostra.dbo.sys_dict (dcname, dcvalue) VALUES ('29', 'x')");
  EXPECT_EQ(FirstDiag(SQL_HANDLE_STMT, stmt).native, 1555);  // SQLITE_CONSTRAINT_PRIMARYKEY
}

TEST_F(Driver, UnsupportedCallsSayHyc00) {
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION,
                              reinterpret_cast<SQLPOINTER>(SQL_TXN_READ_UNCOMMITTED), 0),
            SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, dbc).state, "HYC00");
  ASSERT_EQ(Exec("SELECT 1"), SQL_SUCCESS);
  SQL_TIMESTAMP_STRUCT stamp;
  EXPECT_EQ(SQLBindCol(stmt, 1, SQL_C_TYPE_TIMESTAMP, &stamp, sizeof stamp, nullptr), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_STMT, stmt).state, "HYC00");
}

// Autocommit off: what a rollback ends leaves no trace, definitions included; under
// XACT_ABORT a failing statement takes the whole transaction with it.
TEST_F(Driver, TransactionsCommitAndRollBackForReal) {
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  SQLUSMALLINT supported = SQL_FALSE;
  ASSERT_EQ(SQLGetFunctions(dbc, SQL_API_SQLENDTRAN, &supported), SQL_SUCCESS);
  EXPECT_EQ(supported, SQL_TRUE);
  auto autocommit = [&](SQLULEN on) {
    return SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(on), 0);
  };
  ASSERT_EQ(autocommit(SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  ASSERT_EQ(Exec("CREATE TABLE ostra.dbo.tx_probe (n INT)"), SQL_SUCCESS);
  ASSERT_EQ(Exec("INSERT INTO ostra.dbo.tx_probe VALUES (1)"), SQL_SUCCESS);
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(Exec("SELECT n FROM ostra.dbo.tx_probe"), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_STMT, stmt).state, "42S02");

  ASSERT_EQ(Exec("CREATE TABLE ostra.dbo.tx_probe (n INT)"), SQL_SUCCESS);
  ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_SUCCESS);
  ASSERT_EQ(Exec("SET XACT_ABORT ON"), SQL_SUCCESS);
  ASSERT_EQ(Exec("INSERT INTO ostra.dbo.tx_probe VALUES (2)"), SQL_SUCCESS);
  EXPECT_EQ(Exec("INSERT INTO ostra.dbo.no_such VALUES (3)"), SQL_ERROR);
  // Already rolled back by the failure; ending it again is no error.
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_SUCCESS);
  ASSERT_EQ(autocommit(SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
  EXPECT_EQ(Texts("SELECT COUNT(*) FROM ostra.dbo.tx_probe"), std::vector<std::string>{"0"});
  EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, 7), SQL_ERROR);
  EXPECT_EQ(FirstDiag(SQL_HANDLE_DBC, dbc).state, "HY012");
}

TEST_F(Driver, ResultSetsOfABatchComeOneAfterAnother) {
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  ASSERT_EQ(Exec("SELECT 'first'; UPDATE ostra.dbo.sys_dict SET dcvalue = '0'; SELECT 'second'"),
            SQL_SUCCESS);
  char text[16];
  SQLLEN length = 0;
  SQLBindCol(stmt, 1, SQL_C_CHAR, text, sizeof text, &length);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_STREQ(text, "first");
  ASSERT_EQ(SQLMoreResults(stmt), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  EXPECT_STREQ(text, "second");
  EXPECT_EQ(SQLMoreResults(stmt), SQL_NO_DATA);
  EXPECT_EQ(Texts("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='29'"),
            std::vector<std::string>{"0"});
}

TEST_F(Driver, GetDataReturnsLongTextInParts) {
  options.webRoot = "E:\\web sites\\ostra\\product\\wwwroot";
  ASSERT_EQ(Connect(), SQL_SUCCESS);
  ASSERT_EQ(Exec("SELECT wcroot FROM velin.dbo.web_main"), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  std::string joined;
  char part[10];
  SQLLEN length = 0;
  SQLRETURN rc;
  while ((rc = SQLGetData(stmt, 1, SQL_C_CHAR, part, sizeof part, &length)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    joined += part;
  }
  EXPECT_EQ(joined, options.webRoot);
}

// "服务器" and "名称" in GBK, the system code page of the product's Chinese servers.
const char kServerGbk[] = "\xB7\xFE\xCE\xF1\xC6\xF7";
const char kNameGbk[] = "\xC3\xFB\xB3\xC6";

TEST_F(Driver, AGbkDataSourceTakesAndGivesGbkText) {
  options.componentNumbers = {-1, 5, -1, -1, -1, -1};
  ASSERT_EQ(Connect(kUser, kPassword, "ostra_gbk"), SQL_SUCCESS);
  const std::string call = "{CALL ostra.dbo.cp_sys_server_update_set(3, 11, 'Ostra " +
                           std::string(kServerGbk) + "', '" + kNameGbk + "')}";
  ASSERT_EQ(Exec(call), SQL_SUCCESS) << FirstDiag(SQL_HANDLE_STMT, stmt).message;
  EXPECT_EQ(Texts("SELECT cname FROM ostra.dbo.sys_server_update_log WHERE ii = 3"),
            std::vector<std::string>{std::string("Ostra ") + kServerGbk});
  // A literal in the statement converts too, and so does the value coming back.
  EXPECT_EQ(Texts("SELECT count(*) FROM ostra.dbo.sys_server_update_log WHERE cdesc = '" +
                  std::string(kNameGbk) + "'"),
            std::vector<std::string>{"1"});
  // A short buffer is cut between characters of GBK: "Ostra " and one character fit.
  EXPECT_EQ(Texts("SELECT cname FROM ostra.dbo.sys_server_update_log WHERE ii = 3", 10),
            std::vector<std::string>{"Ostra \xB7\xFE"});
  // Column names and messages are GBK as well.
  ASSERT_EQ(Exec(std::string("SELECT 1 AS ") + kNameGbk), SQL_SUCCESS);
  SQLCHAR name[32] = {0};
  SQLSMALLINT nameLength = 0;
  ASSERT_EQ(
      SQLDescribeCol(stmt, 1, name, sizeof name, &nameLength, nullptr, nullptr, nullptr, nullptr),
      SQL_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(name), kNameGbk);
  EXPECT_EQ(Exec(std::string("SELECT * FROM ostra.dbo.") + kNameGbk), SQL_ERROR);
  Diag diag = FirstDiag(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ(diag.state, "42S02");
  EXPECT_NE(diag.message.find(kNameGbk), std::string::npos) << diag.message;
}

TEST_F(Driver, TheDatabaseKeepsUtf8WhateverTheClientSpeaks) {
  options.componentNumbers = {-1, 5, -1, -1, -1, -1};
  ASSERT_EQ(Connect(kUser, kPassword, "ostra_gbk"), SQL_SUCCESS);
  ASSERT_EQ(Exec("{CALL ostra.dbo.cp_sys_server_update_set(3, 11, '" + std::string(kServerGbk) +
                 "', '')}"),
            SQL_SUCCESS);
  SQLDisconnect(dbc);
  connected = false;
  // The UTF-8 data source (no ClientCharset) reads the same row as UTF-8.
  ASSERT_EQ(SQLConnect(dbc, Text(kDsn), SQL_NTS, Text(kUser), SQL_NTS, Text(kPassword), SQL_NTS),
            SQL_SUCCESS);
  connected = true;
  EXPECT_EQ(Texts("SELECT cname FROM ostra.dbo.sys_server_update_log WHERE ii = 3"),
            std::vector<std::string>{"服务器"});
}

// UTF-16 for the wide entry points: a pointer to units and a length in characters.
SQLWCHAR* Wide(const std::u16string& text) {
  return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text.c_str()));
}

// The first diagnostic record through SQLGetDiagRecW, with a message buffer of size units.
struct WideDiag {
  SQLRETURN rc = SQL_ERROR;
  std::u16string state;
  std::u16string message;
  SQLSMALLINT length = 0;
};
WideDiag FirstWideDiag(SQLSMALLINT type, SQLHANDLE handle, size_t size = 512) {
  WideDiag diag;
  SQLWCHAR state[6] = {0};
  std::vector<SQLWCHAR> message(size, 0);
  SQLINTEGER native = 0;
  diag.rc = SQLGetDiagRecW(type, handle, 1, state, &native, message.data(),
                           static_cast<SQLSMALLINT>(message.size()), &diag.length);
  diag.state = reinterpret_cast<const char16_t*>(state);
  diag.message = reinterpret_cast<const char16_t*>(message.data());
  return diag;
}

std::string SqliteText(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string text = "(none)";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      text = std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                         static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return text;
}

// The data source's ClientCharset (GBK here) is for narrow text; wide text is Unicode
// whatever it says, and the database keeps it as UTF-8.
TEST_F(Driver, WideCallsCarryUnicodeTextInAndOutIntact) {
  options.componentNumbers = {-1, 5, -1, -1, -1, -1};
  std::string error;
  ASSERT_TRUE(CreateSandboxDatabases(OdbcFolder::dir + "/db", options, &error)) << error;
  const std::u16string dsn = u"ostra_gbk", user = u"SA", password = u"p;w#d=x {1}";
  ASSERT_EQ(SQLConnectW(dbc, Wide(dsn), SQL_NTS, Wide(user), SQL_NTS, Wide(password), SQL_NTS),
            SQL_SUCCESS);
  connected = true;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
  const std::u16string call =
      u"{CALL ostra.dbo.cp_sys_server_update_set(3, 11, 'Ostra 服务器', "
      u"'升级脚本：中文说明 \U0001F600')}";
  ASSERT_EQ(SQLExecDirectW(stmt, Wide(call), SQL_NTS), SQL_SUCCESS)
      << FirstDiag(SQL_HANDLE_STMT, stmt).message;
  EXPECT_EQ(SqliteText(OdbcFolder::dir + "/db/ostra.sqlite",
                       "SELECT cdesc FROM sys_server_update_log WHERE ii = 3"),
            "升级脚本：中文说明 \xF0\x9F\x98\x80");

  // Back through SQLGetData as wide text, in parts: 6 units of room hold 5 characters.
  const std::u16string query =
      u"SELECT cdesc, cname AS 名称 FROM ostra.dbo.sys_server_update_log WHERE cdesc LIKE "
      u"'升级%'";
  ASSERT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirectW(stmt, Wide(query), SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
  std::u16string whole;
  SQLWCHAR part[6];
  SQLLEN indicator = 0;
  SQLRETURN rc;
  std::vector<SQLLEN> indicators;
  while ((rc = SQLGetData(stmt, 1, SQL_C_WCHAR, part, sizeof part, &indicator)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    whole += reinterpret_cast<const char16_t*>(part);
    indicators.push_back(indicator);
  }
  EXPECT_EQ(whole, u"升级脚本：中文说明 \U0001F600");
  EXPECT_EQ(indicators, (std::vector<SQLLEN>{24, 14, 4}));  // bytes left at each part
  // A column name, in characters for SQLDescribeColW and in bytes for SQLColAttributeW.
  SQLWCHAR name[8] = {0};
  SQLSMALLINT nameLength = 0;
  ASSERT_EQ(SQLDescribeColW(stmt, 2, name, 8, &nameLength, nullptr, nullptr, nullptr, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"名称");
  EXPECT_EQ(nameLength, 2);
  ASSERT_EQ(SQLColAttributeW(stmt, 2, SQL_DESC_NAME, name, sizeof name, &nameLength, nullptr),
            SQL_SUCCESS);
  EXPECT_EQ(nameLength, 4);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), u"名称");

  // A message naming a Chinese table comes back whole, and cut between characters when
  // its buffer is short, with the whole length in characters.
  ASSERT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
  ASSERT_EQ(SQLExecDirectW(stmt, Wide(u"SELECT * FROM ostra.dbo.中文表"), SQL_NTS), SQL_ERROR);
  const WideDiag diag = FirstWideDiag(SQL_HANDLE_STMT, stmt);
  EXPECT_EQ(diag.rc, SQL_SUCCESS);
  EXPECT_EQ(diag.state, u"42S02");
  EXPECT_EQ(diag.message, u"[ost][SQL Server stand-in]no such table: ostra.中文表");
  EXPECT_EQ(diag.length, static_cast<SQLSMALLINT>(diag.message.size()));
  const WideDiag cut = FirstWideDiag(SQL_HANDLE_STMT, stmt, diag.message.size() - 1);
  EXPECT_EQ(cut.rc, SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(cut.message, u"[ost][SQL Server stand-in]no such table: ostra.中");
  EXPECT_EQ(cut.length, diag.length);
  SQLWCHAR text[64] = {0};
  SQLSMALLINT textLength = 0;
  ASSERT_EQ(SQLGetDiagFieldW(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, text, sizeof text,
                             &textLength),
            SQL_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text)), diag.message);
  EXPECT_EQ(textLength, static_cast<SQLSMALLINT>(2 * diag.message.size()));

  // SQLGetInfoW counts bytes.
  SQLWCHAR info[8] = {0};
  SQLSMALLINT infoLength = 0;
  ASSERT_EQ(SQLGetInfoW(dbc, SQL_USER_NAME, info, sizeof info, &infoLength), SQL_SUCCESS);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(info)), u"SA");  // as it logged in
  EXPECT_EQ(infoLength, 4);
}

TEST_F(Driver, AWideConnectionStringIsCompletedInWideText) {
  std::string error;
  ASSERT_TRUE(CreateSandboxDatabases(OdbcFolder::dir + "/db", options, &error)) << error;
  const std::u16string in = u"DSN=ostra;UID=SA;PWD={p;w#d=x {1}}}";
  SQLWCHAR out[128] = {0};
  SQLSMALLINT outLength = 0;
  ASSERT_EQ(
      SQLDriverConnectW(dbc, nullptr, Wide(in), SQL_NTS, out, 128, &outLength, SQL_DRIVER_NOPROMPT),
      SQL_SUCCESS)
      << FirstDiag(SQL_HANDLE_DBC, dbc).message;
  connected = true;
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out)),
            u"DSN=ostra;UID=SA;PWD={p;w#d=x {1}}};");
  EXPECT_EQ(outLength, 36);  // characters
}

TEST_F(Driver, AnUnknownClientCharsetFailsTheConnection) {
  EXPECT_EQ(Connect(kUser, kPassword, "ostra_bad"), SQL_ERROR);
  Diag diag = FirstDiag(SQL_HANDLE_DBC, dbc);
  EXPECT_EQ(diag.state, "08001");
  EXPECT_NE(diag.message.find("NO-SUCH-SET-17"), std::string::npos) << diag.message;
}

// The working directory while it lives.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& dir) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer)) saved_ = buffer;
    EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
  }
  ~WorkingDirectory() { EXPECT_EQ(chdir(saved_.c_str()), 0); }

 private:
  std::string saved_;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(Driver, ARelativeDatabaseFolderIsTakenFromTheFolderOfItsOdbcIni) {
  // A decoy where the folder would be if it were taken from the working directory.
  const std::string decoy = OdbcFolder::dir + "/decoy";
  SandboxDbOptions other;
  other.ostraVersion = "9.99";
  std::string error;
  ASSERT_TRUE(CreateSandboxDatabases(decoy + "/db", other, &error)) << error;
  ASSERT_EQ(mkdir((decoy + "/cwd").c_str(), 0755), 0);
  WorkingDirectory cwd(decoy + "/cwd");

  ASSERT_EQ(Connect(kUser, kPassword, "ostra_rel"), SQL_SUCCESS)
      << FirstDiag(SQL_HANDLE_DBC, dbc).message;
  EXPECT_EQ(Texts("SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC", 8),
            std::vector<std::string>{"3.80"});
  // Written through it, too.
  EXPECT_EQ(Exec("{CALL ostra.dbo.cp_sys_server_update_set(1, 13, 'Agent', 'rel')}"), SQL_SUCCESS);
  EXPECT_EQ(UpdateNumbers(), (std::vector<std::string>{"1:13", "3:7"}));
}

TEST_F(Driver, AUsersDataSourceTakesItsRelativeFolderFromTheUsersFile) {
  // unixODBC looks in the user's file (ODBCINI) before the system's.
  const std::string user = OdbcFolder::dir + "/user";
  SandboxDbOptions other;
  other.ostraVersion = "4.00";
  std::string error;
  ASSERT_TRUE(CreateSandboxDatabases(user + "/databases", other, &error)) << error;
  {
    std::ofstream ini(user + "/user.ini");
    ini << "[ostra_user]\nDriver = " << kSandboxOdbcDriverName
        << "\nDatabase = databases\nUID = " << kUser << "\nPWD = " << kPassword << "\n";
  }
  setenv("ODBCINI", (user + "/user.ini").c_str(), 1);
  const SQLRETURN rc =
      SQLConnect(dbc, Text("ostra_user"), SQL_NTS, Text(kUser), SQL_NTS, Text(kPassword), SQL_NTS);
  unsetenv("ODBCINI");
  ASSERT_EQ(rc, SQL_SUCCESS) << FirstDiag(SQL_HANDLE_DBC, dbc).message;
  connected = true;
  EXPECT_EQ(Texts("SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC", 8),
            std::vector<std::string>{"4.00"});
}

TEST_F(Driver, ARelativeFolderThatIsNotThereFailsWith08001) {
  const std::string ini = OdbcFolder::dir + "/odbc/odbc.ini";
  const std::string saved = ReadWhole(ini);
  {
    std::ofstream out(ini, std::ios::app);
    out << "[ostra_gone]\nDriver = " << kSandboxOdbcDriverName
        << "\nDatabase = ../gone\nUID = " << kUser << "\nPWD = " << kPassword << "\n";
  }
  EXPECT_EQ(Connect(kUser, kPassword, "ostra_gone"), SQL_ERROR);
  const Diag diag = FirstDiag(SQL_HANDLE_DBC, dbc);
  std::ofstream(ini) << saved;
  EXPECT_EQ(diag.state, "08001");
  EXPECT_NE(diag.message.find(OdbcFolder::dir + "/odbc/../gone"), std::string::npos)
      << diag.message;
}

TEST(SandboxDb, ValuesThatOdbcIniCannotHoldAreRefused) {
  std::string error;
  EXPECT_FALSE(WriteOdbcConfig("/tmp/unused", "/x.so", "/db", "ostra", "sa", "two\nlines", &error));
  EXPECT_FALSE(WriteOdbcConfig("/tmp/unused", "/x.so", "/db", "ostra", "sa", " padded", &error));
  EXPECT_FALSE(WriteOdbcConfig("/tmp/unused", "/x.so", "/db", "[x]", "sa", "pw", &error));
  EXPECT_NE(error, "");
}

// The Database line WriteOdbcConfig writes for a database folder.
std::string DatabaseLine(const std::string& odbcDir, const std::string& dbDir) {
  std::string error;
  EXPECT_TRUE(WriteOdbcConfig(odbcDir, "/x.so", dbDir, "ostra", "sa", "pw", &error)) << error;
  const std::string ini = ReadWhole(odbcDir + "/odbc.ini");
  const size_t start = ini.find("Database = ");
  if (start == std::string::npos) return "";
  return ini.substr(start, ini.find('\n', start) - start);
}

TEST(SandboxDb, ADatabaseFolderInTheMachineRootIsWrittenRelative) {
  char pattern[] = "/tmp/ost-odbc-ini-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  EXPECT_EQ(DatabaseLine(root + "/odbc", root + "/db"), "Database = ../db");
  EXPECT_EQ(DatabaseLine(root + "/odbc/", root + "/./x/../db/"), "Database = ../db");
  EXPECT_EQ(DatabaseLine(root + "/odbc", root + "/data/db"), "Database = ../data/db");
  EXPECT_EQ(DatabaseLine(root + "/odbc", root), "Database = ..");
  // A folder outside the root stays absolute, also one whose name only starts like it.
  EXPECT_EQ(DatabaseLine(root + "/odbc", "/srv/db"), "Database = /srv/db");
  EXPECT_EQ(DatabaseLine(root + "/odbc", root + "x/db"), "Database = " + root + "x/db");
  {
    // Relative arguments are taken from the working directory first.
    WorkingDirectory cwd(root);
    EXPECT_EQ(DatabaseLine("odbc", "db"), "Database = ../db");
  }
  ASSERT_EQ(system(("rm -rf " + root).c_str()), 0);
}

}  // namespace
}  // namespace ost

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ost::OdbcFolder);
  return RUN_ALL_TESTS();
}
