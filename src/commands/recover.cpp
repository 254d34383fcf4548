#include "commands/recover.h"

#include <algorithm>
#include <vector>

#include "app/run_id.h"
#include "app/texts.h"
#include "db/installation.h"
#include "platform/database_port.h"
#include "journal/journal.h"
#include "system/config_store.h"
#include "system/service_controller.h"
#include "update/backup.h"
#include "update/package_writer.h"
#include "commands/rollback.h"
#include "update/run_record.h"
#include "util/text.h"

namespace ost {
namespace {

enum class Commit { kNotMade, kMade, kUnknown };

// Whether the killed run's held transaction was committed. The update numbers it
// recorded inside it tell: the database shows either all of the transaction or none.
Commit CommitOf(const Platform& m, const RunRecordFile& run, const BackupRecord* backup) {
  if (!run.scriptsHeld || !run.Began("commit")) return Commit::kNotMade;
  if (!backup) return Commit::kUnknown;
  ServerConfig config;
  if (ReadServerConfig(*m.registry, &config).result != 1) return Commit::kUnknown;
  const ProductDatabase::OpenResult open =
      m.database->Open(config.dataSourceName, config.dbUser, config.dbPassword);
  if (open.failure != ProductDatabase::OpenFailure::kNone) return Commit::kUnknown;
  InstallationFacts facts;
  ReadInstallation(*m.database, *m.files, &facts);
  m.database->Close();
  Commit found = Commit::kUnknown;
  for (const BackupFile& file : backup->files) {
    if (file.slot < 0 || file.slot >= kServiceCount || file.oldNumber == file.newNumber ||
        !run.Began("number", file.component)) {
      continue;
    }
    const int32_t now = facts.componentNumbers[static_cast<size_t>(file.slot)];
    if (now == file.newNumber) return Commit::kMade;
    if (now == file.oldNumber) found = Commit::kNotMade;
  }
  return found;
}

class Recovery {
 public:
  Recovery(const Platform& m, const Sha256Hex& digest,
           const std::function<void(const std::string&)>& say)
      : m_(m), digest_(digest), say_(say), programDir_(m.system->ProgramFolder()) {}

  int Run() {
    if (!m_.system->LockMachine()) {
      say_(text::kAlreadyRunning);
      return 1;
    }
    const std::string path = RunRecordPath(programDir_);
    if (m_.files->Kind(path) == PathKind::kMissing) {
      say_(text::kRecoverNothing);
      return 0;
    }
    RunRecordFile run;
    if (!ReadRunRecord(*m_.files, programDir_, &run)) {
      Tell(Format(text::kRecoverUnreadable, path.c_str()));
      return End(1);
    }
    Tell(Format(text::kRecoverStart, run.runId.c_str()));
    BackupRecord backup;
    std::string error;
    const std::vector<std::string> runs = BackupKeeper::Runs(*m_.files, programDir_);
    const bool backedUp =
        std::find(runs.begin(), runs.end(), run.runId) != runs.end() &&
        BackupKeeper::Load(*m_.files, BackupKeeper::RunFolder(programDir_, run.runId), &backup,
                           &error);
    // A write the kill cut short left its temporary file beside the target.
    std::vector<std::string> written;
    for (const RecordedChange& change : run.changes) {
      if (change.kind == "file") written.push_back(change.target);
    }
    for (const BackupFile& file : backup.files) written.push_back(file.original);
    for (const std::string& target : written) {
      if (RemoveWriteLeftovers(*m_.files, target) < 0) {
        stayed_.push_back(Format(text::kRecoverLeftover, target.c_str()));
      }
    }
    const Commit commit = CommitOf(m_, run, backedUp ? &backup : nullptr);
    if (commit == Commit::kMade) {
      // Every change was made: the run is finished rather than undone halfway.
      StartServices(run.RunningBefore());
      if (!stayed_.empty()) return Incomplete(true);
      RemoveRunRecord(*m_.files, programDir_);
      Tell(Format(text::kRecoverCommitted, run.runId.c_str()));
      return End(0);
    }
    const std::vector<std::string> scripts = ScriptsOf(run, backup);
    if (commit == Commit::kUnknown) {
      StartServices(run.RunningBefore());
      stayed_.push_back(Format(text::kRecoverUndecided, Join(scripts).c_str()));
      return Incomplete(true);
    }
    const bool undone = run.scriptsHeld;
    if (backedUp && backup.rolledBack.empty()) {
      // Its lines go to the operator and to the journal as the rollback's own.
      const int status =
          RunRollbackOfKilledRun(m_, run.runId, run.RunningBefore(), undone, digest_, say_);
      if (status != 0) stayed_.push_back(text::kRecoverFilesStay);
    } else {
      // Nothing was written over (or an automatic rollback put it back): only the
      // services it stopped.
      StartServices(run.RunningBefore());
    }
    const bool retry = !stayed_.empty();
    if (!scripts.empty() && undone) {
      Tell(Format(text::kRecoverScriptsUndone, Join(scripts).c_str()));
    } else if (!scripts.empty()) {
      stayed_.push_back(Format(text::kRecoverScriptsStay, Join(scripts).c_str()));
    }
    if (!stayed_.empty()) return Incomplete(retry);
    RemoveRunRecord(*m_.files, programDir_);
    Tell(Format(text::kRecoverDone, run.runId.c_str()));
    return End(0);
  }

