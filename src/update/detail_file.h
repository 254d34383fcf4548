// Detail files: single files of the web folder that the manifest lists with their
// digests ("name.zip+size=md5"), fetched when the local copy differs.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_port.h"

namespace ost {

struct DetailLine {
  std::string name;    // the local file name, UTF-8
  int size = 0;        // the size number, which nothing uses
  std::string digest;  // up to 32 characters after "="
};

// 0 with *parsed filled, or: -1 a line shorter than 10 or longer than 255 bytes, -2 no
// "+", -3 no ".zip" in the package name, -4 no "=" after the "+", -6 a name that is no
// plain file name of the web folder (separators, a drive, "..", a device name, ...).
int ParseDetailLine(std::string_view line, DetailLine* parsed);
// True for the names of the web DLLs (Velin.dll, OstData.dll, in any letter case): a
// detail line of such a name is refused (-6).
bool NamesWebDll(std::string_view name);

// 0 when cgiBinDir\name has the digest (letter case aside), 1 when it differs, -5 when
// it cannot be opened.
int CompareWithLocalFile(FilePort& files, const std::string& cgiBinDir, const DetailLine& line);

}  // namespace ost
