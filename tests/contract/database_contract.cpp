// The database port's contract.
#include <string>

#include "contract/contract.h"

namespace ost::contract {

const char kContractSiteGbk[] = "\xd6\xd0\xce\xc4\xd6\xd0\xce\xc4";

namespace {

constexpr char kSite[] = "SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='45'";
constexpr char kFlag[] = "SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='29'";
constexpr char kRefused[] = "SELECT dcvalue FROM ostra.dbo.no_such_table";

TEST_P(DatabaseContract, NotConnectedRunsNothing) {
  EXPECT_FALSE(provider().database().connected());
  provider().database().Close();
  EXPECT_EQ(provider().database().Execute("DELETE FROM ostra.dbo.sys_dict").status,
            DbStatus::kNoHandle);
  EXPECT_EQ(provider().database().QueryText(kSite, 128).outcome.status, DbStatus::kNoHandle);
  EXPECT_EQ(provider().database().BeginTransaction().status, DbStatus::kNoHandle);

  const ProductDatabase::OpenResult refused = provider().database().Open("ostra", "sa", "wrong");
  EXPECT_EQ(refused.failure, ProductDatabase::OpenFailure::kConnect);
  EXPECT_FALSE(refused.diagnostics.empty());
  EXPECT_FALSE(provider().database().connected());
  EXPECT_EQ(provider().database().QueryText(kSite, 128).outcome.status, DbStatus::kNoHandle);

  ASSERT_EQ(provider().database().Open("ostra", "sa", "secret").failure,
            ProductDatabase::OpenFailure::kNone);
  EXPECT_TRUE(provider().database().connected());
  provider().database().Close();
  EXPECT_FALSE(provider().database().connected());
  EXPECT_EQ(provider().database().QueryText(kSite, 128).outcome.status, DbStatus::kNoHandle);
}

TEST_P(DatabaseContract, ARefusedStatementComesBackWithItsRecords) {
  ASSERT_EQ(provider().database().Open("ostra", "sa", "secret").failure,
            ProductDatabase::OpenFailure::kNone);
  const DbText refused = provider().database().QueryText(kRefused, 128);
  EXPECT_EQ(refused.outcome.status, DbStatus::kFailed);
  ASSERT_FALSE(refused.outcome.diagnostics.empty());
  EXPECT_EQ(refused.outcome.diagnostics[0].state.size(), 5u);
  // The connection stays usable.
  EXPECT_EQ(provider().database().QueryText(kSite, 128).outcome.status, DbStatus::kOk);
}

TEST_P(DatabaseContract, TextIsCutBetweenCharactersAndNoRowIsFoundFalse) {
  const std::string site = kContractSiteGbk;
  ASSERT_EQ(provider().database().Open("ostra", "sa", "secret").failure,
            ProductDatabase::OpenFailure::kNone);
  const DbText whole = provider().database().QueryText(kSite, 128);
  EXPECT_EQ(whole.outcome.status, DbStatus::kOk);
  EXPECT_TRUE(whole.found);
  EXPECT_EQ(whole.bytes, site);
  EXPECT_FALSE(whole.overflowed);
  // Room for three bytes: the second character would be split, so one is kept.
  const DbText cut = provider().database().QueryText(kSite, 4);
  EXPECT_TRUE(cut.found);
  EXPECT_EQ(cut.bytes, site.substr(0, 2));
  EXPECT_TRUE(cut.overflowed);
  const DbText none = provider().database().QueryText(kFlag, 128);
  EXPECT_EQ(none.outcome.status, DbStatus::kOk);
  EXPECT_FALSE(none.found);
}

}  // namespace
}  // namespace ost::contract
