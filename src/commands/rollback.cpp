#include "commands/rollback.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>

#include "app/run_id.h"
#include "app/texts.h"
#include "db/installation.h"
#include "journal/journal.h"
#include "platform/database_port.h"
#include "system/config_store.h"
#include "system/service_controller.h"
#include "update/backup.h"
#include "update/catalogue.h"
#include "update/package_writer.h"
#include "update/plan.h"
#include "update/product_facts.h"
#include "update/run_record.h"
#include "util/text.h"
#include "util/windows_path.h"

namespace ost {
namespace {

constexpr char kFolderMovedNote[] =
    "the web folder leads elsewhere now: a link or junction made since it was checked";

class Rollback {
 public:
  Rollback(const Platform& machine, const Sha256Hex& digest,
           const std::function<void(const std::string&)>& say)
      : m_(machine),
        digest_(digest),
        say_(say),
        programDir_(machine.system->ProgramFolder()),
        journal_(*machine.files, *machine.system, programDir_, digest) {}

  // The recovery's: the killed run's services, its record left in place.
  void ForKilledRun(const std::vector<std::string>* runningBefore, bool scriptsUndone) {
    killedRun_ = runningBefore;
    scriptsUndone_ = scriptsUndone;
  }

  int Run(const std::string& wanted) {
    if (!m_.system->LockMachine()) {
      say_(text::kAlreadyRunning);
      return 1;
    }
    journal_.Begin(MakeRunId(*m_.system), std::string(text::kToolVersion) + " rollback");
    // Runs in the order they were made, by their stored sequence number.
    const std::vector<std::string> runs = BackupKeeper::Runs(*m_.files, programDir_);
    std::vector<BackupRecord> records;
    for (const std::string& id : runs) {
      BackupRecord record;
      std::string ignored;
      if (!BackupKeeper::Load(*m_.files, BackupKeeper::RunFolder(programDir_, id), &record,
                              &ignored)) {
        record.runId.clear();
      }
      record.runId = id;
      records.push_back(record);
    }
    std::string runId = wanted;
    if (runId.empty()) {
      if (runs.empty()) return Refuse(text::kRollbackNothing, "no run has a backup");
      runId = runs.back();  // the latest by sequence, whatever the clock said
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
    // A later run that wrote the same files and stands: putting this run's files back
    // would silently undo it, and its own rollback would then restore a state that
    // never was.
    const size_t at =
        static_cast<size_t>(std::find(runs.begin(), runs.end(), runId) - runs.begin());
    for (size_t later = at + 1; later < records.size(); ++later) {
      if (!records[later].rolledBack.empty()) continue;
      for (const BackupFile& theirs : records[later].files) {
        if (!theirs.replaced) continue;
        for (const BackupFile& ours : record_.files) {
          if (ours.replaced && SamePath(ours.original, theirs.original)) {
            return Refuse(Format(text::kRollbackLaterRun, runId.c_str(),
                                 records[later].runId.c_str(), records[later].runId.c_str()),
                          "run " + records[later].runId + " wrote " + theirs.original + " later");
          }
        }
      }
    }
    ReadPlaces();
    std::vector<Step> steps;
    for (const BackupFile& file : record_.files) {
      if (file.replaced) steps.push_back(Decide(folder, file));
    }
    int toDo = 0;
    for (const Step& step : steps)
      toDo += step.action == Action::kRestore || step.action == Action::kRemove;
    Say(Format(text::kRollbackStart, runId.c_str(), toDo),
        "rolling back run " + runId + " from " + folder);

    StopServices(steps);
    // A run killed half-way left stopped the services it had found running.
    for (const std::string& name :
         killedRun_ ? *killedRun_ : TakeInterruptedRunServices(*m_.files, programDir_)) {
      interrupted_.insert(name);
    }
    for (Step& step : steps) Carry(step);
    StartServices(steps);
    RecordNumbers(steps);
    if (!record_.scripts.empty() && !scriptsUndone_) {
      Say(Format(text::kRollbackScripts, static_cast<int>(record_.scripts.size())),
          "the run's database scripts stay applied");
    }
    if (problems_ > 0) {
      // Not marked: a later rollback of the same run may still finish it.
      Say(Format(text::kRollbackIncomplete, problems_), "incomplete");
      return 1;
    }
    const LocalTime t = m_.system->Now();
    record_.rolledBack =
        Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    if (!BackupKeeper::Store(*m_.files, folder, record_)) {
      journal_.Note("ROLLBACK", "the backup record cannot be marked as rolled back");
      Say(Format(text::kRollbackIncomplete, 1), "incomplete");
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

  enum class Action { kNothing, kRestore, kRemove, kRefused };
  struct Step {
    const BackupFile* file;
    Action action = Action::kNothing;
    std::string service;    // derived, never the record's
    std::string webFolder;  // the file's folder when it is the web folder, asked again
    const char* why = "";
    std::string content;  // the copy, for kRestore
    std::string note;
  };

  // Where the product's files may be: the web folder from the database and each
  // service's configured program, read now rather than taken from a record.
  void ReadPlaces() {
    ServerConfig config;
    configured_ = ReadServerConfig(*m_.registry, &config).result == 1;
    if (configured_) {
      open_ = m_.database->Open(config.dataSourceName, config.dbUser, config.dbPassword);
      if (open_.failure == ProductDatabase::OpenFailure::kNone) {
        InstallationFacts facts;
        ReadInstallation(*m_.database, *m_.files, &facts);
        cgiBinDir_ = facts.cgiBinDir;
      }
    }
  }

  // The path the file of this record entry must have, derived by the tool itself; the
  // entry's own path is taken only when it is that one.
  bool Derive(const BackupFile& file, std::string* service) {
    if (file.slot < 0) {
      // A detail file: a plain name in the web folder.
      const std::string name = BaseName(file.original);
      return !cgiBinDir_.empty() && !name.empty() && name != "." && name != ".." &&
             SamePath(file.original, cgiBinDir_ + "\\" + name);
    }
    const Component* component = nullptr;
    for (const Component& c : kCatalogue) {
      if (file.component == c.displayName) component = &c;
    }
    if (!component || file.slot >= kServiceCount) return false;
    if (component->inWebFolder) {
      *service = kWebServerService;
      return (!cgiBinDir_.empty() &&
              SamePath(file.original, cgiBinDir_ + "\\" + component->fileName)) ||
             SamePath(file.original, std::string(kWebFallbackFolder) + component->fileName);
    }
    *service = component->serviceName;
    std::string binary;
    if (ReadServiceBinaryPath(*m_.services, component->serviceName, &binary,
                              kServicePathCapacity) != 0) {
      return false;
    }
    return SamePath(file.original, InstallFolderOf(binary) + "\\" + component->fileName);
  }

  // What to do with one file, from what it holds now: only a file that still holds
  // what the run wrote is put back; one that holds what it held before needs nothing.
  Step Decide(const std::string& folder, const BackupFile& file) {
    Step step;
    step.file = &file;
    auto refuse = [&](const char* why, const std::string& note) {
      step.action = Action::kRefused;
      step.why = why;
      step.note = note;
      return step;
    };
    if (!Derive(file, &step.service)) {
      return refuse(text::kRollbackPathRefused,
                    "the record names a path the tool does not derive for this file");
    }
    if (file.slot < 0 || step.service == kWebServerService) {
      step.webFolder = file.original.substr(0, file.original.find_last_of("\\/"));
    }
    const PathKind kind = m_.files->Kind(file.original);
    std::string now;
    if (kind == PathKind::kFile && !BackupKeeper::ReadWhole(*m_.files, file.original, &now)) {
      return refuse(text::kRollbackChanged, "the file cannot be read now");
    }
    const std::string sum =
        kind == PathKind::kFile && digest_ ? digest_(ByteSpan::Of(now)) : std::string();
    if (kind == PathKind::kMissing && !file.existed) return step;  // as before
    if (kind != PathKind::kFile) return refuse(text::kRollbackChanged, "no plain file there now");
    if (file.existed && !file.sha256.empty() && sum == file.sha256) return step;
    if (!file.written.empty() && sum != file.written) {
      return refuse(text::kRollbackChanged,
                    "it holds neither what the run wrote nor what was there before: sha256 " + sum);
    }
    if (!file.existed) {
      step.action = Action::kRemove;
      return step;
    }
    // Only a copy under the name the keeper gives: "<position>-<file name>".
    bool own = false;
    for (size_t i = 0; i < record_.files.size(); ++i) {
      own = own || (&record_.files[i] == &file &&
                    file.copy == BackupKeeper::CopyName(i + 1, file.original));
    }
    if (file.copy.empty() || !own || m_.files->Kind(folder + "\\" + file.copy) != PathKind::kFile ||
        !BackupKeeper::ReadWhole(*m_.files, folder + "\\" + file.copy, &step.content)) {
      return refuse(text::kRollbackNoCopy, "no copy of its own");
    }
    const std::string copySum = digest_ ? digest_(ByteSpan::Of(step.content)) : std::string();
    if (static_cast<int64_t>(step.content.size()) != file.size ||
        (!file.sha256.empty() && !copySum.empty() && copySum != file.sha256)) {
      return refuse(text::kRollbackCopyDamaged, "the copy changed since it was made");
    }
    step.action = Action::kRestore;
    return step;
  }

  void StopServices(const std::vector<Step>& steps) {
    std::set<std::string> names;
    for (const Step& step : steps) {
      if (!step.service.empty() &&
          (step.action == Action::kRestore || step.action == Action::kRemove)) {
        names.insert(step.service);
      }
    }
    for (const std::string& name : names) {
      if (QueryServiceState(*m_.services, name) != kServiceRunning) continue;
      running_.insert(name);
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

  // Every service that ran before the update runs at the end, whoever stopped it: this
  // rollback, an earlier one that did not finish, or a run that was killed.
  void StartServices(const std::vector<Step>& steps) {
    std::set<std::string> wanted = running_;
    wanted.insert(interrupted_.begin(), interrupted_.end());
    for (const Step& step : steps) {
      if (!step.service.empty() && step.file->runningBefore) wanted.insert(step.service);
    }
    for (const std::string& name : wanted) {
      if (running_.count(name) == 0 && QueryServiceState(*m_.services, name) == kServiceRunning) {
        continue;
      }
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

  void NotRestored(const BackupFile& file, const char* why, const std::string& note) {
    ++problems_;
    notRestored_.insert(file.slot);
    Say(Format(text::kRollbackNotRestored, file.original.c_str(), why), "not restored: " + note);
  }

  void Carry(const Step& step) {
    const BackupFile& file = *step.file;
    switch (step.action) {
      case Action::kNothing:
        journal_.Note("ROLLBACK", file.original + ": holds what it held before the update");
        return;
      case Action::kRefused:
        NotRestored(file, step.why, step.note);
        return;
      case Action::kRemove:
        if (!FolderStillLocal(*m_.files, file.original, step.webFolder)) {
          NotRestored(file, text::kRollbackFolderMoved, kFolderMovedNote);
          return;
        }
        // There was nothing before the update: nothing is what it goes back to.
        if (m_.files->Remove(file.original) ||
            m_.files->Kind(file.original) == PathKind::kMissing) {
          Say(Format(text::kRollbackRemoved, file.original.c_str()), "removed");
        } else {
          NotRestored(file, text::kRollbackWriteFailed, "the file cannot be removed");
        }
        return;
      case Action::kRestore:
        break;
    }
    const WriteReport written =
        WritePackageFile(*m_.files, ByteSpan::Of(step.content), file.original, "", step.webFolder);
    if (written.failedStep == "folder") {
      NotRestored(file, text::kRollbackFolderMoved, kFolderMovedNote);
      return;
    }
    if (!written.written) {
      journal_.Note("ROLLBACK", Format("%s: failed at %s, system error %d", file.original.c_str(),
                                       written.failedStep.c_str(), written.error));
      NotRestored(file, text::kRollbackWriteFailed, "the write failed");
      return;
    }
    Say(Format(text::kRollbackRestored, file.original.c_str()),
        Format("%zu bytes, sha256 %s", step.content.size(), file.sha256.c_str()));
  }

  // The database again says what is installed: the former update number of every
  // component whose files all went back.
  void RecordNumbers(const std::vector<Step>& steps) {
    std::map<int, const BackupFile*> components;
    for (const Step& step : steps) {
      const BackupFile* file = step.file;
      if (file->slot >= 0 && notRestored_.count(file->slot) == 0) components[file->slot] = file;
    }
    if (components.empty()) return;
    const bool configured = configured_;
    ProductDatabase& database = *m_.database;
    const ProductDatabase::OpenResult& open = open_;
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
  }

  const Platform& m_;
  const Sha256Hex& digest_;
  const std::function<void(const std::string&)>& say_;
  std::string programDir_;
  Journal journal_;
  BackupRecord record_;
  std::set<std::string> running_;      // stopped by this rollback
  std::set<std::string> interrupted_;  // running before a run that was killed
  const std::vector<std::string>* killedRun_ = nullptr;
  bool scriptsUndone_ = false;  // the database undid them with the killed run's transaction
  bool configured_ = false;
  ProductDatabase::OpenResult open_;
  std::string cgiBinDir_;
  std::set<int> notRestored_;
  int problems_ = 0;
};

}  // namespace

int RunRollback(const Platform& machine, const std::string& runId, const Sha256Hex& digest,
                const std::function<void(const std::string&)>& say) {
  Rollback rollback(machine, digest, say);
  const int status = rollback.Run(runId);
  machine.database->Close();
  return status;
}

int RunRollbackOfKilledRun(const Platform& machine, const std::string& runId,
                           const std::vector<std::string>& runningBefore, bool scriptsUndone,
                           const Sha256Hex& digest,
                           const std::function<void(const std::string&)>& say) {
  Rollback rollback(machine, digest, say);
  rollback.ForKilledRun(&runningBefore, scriptsUndone);
  const int status = rollback.Run(runId);
  machine.database->Close();
  return status;
}

}  // namespace ost
