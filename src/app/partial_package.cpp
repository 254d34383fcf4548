// The staged mode's partial packages, kept from one run to the next.
#include "app/update_dialog.h"
#include "signing/signed_index.h"
#include "update/partial_store.h"
#include "update/release_check.h"

namespace ost {
namespace {

PartialStore StoreOf(FilePort& files, const Staging& staging) {
  const std::string& folder = staging.folder();
  const size_t slash = folder.find_last_of('\\');
  return PartialStore(files,
                      folder.substr(0, slash == std::string::npos ? 0 : slash) + "\\partial");
}

}  // namespace

std::string UpdateDialog::PartialKey(const PlanStep& step) const {
  // The signed index names the very file; without one, its path does (the length the
  // host announced is kept with the bytes and checked on the resume).
  if (release_ && release_->index()) {
    const std::string prefix = kUpdatePath;
    const std::string path = step.requestPath.compare(0, prefix.size(), prefix) == 0
                                 ? step.requestPath.substr(prefix.size())
                                 : step.requestPath;
    if (const IndexEntry* entry = release_->index()->Find(path)) {
      static const char kDigits[] = "0123456789abcdef";
      std::string hex;
      for (uint8_t byte : entry->digest.bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
      }
      return "sha256-" + hex;
    }
  }
  return step.requestPath;
}

void UpdateDialog::OfferPartial(const PlanStep& step) {
  if (!staging_) return;
  int64_t total = 0;
  const int64_t kept = StoreOf(*platform_.files, *staging_)
                           .Take(PartialKey(step), job_->receiveBuffer, kReceiveBufferSize, &total);
  if (kept <= 0) return;
  job_->resumeFrom = static_cast<int32_t>(kept);
  job_->resumeTotal = static_cast<int32_t>(total);
}

void UpdateDialog::KeepPartial(const PlanStep& step) {
  if (!staging_) return;
  StoreOf(*platform_.files, *staging_)
      .Keep(PartialKey(step),
            ByteSpan{job_->receiveBuffer, static_cast<size_t>(job_->receivedLength.load())},
            job_->expectedLength.load());
}

void UpdateDialog::DropPartial(const PlanStep& step) {
  if (!staging_) return;
  StoreOf(*platform_.files, *staging_).Drop(PartialKey(step));
}

}  // namespace ost
