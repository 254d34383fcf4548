// Detail lines of the manifest, and the local files they are compared with.
#include "update/detail_file.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "util/md5.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr size_t kReadBlock = 1 << 20;

// Windows opens these as devices whatever the folder or extension.
bool IsDeviceName(std::string_view name) {
  std::string base = AsciiUpper(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// A detail file's name, decoded, must stay a plain name inside the web folder.
bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    // Separators, a drive's colon, the characters Windows refuses in a name (a byte
    // that did not decode shows as '?'), control characters.
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos ||
        static_cast<unsigned char>(c) < 0x20) {
      return false;
    }
  }
  // A trailing dot or space is dropped by Windows, so the name would be another file.
  if (name.back() == '.' || name.back() == ' ') return false;
  return !IsDeviceName(name);
}

}  // namespace

int ParseDetailLine(std::string_view line, DetailLine* parsed) {
  if (line.size() < 10 || line.size() > 255) return -1;
  size_t plus = line.find('+');
  if (plus == std::string_view::npos) return -2;
  std::string_view packageName = line.substr(0, plus);
  int size = std::atoi(std::string(line.substr(plus + 1)).c_str());
  size_t equals = line.find('=', plus + 1);
  if (equals == std::string_view::npos) return -4;
  std::string_view wanted = line.substr(equals + 1, 32);
  size_t zip = packageName.find(".zip");
  if (zip == std::string_view::npos) return -3;
  // The name is checked as the characters it stands for: a trail byte of a double-byte
  // character may look like a backslash. One that climbs out of the web folder, or
  // names another drive or a device, is never fetched.
  std::string name = GbkToUtf8(packageName.substr(0, zip));
  if (!IsPlainFileName(name) || NamesWebDll(name)) return -6;
  parsed->name = std::move(name);
  parsed->size = size;
  parsed->digest = std::string(wanted);
  return 0;
}

bool NamesWebDll(std::string_view name) {
  // A detail file of this name would be written over the component of the same name
  // outside its own step, with the web server running.
  for (std::string_view dll : {"velin.dll", "ostdata.dll"}) {
    if (name.size() != dll.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = c == dll[i];
    }
    if (same) return true;
  }
  return false;
}

int CompareWithLocalFile(FilePort& files, const std::string& cgiBinDir, const DetailLine& line) {
  std::unique_ptr<File> file = files.OpenRead(cgiBinDir + "\\" + line.name);
  if (!file) return -5;
  Md5Context context;
  Md5Init(&context);
  std::vector<uint8_t> block(kReadBlock);
  for (;;) {
    int64_t n = file->Read(block.data(), block.size());
    if (n <= 0) break;
    Md5Update(&context, block.data(), static_cast<size_t>(n));
  }
  Md5Final(&context);
  char digest[40] = {};
  for (int i = 0; i < 16; ++i) std::snprintf(digest + 2 * i, 3, "%02x", context.digest[i]);

  bool same = line.digest.size() == 32;
  for (size_t i = 0; same && i < 32; ++i) {
    same = std::tolower(static_cast<unsigned char>(line.digest[i])) == digest[i];
  }
  return same ? 0 : 1;
}

}  // namespace ost
