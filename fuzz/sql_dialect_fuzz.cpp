// The stand-in driver's rewriting of SQL Server statements for SQLite, on any text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "sql_dialect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // In a string of its own size, so that a read past the text is caught.
  const std::string sql(reinterpret_cast<const char*>(data), size);
  std::string error;
  const std::string rewritten =
      ost::RewriteSqlServerDialect(std::string_view(sql.data(), sql.size()), &error);
  // A refusal gives no text.
  if (!error.empty()) FUZZ_CHECK(rewritten.empty());
  return 0;
}
