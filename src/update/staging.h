// The staged mode's store: every package of the plan downloaded and checked before
// anything is stopped or written, kept in the program folder until it is applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_port.h"
#include "util/bytes.h"
#include "util/digest.h"

namespace ost {

class Staging {
 public:
  // Load's answer for a package whose bytes are not the ones kept.
  static constexpr int64_t kChanged = -2;

  // folder: where this run's packages go (program folder\staging\<run id>); digest: the
  // SHA-256 that ties a kept package to the bytes read back (MD5 stands in when the
  // platform has no SHA-256).
  Staging(FilePort& files, std::string folder, Sha256Hex digest = {})
      : files_(files), folder_(std::move(folder)), digest_(std::move(digest)) {}
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  const std::string& folder() const { return folder_; }
  // Makes the folder; false when it cannot be had.
  bool Begin();
  // Keeps the package of plan step `index`; false when it cannot be written whole.
  bool Keep(size_t index, ByteSpan package);
  // Reads the package of step `index` back into buffer; its size, -1 when it is
  // missing, unreadable or larger than capacity, kChanged (with *why) when its size or
  // digest is not the one kept.
  int64_t Load(size_t index, uint8_t* buffer, size_t capacity, std::string* why = nullptr);
  // Removes the packages and the folder (and the staging folder above it when empty).
  void Clear();

  // Removes the folders that killed runs left in stagingRoot (program folder\staging):
  // only folders named like run ids, holding only package names, none reached through
  // a link or junction. Call under the run lock, before this run's folder exists.
  // Returns how many folders went.
  static int RemoveLeftovers(FilePort& files, const std::string& stagingRoot);

 private:
  struct Kept {
    bool kept = false;
    uint64_t size = 0;
    std::string digest;
  };
  std::string PathOf(size_t index) const;
  std::string DigestOf(ByteSpan bytes) const;

  FilePort& files_;
  std::string folder_;
  Sha256Hex digest_;
  std::vector<Kept> kept_;  // by step; the files 0..kept_.size()-1 may exist
};

}  // namespace ost
