// The product database step through the real driver manager and the stand-in driver.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sqlite3.h>

#include <cstdlib>
#include <fstream>

#include "app/texts.h"
#include "db/installation.h"
#include "platform/odbc/odbc_database.h"
#include "sandbox_db.h"
#include "unit/fakes.h"
#include "util/text.h"

namespace ost {
namespace {

using testing::Harness;

// One configuration for the whole process: the driver manager reads ODBCSYSINI once.
const std::string& OdbcRoot() {
  // Never destroyed: the clean-up at exit runs after the static objects are gone.
  static const std::string& root = *new std::string([] {
    char pattern[] = "/tmp/ost-db-XXXXXX";
    std::string dir = mkdtemp(pattern);
    std::string error;
    // The tool speaks the machine's code page to its data source.
    if (!WriteOdbcConfig(dir + "/odbc", OST_ODBC_DRIVER_PATH, dir + "/db", "ostra", "sa", "secret",
                         &error, "GBK")) {
      ADD_FAILURE() << error;
    }
    // The same databases behind a driver whose narrow text is not GBK, as on a server
    // whose system locale is not Chinese.
    std::ofstream(dir + "/odbc/odbc.ini", std::ios::app)
        << "[ostra_latin]\nDriver = " << kSandboxOdbcDriverName << "\nDatabase = " << dir
        << "/db\nUID = sa\nPWD = secret\nClientCharset = CP1252\n";
    setenv("ODBCSYSINI", (dir + "/odbc").c_str(), 1);
    std::atexit([] { std::system(("rm -rf " + OdbcRoot()).c_str()); });
    return dir;
  }());
  return root;
}

class ProductDatabaseTest : public ::testing::Test {
 protected:
  ProductDatabaseTest() {
    OdbcRoot();
    options.componentNumbers = {12, 7, 15, -1, 3, -1};
  }

  void Create() {
    std::string error;
    EXPECT_TRUE(CreateSandboxDatabases(OdbcRoot() + "/db", options, &error)) << error;
  }
  // Lays out the databases and reads them as the check does.
  ReadOutcome Read() {
    Create();
    database.Close();
    facts = InstallationFacts{};
    EXPECT_EQ(database.Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
    return ReadInstallation(database, files, &facts);
  }
  // The whole check of a dialog on these databases, up to the manifest download.
  UpdateDialog& Check(const std::string& password = "secret") {
    Create();
    h.platform.database = &dialogDatabase;
    h.WriteConfig("ostra", password, "sa");
    return h.OpenDialog();
  }
  void Sql(const char* database, const std::string& sql) {
    std::string error;
    EXPECT_TRUE(RunSandboxSql(OdbcRoot() + "/db", database, sql, &error)) << error;
  }
  std::string Status() { return h.Cell(1, 3); }
  // The first column of the first row, read from the database file itself.
  std::string Stored(const std::string& sql) {
    sqlite3* db = nullptr;
    std::string text = "(no row)";
    if (sqlite3_open_v2((OdbcRoot() + "/db/ostra.sqlite").c_str(), &db, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK) {
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
          sqlite3_step(st) == SQLITE_ROW) {
        text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      }
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return text;
  }

  SandboxDbOptions options;
  OdbcDatabase database;
  InstallationFacts facts;
  testing::FakeFiles files;
  Harness h;
  OdbcDatabase dialogDatabase;
};

TEST_F(ProductDatabaseTest, ReadsEverythingTheUpdateNeeds) {
  files.files["D:\\wwwroot\\cgi-bin\\OstData.dll"] = "x";
  ReadOutcome outcome = Read();
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.stop, ReadStop::kNone);
  EXPECT_TRUE(database.connected());
  EXPECT_EQ(facts.versionText, "3.80");
  EXPECT_EQ(facts.installedOstraVersion, 380);
  EXPECT_EQ(facts.componentNumbers, (std::array<int32_t, 6>{12, 7, 15, 0, 3, 0}));
  EXPECT_EQ(facts.velinEnabled, 1);
  EXPECT_EQ(facts.webSiteId, "site");
  EXPECT_EQ(facts.cgiBinDir, "D:\\wwwroot\\cgi-bin");
  EXPECT_EQ(facts.installedVelinVersion, 70);
  EXPECT_EQ(facts.ostDataPending, 1);
  EXPECT_EQ(facts.libxlPresent, 0);
}

TEST_F(ProductDatabaseTest, TheCheckShowsItAndKeepsTheConnectionForTheRun) {
  UpdateDialog& dialog = Check();
  EXPECT_EQ(h.Cell(1, 2), "当前版本:3.80[site]");
  EXPECT_EQ(Status(), "连接查询完成");
  EXPECT_EQ(dialog.serviceTable()[0].installedVersion, 12);
  EXPECT_EQ(dialog.serviceTable()[3].installedVersion, 0);
  EXPECT_TRUE(dialogDatabase.connected());
  // The connection is released by the close handler.
  dialog.OnClose();
  EXPECT_FALSE(dialogDatabase.connected());
  EXPECT_EQ(h.window.endDialogs, 1);
}

TEST_F(ProductDatabaseTest, VersionFloor) {
  for (const char* version : {"3.73", "10.0"}) {
    options.ostraVersion = version;
    EXPECT_EQ(Read().result, 1) << version;
  }
  EXPECT_EQ(facts.installedOstraVersion, 1000);

  options.ostraVersion = "3.72";
  ReadOutcome outcome = Read();
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.stop, ReadStop::kTooOld);

