// The plan and the operator's start click.
#include "app/update_dialog.h"

namespace ost {

void UpdateDialog::OnStartClicked() {
  if (closeOnClick) {
    platform().window->PostQuit();
    return;
  }
  // Starting the update from an offered plan comes with the plan itself.
}

}  // namespace ost
