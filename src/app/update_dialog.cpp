#include "app/update_dialog.h"

#include <algorithm>
#include <new>

#include "app/route_file.h"
#include "app/run_id.h"
#include "app/startup.h"
#include "app/texts.h"
#include "commands/rollback.h"
#include "system/service_controller.h"
#include "update/backup.h"
#include "update/release_check.h"
#include "update/run_record.h"
#include "util/text.h"

namespace ost {
namespace {

// Stands in when nobody observes the run.
RunObserver& Nobody() {
  static RunObserver nobody;
  return nobody;
}

}  // namespace

const char* PhaseName(RunPhase phase) {
  switch (phase) {
    case RunPhase::kChecking:
      return "checking";
    case RunPhase::kPlanOffered:
      return "plan offered";
    case RunPhase::kUpdating:
      return "updating";
    case RunPhase::kFinished:
      return "finished";
    case RunPhase::kFailed:
      return "failed";
    case RunPhase::kClosed:
      return "closed";
  }
  return "?";
}

UpdateDialog::UpdateDialog(const Platform& platform, std::string programDir, RunObserver* observer,
                           RunOptions options)
    : platform_(platform),
      programDir_(std::move(programDir)),
      observer_(observer ? observer : &Nobody()),
      options_(options),
      runId_(options_.runId.empty() ? MakeRunId(*platform.system) : options_.runId),
      job_(std::make_shared<DownloadJob>(platform.window)),
      progressList_(*platform.list) {
  ReadRouteFile(*platform_.files, RouteFilePath(), &routeChoice_);
}

UpdateDialog::~UpdateDialog() = default;

std::string UpdateDialog::RouteFilePath() const { return programDir_ + "Ostra.rut"; }

bool UpdateDialog::OnInitDialog() {
  // What the dialog template and the data exchange give the controls.
  SetPhase(RunPhase::kChecking);
  platform_.controls->WriteRouteRadios(routeChoice_);

  inProgressHandler_ = 0;
  platform_.window->AppendSystemMenuItem(kAboutCommand, text::kAboutMenuItem);
  platform_.window->SetWindowIcon();

  progressList_.EnableRowRecords(true);
  ReportList& list = progressList_.list();
  list.InsertColumn(0, text::kColumnStep, 50);
  list.InsertColumn(1, text::kColumnItem, 110);
  list.InsertColumn(2, text::kColumnDesc, 190);
  list.InsertColumn(3, text::kColumnStatus, 250);

  currentRow_ = 0;
  failed_ = 0;
  job_->updateHost = config_.primaryHost;

  // Each with room for a terminator.
  std::unique_ptr<uint8_t[]> receiveBuffer =
      platform_.system->AllocateBuffer(kReceiveBufferSize + 1);
  unpackBuffer_ = platform_.system->AllocateBuffer(kUnpackBufferSize + 1);
  if (!receiveBuffer || !unpackBuffer_) {
    SetStepStatus(text::kNoMemory, false);
    // The list has no row yet, so the status line carries the news.
    SetStatusLine(text::kNoMemory);
    SetPhase(RunPhase::kFailed, text::kNoMemory);
    return true;
  }
  job_->AttachBuffer(std::move(receiveBuffer));

  platform_.controls->SetProgressRange(0, 100);
  platform_.controls->SetProgressPos(0);
  velinEntry_ = -1;
  ostDataEntry_ = -1;
  for (ServiceEntry& entry : serviceTable_) {
    entry = ServiceEntry{};
    entry.stopResult = 1;
    entry.needsUpdate = 0;
  }

  if (options_.runRecord && options_.runRecord->interrupted()) {
    const RunRecordFile& earlier = *options_.runRecord->interrupted();
    observer_->OnInterruptedRunFound(earlier.runId, earlier.RunningBefore(), earlier.script,
                                     earlier.batch);
    SetStatusLine(Format(text::kInterruptedRunFound, earlier.runId.c_str()));
  }
  RunCheckSequence();
  return true;
}

bool UpdateDialog::StartsAgain(const ServiceEntry& entry) const {
  return entry.stateBefore == kServiceRunning ||
         (options_.runRecord &&
          options_.runRecord->WasRunningBeforeInterruptedRun(entry.serviceName));
}

bool UpdateDialog::WentWrong() const {
  if (nextStep_ == 0) return false;  // nothing of the plan was begun
  // The staged mode's downloads change nothing: the services still run as they did.
  if (chain_ == Chain::kStaging) return false;
  if (phase_ == RunPhase::kFailed || commitFailed_) return true;
  for (const PlanStep& step : plan_.steps) {
    if (step.kind == StepKind::kDetailFile || step.row < 0) continue;
    const RowRecord* row = progressList_.Record(step.row);
    if (row && row->textColor == kAlertRed) return true;
  }
  return false;
}

void UpdateDialog::RollBackRun() {
  // The rollback opens a connection of its own to record the former numbers.
  platform_.database->Close();
  std::vector<std::string> said;
  auto say = [&](const std::string& line) { said.push_back(line); };
  const std::vector<std::string> runs = BackupKeeper::Runs(*platform_.files, programDir_);
  int status = 0;
  if (std::find(runs.begin(), runs.end(), runId_) != runs.end() && scriptsUndone_) {
    // The held transaction took the scripts with it: not said to stay applied.
    status = RunRollbackOfKilledRun(platform_, runId_,
                                    TakeInterruptedRunServices(*platform_.files, programDir_), true,
                                    Sha256Of(platform_), say);
  } else if (std::find(runs.begin(), runs.end(), runId_) != runs.end()) {
    status = RunRollback(platform_, runId_, Sha256Of(platform_), say);
  } else {
    // Nothing was written over: only the services it stopped go back.
    for (const std::string& name : TakeInterruptedRunServices(*platform_.files, programDir_)) {
      observer_->OnChanging(RunChange::kServiceStart, name);
      const uint64_t begun = platform_.system->MonotonicMilliseconds();
      const int32_t started = StartServiceAndWait(*platform_.services, *platform_.system, name);
      Report(ServiceEvent::Action::kStart, name, started, -1, begun);
      if (started != kServiceRunning && started != kServiceNothingToDo) {
        status = 1;
        said.push_back(Format(text::kRollbackServiceStartFailed, name.c_str()));
      }
    }
  }
  autoRolledBack_ = status == 0 ? 1 : -1;
  observer_->OnAutoRollback(status == 0, said);
  SetStatusLine(
      status == 0 ? std::string(text::kAutoRolledBack)
                  : Format(text::kAutoRollbackIncomplete, said.empty() ? "" : said.back().c_str()));
}

void UpdateDialog::EndHeldTransaction() {
  if (!heldTransaction_) return;
  heldTransaction_ = false;
  const bool commit = !WentWrong();
  if (commit) observer_->OnChanging(RunChange::kCommit, std::string());
  const DbOutcome ended = platform_.database->EndTransaction(commit);
  scriptsUndone_ = !commit;
  if (commit && ended.status != DbStatus::kOk) {
    commitFailed_ = true;
    SetStatusLine(Format(
        text::kScriptTransactionFailed,
        ended.diagnostics.empty() ? "" : DbTextToUtf8(ended.diagnostics.front().message).c_str()));
  }
}

void UpdateDialog::EndOfRun() {
  EndHeldTransaction();
  if ((options_.autoRollback || config_.autoRollback) && autoRolledBack_ == 0 && WentWrong()) {
    RollBackRun();
  }
  RunRecordKeeper* record = options_.runRecord;
  if (!record) return;
  if (record->interrupted()) {
    std::vector<std::string> running;
    std::vector<std::string> failed;
    for (const std::string& name : record->interrupted()->RunningBefore()) {
      running.push_back(name);
      const int32_t state = QueryServiceState(*platform_.services, name);
      Report(ServiceEvent::Action::kQuery, name, state, -1);
      if (state == kServiceRunning) continue;
      observer_->OnChanging(RunChange::kServiceStart, name);
      const uint64_t begun = platform_.system->MonotonicMilliseconds();
      const int32_t started = StartServiceAndWait(*platform_.services, *platform_.system, name);
      Report(ServiceEvent::Action::kStart, name, started, -1, begun);
      if (started != kServiceRunning && started != kServiceNothingToDo) failed.push_back(name);
    }
    SetStatusLine(failed.empty() ? Format(text::kInterruptedServicesStarted, Join(running).c_str())
                                 : Format(text::kInterruptedServicesFailed, Join(failed).c_str()));
  }
  record->Finish();
}

void UpdateDialog::OnClose() {
  if (updateRunning_) {
    platform_.window->ShowMessageBox(text::kCannotExit, text::kNotice, BoxButtons::kOk,
                                     BoxIcon::kStop);
    return;
  }
  platform_.database->Close();
  SetPhase(RunPhase::kClosed, "the window was closed");
  platform_.window->EndDialog();
}

bool UpdateDialog::OnSysCommand(uint32_t commandId) {
  if ((commandId & 0xFFF0) != kAboutCommand) return false;
  platform_.window->ShowAboutBox();
  return true;
}

bool UpdateDialog::Dispatch(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  switch (msg) {
    case WM_DOWNLOAD_PROGRESS:
      OnDownloadProgress(wParam, lParam);
      return true;
    case WM_DOWNLOAD_DONE:
      OnDownloadDone(wParam, lParam);
      return true;
    default:
      return false;
  }
}

void UpdateDialog::SetPhase(RunPhase phase, const std::string& reason) {
  phase_ = phase;
  switch (phase) {
    case RunPhase::kChecking:
      updateRunning_ = 0;
      closeOnClick_ = 1;
      SetButtonState(ButtonState::kChecking);
      break;
    case RunPhase::kPlanOffered:
      closeOnClick_ = 0;
      SetButtonState(ButtonState::kPlanOffered);
      break;
    case RunPhase::kUpdating:
      SetButtonState(ButtonState::kUpdating);
      updateRunning_ = 1;
      break;
    case RunPhase::kFinished:
      SetButtonState(ButtonState::kFinished);
      updateRunning_ = 0;
      closeOnClick_ = 1;
      break;
    case RunPhase::kFailed:
      // The button keeps what it had: disabled while checking or updating.
      updateRunning_ = 0;
      break;
    case RunPhase::kClosed:
      break;
  }
  // A finished run ends where its last status line is shown.
  if (phase == RunPhase::kFailed || phase == RunPhase::kClosed) EndOfRun();
  // Staged packages last only as long as the update.
  if (staging_ && phase != RunPhase::kUpdating) {
    staging_->Clear();
    staging_.reset();
  }
  observer_->OnPhaseChanged(phase, reason);
}

void UpdateDialog::MarkPackageFailed(const std::string& reason) {
  failed_ = 1;
  SetPhase(RunPhase::kFailed, reason);
}

void UpdateDialog::SetButtonState(ButtonState state) {
  DialogControls& controls = *platform_.controls;
  switch (state) {
    case ButtonState::kChecking:
      controls.SetStartButtonText(text::kButtonStart);
      controls.EnableStartButton(false);
      break;
    case ButtonState::kPlanOffered:
      controls.SetStartButtonText(text::kButtonStart);
      controls.EnableStartButton(true);
      break;
    case ButtonState::kUpdating:
      controls.SetStartButtonText(text::kButtonUpdating);
      controls.EnableStartButton(false);
      break;
    case ButtonState::kFinished:
      controls.SetStartButtonText(text::kButtonClose);
      controls.EnableStartButton(true);
      break;
  }
}

void UpdateDialog::Report(ServiceEvent::Action action, const std::string& service, int32_t result,
                          int row, uint64_t sinceMs, std::vector<std::string> dependents) {
  ServiceEvent event;
  event.action = action;
  event.service = service;
  event.result = result;
  event.row = row;
  event.dependents = std::move(dependents);
  if (sinceMs != 0) event.waitedMs = platform_.system->MonotonicMilliseconds() - sinceMs;
  observer_->OnServiceEvent(event);
}

}  // namespace ost
