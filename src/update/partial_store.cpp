#include "update/partial_store.h"

#include <memory>
#include <vector>

#include "update/own_folder.h"

namespace ost {
namespace {

// A file name from a key: letters and digits stay, anything else becomes '_'.
std::string Plain(const std::string& key) {
  std::string name;
  for (char c : key) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    name += keep ? c : '_';
  }
  return name;
}

}  // namespace

std::string PartialStore::PathOf(const std::string& key, int64_t total) const {
  return folder_ + "\\" + Plain(key) + "-" + std::to_string(total) + ".part";
}

std::string PartialStore::Find(const std::string& key, int64_t* total) {
  std::vector<std::string> names;
  if (!files_.ListFolder(folder_, &names)) return std::string();
  const std::string prefix = Plain(key) + "-";
  for (const std::string& name : names) {
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() < prefix.size() + 6) continue;
    if (name.compare(name.size() - 5, 5, ".part") != 0) continue;
    const std::string digits = name.substr(prefix.size(), name.size() - 5 - prefix.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    if (digits.size() > 12) continue;
    *total = std::stoll(digits);
    return name;
  }
  return std::string();
}

bool PartialStore::Keep(const std::string& key, ByteSpan bytes, int64_t total) {
  Drop(key);
  // Kept bytes are installed by a later run: only into a folder of the tool's own.
  const size_t slash = folder_.find_last_of("\\/");
  std::string why;
  if (bytes.size == 0 || slash == std::string::npos ||
      !MakeOwnFolder(files_, folder_.substr(0, slash), &why) ||
      !MakeOwnFolder(files_, folder_, &why)) {
    return false;
  }
  const std::string path = PathOf(key, total);
  std::unique_ptr<File> file = files_.CreateTruncate(path);
  if (!file) return false;
  const bool written = file->Write(bytes.data, bytes.size) == static_cast<int64_t>(bytes.size);
  if (file->Close() && written) return true;
  files_.Remove(path);
  return false;
}

int64_t PartialStore::Take(const std::string& key, uint8_t* buffer, size_t capacity,
                           int64_t* total) {
  const std::string name = Find(key, total);
  if (name.empty() || *total <= 0 || *total > static_cast<int64_t>(capacity)) return 0;
  // Only from a folder that nobody else could have written to, never through a link.
  if (files_.Kind(folder_) != PathKind::kFolder || !files_.MakePrivateFolder(folder_) ||
      files_.Kind(folder_ + "\\" + name) != PathKind::kFile) {
    return 0;
  }
  std::unique_ptr<File> file = files_.OpenRead(folder_ + "\\" + name);
  if (!file) return 0;
  size_t got = 0;
  while (got < static_cast<size_t>(*total)) {
    const int64_t n = file->Read(buffer + got, static_cast<size_t>(*total) - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  // Whole or longer than the file was: nothing to resume.
  return got < static_cast<size_t>(*total) ? static_cast<int64_t>(got) : 0;
}

void PartialStore::Drop(const std::string& key) {
  int64_t total = 0;
  for (std::string name = Find(key, &total); !name.empty(); name = Find(key, &total)) {
    if (!files_.Remove(folder_ + "\\" + name)) break;
  }
  files_.RemoveFolder(folder_);  // once nothing else is kept
}

}  // namespace ost
