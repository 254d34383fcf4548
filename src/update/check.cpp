// The check that runs when the dialog opens: configuration, database, manifest.
#include "app/texts.h"
#include "app/update_dialog.h"

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
  // The database and manifest steps follow once they exist.
  return 0;
}

}  // namespace ost
