#include "update/staging.h"

#include <memory>

namespace ost {

std::string Staging::PathOf(size_t index) const {
  return folder_ + "\\" + std::to_string(index) + ".zip";
}

bool Staging::Begin() { return files_.MakeFolders(folder_); }

bool Staging::Keep(size_t index, ByteSpan package) {
  std::unique_ptr<File> file = files_.CreateTruncate(PathOf(index));
  if (!file) return false;
  if (index + 1 > kept_) kept_ = index + 1;
  const bool written =
      file->Write(package.data, package.size) == static_cast<int64_t>(package.size);
  return file->Close() && written;
}

int64_t Staging::Load(size_t index, uint8_t* buffer, size_t capacity) {
  std::unique_ptr<File> file = files_.OpenRead(PathOf(index));
  if (!file) return -1;
  size_t got = 0;
  for (;;) {
    // One byte beyond the capacity tells a package that does not fit.
    size_t want = capacity + 1 - got;
    if (want == 0) return -1;
    int64_t n = file->Read(buffer + got, want);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
    if (got > capacity) return -1;
  }
  return static_cast<int64_t>(got);
}

void Staging::Clear() {
  for (size_t index = 0; index < kept_; ++index) files_.Remove(PathOf(index));
  kept_ = 0;
  files_.RemoveFolder(folder_);
  // The staging folder itself goes too once no run keeps anything in it.
  const size_t slash = folder_.find_last_of("\\/");
  if (slash != std::string::npos) files_.RemoveFolder(folder_.substr(0, slash));
}

}  // namespace ost
