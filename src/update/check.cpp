// The check that runs when the dialog opens: configuration, database, manifest.
#include "app/texts.h"
#include "app/update_dialog.h"
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
  // The manifest step follows once the download exists.
  return 0;
}

}  // namespace ost
