// The rollback command: puts back the files an update run replaced, from its backup.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "util/digest.h"

namespace ost {

// Takes the machine's update lock, then restores the files of the run `runId` (the
// latest run with a backup when empty): stops the services that hold them, writes each
// file back, starts the services that were running, and records the former update
// numbers in the database. Every line for the operator goes to `say`, and the run's
// journal gets every step. Exit status: 0 when everything was put back, 1 otherwise.
int RunRollback(const Platform& machine, const std::string& runId, const Sha256Hex& digest,
                const std::function<void(const std::string&)>& say);

// The same for the recovery of a killed run: the services in runningBefore are started
// too, and the run's record is left to the recovery, which removes it once the machine
// is back. scriptsUndone: the run's scripts went with its database transaction.
int RunRollbackOfKilledRun(const Platform& machine, const std::string& runId,
                           const std::vector<std::string>& runningBefore, bool scriptsUndone,
                           const Sha256Hex& digest,
                           const std::function<void(const std::string&)>& say);

}  // namespace ost
