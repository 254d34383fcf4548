// The database port in memory: the product database as the check reads it, and a record
// of every statement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/database_port.h"

namespace ost {

// The product database as the check reads it, and a record of every statement.
class MemoryDatabase : public ProductDatabase {
 public:
  OpenResult Open(const std::string& dataSource, const std::string& user,
                  const std::string& password) override;
  bool connected() const override { return connected_; }
  void Close() override {
    if (connected_) ++closes;
    connected_ = false;
  }
  DbOutcome Execute(const std::string& statement) override { return Run(statement); }
  DbOutcome ExecuteRaw(std::string_view statement) override { return Run(std::string(statement)); }
  DbText QueryText(const std::string& statement, size_t width) override;
  DbPairs QueryUnsignedPairs(const std::string& statement) override;
  // Recorded among the statements as "BEGIN TRANSACTION", "COMMIT" and "ROLLBACK".
  DbOutcome BeginTransaction() override { return Run("BEGIN TRANSACTION"); }
  DbOutcome EndTransaction(bool commit) override { return Run(commit ? "COMMIT" : "ROLLBACK"); }

  // What the database holds; an empty optional is no row.
  std::optional<std::string> productVersion = "3.80";
  std::vector<std::pair<uint32_t, uint32_t>> updateNumbers = {{0, 10}, {1, 10}, {2, 10},
                                                              {3, 10}, {4, 10}, {5, 10}};
  std::optional<std::string> platformFlag = "1";  // dictionary '29'
  std::optional<std::string> siteId = "site";     // dictionary '45'
  std::optional<std::string> webRoot = "D:\\wwwroot";
  std::optional<std::string> velinVersion = "7.0";

  std::string password = "secret";  // a login with another is refused
  std::optional<ProductDatabase::OpenFailure> openFailure;
  std::vector<std::string> failing;  // a statement holding one of these fails
  int handlesLeft = -1;              // statement handles still to be had; -1: no limit

  std::vector<std::string> statements;  // every statement, in order
  std::vector<std::string> logins;      // "source user password"
  int closes = 0;

 private:
  DbOutcome Run(const std::string& statement);
  bool connected_ = false;
};

}  // namespace ost
