// Database scripts: SQL text in batches, each ended by a "GO" line, sent one by one.
#include <string_view>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "db/product_database.h"
#include "util/text.h"

namespace ost {

bool UpdateDialog::RunSqlScript() {
  size_t unpacked = 0;
  if (!UnpackPackage(&unpacked)) {
    failed = 1;
    SetStepStatus(text::kUnpackFailed, false);
    return false;
  }
  // The buffer has one byte beyond its capacity for this terminator.
  char* text = reinterpret_cast<char*>(unpackBuffer.get());
  text[unpacked] = '\0';
  char* const end = text + unpacked;

  static constexpr char kSeparator[] = "GO\r\n";
  int batches = 0;
  int errors = 0;
  char* at = text;
  for (;;) {
    size_t found = std::string_view(at, static_cast<size_t>(end - at)).find(kSeparator);
    if (found == std::string_view::npos) break;
    char* separator = at + found;
    *separator = '\0';
    char* batch = at;
    while (*batch == '\r' || *batch == '\n' || *batch == ' ' || *batch == '\t') ++batch;
    ExecResult result = ExecuteRawStatement(run.dbConnection, batch);
    if (result == ExecResult::kNoHandle) {
      SetStepStatus(text::kDbStmtAllocFailed, false);
      return false;
    }
    if (result == ExecResult::kFailed) ++errors;
    ++batches;
    at = separator + 3;  // at the separator's line feed
  }
  SetStepStatus(Format(text::kScriptDone, batches, errors), true);
  return true;
}

}  // namespace ost
