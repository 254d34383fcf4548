// Process start-up around the dialog.
#pragma once

#include <functional>

#include "app/update_dialog.h"
#include "util/digest.h"

namespace ost {

// Starts the sockets layer and takes the machine's update lock (a failure of either is
// shown and ends the run before any window), then constructs the dialog for the
// program folder and hands it to runModal, which runs it until the modal run ends.
// The observer (none: nobody listens) hears the run's events and must outlive it.
// Returns the process exit code: 0 when the dialog ran, 1 otherwise.
// The platform's SHA-256, for the records of a run; empty when it has none.
Sha256Hex Sha256Of(const Platform& platform);

// Options are the operator's.
int RunApplication(const Platform& platform, const std::function<void(UpdateDialog&)>& runModal,
                   RunObserver* observer = nullptr, RunOptions options = {});

}  // namespace ost
