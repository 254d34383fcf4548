// The route file: the operator's route choice as 4 bytes, a little-endian int32.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_port.h"

namespace ost {

// Reads up to 4 bytes over *choice. A missing or short file leaves the bytes not read
// as they were, so a 3-byte file changes only the low three bytes.
void ReadRouteFile(FilePort& files, const std::string& path, int32_t* choice);

// Creates or truncates the file and writes the 4 bytes; failures are silent.
void WriteRouteFile(FilePort& files, const std::string& path, int32_t choice);

}  // namespace ost