  Check();
  ASSERT_EQ(h.window.boxes.size(), 1u);
  EXPECT_EQ(h.window.boxes[0].caption, "Ostra 版本太低提示");
  EXPECT_EQ(h.window.boxes[0].text,
            "系统版本太低，不能进行自动升级！\r\n请手工升级 Ostra 到 3.73 版以上\r\n"
            "任何问题，请联系岚汐技术服务人员。\r\n点击确定，退出升级程序...");
  EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::kInformation);
  EXPECT_EQ(h.window.quitRequests, 1);
  EXPECT_EQ(h.list.ItemCount(), 2);
}

TEST_F(ProductDatabaseTest, NoVersionRowIsTooLow) {
  options.ostraVersion = "";
  ReadOutcome outcome = Read();
  EXPECT_EQ(outcome.stop, ReadStop::kTooOld);
  EXPECT_EQ(facts.versionText, "");
  EXPECT_EQ(facts.installedOstraVersion, 0);
}

TEST_F(ProductDatabaseTest, UpdateNumbersKeepTheSmallestAndIgnoreOtherIndexes) {
  options.componentNumbers = {-1, -1, -1, -1, -1, -1};
  Create();
  Sql("ostra",
      "INSERT INTO sys_server_update (ii, nn) VALUES (1, 30), (1, 20), (1, 25), (6, 50), (9, 1)");
  facts = InstallationFacts{};
  facts.componentNumbers[5] = 99;  // no row: left as it was
  ASSERT_EQ(database.Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
  ASSERT_EQ(ReadInstallation(database, files, &facts).result, 1);
  EXPECT_EQ(facts.componentNumbers[1], 20);
  EXPECT_EQ(facts.componentNumbers[5], 99);
}

TEST_F(ProductDatabaseTest, WithoutTheWebPlatformOnlyTheFirstStepsRun) {
  for (const char* value : std::initializer_list<const char*>{"0", "", nullptr}) {
    Create();
    if (value) {
      Sql("ostra",
          std::string("UPDATE sys_dict SET dcvalue = '") + value + "' WHERE dcname = '29'");
    } else {
      Sql("ostra", "DELETE FROM sys_dict WHERE dcname = '29'");
    }
    database.Close();
    facts = InstallationFacts{};
    facts.installedVelinVersion = 55;
    ASSERT_EQ(database.Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
    EXPECT_EQ(ReadInstallation(database, files, &facts).result, 1);
    EXPECT_EQ(facts.velinEnabled, 0);
    EXPECT_EQ(facts.webSiteId, "");
    EXPECT_EQ(facts.cgiBinDir, "");
    EXPECT_EQ(facts.installedVelinVersion, 55);  // not read
  }
}

TEST_F(ProductDatabaseTest, WebRootWithOrWithoutTrailingBackslash) {
  options.webRoot = "E:\\web site\\";
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.cgiBinDir, "E:\\web site\\cgi-bin");
  options.webRoot = "E:\\web site";
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.cgiBinDir, "E:\\web site\\cgi-bin");
}

TEST_F(ProductDatabaseTest, FilesInTheWebFolder) {
  files.files["D:\\wwwroot\\cgi-bin\\libxl.dll"] = "x";
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.libxlPresent, 1);
  EXPECT_EQ(facts.ostDataPending, 0);
  // The data interface is also looked for in the fixed web folder.
  options.webRoot = "E:\\site";
  files.files["D:\\wwwroot\\cgi-bin\\OstData.dll"] = "x";
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.libxlPresent, 0);
  EXPECT_EQ(facts.ostDataPending, 1);
}

