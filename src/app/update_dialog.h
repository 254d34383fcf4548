// The update dialog: the one owner of all state of an update run. Its operations run
// on the UI thread; the download worker touches only the download job's buffer and
// length counters and reports back through posted messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/installation.h"
#include "net/download_job.h"
#include "platform/platform.h"
#include "system/config_store.h"
#include "ui/colour_list.h"
#include "update/manifest.h"
#include "update/plan.h"
#include "update/run_events.h"
#include "update/service_table.h"
#include "update/staging.h"
#include "util/bytes.h"

namespace ost {

class ReleaseCheck;
class RunRecordKeeper;

constexpr uint32_t kAboutCommand = 0x0010;

enum class ButtonState { kChecking, kPlanOffered, kUpdating, kFinished };

// What the operator chose beyond the documented behaviour (options of the front end).
struct RunOptions {
  bool stageFirst = false;  // download and check every package before anything is stopped
  // Told once when the run's journal cannot be written (the run goes on).
  std::function<void(const std::string&)> journalProblem;
  // The run's name; empty: the dialog makes one.
  std::string runId;
  // --proxy host:port: the proxy for this run, before UpdateProxy and WinHTTP's.
  std::string proxy;
  // --failover: a failed download goes once to the other route's host.
  bool failover = false;
  // Told when a download goes to the other host (a line of the headless run).
  std::function<void(const std::string&)> notice;
  // The record of the run in progress, and of an earlier run that was killed; none:
  // nobody keeps one.
  RunRecordKeeper* runRecord = nullptr;
  // A run that fails after it changed anything is rolled back by itself.
  bool autoRollback = false;
};

class UpdateDialog {
 public:
  // Construction: defaults, then the route file from programDir. The platform's
  // providers and the observer (none: nobody listens) must outlive the dialog.
  UpdateDialog(const Platform& platform, std::string programDir, RunObserver* observer = nullptr,
               RunOptions options = {});
  ~UpdateDialog();
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // The window's life cycle, called by the front ends on the UI thread.
  bool OnInitDialog();
  void OnClose();
  // True when handled; false asks the window for the default processing.
  bool OnSysCommand(uint32_t commandId);
  void OnStartClicked();
  void OnDownloadProgress(uintptr_t received, intptr_t flag);
  void OnDownloadDone(uintptr_t result, intptr_t lParam);
  // Routes a posted message to its handler; false for a message not ours.
  bool Dispatch(uint32_t msg, uintptr_t wParam, intptr_t lParam);

  // What the front ends show.
  const ColourList& progressList() const { return progressList_; }
  int RowCount() const { return progressList_.list().ItemCount(); }
  int32_t GetRowTag(int row) const { return progressList_.GetRowTag(row); }
  int32_t routeChoice() const { return routeChoice_; }
  int32_t closeOnClick() const { return closeOnClick_; }
  int32_t updateRunning() const { return updateRunning_; }
  int32_t failed() const { return failed_; }
  RunPhase phase() const { return phase_; }
  // A download worker has not finished yet (it may still post).
  bool DownloadRunning() const { return job_->liveWorkers.load() > 0; }

  // The run as read so far, for the modules beside the dialog.
  const ServerConfig& config() const { return config_; }
  const InstallationFacts& facts() const { return facts_; }
  const ServiceTable& serviceTable() const { return serviceTable_; }
  const Plan& plan() const { return plan_; }
  int32_t availableOstraVersion() const { return availableOstraVersion_; }
  int32_t availableVelinVersion() const { return availableVelinVersion_; }
  const std::vector<std::string>& detailFiles() const { return detailFiles_; }
  std::string RouteFilePath() const;
  // This run's name: its start, to the second, and four random hex digits.
  const std::string& runId() const { return runId_; }
  const std::string& programDir() const { return programDir_; }
  // The staged mode is on (the option, StageFirst in the configuration, or a signed
  // release: a signature refuses a release whole, before anything is stopped).
  bool staged() const { return options_.stageFirst || config_.stageFirst || release_ != nullptr; }
  // The automatic rollback: 0 none was needed (or asked for), 1 the run was rolled back
  // whole, -1 it was tried and could not complete.
  int32_t autoRolledBack() const { return autoRolledBack_; }

