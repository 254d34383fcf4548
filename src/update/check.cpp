// The check that runs when the dialog opens: configuration, database, manifest.
#include "app/texts.h"
#include "app/update_dialog.h"
#include "app/update_hosts.h"
#include "net/http_getter.h"
#include "util/text.h"

namespace ost {

int UpdateDialog::RunCheckSequence() {
  currentRow = 0;
  InsertRow(0, text::kStep1);
  SetCell(0, 1, text::kConfigItem);
  SetCell(0, 3, text::kConfigRunning);
  if (!LoadServerConfig()) {
    platform().window->ShowMessageBox(text::kVerifyFailedText, text::kVerifyFailedCaption,
                                      BoxButtons::kOk, BoxIcon::kInformation);
    platform().window->PostQuit();
    return 0;
  }
  SetCell(0, 2, config.dbUser);
  SetStepStatus(text::kConfigDone, true);

  currentRow = 1;
  InsertRow(1, text::kStep2);
  SetCell(1, 1, text::kDatabaseItem);
  SetCell(1, 3, text::kDatabaseRunning);
  if (!OpenProductDatabase()) return 0;
  SetCell(1, 2, Format(text::kDatabaseDesc, db.versionText.c_str(), db.webSiteId.c_str()));
  SetStepStatus(text::kDatabaseDone, true);

  currentRow = 2;
  InsertRow(2, text::kStep3);
  SetCell(2, 1, text::kManifestItem);
  SetCell(2, 3, text::kManifestRunning);
  RequestManifest();
  return 1;
}

int UpdateDialog::RequestManifest() {
  job.targetPath = kManifestName;
  job.requestPath = std::string(kUpdatePath) + job.targetPath;
  job.receivedLength = 0;
  job.expectedLength = 0;
  job.downloadKind = 0;
  progressPercent = 0;
  StartDownloadWorker();
  return 1;
}

void UpdateDialog::StartDownloadWorker() {
  HttpContext context{&job, platform().sockets, &run.redirectCount};
  job.downloadThread = platform().system->StartThread([context] { DownloadWorker(context); });
}

}  // namespace ost
