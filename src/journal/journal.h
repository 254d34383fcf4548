// The run journal: every event of an update run as one line of OstServerUpdate.log in
// the program folder, for whoever has to find out later what happened. UTF-8 with a
// byte-order mark, lines ended by CR LF (Notepad on any Windows reads it), rotated at
// 1 MB with three old files kept. The journal only listens: nothing it does, and no
// failure of its own, changes the run.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/file_port.h"
#include "platform/system_port.h"
#include "update/run_events.h"
#include "util/bytes.h"
#include "util/digest.h"

namespace ost {

class Journal : public RunObserver {
 public:
  using Digest = Sha256Hex;

  static constexpr char kFileName[] = "OstServerUpdate.log";
  static constexpr int64_t kRotateAt = 1000000;
  static constexpr int kOldFiles = 3;

  // programDir ends in its separator. The digest may be empty (no checksums then).
  Journal(FilePort& files, SystemPort& system, std::string programDir, Digest digest);
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens the journal (rotating it first when it has grown to kRotateAt) and writes
  // the run's header line. False when it cannot be written; later lines are dropped
  // then, and `problem` (when set) has been told why, once.
  bool Begin(const std::string& runId, const std::string& tool,
             std::function<void(const std::string&)> problem = {});
  bool healthy() const { return file_ != nullptr; }
  // Writes one line of its own (the rollback command's, say).
  void Note(const std::string& category, const std::string& text) { Line(category, text); }

  void OnConfigRead(const ConfigRead& read, const ServerConfig& config) override;
  void OnDatabaseOpened(const ProductDatabase::OpenResult& result) override;
  void OnInstallationRead(const InstallationFacts& facts, const ReadOutcome& outcome) override;
  void OnDownloadStarted(const std::string& updateHost, const std::string& requestPath) override;
  void OnDownloadDone(const DownloadReport& report) override;
  void OnNetworkChosen(const std::string& proxy, const std::string& source, bool failover) override;
  void OnFailover(const std::string& requestPath, const std::string& from, const std::string& to,
                  const std::string& why) override;
  void OnManifestEvaluated(ByteSpan bytes, const Manifest& manifest,
                           const ServiceTable& table) override;
  void OnDetailFileCompared(const std::string& line, int result) override;
  void OnPlanBuilt(const Plan& plan, const ServiceTable& table) override;
  void OnConfirmation(bool confirmed, int32_t routeChoice, const std::string& updateHost) override;
  void OnServiceEvent(const ServiceEvent& event) override;
  bool OnFileWriting(const PlanStep& step, const std::string& target, const std::string& fallback,
                     ByteSpan content) override;
  void OnFileWritten(const PlanStep& step, ByteSpan content, const WriteReport& report) override;
  void OnPackageStaged(const PlanStep& step, ByteSpan package, const std::string& folder) override;
  void OnScriptRun(const PlanStep& step, int batches, int errors) override;
  void OnBatchFailed(const BatchFailure& failure) override;
  void OnScriptRolledBack(const PlanStep& step, int batches, const DbOutcome& outcome) override;
  void OnComponentRecorded(const PlanStep& step, const DbOutcome& outcome) override;
  void OnPhaseChanged(RunPhase phase, const std::string& reason) override;
  void OnHealthChecked(const std::string& service, int seconds, int after, bool healthy) override;
  void OnAutoRollback(bool done, const std::vector<std::string>& lines) override;
  void OnBackupsUnavailable(const std::string& why) override;
  void OnInterruptedRunFound(const std::string& runId,
                             const std::vector<std::string>& runningBefore,
                             const std::string& script, int batch) override;
  void OnReleaseVerified(const ReleaseVerification& verification) override;

 private:
  void Line(const std::string& category, const std::string& text);
  void Fail(const std::string& why);
  std::string Path(int generation) const;
  // Shifts the old files and renames the journal to its first old name; false when
  // the journal is still there (held open by a viewer without delete sharing, say).
  bool Rotate();
  // Notes, once, that the journal stays in place and grows on.
  void SkipRotation(int error);
  std::string Checksum(ByteSpan bytes) const;

  FilePort& files_;
  SystemPort& system_;
  std::string programDir_;
  Digest digest_;
  bool rotationSkipped_ = false;  // the journal could not be renamed: it grows on
  std::string runId_;
  std::unique_ptr<File> file_;
  int64_t size_ = 0;
  std::function<void(const std::string&)> problem_;
  uint64_t downloadStarted_ = 0;
  std::string downloadHost_;
  std::string before_;  // what the file about to be written held
};

}  // namespace ost