TEST_F(ProductDatabaseTest, RevidSiteNeverWaitsForTheDataInterface) {
  files.files["D:\\wwwroot\\cgi-bin\\OstData.dll"] = "x";
  options.siteId = "revid";
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.ostDataPending, 0);

  options.siteId = "REVID";  // compared exactly: other spelling, other site
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.ostDataPending, 1);
}

TEST_F(ProductDatabaseTest, SiteWithoutWebRootKeepsReadingTheVersion) {
  options.webMainRow = false;
  options.velinVersion = "7.3";
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.velinEnabled, 0);
  EXPECT_EQ(facts.cgiBinDir, "");
  EXPECT_EQ(facts.installedVelinVersion, 73);
}

TEST_F(ProductDatabaseTest, QuotesInTheSiteIdAreDoubled) {
  options.siteId = "o'brien";
  options.webRoot = "F:\\quoted";
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.webSiteId, "o'brien");
  EXPECT_EQ(facts.cgiBinDir, "F:\\quoted\\cgi-bin");
}

TEST_F(ProductDatabaseTest, OversizedValuesMeanNoWebPlatform) {
  options.siteId = std::string(40, 's');
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.velinEnabled, 0);
  EXPECT_EQ(facts.webSiteId, "");

  options.siteId = "site";
  options.webRoot = "D:\\" + std::string(250, 'w');  // fits 256, not with "\cgi-bin"
  ASSERT_EQ(Read().result, 1);
  EXPECT_EQ(facts.velinEnabled, 0);
  EXPECT_EQ(facts.cgiBinDir, "");
}

TEST_F(ProductDatabaseTest, WrongPasswordIsShownTwiceAndReleasesNothing) {
  Create();
  ProductDatabase::OpenResult open = database.Open("ostra", "sa", "wrong");
  EXPECT_EQ(open.failure, ProductDatabase::OpenFailure::kConnect);
  ASSERT_FALSE(open.diagnostics.empty());
  EXPECT_EQ(open.diagnostics[0].state, "28000");
  EXPECT_FALSE(database.connected());

  UpdateDialog& dialog = Check("wrong");
  ASSERT_EQ(h.window.boxes.size(), 2u);
  EXPECT_EQ(h.window.boxes[0].text, "28000");
  EXPECT_NE(h.window.boxes[1].text.find("Login failed"), std::string::npos);
  EXPECT_EQ(h.window.boxes[1].caption, text::kAppName);
  EXPECT_EQ(h.window.boxes[1].icon, BoxIcon::kNone);
  EXPECT_EQ(Status(), "数据库服务器连接失败。28000");
  EXPECT_EQ(dialog.phase(), RunPhase::kFailed);
  dialog.OnClose();
  EXPECT_EQ(h.window.endDialogs, 1);
}

TEST_F(ProductDatabaseTest, MissingDatabaseFile) {
  options.createOstra = false;
  ReadOutcome outcome = Read();
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.stop, ReadStop::kVersionQuery);
  ASSERT_FALSE(outcome.failure.diagnostics.empty());  // why, from the driver
  EXPECT_EQ(outcome.failure.diagnostics[0].state.size(), 5u);
  EXPECT_TRUE(database.connected());
  Check();
  EXPECT_EQ(Status(), "数据库查询失败(ver)。");

  options.createOstra = true;
  options.createVelin = false;
  outcome = Read();
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.stop, ReadStop::kWebRootQuery);
  EXPECT_EQ(facts.velinEnabled, 0);
  EXPECT_EQ(facts.installedVelinVersion, 70);
}

TEST_F(ProductDatabaseTest, WebRootFailureLetsTheCheckGoOnWithoutTheWebPlatform) {
  options.createVelin = false;
  UpdateDialog& dialog = Check();
  // Its status is written, then replaced by the row's end as the check goes on.
  EXPECT_EQ(Status(), "连接查询完成");
  EXPECT_EQ(h.Cell(1, 2), "当前版本:3.80[site]");
  EXPECT_EQ(h.list.ItemCount(), 3);  // the manifest row follows
  EXPECT_EQ(dialog.facts().velinEnabled, 0);
  ASSERT_EQ(h.events.With("database").size(), 1u);
  EXPECT_EQ(h.events.With("database")[0].rfind("database 3.80 stop 7 [", 0), 0u);
}

