// The record of a run in progress: written before the run's first service stop, kept
// up to date while a script runs, removed when the run ends. A record found at start-up
// is the trace of a run that was killed (or lost its power) half-way: the services it
// had stopped are started again at the end of the next run, and the rollback command
// starts them too. It lives in the tool's own folder (program folder\recovery), which
// only administrators and SYSTEM (the owner on Linux) may open.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_port.h"
#include "update/run_events.h"

namespace ost {

struct RecordedService {
  std::string name;
  int32_t stateBefore = 0;  // the service's state before the run (4 running)
};

// A change the run was about to make: kind ("route", "stop", "start", "file",
// "number", "script", "commit") and what it concerns.
struct RecordedChange {
  std::string kind;
  std::string target;
};

struct RunRecordFile {
  std::string runId;
  std::vector<RecordedService> services;
  std::string script;  // the request path of the script in progress; empty: none
  int batch = 0;       // its batch being sent, 1 for the first; 0: in one transaction
  // AutoRollback: written before the run's first change and again before each change,
  // for the recovery command.
  bool recoverable = false;
  // The run's scripts are held in one database transaction until its end: a run killed
  // before it reached the commit left none of them.
  bool scriptsHeld = false;
  std::vector<RecordedChange> changes;  // in the order they were begun
  // Whether the run had begun the given kind of change (and, if given, on that target).
  bool Began(const std::string& kind, const std::string& target = std::string()) const;
  // The services that were running before the run, in the record's order.
  std::vector<std::string> RunningBefore() const;
};

// The record's path, and reading, writing and removing it. Read: false when there is
// none or it cannot be read (what could be read is in *record); the batch under way is
// the record's, or a later one of its script's batch log. Remove takes the log too.
std::string RunRecordPath(const std::string& programDir);
// The batch log of a script run batch by batch: a line naming the run and the script,
// then one line per batch after the first, appended as it starts. Saving the record
// for each batch cost more than a short batch itself; a line costs one write. A line
// cut short by a kill or a power loss, and a log of another run or script, count for
// nothing: the record's batch, or the last whole line before it, stands.
std::string RunBatchLogPath(const std::string& programDir);
bool ReadRunRecord(FilePort& files, const std::string& programDir, RunRecordFile* record);
bool WriteRunRecord(FilePort& files, const std::string& programDir, const RunRecordFile& record);
void RemoveRunRecord(FilePort& files, const std::string& programDir);

// For the rollback command: the services that were running before a killed run (none
// when no run was killed), and the record removed, as the rollback takes it over.
std::vector<std::string> TakeInterruptedRunServices(FilePort& files, const std::string& programDir);

// Keeps this run's record, listening to the run; knows the earlier, interrupted one.
class RunRecordKeeper : public RunObserver {
 public:
  // Reads what an earlier run left.
  // recoverable: AutoRollback from the command line (the registry value is heard with
  // the configuration).
  RunRecordKeeper(FilePort& files, std::string programDir, std::string runId,
                  bool recoverable = false);

  // The record of a run that did not end; empty when the last run ended.
  const std::optional<RunRecordFile>& interrupted() const { return interrupted_; }
  // Whether the interrupted run found the service running before it.
  bool WasRunningBeforeInterruptedRun(const std::string& service) const;
  // The run has ended: the record goes, and with it the interrupted run's.
  void Finish();

  void OnConfigRead(const ConfigRead& read, const ServerConfig& config) override;
  void OnPlanBuilt(const Plan& plan, const ServiceTable& table) override;
  void OnChanging(RunChange what, const std::string& target) override;
  bool OnFileWriting(const PlanStep& step, const std::string& target, const std::string& fallback,
                     ByteSpan content) override;
  void OnPhaseChanged(RunPhase phase, const std::string& reason) override;
  void OnBatchStarting(const PlanStep& step, int batch) override;
  void OnScriptRun(const PlanStep& step, int batches, int errors) override;
  void OnScriptRolledBack(const PlanStep& step, int batches, const DbOutcome& outcome) override;

 private:
  bool Save();  // false: the record could not be written

  FilePort& files_;
  std::unique_ptr<File> batchLog_;  // open while a script runs batch by batch
  std::string programDir_;
  std::optional<RunRecordFile> interrupted_;
  RunRecordFile record_;
  bool writing_ = false;  // the update began: the record is on disk
};

}  // namespace ost
