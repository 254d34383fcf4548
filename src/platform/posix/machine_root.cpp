#include "platform/posix/machine_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <climits>
#include <vector>

namespace ost {
namespace {

std::string Absolute(std::string path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  std::string base(cwd);
  return path.empty() || path == "." ? base : base + "/" + path;
}

}  // namespace

MachineRoot::MachineRoot(std::string root) : root_(Absolute(std::move(root))) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

void MachineRoot::UseOdbcConfiguration() const {
  struct stat info;
  if (::stat(OdbcDir().c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    ::setenv("ODBCSYSINI", OdbcDir().c_str(), 1);
  }
}

std::string MachineRoot::Map(std::string_view path) const {
  auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':') {
    char drive = static_cast<char>(path[0] | 0x20);
    std::vector<std::string_view> parts;
    size_t start = 2;
    while (start <= path.size()) {
      size_t end = path.find_first_of("\\/", start);
      if (end == std::string_view::npos) end = path.size();
      std::string_view part = path.substr(start, end - start);
      if (part == "..") {
        if (parts.empty()) return {};
        parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      start = end + 1;
    }
    std::string mapped = DrivesDir() + "/" + drive;
    for (std::string_view part : parts) {
      mapped += '/';
      mapped += part;
    }
    return mapped;
  }
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && path[0] == path[1]) {
    return {};  // network paths have no place on this machine
  }
  if (!path.empty() && path[0] == '/') return std::string(path);
  if (!path.empty() && path[0] == '\\') return {};  // rooted on an unknown drive
  std::string mapped(path);
  for (char& c : mapped) {
    if (c == '\\') c = '/';
  }
  return mapped;
}

}  // namespace ost
