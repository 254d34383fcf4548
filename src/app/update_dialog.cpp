#include "app/update_dialog.h"

#include <new>

#include "app/route_file.h"
#include "app/texts.h"

namespace ost {

UpdateDialog::UpdateDialog(const Platform& platform, std::string programDir)
    : progressList(*platform.list), platform_(platform), programDir_(std::move(programDir)) {
  ReadRouteFile(*platform_.files, RouteFilePath(), &routeChoice);
}

UpdateDialog::~UpdateDialog() = default;

std::string UpdateDialog::RouteFilePath() const { return programDir_ + "Ostra.rut"; }

bool UpdateDialog::OnInitDialog() {
  // What the dialog template and the data exchange give the controls.
  SetButtonState(ButtonState::kChecking);
  platform_.controls->WriteRouteRadios(routeChoice);

  inProgressHandler = 0;
  platform_.window->AppendSystemMenuItem(kAboutCommand, text::kAboutMenuItem);
  platform_.window->SetWindowIcon();

  progressList.EnableRowRecords(true);
  ReportList& list = progressList.list();
  list.InsertColumn(0, text::kColumnStep, 50);
  list.InsertColumn(1, text::kColumnItem, 110);
  list.InsertColumn(2, text::kColumnDesc, 190);
  list.InsertColumn(3, text::kColumnStatus, 250);

  closeOnClick = 1;
  currentRow = 0;
  failed = 0;
  job.updateHost = config.primaryHost;

  receiveBuffer =
      platform_.system->AllocateBuffer(kReceiveBufferSize + 1);  // room for a terminator
  unpackBuffer = platform_.system->AllocateBuffer(kUnpackBufferSize + 1);
  if (!receiveBuffer || !unpackBuffer) {
    SetStepStatus(text::kNoMemory, false);
    // The list has no row yet, so the status line carries the news.
    SetStatusLine(text::kNoMemory);
    return true;
  }
  job.receiveBuffer = receiveBuffer.get();

  job.notifyWindow = platform_.window;
  platform_.controls->SetProgressRange(0, 100);
  platform_.controls->SetProgressPos(0);
  velinEntry = -1;
  ostDataEntry = -1;
  for (ServiceEntry& entry : serviceTable) {
    entry = ServiceEntry{};
    entry.stopResult = 1;
    entry.needsUpdate = 0;
  }

  RunCheckSequence();
  return true;
}

void UpdateDialog::OnClose() {
  if (run.updateRunning) {
    platform_.window->ShowMessageBox(text::kCannotExit, text::kNotice, BoxButtons::kOk,
                                     BoxIcon::kStop);
    return;
  }
  ReleaseProductDatabase();
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

}  // namespace ost
