// The dialog without a screen, for automation: every change is printed as a line and
// the end state can be written as JSON.
#pragma once

#include <string>

#include "platform/platform.h"

namespace ost {

struct HeadlessOptions {
  int route = -2;            // radio to check before the start click; -2: leave them
  bool start = false;        // click the start button once a plan is offered
  bool confirm = false;      // the answer to the confirmation box
  std::string snapshotFile;  // where to write the end state; empty: nowhere
  bool stage = false;        // the staged mode
};

// Runs the whole program on the machine's providers (sockets, registry, services,
// files, system, database); the window, list and controls are its own. Exit status: 0
// when the run reached the finished state, 1 otherwise.
int RunHeadless(const HeadlessOptions& options, const Platform& machine);

}  // namespace ost
