// The product database step through the real driver manager and the stand-in driver.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include "app/texts.h"
#include "sandbox_db.h"
#include "unit/fakes.h"

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
    if (!WriteOdbcConfig(dir + "/odbc", OST_ODBC_DRIVER_PATH, dir + "/db", "ostra", "sa", "secret",
                         &error)) {
      ADD_FAILURE() << error;
    }
    setenv("ODBCSYSINI", (dir + "/odbc").c_str(), 1);
    std::atexit([] { std::system(("rm -rf " + OdbcRoot()).c_str()); });
    return dir;
  }());
  return root;
}

class ProductDatabaseTest : public ::testing::Test {
 protected:
  ProductDatabaseTest() : dialog(h.CheckedDialog()) {
    dialog.currentRow = 1;
    dialog.config.dbPassword = "secret";
    // What the check would have: row 1 under way, nothing read yet.
    dialog.versions = Versions{};
    dialog.db = DatabaseFacts{};
    options.componentNumbers = {12, 7, 15, -1, 3, -1};
  }
  ~ProductDatabaseTest() override { dialog.ReleaseProductDatabase(); }

  int Open() {
    std::string error;
    EXPECT_TRUE(CreateSandboxDatabases(OdbcRoot() + "/db", options, &error)) << error;
    return dialog.OpenProductDatabase();
  }
  void Sql(const char* database, const std::string& sql) {
    std::string error;
    EXPECT_TRUE(RunSandboxSql(OdbcRoot() + "/db", database, sql, &error)) << error;
  }
  std::string Status() { return h.list.GetItemText(1, 3); }

  Harness h;
  UpdateDialog& dialog;
  SandboxDbOptions options;
};

TEST_F(ProductDatabaseTest, ReadsEverythingTheUpdateNeeds) {
  h.files.files["D:\\wwwroot\\cgi-bin\\OstData.dll"] = "x";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.run.dbConnected, 1);
  EXPECT_EQ(dialog.db.versionText, "3.80");
  EXPECT_EQ(dialog.versions.installedOstraVersion, 380);
  EXPECT_EQ(dialog.serviceTable[0].installedVersion, 12);
  EXPECT_EQ(dialog.serviceTable[2].installedVersion, 15);
  EXPECT_EQ(dialog.serviceTable[3].installedVersion, 0);
  EXPECT_EQ(dialog.db.velinEnabled, 1);
  EXPECT_EQ(dialog.db.webSiteId, "site");
  EXPECT_EQ(dialog.db.cgiBinDir, "D:\\wwwroot\\cgi-bin");
  EXPECT_EQ(dialog.versions.installedVelinVersion, 70);
  EXPECT_EQ(dialog.run.ostDataPending, 1);
  EXPECT_EQ(dialog.run.libxlPresent, 0);
  EXPECT_EQ(Status(), "");

  // The connection stays for the run and is released by the close handler.
  dialog.OnClose();
  EXPECT_EQ(dialog.run.dbConnected, 0);
  EXPECT_EQ(h.window.endDialogs, 1);
}

TEST_F(ProductDatabaseTest, VersionFloor) {
  for (const char* version : {"3.73", "10.0"}) {
    options.ostraVersion = version;
    EXPECT_EQ(Open(), 1) << version;
    dialog.ReleaseProductDatabase();
  }
  EXPECT_EQ(dialog.versions.installedOstraVersion, 1000);
  EXPECT_EQ(h.window.quitRequests, 0);

  options.ostraVersion = "3.72";
  EXPECT_EQ(Open(), 0);
  ASSERT_EQ(h.window.boxes.size(), 1u);
  EXPECT_EQ(h.window.boxes[0].caption, "Ostra 版本太低提示");
  EXPECT_EQ(h.window.boxes[0].text,
            "系统版本太低，不能进行自动升级！\r\n请手工升级 Ostra 到 3.73 版以上\r\n"
            "任何问题，请联系岚汐技术服务人员。\r\n点击确定，退出升级程序...");
  EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::kInformation);
  EXPECT_EQ(h.window.quitRequests, 1);
}

TEST_F(ProductDatabaseTest, NoVersionRowIsTooLow) {
  options.ostraVersion = "";
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(dialog.db.versionText, "");
  EXPECT_EQ(dialog.versions.installedOstraVersion, 0);
  EXPECT_EQ(h.window.quitRequests, 1);
}

TEST_F(ProductDatabaseTest, UpdateNumbersKeepTheSmallestAndIgnoreOtherIndexes) {
  options.componentNumbers = {-1, -1, -1, -1, -1, -1};
  dialog.serviceTable[5].installedVersion = 99;  // no row: left as it was
  std::string error;
  ASSERT_TRUE(CreateSandboxDatabases(OdbcRoot() + "/db", options, &error)) << error;
  Sql("ostra", "INSERT INTO sys_server_update (ii, nn) VALUES (1, 30), (1, 20), (1, 25), (6, 50), (9, 1)");
  ASSERT_EQ(dialog.OpenProductDatabase(), 1);
  EXPECT_EQ(dialog.serviceTable[1].installedVersion, 20);
  EXPECT_EQ(dialog.serviceTable[5].installedVersion, 99);
}

