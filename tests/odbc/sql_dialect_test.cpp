#include "sql_dialect.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>

namespace ost {
namespace {

std::string Rewrite(std::string_view sql) {
  std::string error;
  std::string out = RewriteSqlServerDialect(sql, &error);
  EXPECT_EQ(error, "") << "for: " << sql;
  return out;
}

std::string RewriteError(std::string_view sql) {
  std::string error;
  EXPECT_EQ(RewriteSqlServerDialect(sql, &error), "") << "for: " << sql;
  EXPECT_NE(error, "") << "for: " << sql;
  return error;
}

// Runs SQL Server text, rewritten, on a SQLite database with an attached "ostra";
// returns the rows of the last statement as "a|b" lines.
class SqliteRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    Exec(
        "ATTACH ':memory:' AS ostra;"
        "CREATE TABLE ostra.t(a INTEGER, b TEXT);"
        "INSERT INTO ostra.t VALUES (1, 'x'), (2, 'y'), (3, 'z');"
        "CREATE TABLE ostra.log(a, b);"
        "CREATE VIEW ostra.p(a, b) AS SELECT NULL, NULL WHERE 0;"
        "CREATE TRIGGER ostra.p_run INSTEAD OF INSERT ON p BEGIN "
        "INSERT INTO log VALUES (NEW.a, NEW.b); END;");
  }
  void TearDown() override { sqlite3_close(db_); }

  void Exec(const std::string& sql) {
    char* message = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "") << " in: " << sql;
  }

  std::string Rows(std::string_view serverSql) {
    const std::string sql = Rewrite(serverSql);
    std::string rows;
    char* message = nullptr;
    auto collect = [](void* out, int n, char** values, char**) {
      auto* text = static_cast<std::string*>(out);
      for (int i = 0; i < n; ++i)
        *text += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
      *text += "\n";
      return 0;
    };
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), collect, &rows, &message), SQLITE_OK)
        << (message ? message : "") << " in: " << sql;
    sqlite3_free(message);
    return rows;
  }

  sqlite3* db_ = nullptr;
};

TEST(SqlDialect, TopBecomesLimitAtTheEndOfItsSelect) {
  EXPECT_EQ(Rewrite("SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC"),
            "SELECT cversion FROM ostra.sys_version ORDER BY cversion DESC LIMIT 1");
  EXPECT_EQ(Rewrite("select distinct top (2) a from t;"), "select distinct a from t LIMIT (2);");
  // The limit goes before a trailing comment, not into it.
  EXPECT_EQ(Rewrite("SELECT TOP 5 a FROM t -- five\n"), "SELECT a FROM t LIMIT 5 -- five\n");
  EXPECT_EQ(Rewrite("SELECT TOP 1 a FROM (SELECT TOP 2 b FROM t ORDER BY b) x ORDER BY a"),
            "SELECT a FROM (SELECT b FROM t ORDER BY b LIMIT 2) x ORDER BY a LIMIT 1");
}

TEST(SqlDialect, TopOutsideASelectClauseIsLeftAlone) {
  for (const char* sql : {"SELECT top FROM t", "SELECT 'SELECT TOP 1 x' FROM t",
                          "SELECT a /* SELECT TOP 1 */ FROM t", "SELECT \"top\" FROM t"}) {
    EXPECT_EQ(Rewrite(sql), sql);
  }
}

TEST(SqlDialect, TopFormsWithoutSqliteCounterpartAreErrors) {
  RewriteError("SELECT TOP 10 PERCENT a FROM t");
  RewriteError("SELECT TOP 3 WITH TIES a FROM t ORDER BY a");
  RewriteError("SELECT TOP 1 a FROM t UNION SELECT b FROM u");
}

TEST(SqlDialect, ThreePartNamesLoseTheirSchema) {
  EXPECT_EQ(Rewrite("SELECT ii,nn FROM ostra.dbo.sys_server_update ORDER BY nn DESC"),
            "SELECT ii,nn FROM ostra.sys_server_update ORDER BY nn DESC");
  EXPECT_EQ(Rewrite("UPDATE OSTRA.DBO.T SET a = 1"), "UPDATE OSTRA.T SET a = 1");
  EXPECT_EQ(Rewrite("SELECT * FROM velin..web_main"), "SELECT * FROM velin.web_main");
  EXPECT_EQ(Rewrite("SELECT * FROM [velin].[dbo].[web main]"),
            "SELECT * FROM \"velin\".\"web main\"");
  EXPECT_EQ(Rewrite("SELECT dbo.t.a FROM dbo.t"), "SELECT t.a FROM t");
  EXPECT_EQ(Rewrite("SELECT ostra.dbo.t.a FROM ostra.dbo.t"), "SELECT ostra.t.a FROM ostra.t");
  // Two-part names and decimals are not schema names.
  EXPECT_EQ(Rewrite("SELECT t.a, 3.80, t.* FROM t"), "SELECT t.a, 3.80, t.* FROM t");
}

