// Partial packages of the staged mode: what a download that broke off had brought, kept
// beside the staging folders so that the next run asks only for the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_port.h"
#include "util/bytes.h"

namespace ost {

class PartialStore {
 public:
  // folder: program folder\staging\partial.
  PartialStore(FilePort& files, std::string folder) : files_(files), folder_(std::move(folder)) {}

  // Keeps the first bytes of a file of `total` bytes under `key` (a package's SHA-256
  // from the signed index, or its request path); false when it cannot be written.
  bool Keep(const std::string& key, ByteSpan bytes, int64_t total);
  // Reads the bytes kept under `key` into buffer: their count, with *total the file's
  // length then; 0 when none are kept (or they do not fit).
  int64_t Take(const std::string& key, uint8_t* buffer, size_t capacity, int64_t* total);
  // Removes what is kept under `key`.
  void Drop(const std::string& key);

 private:
  std::string PathOf(const std::string& key, int64_t total) const;
  // The name of what is kept under key, empty when nothing is.
  std::string Find(const std::string& key, int64_t* total);

  FilePort& files_;
  std::string folder_;
};

}  // namespace ost