TEST_F(ProductDatabaseTest, WithoutTheWebPlatformOnlyTheFirstStepsRun) {
  for (const char* value : std::initializer_list<const char*>{"0", "", nullptr}) {
    Harness local;
    UpdateDialog& d = local.CheckedDialog();
    d.config.dbPassword = "secret";
    d.db = DatabaseFacts{};
    d.versions.installedVelinVersion = 55;
    std::string error;
    ASSERT_TRUE(CreateSandboxDatabases(OdbcRoot() + "/db", options, &error)) << error;
    if (value) {
      Sql("ostra", std::string("UPDATE sys_dict SET dcvalue = '") + value + "' WHERE dcname = '29'");
    } else {
      Sql("ostra", "DELETE FROM sys_dict WHERE dcname = '29'");
    }
    EXPECT_EQ(d.OpenProductDatabase(), 1);
    EXPECT_EQ(d.db.velinEnabled, 0);
    EXPECT_EQ(d.db.webSiteId, "");
    EXPECT_EQ(d.db.cgiBinDir, "");
    EXPECT_EQ(d.versions.installedVelinVersion, 55);  // not read
    d.ReleaseProductDatabase();
  }
}

TEST_F(ProductDatabaseTest, WebRootWithOrWithoutTrailingBackslash) {
  options.webRoot = "E:\\web site\\";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.db.cgiBinDir, "E:\\web site\\cgi-bin");
  dialog.ReleaseProductDatabase();
  options.webRoot = "E:\\web site";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.db.cgiBinDir, "E:\\web site\\cgi-bin");
}

TEST_F(ProductDatabaseTest, FilesInTheWebFolder) {
  h.files.files["D:\\wwwroot\\cgi-bin\\libxl.dll"] = "x";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.run.libxlPresent, 1);
  EXPECT_EQ(dialog.run.ostDataPending, 0);
}

TEST_F(ProductDatabaseTest, RevidSiteNeverWaitsForTheDataInterface) {
  h.files.files["D:\\wwwroot\\cgi-bin\\OstData.dll"] = "x";
  options.siteId = "revid";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.run.ostDataPending, 0);
  dialog.ReleaseProductDatabase();

  options.siteId = "REVID";  // compared exactly: other spelling, other site
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.run.ostDataPending, 1);
}

TEST_F(ProductDatabaseTest, SiteWithoutWebRootKeepsReadingTheVersion) {
  options.webMainRow = false;
  options.velinVersion = "7.3";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.db.velinEnabled, 0);
  EXPECT_EQ(dialog.db.cgiBinDir, "");
  EXPECT_EQ(dialog.versions.installedVelinVersion, 73);
}

TEST_F(ProductDatabaseTest, QuotesInTheSiteIdAreDoubled) {
  options.siteId = "o'brien";
  options.webRoot = "F:\\quoted";
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.db.webSiteId, "o'brien");
  EXPECT_EQ(dialog.db.cgiBinDir, "F:\\quoted\\cgi-bin");
}

TEST_F(ProductDatabaseTest, OversizedValuesMeanNoWebPlatform) {
  options.siteId = std::string(40, 's');
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.db.velinEnabled, 0);
  EXPECT_EQ(dialog.db.webSiteId, "");
  dialog.ReleaseProductDatabase();

  options.siteId = "site";
  options.webRoot = "D:\\" + std::string(250, 'w');  // fits 256, not with "\cgi-bin"
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(dialog.db.velinEnabled, 0);
  EXPECT_EQ(dialog.db.cgiBinDir, "");
}

TEST_F(ProductDatabaseTest, WrongPasswordIsShownTwiceAndReleasesNothing) {
  dialog.config.dbPassword = "wrong";
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(dialog.run.dbConnected, 0);
  ASSERT_EQ(h.window.boxes.size(), 2u);
  EXPECT_EQ(h.window.boxes[0].text, "28000");
  EXPECT_NE(h.window.boxes[1].text.find("Login failed"), std::string::npos);
  EXPECT_EQ(h.window.boxes[1].caption, text::kAppName);
  EXPECT_EQ(h.window.boxes[1].icon, BoxIcon::kNone);
  EXPECT_EQ(Status(), "数据库服务器连接失败。28000");
  dialog.OnClose();
  EXPECT_EQ(h.window.endDialogs, 1);
}

TEST_F(ProductDatabaseTest, MissingDatabaseFile) {
  options.createOstra = false;
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(dialog.run.dbConnected, 1);
  EXPECT_EQ(Status(), "数据库查询失败(ver)。");

  Harness local;
  UpdateDialog& d = local.CheckedDialog();
  d.config.dbPassword = "secret";
  options.createOstra = true;
  options.createVelin = false;
  d.currentRow = 1;
  EXPECT_EQ(Open() , 1);  // recreates the files for `dialog`; d connects afresh below
  dialog.ReleaseProductDatabase();
  EXPECT_EQ(d.OpenProductDatabase(), 1);
  EXPECT_EQ(d.db.velinEnabled, 0);
  EXPECT_EQ(local.list.GetItemText(1, 3), "数据库查询失败(velin-wcroot)。");
  EXPECT_EQ(d.versions.installedVelinVersion, 70);
  d.ReleaseProductDatabase();
}

}  // namespace
}  // namespace ost
