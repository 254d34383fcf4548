// The services.json reader on any file contents, and for every file it accepts: the
// written form reads back to the same services.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/posix_services.h"

namespace {

bool SameServices(const std::vector<ost::ServiceRecord>& a,
                  const std::vector<ost::ServiceRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const ost::ServiceRecord& x = a[i];
    const ost::ServiceRecord& y = b[i];
    if (x.name != y.name || x.state != y.state || x.binaryPath != y.binaryPath ||
        x.startPendingMs != y.startPendingMs || x.stopPendingMs != y.stopPendingMs ||
        x.refuseStart != y.refuseStart || x.refuseStop != y.refuseStop ||
        x.startEndsStopped != y.startEndsStopped || x.neverSettle != y.neverSettle ||
        x.denyAccess != y.denyAccess || x.configTooLarge != y.configTooLarge ||
        x.settleAtMs != y.settleAtMs) {
      return false;
    }
  }
  return true;
}

// A folder of this process's own for the files.
const std::string& Folder() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ost-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    return pattern;
  }();
  static const bool cleanUp = [] {
    std::atexit([] {
      for (const char* name : {"/input.json", "/services.json"}) unlink((folder + name).c_str());
      rmdir(folder.c_str());
    });
    return true;
  }();
  (void)cleanUp;
  return folder;
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = Folder() + "/input.json";
  FUZZ_CHECK(WriteFile(input, data, size));
  std::vector<ost::ServiceRecord> services;
  std::string error;
  if (!ost::ReadServicesFile(input, &services, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  const std::string output = Folder() + "/services.json";
  FUZZ_CHECK(ost::WriteServicesFile(output, services, &error));
  std::vector<ost::ServiceRecord> again;
  FUZZ_CHECK(ost::ReadServicesFile(output, &again, &error));
  FUZZ_CHECK(SameServices(services, again));
  return 0;
}
