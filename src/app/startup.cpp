#include "app/startup.h"

#include "app/texts.h"

namespace ost {

int RunApplication(const Platform& platform, const std::function<void(UpdateDialog&)>& runModal,
                   RunObserver* observer) {
  if (!platform.sockets->Startup()) {
    platform.window->ShowMessageBox(text::kNetworkInitFailed, text::kAppName, BoxButtons::kOk,
                                    BoxIcon::kWarning);
    return 1;
  }
  // One update run per machine: a second would stop the same services and run the
  // same scripts once more.
  if (!platform.system->LockMachine()) {
    platform.window->ShowMessageBox(text::kAlreadyRunning, text::kNotice, BoxButtons::kOk,
                                    BoxIcon::kStop);
    return 1;
  }
  UpdateDialog dialog(platform, platform.system->ProgramFolder(), observer);
  runModal(dialog);
  return 0;
}

}  // namespace ost
