// Database scripts: SQL text in batches, each ended by a "GO" line, sent one by one.
#include "update/sql_runner.h"

#include <cstring>
#include <string_view>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "db/product_database.h"
#include "util/text.h"

namespace ost {

int CutSqlBatches(char* text, size_t length, const std::function<bool(const char*)>& send) {
  static constexpr std::string_view kSeparator = "GO\r\n";
  text[length] = '\0';
  // The text ends at its first zero byte; nothing after it is sent.
  char* const end = text + strnlen(text, length);
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

bool UpdateDialog::RunSqlScript(const PlanStep& step, ByteSpan package) {
  size_t unpacked = 0;
  if (!UnpackPackage(package, &unpacked)) {
    SetStepStatus(text::kUnpackFailed, false);
    MarkPackageFailed(step.requestPath + " does not unpack");
    return false;
  }
  // A zero byte with text after it would cut the script there: what follows would never
  // run, at every rerun, without a word. Nothing of it is sent; the row ends red.
  const char* script = reinterpret_cast<const char*>(unpackBuffer_.get());
  for (size_t at = strnlen(script, unpacked); at < unpacked; ++at) {
    if (script[at] == '\0') continue;
    observer_->OnScriptRun(step, 0, 0);
    SetStepStatus(text::kScriptCutByZero, false);
    SetRowColors(currentRow_, kAlertRed, kWhite);
    return true;
  }
  int errors = 0;
  int offered = 0;
  bool noHandle = false;
  // The buffer has one byte beyond its capacity for the terminator.
  int batches =
      CutSqlBatches(reinterpret_cast<char*>(unpackBuffer_.get()), unpacked, [&](const char* batch) {
        ++offered;
        const DbOutcome result = platform_.database->ExecuteRaw(batch);
        if (result.status == DbStatus::kNoHandle) {
          noHandle = true;
          return false;
        }
        if (result.status == DbStatus::kFailed) {
          ++errors;
          BatchFailure failure;
          failure.row = currentRow_;
          failure.batch = offered;
          std::string_view text(batch);
          failure.firstLine = std::string(text.substr(0, text.find_first_of("\r\n")));
          failure.diagnostics = result.diagnostics;
          observer_->OnBatchFailed(failure);
        }
        return true;
      });
  if (noHandle) {
    SetStepStatus(text::kDbStmtAllocFailed, false);
    return false;
  }
  observer_->OnScriptRun(step, batches, errors);
  SetStepStatus(Format(text::kScriptDone, batches, errors), true);
  return true;
}

}  // namespace ost
