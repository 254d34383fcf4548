// The end of every download: the checks common to all of them, then the completion
// for what was downloaded.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {

void UpdateDialog::DownloadFailedBeeps() {
  Beep(500, 500);
  Beep(800, 500);
}

void UpdateDialog::OnDownloadDone(uintptr_t result, intptr_t /*lParam*/) {
  if (failed) {
    run.updateRunning = 0;
    return;
  }
  if (result != 0) {
    SetStepStatus(Format(text::kCommunicationFailed, static_cast<int>(result)), false);
    DownloadFailedBeeps();
    run.updateRunning = 0;
    return;
  }
  if (job.expectedLength.load() != job.receivedLength.load()) {
    SetStepStatus(text::kDownloadDataError, false);
    DownloadFailedBeeps();
    run.updateRunning = 0;
    return;
  }
  bool applied = false;
  switch (job.downloadKind) {
    case 0:
      EvaluateManifest();
      return;
    case 1:
    case 2:
      applied = RunSqlScript();
      ++currentRow;
      break;
    case kDetailFileKind:
      applied = job.receivedLength.load() > 0 && ApplyDetailFile();
      break;
    default:
      if (job.downloadKind < 3 || job.downloadKind > 8) return;
      applied = job.receivedLength.load() > 0 && ApplyEntryPackage();
      ++currentRow;
      break;
  }
  if (applied) {
    StartNextDownload();
  } else {
    run.updateRunning = 0;
  }
}

}  // namespace ost
