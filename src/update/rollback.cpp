#include "update/rollback.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "app/run_id.h"
#include "app/texts.h"
#include "db/product_database.h"
#include "journal/journal.h"
#include "system/config_store.h"
#include "system/service_controller.h"
#include "update/backup.h"
#include "update/package_writer.h"
#include "update/run_record.h"
#include "util/text.h"

namespace ost {
namespace {

class Rollback {
 public:
  Rollback(const Platform& machine, const Sha256Hex& digest,
           const std::function<void(const std::string&)>& say)
      : m_(machine),
        digest_(digest),
        say_(say),
        programDir_(machine.system->ProgramFolder()),
        journal_(*machine.files, *machine.system, programDir_, digest) {}

  int Run(const std::string& wanted) {
    if (!m_.system->LockMachine()) {
      say_(text::kAlreadyRunning);
      return 1;
    }
    journal_.Begin(MakeRunId(*m_.system), std::string(text::kToolVersion) + " rollback");
    const std::vector<std::string> runs = BackupKeeper::Runs(*m_.files, programDir_);
    std::string runId = wanted;
    if (runId.empty()) {
      if (runs.empty()) return Refuse(text::kRollbackNothing, "no run has a backup");
      runId = runs.back();
    } else if (std::find(runs.begin(), runs.end(), runId) == runs.end()) {
      return Refuse(Format(text::kRollbackUnknownRun, runId.c_str()), "no backup of run " + runId);
    }
    const std::string folder = BackupKeeper::RunFolder(programDir_, runId);
    std::string error;
    if (!BackupKeeper::Load(*m_.files, folder, &record_, &error)) {
      return Refuse(Format(text::kRollbackUnreadable, runId.c_str()), error);
    }
    if (!record_.rolledBack.empty()) {
      return Refuse(Format(text::kRollbackAlready, runId.c_str()),
                    "run " + runId + " was rolled back at " + record_.rolledBack);
    }
    std::vector<const BackupFile*> replaced;
    for (const BackupFile& file : record_.files) {
      if (file.replaced) replaced.push_back(&file);
    }
    Say(Format(text::kRollbackStart, runId.c_str(), static_cast<int>(replaced.size())),
        "rolling back run " + runId + " from " + folder);

    StopServices(replaced);
    // A run killed half-way left stopped the services it had found running.
    for (const std::string& name : TakeInterruptedRunServices(*m_.files, programDir_)) {
      if (std::find(running_.begin(), running_.end(), name) == running_.end()) {
        running_.push_back(name);
      }
    }
    for (const BackupFile* file : replaced) Restore(folder, *file);
    StartServices();
    RecordNumbers(replaced);
    if (!record_.scripts.empty()) {
      Say(Format(text::kRollbackScripts, static_cast<int>(record_.scripts.size())),
          "the run's database scripts stay applied");
    }

    const LocalTime t = m_.system->Now();
    record_.rolledBack =
        Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    if (!BackupKeeper::Store(*m_.files, folder, record_)) {
      ++problems_;
      journal_.Note("ROLLBACK", "the backup record cannot be marked as rolled back");
    }
    if (problems_ > 0) {
      Say(Format(text::kRollbackIncomplete, problems_), "incomplete");
      return 1;
    }
    Say(text::kRollbackDone, "done");
    return 0;
  }

 private:
  int Refuse(const std::string& line, const std::string& why) {
    Say(line, "refused: " + why);
    return 1;
  }

  void Say(const std::string& line, const std::string& note) {
    say_(line);
    journal_.Note("ROLLBACK", note + " | " + line);
  }

  void StopServices(const std::vector<const BackupFile*>& files) {
    std::set<std::string> names;
    for (const BackupFile* file : files) {
      if (!file->service.empty()) names.insert(file->service);
    }
    for (const std::string& name : names) {
      if (QueryServiceState(*m_.services, name) != kServiceRunning) continue;
      running_.push_back(name);
      std::vector<std::string> dependents;
      const int32_t result = StopServiceAndWait(*m_.services, *m_.system, name, &dependents);
      if (result == kServiceStopped || result == kServiceNothingToDo) {
        Say(Format(text::kRollbackServiceStopped, name.c_str()), "stopped");
      } else {
        std::string detail = Format("stop result %d", static_cast<int>(result));
        if (!dependents.empty()) detail += "; dependent services running: " + Join(dependents);
        Say(Format(text::kRollbackServiceStopFailed, name.c_str()), detail);
      }
    }
  }

