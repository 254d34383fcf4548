// Backups: the files an update replaces, kept so that a rollback can put them back.
// Each run that writes anything gets program folder\backup\<run id>\ with a copy of every
// file before it is written over and backup.json describing them, saved before each
// write; the last three runs' backups are kept. The keeper listens to the run and has
// one answer: a file that is there but cannot be copied (unreadable, a link, no backup
// folder of the tool's own) is not written over, for there would be no way back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_port.h"
#include "update/run_events.h"
#include "util/digest.h"

namespace ost {

struct BackupFile {
  std::string original;    // the path the update wrote over
  std::string copy;        // the copy's name in the run's folder; empty when none was made
  bool existed = false;    // there was a file before the update
  int64_t size = -1;       // of the former file
  std::string sha256;      // of the former file
  std::string service;     // the service that holds the file ("W3SVC" for the web's)
  int slot = -1;           // the component's service table slot; -1 for a detail file
  std::string component;   // its name as the plan shows it
  int32_t oldNumber = -1;  // the component's update numbers, before and after
  int32_t newNumber = -1;
  bool replaced = false;       // the update was about to write over it (or did)
  std::string written;         // SHA-256 of what the update writes there
  bool runningBefore = false;  // its service ran before the update
};

struct BackupRecord {
  std::string runId;
  int64_t sequence = 0;  // runs are ordered by it: 1 for the first run with a backup
  std::vector<BackupFile> files;
  std::vector<std::string> scripts;  // the database scripts the run applied
  std::string rolledBack;            // when it was rolled back; empty: not yet
};

class BackupKeeper : public RunObserver {
 public:
  static constexpr int kRunsKept = 3;
  static constexpr char kRecordName[] = "backup.json";

  BackupKeeper(FilePort& files, std::string programDir, std::string runId, Sha256Hex digest);

  // The folder that holds every run's backup, and the one of a run.
  static std::string BackupsFolder(const std::string& programDir);
  static std::string RunFolder(const std::string& programDir, const std::string& runId);
  // Why no backup can be kept in this program folder, as far as can be told without
  // making anything: a network path (\\server\share\...), whose access list the tool
  // cannot vouch for, or a backup folder that is a link or no folder. Empty: none known.
  static std::string Unavailable(FilePort& files, const std::string& programDir);
  // Whether a name is one the tool gives a run ("20261209-103005-1a2b").
  static bool IsRunId(const std::string& name);
  // The runs that have a backup, oldest first by their sequence number: only real
  // folders named like runs, in a backup folder that is no link.
  static std::vector<std::string> Runs(FilePort& files, const std::string& programDir);
  // A copy's name as the keeper gives it: "<position>-<the original's file name>".
  static std::string CopyName(size_t position, const std::string& original);
  static bool Load(FilePort& files, const std::string& folder, BackupRecord* record,
                   std::string* error);
  static bool Store(FilePort& files, const std::string& folder, const BackupRecord& record);
  // A whole file into content; false when it cannot be opened or read to its end.
  static bool ReadWhole(FilePort& files, const std::string& path, std::string* content);

  void OnPlanBuilt(const Plan& plan, const ServiceTable& table) override;
  // Says why a file could not be kept (the journal's note).
  void SetNote(std::function<void(const std::string&)> note) { note_ = std::move(note); }

  bool OnFileWriting(const PlanStep& step, const std::string& target, const std::string& fallback,
                     ByteSpan content) override;
  void OnFileWritten(const PlanStep& step, ByteSpan content, const WriteReport& report) override;
  void OnScriptRun(const PlanStep& step, int batches, int errors) override;

 private:
  bool Begin();
  bool Keep(const PlanStep& step, const std::string& path, const std::string& written);
  void Save();
  void Note(const std::string& text) {
    if (note_) note_(text);
  }

  FilePort& files_;
  std::string programDir_;
  std::string folder_;
  Sha256Hex digest_;
  BackupRecord record_;
  bool begun_ = false;
  bool failed_ = false;
  ServiceTable table_{};
  std::function<void(const std::string&)> note_;
  // The entries of the file being written: their position, and whether this write
  // added them.
  std::vector<std::pair<size_t, bool>> pending_;
};

}  // namespace ost
