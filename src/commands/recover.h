// The recovery command: puts the machine back as it was before a run that was killed
// (or lost its power) half-way, from the record that run left.
#pragma once

#include <functional>
#include <string>

#include "platform/platform.h"
#include "util/digest.h"

namespace ost {

// Takes the machine's update lock and finds the record of an unfinished run. None: says
// so, 0. Otherwise rolls that run back without the update host: its files and update
// numbers through the rollback, its scripts held in one transaction are undone by the
// database, the services that ran before it are started again, and the record goes.
// A run that was killed after its held transaction was committed had made every change:
// it is finished instead (its services started again), for its scripts cannot be undone.
// Exit status: 0 when the machine is back (or finished), 1 when something stayed
// changed (each named through `say`).
int RunRecover(const Platform& machine, const Sha256Hex& digest,
               const std::function<void(const std::string&)>& say);

}  // namespace ost
