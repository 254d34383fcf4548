// Database scripts: SQL text in batches, each ended by a "GO" line, sent one by one.
#include <string_view>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "db/product_database.h"
#include "update/sql_runner.h"
#include "util/text.h"

namespace ost {

int CutSqlBatches(char* text, size_t length, const std::function<bool(const char*)>& send) {
  static constexpr std::string_view kSeparator = "GO\r\n";
  text[length] = '\0';
  char* const end = text + length;
  int sent = 0;
  char* at = text;
  for (;;) {
    size_t found = std::string_view(at, static_cast<size_t>(end - at)).find(kSeparator);
    if (found == std::string_view::npos) break;
    char* separator = at + found;
    *separator = '\0';
    char* batch = at;
    while (*batch == '\r' || *batch == '\n' || *batch == ' ' || *batch == '\t') ++batch;
    if (!send(batch)) break;
    ++sent;
    at = separator + 3;  // at the separator's line feed
  }
  return sent;
}

bool UpdateDialog::RunSqlScript() {
  size_t unpacked = 0;
  if (!UnpackPackage(&unpacked)) {
    failed = 1;
    SetStepStatus(text::kUnpackFailed, false);
    return false;
  }
  int errors = 0;
  bool noHandle = false;
  // The buffer has one byte beyond its capacity for the terminator.
  int batches =
      CutSqlBatches(reinterpret_cast<char*>(unpackBuffer.get()), unpacked, [&](const char* batch) {
        ExecResult result = ExecuteRawStatement(run.dbConnection, batch);
        if (result == ExecResult::kNoHandle) {
          noHandle = true;
          return false;
        }
        if (result == ExecResult::kFailed) ++errors;
        return true;
      });
  if (noHandle) {
    SetStepStatus(text::kDbStmtAllocFailed, false);
    return false;
  }
  SetStepStatus(Format(text::kScriptDone, batches, errors), true);
  return true;
}

}  // namespace ost