 private:
  // The scripts the run applied, wholly or in part.
  static std::vector<std::string> ScriptsOf(const RunRecordFile& run, const BackupRecord& backup) {
    std::vector<std::string> scripts;
    auto add = [&](const std::string& script) {
      if (!script.empty() && std::find(scripts.begin(), scripts.end(), script) == scripts.end()) {
        scripts.push_back(script);
      }
    };
    for (const RecordedChange& change : run.changes) {
      if (change.kind == "script") add(change.target);
    }
    for (const std::string& script : backup.scripts) add(script);
    // A script whose transaction was under way when the run was killed left nothing.
    if (!run.scriptsHeld && run.batch == 0 && !run.script.empty() &&
        std::find(backup.scripts.begin(), backup.scripts.end(), run.script) ==
            backup.scripts.end()) {
      scripts.erase(std::remove(scripts.begin(), scripts.end(), run.script), scripts.end());
    }
    return scripts;
  }

  void StartServices(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      if (QueryServiceState(*m_.services, name) == kServiceRunning) continue;
      const int32_t result = StartServiceAndWait(*m_.services, *m_.system, name);
      if (result == kServiceRunning || result == kServiceNothingToDo) {
        Tell(Format(text::kRollbackServiceStarted, name.c_str()));
      } else {
        Tell(Format(text::kRollbackServiceStartFailed, name.c_str()));
        stayed_.push_back(Format(text::kRecoverServicesStay, name.c_str()));
      }
    }
  }

  // retry: the record stays for another recovery; without it nothing is left to try.
  int Incomplete(bool retry) {
    if (!retry) RemoveRunRecord(*m_.files, programDir_);
    Tell(Format(text::kRecoverIncomplete, Join(stayed_).c_str()));
    return End(1);
  }

  void Tell(const std::string& line) {
    say_(line);
    lines_.push_back(line);
  }

  // The recovery's own lines in the journal, after the rollback's.
  int End(int status) {
    Journal journal(*m_.files, *m_.system, programDir_, digest_);
    journal.Begin(MakeRunId(*m_.system), std::string(text::kToolVersion) + " recover");
    for (const std::string& line : lines_) journal.Note("RECOVER", line);
    journal.Note("RECOVER", Format("exit status %d", status));
    return status;
  }

  const Platform& m_;
  const Sha256Hex& digest_;
  const std::function<void(const std::string&)>& say_;
  std::string programDir_;
  std::vector<std::string> stayed_;
  std::vector<std::string> lines_;
};

}  // namespace

int RunRecover(const Platform& machine, const Sha256Hex& digest,
               const std::function<void(const std::string&)>& say) {
  Recovery recovery(machine, digest, say);
  const int status = recovery.Run();
  machine.database->Close();
  return status;
}

}  // namespace ost