TEST_F(ProductDatabaseTest, ScriptsAndRecordsRunOnTheConnection) {
  Create();
  ASSERT_EQ(database.Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
  EXPECT_EQ(database.ExecuteRaw("UPDATE sys_dict SET dcvalue = 'x' WHERE dcname = '45'\r\n").status,
            DbStatus::kOk);
  DbOutcome failed = database.Execute("SELECT * FROM no_such_table");
  EXPECT_EQ(failed.status, DbStatus::kFailed);
  ASSERT_FALSE(failed.diagnostics.empty());
  EXPECT_NE(failed.diagnostics[0].message.find("no_such_table"), std::string::npos);
  database.Close();
  EXPECT_EQ(database.Execute("SELECT 1").status, DbStatus::kNoHandle);
}

// A transaction through the driver manager: what a rollback ends leaves nothing behind,
// and the statements after it run on their own again.
TEST_F(ProductDatabaseTest, ATransactionRolledBackLeavesNoTrace) {
  Create();
  ASSERT_EQ(database.Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
  DbOutcome begun = database.BeginTransaction();
  ASSERT_EQ(begun.status, DbStatus::kOk)
      << (begun.diagnostics.empty() ? "" : begun.diagnostics[0].message);
  ASSERT_EQ(database.ExecuteRaw("SET XACT_ABORT ON").status, DbStatus::kOk);
  ASSERT_EQ(
      database.ExecuteRaw("UPDATE ostra.dbo.sys_dict SET dcvalue = 'x' WHERE dcname = '45'").status,
      DbStatus::kOk);
  EXPECT_EQ(database.EndTransaction(false).status, DbStatus::kOk);
  EXPECT_EQ(Stored("SELECT dcvalue FROM sys_dict WHERE dcname = '45'"), "site");
  ASSERT_EQ(
      database.ExecuteRaw("UPDATE ostra.dbo.sys_dict SET dcvalue = 'y' WHERE dcname = '45'").status,
      DbStatus::kOk);
  EXPECT_EQ(Stored("SELECT dcvalue FROM sys_dict WHERE dcname = '45'"), "y");
  database.Close();
  EXPECT_EQ(database.BeginTransaction().status, DbStatus::kNoHandle);
}

// Whatever code page the driver reads narrow text in, Chinese text of a script, of a
// description and of a driver's message crosses the connection whole.
TEST_F(ProductDatabaseTest, ChineseTextCrossesIntactWhateverTheDriversCodePage) {
  const std::string note = "升级脚本：中文说明";
  const std::string description = "修正：数据同步（服务器端）";
  for (const char* source : {"ostra", "ostra_latin"}) {
    SCOPED_TRACE(source);
    Create();
    ASSERT_EQ(database.Open(source, "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
    // A script as published, in GBK, and a record built from UTF-8.
    EXPECT_EQ(database
                  .ExecuteRaw(Utf8ToGbk("INSERT INTO ostra.dbo.sys_dict (dcname, dcvalue) "
                                        "VALUES ('说明', '" +
                                        note + "')\r\n"))
                  .status,
              DbStatus::kOk);
    EXPECT_EQ(database
                  .Execute("{CALL ostra.dbo.cp_sys_server_update_set(3,11,'Ostra 服务器','" +
                           description + "')}")
                  .status,
              DbStatus::kOk);
    EXPECT_EQ(Stored("SELECT dcvalue FROM sys_dict WHERE dcname = '说明'"), note);
    EXPECT_EQ(Stored("SELECT cdesc FROM sys_server_update_log WHERE ii = 3"), description);

    // Back as GBK, byte for byte; a short width cuts between characters.
    DbText back =
        database.QueryText("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='说明'", 64);
    EXPECT_TRUE(back.found);
    EXPECT_EQ(back.bytes, Utf8ToGbk(note));
    EXPECT_FALSE(back.overflowed);
    back = database.QueryText("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='说明'", 10);
    EXPECT_EQ(back.bytes, Utf8ToGbk("升级脚本"));
    EXPECT_TRUE(back.overflowed);
    // 18 bytes of GBK: a width of 19 holds them with the zero, 18 does not.
    EXPECT_FALSE(
        database.QueryText("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='说明'", 19)
            .overflowed);
    EXPECT_TRUE(database.QueryText("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='说明'", 18)
                    .overflowed);

    DbOutcome failed = database.Execute("SELECT * FROM ostra.dbo.中文表");
    EXPECT_EQ(failed.status, DbStatus::kFailed);
    ASSERT_EQ(failed.diagnostics.size(), 1u);
    EXPECT_EQ(failed.diagnostics[0].state, "42S02");
    EXPECT_EQ(DbTextToUtf8(failed.diagnostics[0].message),
              "[ost][SQL Server stand-in]no such table: ostra.中文表");
    database.Close();
  }
}

}  // namespace
}  // namespace ost
