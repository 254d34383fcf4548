// Database scripts: SQL text in batches, each ended by a "GO" line, sent one by one.
#include "update/sql_runner.h"

#include <cstring>
#include <string_view>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "platform/database_port.h"
#include "update/run_record.h"
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
  // The script an earlier, killed run was inside: said before it runs again.
  if (options_.runRecord && options_.runRecord->interrupted() &&
      options_.runRecord->interrupted()->script == step.requestPath) {
    const int batch = options_.runRecord->interrupted()->batch;
    SetStepStatus(batch == 0 ? Format(text::kInterruptedRunScriptWhole, step.targetPath.c_str())
                             : Format(text::kInterruptedRunScript, step.targetPath.c_str(), batch),
                  false);
  }
  if (config_.scriptTransaction) return RunSqlScriptWhole(step, unpacked);
  int errors = 0;
  int offered = 0;
  bool noHandle = false;
  // The buffer has one byte beyond its capacity for the terminator.
  int batches =
      CutSqlBatches(reinterpret_cast<char*>(unpackBuffer_.get()), unpacked, [&](const char* batch) {
        ++offered;
        observer_->OnBatchStarting(step, offered);
        const DbOutcome result = platform_.database->ExecuteRaw(batch);
        if (result.status == DbStatus::kNoHandle) {
          noHandle = true;
          return false;
        }
        if (result.status == DbStatus::kFailed) {
          ++errors;
          observer_->OnBatchFailed(FailureOf(offered, batch, result));
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

BatchFailure UpdateDialog::FailureOf(int batchNumber, const char* batch,
                                     const DbOutcome& outcome) const {
  BatchFailure failure;
  failure.row = currentRow_;
  failure.batch = batchNumber;
  std::string_view text(batch);
  failure.firstLine = std::string(text.substr(0, text.find_first_of("\r\n")));
  failure.diagnostics = outcome.diagnostics;
  return failure;
}

// The script in one transaction: every batch applies, or none does. The first batch that
// fails rolls the whole script back and stops the run.
bool UpdateDialog::RunSqlScriptWhole(const PlanStep& step, size_t unpacked) {
  ProductDatabase& database = *platform_.database;
  auto refuse = [&](const std::string& status, const std::string& reason) {
    SetStepStatus(status, false);
    SetRowColors(currentRow_, kAlertRed, kWhite);
    failed_ = 1;
    SetPhase(RunPhase::kFailed, reason);
    return false;
  };
  auto message = [](const DbOutcome& outcome) {
    return outcome.diagnostics.empty() ? std::string()
                                       : DbTextToUtf8(outcome.diagnostics.front().message);
  };
  DbOutcome begun = database.BeginTransaction();
  if (begun.status == DbStatus::kNoHandle) {
    SetStepStatus(text::kDbStmtAllocFailed, false);
    return false;
  }
  // SQL Server rolls the whole transaction back at a failing statement only with
  // XACT_ABORT; without it some errors end the statement alone.
  if (begun.status == DbStatus::kOk) begun = database.ExecuteRaw("SET XACT_ABORT ON");
  if (begun.status != DbStatus::kOk) {
    database.EndTransaction(false);
    return refuse(Format(text::kScriptTransactionFailed, message(begun).c_str()),
                  step.requestPath + ": no transaction could be begun");
  }
  // Batch 0: the whole script is under way; none of it stays unless all of it does.
  observer_->OnBatchStarting(step, 0);
  int offered = 0;
  DbOutcome failedBatch;
  int batches =
      CutSqlBatches(reinterpret_cast<char*>(unpackBuffer_.get()), unpacked, [&](const char* batch) {
        ++offered;
        const DbOutcome result = database.ExecuteRaw(batch);
        if (result.status == DbStatus::kOk) return true;
        failedBatch = result;
        if (result.status == DbStatus::kFailed) {
          observer_->OnBatchFailed(FailureOf(offered, batch, result));
        }
        return false;
      });
  if (failedBatch.status != DbStatus::kOk) {
    const DbOutcome undone = database.EndTransaction(false);
    observer_->OnScriptRolledBack(step, offered, undone);
    if (failedBatch.status == DbStatus::kNoHandle) {
      SetStepStatus(text::kDbStmtAllocFailed, false);
      return false;
    }
    return refuse(Format(text::kScriptRolledBack, offered, message(failedBatch).c_str()),
                  Format("batch %d of %s failed: the script was rolled back whole", offered,
                         step.requestPath.c_str()));
  }
  const DbOutcome committed = database.EndTransaction(true);
  if (committed.status != DbStatus::kOk) {
    observer_->OnScriptRolledBack(step, batches, committed);
    return refuse(Format(text::kScriptTransactionFailed, message(committed).c_str()),
                  step.requestPath + ": the commit failed");
  }
  observer_->OnScriptRun(step, batches, 0);
  SetStepStatus(Format(text::kScriptDone, batches, 0), true);
  return true;
}

}  // namespace ost
