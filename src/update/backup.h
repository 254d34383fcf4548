// Backups: the files an update replaces, kept so that a rollback can put them back.
// Each run that writes anything gets program folder\backup\<run id>\ with a copy of every
// file before it is written over and backup.json describing them; the last three runs'
// backups are kept. The keeper only listens to the run: a copy that cannot be made is
// recorded as missing, and the update goes on as it would without it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/run_events.h"
#include "platform/file_port.h"
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
  bool replaced = false;  // the update did write over it
};

struct BackupRecord {
  std::string runId;
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
  // The runs that have a backup, oldest first (run ids sort by their start).
  static std::vector<std::string> Runs(FilePort& files, const std::string& programDir);
  static bool Load(FilePort& files, const std::string& folder, BackupRecord* record,
                   std::string* error);
  static bool Store(FilePort& files, const std::string& folder, const BackupRecord& record);
  // A whole file into content; false when it cannot be opened or read to its end.
  static bool ReadWhole(FilePort& files, const std::string& path, std::string* content);

  void OnPlanBuilt(const Plan& plan, const ServiceTable& table) override;
  void OnFileWriting(const PlanStep& step, const std::string& target,
                     const std::string& fallback) override;
  void OnFileWritten(const PlanStep& step, ByteSpan content, const WriteReport& report) override;
  void OnScriptRun(const PlanStep& step, int batches, int errors) override;

 private:
  bool Begin();
  void Keep(const PlanStep& step, const std::string& path);
  void Save();

  FilePort& files_;
  std::string programDir_;
  std::string folder_;
  Sha256Hex digest_;
  BackupRecord record_;
  bool begun_ = false;
  ServiceTable table_{};
};

}  // namespace ost
