#include "app/route_file.h"

namespace ost {

void ReadRouteFile(FilePort& files, const std::string& path, int32_t* choice) {
  std::unique_ptr<File> file = files.OpenRead(path);
  if (!file) return;
  auto value = static_cast<uint32_t>(*choice);
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  int64_t got = 0;
  while (got < 4) {
    int64_t n = file->Read(bytes + got, static_cast<size_t>(4 - got));
    if (n <= 0) break;
    got += n;
  }
  value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t{bytes[i]} << (8 * i);
  *choice = static_cast<int32_t>(value);
}

void WriteRouteFile(FilePort& files, const std::string& path, int32_t choice) {
  std::unique_ptr<File> file = files.CreateTruncate(path);
  if (!file) return;
  auto value = static_cast<uint32_t>(choice);
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  file->Write(bytes, sizeof bytes);
}

}  // namespace ost