 private:
  // Check sequence.
  int RunCheckSequence();
  int LoadServerConfig();
  int OpenProductDatabase();
  int RequestManifest();

  // Manifest, plan and the download chain.
  void EvaluateManifest(ByteSpan bytes);
  int CompareDetailFile(std::string_view line);
  void BuildPlan();
  std::string ConfirmationText() const;
  void StopPlannedServices();
  void StartNextDownload();
  // The staged mode: keeps a downloaded package once it proved whole; false when not.
  bool KeepStaged(const PlanStep& step, ByteSpan package);
  // Hands the next staged package to the completion, as its download would.
  void ApplyNextStaged(const PlanStep& step);
  // Starts the worker on the job as it stands.
  void StartDownloadWorker();

  // The maker's signed index (UpdateKey set): fetched after the manifest, checked, and
  // every package checked against it before it is used.
  void RequestIndex();
  void OnIndexDownloaded(uintptr_t result, const DownloadReport& report);
  // The way to the update hosts, from the options and the configuration.
  void ChooseNetwork();
  // With failover on, a download that failed on its host goes once to the other
  // route's host: true when it was started there. `why` is for the record.
  bool FailOver(const std::string& why);
  // After a download that went to the other host: the route's host again. True when
  // the finished download was such a second try.
  bool EndFailover();
  // The staged mode's partial packages: the bytes an earlier run kept for the step go
  // into the receive buffer before its download; what a broken download brought is
  // kept; a package that came whole leaves nothing kept.
  void OfferPartial(const PlanStep& step);
  void KeepPartial(const PlanStep& step);
  void DropPartial(const PlanStep& step);
  std::string PartialKey(const PlanStep& step) const;
  bool PackageVouchedFor(const PlanStep& step, ByteSpan package);
  // Every step of the plan is listed in the index; false, with the check failed on the
  // first step that is not, before anything is offered.
  bool PlanVouchedFor();
  // Keeps the verified index's serial as the newest applied here (UpdateSerial) once
  // every package is here and vouched for, before anything is stopped or written;
  // false, with the run failed, when it cannot be kept.
  bool RecordAppliedSerial();

  // Completions.
  bool ApplyEntryPackage(const PlanStep& step, ByteSpan package);
  // A web DLL written at the fixed fallback path: its row names the path, in red.
  void ShowFallbackWrite(const ServiceEntry& entry, int row);
  bool ApplyDetailFile(const PlanStep& step, ByteSpan package);
  bool RunSqlScript(const PlanStep& step, ByteSpan package);
  // ScriptTransaction: the unpacked script in one transaction, whole or not at all.
  bool RunSqlScriptWhole(const PlanStep& step, size_t unpacked);
  BatchFailure FailureOf(int batchNumber, const char* batch, const DbOutcome& outcome) const;
  bool UnpackPackage(ByteSpan package, size_t* unpacked);
  // HealthSeconds: the started service must still run `seconds` later; the row (and
  // the waiting web DLL's row, when there is one) says so while it waits.
  bool StaysRunning(const std::string& service, int seconds, int waitingRow);
  ByteSpan Unpacked(size_t size) const { return {unpackBuffer_.get(), size}; }

