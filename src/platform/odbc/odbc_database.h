// The database provider of both builds: the ODBC 3 API of the platform's driver manager
// (ODBC32 or unixODBC).
#pragma once

#include <string>
#include <string_view>

#include "platform/database_port.h"

namespace ost {

class OdbcDatabase : public ProductDatabase {
 public:
  OdbcDatabase() = default;
  ~OdbcDatabase() override;
  OdbcDatabase(const OdbcDatabase&) = delete;
  OdbcDatabase& operator=(const OdbcDatabase&) = delete;

  OpenResult Open(const std::string& dataSource, const std::string& user,
                  const std::string& password) override;
  bool connected() const override { return connected_; }
  void Close() override;
  DbOutcome Execute(const std::string& statement) override;
  DbOutcome ExecuteRaw(std::string_view statement) override;
  DbText QueryText(const std::string& statement, size_t width) override;
  DbPairs QueryUnsignedPairs(const std::string& statement) override;
  DbOutcome BeginTransaction() override;
  DbOutcome EndTransaction(bool commit) override;

 private:
  void* environment_ = nullptr;
  void* connection_ = nullptr;
  bool connected_ = false;
};

}  // namespace ost
