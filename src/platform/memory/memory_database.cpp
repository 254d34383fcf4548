#include "platform/memory/memory_database.h"

#include <algorithm>

#include "util/text.h"

namespace ost {

ProductDatabase::OpenResult MemoryDatabase::Open(const std::string& dataSource,
                                                 const std::string& user,
                                                 const std::string& password) {
  logins.push_back(dataSource + " " + user + " " + password);
  OpenResult result;
  if (openFailure) {
    result.failure = *openFailure;
  } else if (password != this->password) {
    result.failure = OpenFailure::kConnect;
    result.diagnostics.push_back(
        {"28000", 18456, "[OST][SQL Server stand-in]Login failed for user '" + user + "'."});
  }
  connected_ = result.failure == OpenFailure::kNone;
  return result;
}

DbOutcome MemoryDatabase::Run(const std::string& statement) {
  DbOutcome outcome;
  if (!connected_ || handlesLeft == 0) {
    outcome.status = DbStatus::kNoHandle;
    return outcome;
  }
  if (handlesLeft > 0) --handlesLeft;
  statements.push_back(statement);
  for (const std::string& part : failing) {
    if (statement.find(part) != std::string::npos) {
      outcome.status = DbStatus::kFailed;
      outcome.diagnostics.push_back({"42000", 50000, "refused: " + part});
      outcome.diagnostics.push_back({"01000", 0, "second record"});
    }
  }
  return outcome;
}

DbText MemoryDatabase::QueryText(const std::string& statement, size_t width) {
  DbText text;
  text.outcome = Run(statement);
  if (text.outcome.status != DbStatus::kOk) return text;
  const std::optional<std::string>* value = nullptr;
  if (statement.find("ostra.dbo.sys_version") != std::string::npos) value = &productVersion;
  if (statement.find("dcname='29'") != std::string::npos) value = &platformFlag;
  if (statement.find("dcname='45'") != std::string::npos) value = &siteId;
  if (statement.find("velin.dbo.web_main") != std::string::npos) value = &webRoot;
  if (statement.find("velin.dbo.sys_version") != std::string::npos) value = &velinVersion;
  if (!value || !*value) return text;
  text.found = true;
  // A buffer of width bytes keeps whole characters, as the driver fills it.
  text.bytes = std::string(CutGbk(**value, width - 1));
  text.overflowed = (*value)->size() > width - 1;
  return text;
}

DbPairs MemoryDatabase::QueryUnsignedPairs(const std::string& statement) {
  DbPairs pairs;
  pairs.outcome = Run(statement);
  if (pairs.outcome.status != DbStatus::kOk) return pairs;
  pairs.rows = updateNumbers;
  std::stable_sort(pairs.rows.begin(), pairs.rows.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  return pairs;
}

}  // namespace ost