  // The run's phase, and with it the documented flags and the start button.
  void SetPhase(RunPhase phase, const std::string& reason = {});
  void SetButtonState(ButtonState state);
  // A package could not be unpacked or written: the run stops for good.
  void MarkPackageFailed(const std::string& reason);
  // The run has ended, however: the services an earlier, killed run had stopped are
  // started again, and the run's record goes.
  void EndOfRun();
  // The component's service is started after its file: it ran before this run, or
  // before an earlier run that was killed.
  bool StartsAgain(const ServiceEntry& entry) const;
  // The run failed after its plan was begun: a package, a script, a start or a health
  // check (a plan row that ended red).
  bool WentWrong() const;
  // AutoRollback: this run's files and update numbers back through the rollback command,
  // the services that ran before it started again.
  void RollBackRun();
  // AutoRollback with ScriptTransaction: the run's scripts and update numbers stay in one
  // database transaction until the run ends, committed only when nothing went wrong.
  bool HoldsScripts() const {
    return (options_.autoRollback || config_.autoRollback) && config_.scriptTransaction;
  }
  void EndHeldTransaction();

  // Progress view.
  int InsertRow(int index, const std::string& stepText);
  void SetCell(int row, int column, const std::string& text);
  void SetStepStatus(const std::string& text, bool done);
  void SetRowColors(int row, Rgb text, Rgb back);
  void SetRowTag(int row, int32_t tag) { progressList_.SetRowTag(row, tag); }
  void SetStatusLine(const std::string& text);
  void SetProgress(int percent);

  void Beep(uint32_t hertz, uint32_t milliseconds) { platform_.system->Beep(hertz, milliseconds); }
  void FinishedBeeps();
  void DownloadFailedBeeps();
  void ShowDownloadFailure(const std::string& text);
  void Report(ServiceEvent::Action action, const std::string& service, int32_t result, int row,
              uint64_t sinceMs = 0, std::vector<std::string> dependents = {});

  Platform platform_;
  std::string programDir_;
  RunObserver* observer_;
  RunOptions options_;
  std::string runId_;

  // The download job, shared with the worker that runs it.
  std::shared_ptr<DownloadJob> job_;
  // The route's host while one download tries the other one; empty otherwise.
  std::string failoverFrom_;
  // The check of a signed release; null unless UpdateKey is set.
  std::unique_ptr<ReleaseCheck> release_;

  // What the check found.
  ServerConfig config_;
  InstallationFacts facts_;
  int32_t availableOstraVersion_ = 0;  // hundredths
  int32_t availableVelinVersion_ = 0;  // tenths

  // Plan and apply bookkeeping.
  int32_t velinEntry_ = -1;
  int32_t ostDataEntry_ = -1;
  int32_t webRow_ = -1;
  int32_t waitingWebRow_ = -1;  // the row of a web DLL waiting for the other one
  int32_t updateFound_ = 0;
  std::unique_ptr<uint8_t[]> unpackBuffer_;
  int32_t progressPercent_ = 0;
  int32_t inProgressHandler_ = 0;
  ServiceTable serviceTable_{};
  std::vector<std::string> detailFiles_;
  Plan plan_;
  size_t nextStep_ = 0;                 // the next step of the plan to download
  const PlanStep* inFlight_ = nullptr;  // the step whose download runs
  // How the chain goes: straight (download, apply, next), or the staged mode's two
  // rounds (every download first, then every package from the staging folder).
  enum class Chain { kDirect, kStaging, kApplyingStaged };
  Chain chain_ = Chain::kDirect;
  std::unique_ptr<Staging> staging_;

  // The run's phase and the flags that follow from it.
  RunPhase phase_ = RunPhase::kChecking;
  int32_t updateRunning_ = 0;
  int32_t closeOnClick_ = 1;
  int32_t failed_ = 0;
  int32_t autoRolledBack_ = 0;
  bool heldTransaction_ = false;  // begun by the first script, see HoldsScripts
  bool commitFailed_ = false;
  bool scriptsUndone_ = false;  // the held transaction was rolled back

  // Controls and the operator's choice.
  ColourList progressList_;
  int32_t routeChoice_ = 0;
  int32_t currentRow_ = 0;
};

}  // namespace ost
