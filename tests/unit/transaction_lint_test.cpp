// The release tool's warning about statements SQL Server refuses inside a transaction.
#include "ost-release/transaction_lint.h"

#include <gtest/gtest.h>

namespace ost::release {
namespace {

TEST(TransactionLint, NamesEachRefusedStatementWithItsBatch) {
  const std::string script =
      "CREATE TABLE ostra.dbo.t (n INT)\r\nGO\r\n"
      "alter  database ostra SET RECOVERY SIMPLE\r\nGO\r\n"
      "BACKUP LOG ostra TO DISK = 'x'; CREATE FULLTEXT CATALOG c\r\nGO\r\n"
      "-- RESTORE DATABASE ostra in a comment\r\n"
      "SELECT 'CREATE DATABASE in a literal', backup FROM ostra.dbo.t\r\nGO\r\n"
      "/* nested /* CREATE DATABASE */ still a comment */ RESTORE DATABASE ostra\r\nGO\r\n";
  EXPECT_EQ(
      StatementsRefusedInTransaction(script),
      (std::vector<std::string>{"batch 2: ALTER DATABASE", "batch 3: BACKUP LOG",
                                "batch 3: CREATE FULLTEXT CATALOG", "batch 5: RESTORE DATABASE"}));
  // Text after the last separator is never sent, so never refused either.
  EXPECT_TRUE(StatementsRefusedInTransaction("SELECT 1\r\nGO\r\nCREATE DATABASE x\r\n").empty());
}

}  // namespace
}  // namespace ost::release
