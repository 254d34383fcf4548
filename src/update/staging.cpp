#include "update/staging.h"

#include <memory>

#include "update/own_folder.h"
#include "util/md5.h"

namespace ost {
namespace {

bool AllDigits(const std::string& text, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// "20261209-103005-0a3f", as MakeRunId names a run.
bool LooksLikeRunId(const std::string& name) {
  if (name.size() != 20 || name[8] != '-' || name[15] != '-') return false;
  if (!AllDigits(name, 0, 8) || !AllDigits(name, 9, 6)) return false;
  for (size_t i = 16; i < 20; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// "12.zip", as Staging names a kept package.
bool LooksLikePackage(const std::string& name) {
  return name.size() > 4 && name.size() <= 8 && name.compare(name.size() - 4, 4, ".zip") == 0 &&
         AllDigits(name, 0, name.size() - 4);
}

}  // namespace

std::string Staging::PathOf(size_t index) const {
  return folder_ + "\\" + std::to_string(index) + ".zip";
}

std::string Staging::DigestOf(ByteSpan bytes) const {
  std::string digest = digest_ ? digest_(bytes) : std::string();
  if (!digest.empty()) return digest;
  char md5[33];
  Md5Hex(bytes.data, bytes.size, md5);
  return std::string("md5:") + md5;
}

// The staging folder and the run's folder are the tool's own: what is kept there is
// installed later, so nobody else may write to them.
bool Staging::Begin() {
  const size_t slash = folder_.find_last_of("\\/");
  std::string why;
  return slash != std::string::npos && MakeOwnFolder(files_, folder_.substr(0, slash), &why) &&
         MakeOwnFolder(files_, folder_, &why);
}

bool Staging::Keep(size_t index, ByteSpan package) {
  std::unique_ptr<File> file = files_.CreateTruncate(PathOf(index));
  if (!file) return false;
  if (index + 1 > kept_.size()) kept_.resize(index + 1);
  // What was checked is what must come back: the size and digest stay in memory.
  kept_[index] = {true, package.size, DigestOf(package)};
  const bool written =
      file->Write(package.data, package.size) == static_cast<int64_t>(package.size);
  return file->Close() && written;
}

int64_t Staging::Load(size_t index, uint8_t* buffer, size_t capacity, std::string* why) {
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
  if (index >= kept_.size() || !kept_[index].kept) {
    if (why) *why = "never kept by this run";
    return kChanged;
  }
  const Kept& kept = kept_[index];
  if (got != kept.size || DigestOf({buffer, got}) != kept.digest) {
    if (why) {
      *why = std::to_string(kept.size) + " bytes kept, " + std::to_string(got) + " read back" +
             (got == kept.size ? " with other bytes" : "");
    }
    return kChanged;
  }
  return static_cast<int64_t>(got);
}

void Staging::Clear() {
  for (size_t index = 0; index < kept_.size(); ++index) files_.Remove(PathOf(index));
  kept_.clear();
  files_.RemoveFolder(folder_);
  // The staging folder itself goes too once no run keeps anything in it.
  const size_t slash = folder_.find_last_of("\\/");
  if (slash != std::string::npos) files_.RemoveFolder(folder_.substr(0, slash));
}

int Staging::RemoveLeftovers(FilePort& files, const std::string& stagingRoot) {
  std::vector<std::string> runs;
  if (files.Kind(stagingRoot) == PathKind::kLink || !files.ListFolder(stagingRoot, &runs)) return 0;
  int removed = 0;
  for (const std::string& run : runs) {
    const std::string folder = stagingRoot + "\\" + run;
    // Nothing is followed: a link where a run's folder should be stays as it is.
    if (!LooksLikeRunId(run) || files.Kind(folder) != PathKind::kFolder) continue;
    std::vector<std::string> names;
    if (!files.ListFolder(folder, &names)) continue;
    for (const std::string& name : names) {
      if (LooksLikePackage(name) && files.Kind(folder + "\\" + name) == PathKind::kFile) {
        files.Remove(folder + "\\" + name);
      }
    }
    if (files.RemoveFolder(folder)) ++removed;
  }
  files.RemoveFolder(stagingRoot);
  return removed;
}

}  // namespace ost