TEST(SqlDialect, BracketedNamesBecomeQuotedNames) {
  EXPECT_EQ(Rewrite("SELECT [a]]b], [c\"d] FROM t"), "SELECT \"a]b\", \"c\"\"d\" FROM t");
}

TEST(SqlDialect, CallEscapeBecomesAnInsertIntoTheProcedureView) {
  EXPECT_EQ(Rewrite("{CALL ostra.dbo.cp_sys_server_update_set(3, 380, 'Ostra 服务器', 'text')}"),
            "INSERT INTO ostra.cp_sys_server_update_set VALUES(3, 380, 'Ostra 服务器', 'text')");
  EXPECT_EQ(Rewrite("{ call ostra.dbo.p ( 1 , 'it''s {CALL x}' ) }"),
            "INSERT INTO ostra.p VALUES( 1 , 'it''s {CALL x}' )");
  EXPECT_EQ(Rewrite("{CALL ostra..p}"), "INSERT INTO ostra.p DEFAULT VALUES");
  EXPECT_EQ(Rewrite("{CALL ostra.dbo.p()}"), "INSERT INTO ostra.p DEFAULT VALUES");
}

TEST(SqlDialect, OtherEscapesAndFunctions) {
  EXPECT_EQ(Rewrite("SELECT {d '2024-01-02'}, {ts '2024-01-02 03:04:05'}"),
            "SELECT '2024-01-02', '2024-01-02 03:04:05'");
  EXPECT_EQ(Rewrite("SELECT N'文本', n'x', AN'y'"), "SELECT '文本', 'x', AN'y'");
  EXPECT_EQ(Rewrite("SELECT GETDATE(), getutcdate ( )"),
            "SELECT (datetime('now','localtime')), (datetime('now'))");
  EXPECT_EQ(Rewrite("CREATE UNIQUE NONCLUSTERED INDEX ix ON ostra.dbo.t (a)"),
            "CREATE UNIQUE INDEX ostra.ix ON t (a)");
  RewriteError("SELECT {fn NOW()}");
  RewriteError("{? = CALL ostra.dbo.p(1)}");
}

TEST(SqlDialect, LiteralsQuotedNamesAndCommentsAreNotRewritten) {
  const std::string untouched =
      "SELECT 'ostra.dbo.t [x] {CALL p} N''y'' GETDATE()', \"ostra.dbo.t\" -- [a] TOP 1 {\n"
      "/* ostra.dbo.t {CALL p(1)} */ FROM t";
  EXPECT_EQ(Rewrite(untouched), untouched);
  // SQL Server nests block comments; SQLite must still see a single comment.
  EXPECT_EQ(Rewrite("SELECT 1 /* a /* b */ c */"), "SELECT 1 /* a / * b * / c */");
}

TEST(SqlDialect, MalformedInputGivesAnErrorNotACrash) {
  EXPECT_EQ(RewriteError("SELECT 'abc"),
            "Unclosed quotation mark after the character string 'abc'.");
  EXPECT_EQ(RewriteError("SELECT 1 /* a /* b */"), "Missing end comment mark '*/'.");
  for (const char* sql : {"SELECT [abc", "SELECT \"abc", "{", "{CALL", "{CALL p(", "{CALL p(1}",
                          "{CALL p(1) x}", "{CALL 'x'}", "}", "{d 'x'", "SELECT TOP (1 a"}) {
    RewriteError(sql);
  }
  // Random bytes from the dialect's special characters: an answer either way, and an error
  // always comes with empty text.
  const std::string alphabet = "SELECT TOP 1 {CALL} db.dbo..[]\"'N()-*/;\n";
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string sql;
    const size_t length = random() % 24;
    for (size_t i = 0; i < length; ++i) sql += alphabet[random() % alphabet.size()];
    std::string error;
    const std::string out = RewriteSqlServerDialect(sql, &error);
    if (!error.empty()) {
      EXPECT_EQ(out, "") << sql;
    }
  }
}

TEST_F(SqliteRun, RewrittenTextRunsOnSqlite) {
  EXPECT_EQ(Rows("SELECT TOP 2 a, b FROM ostra.dbo.t ORDER BY a DESC"), "3|z\n2|y\n");
  EXPECT_EQ(Rows("SELECT a FROM [ostra]..[t] WHERE b = N'y' /* /* nested */ */"), "2\n");
  Rows("{CALL ostra.dbo.p(7, 'q''s')}; {call ostra.dbo.p(8, 'r')}");
  EXPECT_EQ(Rows("SELECT a, b FROM ostra.dbo.log ORDER BY a"), "7|q's\n8|r\n");
  Rows("CREATE INDEX ix_b ON ostra.dbo.t (b)");
  EXPECT_EQ(Rows("SELECT name FROM ostra.sqlite_master WHERE type = 'index'"), "ix_b\n");
}

}  // namespace
}  // namespace ost
