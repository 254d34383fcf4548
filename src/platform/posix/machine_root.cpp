#include "platform/posix/machine_root.h"

#include "platform/posix/iconv_text.h"
#include "platform/posix/reg_file.h"

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

void MachineRoot::UseSystemCodePage() const {
  RegDocument doc;
  std::string error;
  if (LoadRegFile(RegistryFile(), &doc, &error) != RegLoadStatus::kOk) return;
  const RegKeyData* key =
      doc.FindKey(RegistryRoot::kLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage");
  const RegValue* acp = key ? key->FindValue("ACP") : nullptr;
  if (!acp || acp->type != kRegSz) return;
  std::string number(acp->data.begin(), acp->data.end());
  while (!number.empty() && number.back() == '\0') number.pop_back();
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return;
  PosixText().SetSystemCodePage(number == "936" ? "GBK" : "CP" + number);
}

namespace {

// The parts of a path after `from`, with "." dropped and ".." taken back; false when a
// ".." would climb above the start.
bool Parts(std::string_view path, size_t from, std::vector<std::string_view>* parts) {
  size_t start = from;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (parts->empty()) return false;
      parts->pop_back();
    } else if (!part.empty() && part != ".") {
      parts->push_back(part);
    }
    start = end + 1;
  }
  return true;
}

std::string Joined(std::string base, const std::vector<std::string_view>& parts) {
  for (std::string_view part : parts) {
    base += '/';
    base += part;
  }
  return base;
}

}  // namespace

std::string MachineRoot::Map(std::string_view path) const {
  auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  std::vector<std::string_view> parts;
  if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':') {
    if (!Parts(path, 2, &parts)) return {};
    return Joined(DrivesDir() + "/" + static_cast<char>(path[0] | 0x20), parts);
  }
  // The tool's own folder is a native path inside the root. Any other path (another
  // host path, a relative one, a network or rooted one) names nothing on this machine:
  // using it would reach outside the machine root.
  const std::string_view root = root_;
  if (path.size() > root.size() && path.substr(0, root.size()) == root &&
      path[root.size()] == '/' && Parts(path, root.size() + 1, &parts)) {
    return Joined(root_, parts);
  }
  return {};
}

}  // namespace ost
