// The manifest evaluation on any bytes the update host might send, up to the plan.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/update_dialog.h"
#include "fuzz_check.h"
#include "unit/fakes.h"

namespace {

// The state Harness::CheckedDialog leaves, but with a receive buffer of exactly the
// received bytes and without a terminator, so that any read past the received length
// is caught, and no unpack buffer: nothing here unpacks, and allocating the 74 MB of
// the real buffers would cost more than the evaluation itself.
ost::UpdateDialog& CheckedDialog(ost::testing::Harness& h, const uint8_t* data, size_t size) {
  ost::UpdateDialog& d = h.CheckedDialogWithoutBuffers();
  d.receiveBuffer = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
  if (size > 0) std::memcpy(d.receiveBuffer.get(), data, size);
  d.job.receiveBuffer = d.receiveBuffer.get();
  d.job.expectedLength = static_cast<int32_t>(size);
  d.job.receivedLength = static_cast<int32_t>(size);
  d.run.updateRunning = 1;
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ost::testing::Harness h;
  // Services to ask, so that newer entries make plan rows.
  for (const char* name :
       {"CSOstraServer", "CSOstraAgent", "CSOstraMessage", "CSTuyoMess", "W3SVC"}) {
    h.services.services[name].binaryPath = std::string("C:\\OSTRA\\") + name + ".exe";
  }
  h.services.services["CSOstraMessage"].state = 1;
  // The web folder's files for the detail block.
  h.files.files["D:\\wwwroot\\cgi-bin\\index.htm"] = "<html></html>\r\n";
  ost::UpdateDialog& d = CheckedDialog(h, data, size);
  for (ost::ServiceEntry& entry : d.serviceTable) entry.installedVersion = 10;

  const int rowsBefore = d.RowCount();
  d.EvaluateManifest();

  FUZZ_CHECK(d.RowCount() >= rowsBefore);
  if (d.run.updateRunning) {
    // A plan is offered: a header row and at least one row below it.
    FUZZ_CHECK(d.headerRow >= rowsBefore && d.RowCount() > d.headerRow + 1);
    FUZZ_CHECK(d.closeOnClick == 0);
  }
  for (const ost::ServiceEntry& entry : d.serviceTable) {
    FUZZ_CHECK(entry.needsUpdate == 0 || entry.needsUpdate == 1);
  }
  return 0;
}
