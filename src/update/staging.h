// The staged mode's store: every package of the plan downloaded and checked before
// anything is stopped or written, kept in the program folder until it is applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_port.h"
#include "util/bytes.h"

namespace ost {

class Staging {
 public:
  // folder: where this run's packages go (program folder\staging\<run id>).
  Staging(FilePort& files, std::string folder) : files_(files), folder_(std::move(folder)) {}
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  const std::string& folder() const { return folder_; }
  // Makes the folder; false when it cannot be had.
  bool Begin();
  // Keeps the package of plan step `index`; false when it cannot be written whole.
  bool Keep(size_t index, ByteSpan package);
  // Reads the package of step `index` back into buffer; its size, or -1 when it is
  // missing, unreadable or larger than capacity.
  int64_t Load(size_t index, uint8_t* buffer, size_t capacity);
  // Removes the packages and the folder (and the staging folder above it when empty).
  void Clear();

 private:
  std::string PathOf(size_t index) const;

  FilePort& files_;
  std::string folder_;
  size_t kept_ = 0;  // steps kept so far, 0..kept_-1
};

}  // namespace ost
