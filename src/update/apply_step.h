// The decisions of applying a component's step, apart from the writing and the service
// manager: which web DLL waits for the other, and how the row ends after the start.
#pragma once

#include <cstdint>

#include "update/service_table.h"

namespace ost {

// The two web DLLs share the web server, which starts once, after the later of them.
struct WebDllPairing {
  bool webDll = false;            // the entry is one of the two web DLLs
  int otherEntry = -1;            // the other one's service table index, -1: none
  bool otherStillToCome = false;  // the other one is planned after this one
};
WebDllPairing PairWebDll(const ServiceTable& components, int entry, int velinEntry,
                         int ostDataEntry);

// How a component's row ends once its file is written.
enum class StartOutcome {
  kStaysStopped,  // its service did not run before the run: not started
  kStarted,       // running, no health check asked
  kHealthPassed,  // running, and still running the health check's seconds later
  kHealthFailed,  // started, but ended within the health check's seconds
  kStartFailed,   // could not be started
};

// From what starting the service gave (the service controller's result), the health
// check's seconds (0: none) and whether the service stayed up for them (asked only of a
// started service when there are seconds; true otherwise).
StartOutcome OutcomeOfStart(int32_t started, int healthSeconds, bool stayedRunning);

}  // namespace ost
