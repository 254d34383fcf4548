// Database scripts: the unpacked SQL text's batches sent one by one.
#include "update/sql_runner.h"

#include <cstring>
#include <string_view>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "platform/database_port.h"
#include "update/run_record.h"
#include "util/text.h"

namespace ost {

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
  observer_->OnChanging(RunChange::kScript, step.requestPath);
  if (config_.scriptTransaction) return RunSqlScriptWhole(step, unpacked);
  // The buffer has one byte beyond its capacity for the terminator.
  const BatchesSent sent = SendSqlBatches(
      *platform_.database, *observer_, step, reinterpret_cast<char*>(unpackBuffer_.get()), unpacked,
      false, [&](int number, const char* batch, const DbOutcome& result) {
        observer_->OnBatchFailed(FailureOf(number, batch, result));
      });
  if (sent.stop.status == DbStatus::kNoHandle) {
    SetStepStatus(text::kDbStmtAllocFailed, false);
    return false;
  }
  observer_->OnScriptRun(step, sent.sent, sent.failed);
  SetStepStatus(Format(text::kScriptDone, sent.sent, sent.failed), true);
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
  // Held for the whole run, the transaction is begun by its first script only.
  DbOutcome begun;
  if (!heldTransaction_) {
    begun = database.BeginTransaction();
    if (begun.status == DbStatus::kNoHandle) {
      SetStepStatus(text::kDbStmtAllocFailed, false);
      return false;
    }
    // SQL Server rolls the whole transaction back at a failing statement only with
    // XACT_ABORT; without it some errors end the statement alone.
    if (begun.status == DbStatus::kOk) begun = database.ExecuteRaw("SET XACT_ABORT ON");
    heldTransaction_ = begun.status == DbStatus::kOk && HoldsScripts();
  }
  if (begun.status != DbStatus::kOk) {
    database.EndTransaction(false);
    return refuse(Format(text::kScriptTransactionFailed, message(begun).c_str()),
                  step.requestPath + ": no transaction could be begun");
  }
  const BatchesSent sent =
      SendSqlBatches(database, *observer_, step, reinterpret_cast<char*>(unpackBuffer_.get()),
                     unpacked, true, [&](int number, const char* batch, const DbOutcome& result) {
                       observer_->OnBatchFailed(FailureOf(number, batch, result));
                     });
  if (sent.stop.status != DbStatus::kOk) {
    scriptsUndone_ = heldTransaction_;
    heldTransaction_ = false;
    const DbOutcome undone = database.EndTransaction(false);
    observer_->OnScriptRolledBack(step, sent.sent, undone);
    if (sent.stop.status == DbStatus::kNoHandle) {
      SetStepStatus(text::kDbStmtAllocFailed, false);
      return false;
    }
    return refuse(Format(text::kScriptRolledBack, sent.sent, message(sent.stop).c_str()),
                  Format("batch %d of %s failed: the script was rolled back whole", sent.sent,
                         step.requestPath.c_str()));
  }
  if (heldTransaction_) {
    // Committed with the run's end, with the update numbers recorded meanwhile.
    observer_->OnScriptRun(step, sent.sent, 0);
    SetStepStatus(Format(text::kScriptDone, sent.sent, 0), true);
    return true;
  }
  const DbOutcome committed = database.EndTransaction(true);
  if (committed.status != DbStatus::kOk) {
    observer_->OnScriptRolledBack(step, sent.sent, committed);
    return refuse(Format(text::kScriptTransactionFailed, message(committed).c_str()),
                  step.requestPath + ": the commit failed");
  }
  observer_->OnScriptRun(step, sent.sent, 0);
  SetStepStatus(Format(text::kScriptDone, sent.sent, 0), true);
  return true;
}

}  // namespace ost