  void StartServices() {
    for (const std::string& name : running_) {
      const int32_t result = StartServiceAndWait(*m_.services, *m_.system, name);
      if (result == kServiceRunning || result == kServiceNothingToDo) {
        Say(Format(text::kRollbackServiceStarted, name.c_str()), "started");
      } else {
        ++problems_;
        Say(Format(text::kRollbackServiceStartFailed, name.c_str()),
            Format("start result %d", static_cast<int>(result)));
      }
    }
  }

  void NotRestored(const BackupFile& file, const char* why) {
    ++problems_;
    notRestored_.insert(file.slot);
    Say(Format(text::kRollbackNotRestored, file.original.c_str(), why), "not restored");
  }

  void Restore(const std::string& folder, const BackupFile& file) {
    if (!file.existed) {
      // There was nothing before the update: nothing is what it goes back to.
      if (m_.files->Remove(file.original) || !m_.files->Exists(file.original)) {
        Say(Format(text::kRollbackRemoved, file.original.c_str()), "removed");
      } else {
        NotRestored(file, text::kRollbackWriteFailed);
      }
      return;
    }
    std::string content;
    if (file.copy.empty() ||
        !BackupKeeper::ReadWhole(*m_.files, folder + "\\" + file.copy, &content)) {
      NotRestored(file, text::kRollbackNoCopy);
      return;
    }
    const std::string sum = digest_ ? digest_(ByteSpan::Of(content)) : std::string();
    if (static_cast<int64_t>(content.size()) != file.size ||
        (!file.sha256.empty() && !sum.empty() && sum != file.sha256)) {
      NotRestored(file, text::kRollbackCopyDamaged);
      return;
    }
    const WriteReport written =
        WritePackageFile(*m_.files, ByteSpan::Of(content), file.original, "");
    if (!written.written) {
      journal_.Note("ROLLBACK", Format("%s: failed at %s, system error %d", file.original.c_str(),
                                       written.failedStep.c_str(), written.error));
      NotRestored(file, text::kRollbackWriteFailed);
      return;
    }
    Say(Format(text::kRollbackRestored, file.original.c_str()),
        Format("%zu bytes, sha256 %s", content.size(), sum.c_str()));
  }

  // The database again says what is installed: the former update number of every
  // component whose files all went back.
  void RecordNumbers(const std::vector<const BackupFile*>& files) {
    std::map<int, const BackupFile*> components;
    for (const BackupFile* file : files) {
      if (file->slot >= 0 && notRestored_.count(file->slot) == 0) components[file->slot] = file;
    }
    if (components.empty()) return;
    ServerConfig config;
    const bool configured = ReadServerConfig(*m_.registry, &config).result == 1;
    ProductDatabase& database = *m_.database;
    ProductDatabase::OpenResult open;
    if (configured) open = database.Open(config.dataSourceName, config.dbUser, config.dbPassword);
    for (const auto& [slot, file] : components) {
      DbOutcome outcome;
      outcome.status = DbStatus::kNoHandle;
      if (configured && open.failure == ProductDatabase::OpenFailure::kNone) {
        outcome = database.Execute(
            Format("{CALL ostra.dbo.cp_sys_server_update_set(%d,%d,'%s','%s')}", slot,
                   static_cast<int>(file->oldNumber), QuoteSqlText(file->component).c_str(),
                   QuoteSqlText(
                       Format(text::kRollbackRecordDescription, static_cast<int>(file->oldNumber)))
                       .c_str()));
      }
      if (outcome.status == DbStatus::kOk) {
        Say(Format(text::kRollbackNumber, file->component.c_str(),
                   static_cast<int>(file->oldNumber)),
            Format("slot %d recorded", slot));
      } else {
        ++problems_;
        std::string why = !configured ? "no server configuration"
                          : open.failure != ProductDatabase::OpenFailure::kNone
                              ? "the database refused the connection"
                              : "the record statement failed";
        for (const DbDiagnostic& d :
             outcome.diagnostics.empty() ? open.diagnostics : outcome.diagnostics) {
          why += " [" + d.state + "] " + DbTextToUtf8(d.message);
        }
        Say(Format(text::kRollbackNumberFailed, file->component.c_str()), why);
      }
    }
    database.Close();
  }

  const Platform& m_;
  const Sha256Hex& digest_;
  const std::function<void(const std::string&)>& say_;
  std::string programDir_;
  Journal journal_;
  BackupRecord record_;
  std::vector<std::string> running_;
  std::set<int> notRestored_;
  int problems_ = 0;
};

}  // namespace

int RunRollback(const Platform& machine, const std::string& runId, const Sha256Hex& digest,
                const std::function<void(const std::string&)>& say) {
  Rollback rollback(machine, digest, say);
  return rollback.Run(runId);
}

}  // namespace ost
