// The database port's contract, run against the in-memory provider and the ODBC provider
// through unixODBC and the stand-in driver.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>

#include "contract/temp_root.h"
#include "db/odbc_database.h"
#include "platform/memory/memory_database.h"
#include "sandbox_db.h"
#include "util/text.h"

namespace ost::contract {
namespace {

constexpr char kSite[] = "SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='45'";
constexpr char kFlag[] = "SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='29'";
constexpr char kRefused[] = "SELECT dcvalue FROM ostra.dbo.no_such_table";

// A provider, not connected, whose data source "ostra" takes the login sa/secret and
// holds the site id given (GBK) and no platform flag (dictionary '29').
class DatabaseUnderTest {
 public:
  virtual ~DatabaseUnderTest() = default;
  virtual ProductDatabase& database() = 0;
};

class MemoryDatabaseUnderTest : public DatabaseUnderTest {
 public:
  explicit MemoryDatabaseUnderTest(const std::string& siteGbk) {
    database_.siteId = siteGbk;
    database_.platformFlag.reset();
    database_.failing.push_back("no_such_table");
  }
  ProductDatabase& database() override { return database_; }

 private:
  MemoryDatabase database_;
};

// The driver manager reads its configuration once per process: one root for all.
const TempRoot& OdbcRoot() {
  static const TempRoot* root = [] {
    auto* made = new TempRoot;  // never destroyed: the driver manager may use it at exit
    std::string error;
    EXPECT_TRUE(WriteOdbcConfig(made->dir() + "/odbc", OST_ODBC_DRIVER_PATH, made->dir() + "/db",
                                "ostra", "sa", "secret", &error, "GBK"))
        << error;
    setenv("ODBCSYSINI", (made->dir() + "/odbc").c_str(), 1);
    return made;
  }();
  return *root;
}

class OdbcDatabaseUnderTest : public DatabaseUnderTest {
 public:
  explicit OdbcDatabaseUnderTest(const std::string& siteGbk) {
    SandboxDbOptions options;
    options.siteId = GbkToUtf8(siteGbk);
    std::string error;
    const std::string db = OdbcRoot().dir() + "/db";
    EXPECT_TRUE(CreateSandboxDatabases(db, options, &error)) << error;
    EXPECT_TRUE(RunSandboxSql(db, "ostra", "DELETE FROM sys_dict WHERE dcname='29'", &error))
        << error;
  }
  ProductDatabase& database() override { return database_; }

 private:
  OdbcDatabase database_;
};

using Maker = std::function<std::unique_ptr<DatabaseUnderTest>(const std::string& siteGbk)>;

const std::string kSiteGbk = "\xd6\xd0\xce\xc4\xd6\xd0\xce\xc4";  // "中文中文"

class DatabaseContract : public ::testing::TestWithParam<Maker> {
 protected:
  void SetUp() override { provider_ = GetParam()(kSiteGbk); }
  ProductDatabase& db() { return provider_->database(); }
  std::unique_ptr<DatabaseUnderTest> provider_;
};

TEST_P(DatabaseContract, NotConnectedRunsNothing) {
  EXPECT_FALSE(db().connected());
  db().Close();
  EXPECT_EQ(db().Execute("DELETE FROM ostra.dbo.sys_dict").status, DbStatus::kNoHandle);
  EXPECT_EQ(db().QueryText(kSite, 128).outcome.status, DbStatus::kNoHandle);
  EXPECT_EQ(db().BeginTransaction().status, DbStatus::kNoHandle);

  const ProductDatabase::OpenResult refused = db().Open("ostra", "sa", "wrong");
  EXPECT_EQ(refused.failure, ProductDatabase::OpenFailure::kConnect);
  EXPECT_FALSE(refused.diagnostics.empty());
  EXPECT_FALSE(db().connected());
  EXPECT_EQ(db().QueryText(kSite, 128).outcome.status, DbStatus::kNoHandle);

  ASSERT_EQ(db().Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
  EXPECT_TRUE(db().connected());
  db().Close();
  EXPECT_FALSE(db().connected());
  EXPECT_EQ(db().QueryText(kSite, 128).outcome.status, DbStatus::kNoHandle);
}

TEST_P(DatabaseContract, ARefusedStatementComesBackWithItsRecords) {
  ASSERT_EQ(db().Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
  const DbText refused = db().QueryText(kRefused, 128);
  EXPECT_EQ(refused.outcome.status, DbStatus::kFailed);
  ASSERT_FALSE(refused.outcome.diagnostics.empty());
  EXPECT_EQ(refused.outcome.diagnostics[0].state.size(), 5u);
  // The connection stays usable.
  EXPECT_EQ(db().QueryText(kSite, 128).outcome.status, DbStatus::kOk);
}

TEST_P(DatabaseContract, TextIsCutBetweenCharactersAndNoRowIsFoundFalse) {
  ASSERT_EQ(db().Open("ostra", "sa", "secret").failure, ProductDatabase::OpenFailure::kNone);
  const DbText whole = db().QueryText(kSite, 128);
  EXPECT_EQ(whole.outcome.status, DbStatus::kOk);
  EXPECT_TRUE(whole.found);
  EXPECT_EQ(whole.bytes, kSiteGbk);
  EXPECT_FALSE(whole.overflowed);
  // Room for three bytes: the second character would be split, so one is kept.
  const DbText cut = db().QueryText(kSite, 4);
  EXPECT_TRUE(cut.found);
  EXPECT_EQ(cut.bytes, kSiteGbk.substr(0, 2));
  EXPECT_TRUE(cut.overflowed);
  const DbText none = db().QueryText(kFlag, 128);
  EXPECT_EQ(none.outcome.status, DbStatus::kOk);
  EXPECT_FALSE(none.found);
}

INSTANTIATE_TEST_SUITE_P(memory, DatabaseContract,
                         ::testing::Values(Maker([](const std::string& site) {
                           return std::unique_ptr<DatabaseUnderTest>(
                               new MemoryDatabaseUnderTest(site));
                         })));
INSTANTIATE_TEST_SUITE_P(posix, DatabaseContract,
                         ::testing::Values(Maker([](const std::string& site) {
                           return std::unique_ptr<DatabaseUnderTest>(
                               new OdbcDatabaseUnderTest(site));
                         })));

}  // namespace
}  // namespace ost::contract
