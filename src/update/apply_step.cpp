#include "update/apply_step.h"

#include "system/service_controller.h"
#include "update/catalogue.h"

namespace ost {

WebDllPairing PairWebDll(const ServiceTable& components, int entry, int velinEntry,
                         int ostDataEntry) {
  WebDllPairing pairing;
  const int32_t kind = components[static_cast<size_t>(entry)].kind;
  pairing.webDll = kind == kVelinKind || kind == kOstDataKind;
  pairing.otherEntry = kind == kVelinKind ? ostDataEntry : kind == kOstDataKind ? velinEntry : -1;
  pairing.otherStillToCome =
      pairing.otherEntry > entry && components[static_cast<size_t>(pairing.otherEntry)].needsUpdate;
  return pairing;
}

StartOutcome OutcomeOfStart(int32_t started, int healthSeconds, bool stayedRunning) {
  if (started != kServiceRunning) return StartOutcome::kStartFailed;
  if (!stayedRunning) return StartOutcome::kHealthFailed;
  return healthSeconds > 0 ? StartOutcome::kHealthPassed : StartOutcome::kStarted;
}

}  // namespace ost
