// Writing a file of a package over the installed one.
#include "update/package_writer.h"

#include <cctype>
#include <cstdio>
#include <random>
#include <vector>

#include "util/windows_path.h"

namespace ost {
namespace {

constexpr char kTempSuffix[] = ".ost-new";
// A name taken by someone else is tried again under another.
constexpr int kTempNameTries = 4;

// "<target>.<16 random hex digits>.ost-new": beside the target, so that the rename
// stays on one volume, and under a name no other process can guess beforehand.
std::string TemporaryName(const std::string& path) {
  static std::random_device device;
  uint64_t bits = (uint64_t{device()} << 32) ^ device();
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
  return path + "." + hex + kTempSuffix;
}

WriteReport Failure(const std::string& path, const char* step, int error) {
  WriteReport report;
  report.path = path;
  report.failedStep = step;
  report.error = error;
  return report;
}

// The bytes into an open file, then its close; a failure of either is reported.
WriteReport WriteAll(FilePort& files, File& file, ByteSpan bytes, const std::string& path) {
  if (file.Write(bytes.data, bytes.size) != static_cast<int64_t>(bytes.size)) {
    WriteReport report = Failure(path, "write", files.LastError());
    file.Close();
    return report;
  }
  if (!file.Close()) return Failure(path, "close", files.LastError());
  WriteReport report;
  report.written = true;
  report.path = path;
  return report;
}

// Written beside the file and renamed over it, so that a failure midway never leaves
// the file cut short.
WriteReport Replace(FilePort& files, ByteSpan bytes, const std::string& path) {
  std::string temp;
  std::unique_ptr<File> file;
  for (int tries = 0; !file && tries < kTempNameTries; ++tries) {
    temp = TemporaryName(path);
    file = files.CreateNew(temp);
  }
  if (!file) return Failure(path, "create", files.LastError());
  WriteReport report = WriteAll(files, *file, bytes, path);
  file.reset();
  if (report.written && !files.Rename(temp, path)) {
    report = Failure(path, "rename", files.LastError());
  }
  if (!report.written) {
    files.Remove(temp);
    return report;
  }
  report.way = WriteWay::kRenamed;
  return report;
}

WriteReport InPlace(FilePort& files, ByteSpan bytes, const std::string& path) {
  std::unique_ptr<File> file = files.CreateTruncate(path);
  if (!file) return Failure(path, "create", files.LastError());
  WriteReport report = WriteAll(files, *file, bytes, path);
  if (report.written) report.way = WriteWay::kInPlace;
  return report;
}

}  // namespace

bool FolderStillLocal(FilePort& files, const std::string& path, const std::string& checkedFolder) {
  if (checkedFolder.empty() || path.size() <= checkedFolder.size() + 1) return true;
  const std::string folder = path.substr(0, path.find_last_of("\\/"));
  if (folder.size() != checkedFolder.size()) return true;
  for (size_t i = 0; i < folder.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(folder[i])) !=
        std::tolower(static_cast<unsigned char>(checkedFolder[i]))) {
      return true;
    }
  }
  return files.IsLocalFixedPath(folder);
}

WriteReport WritePackageFile(FilePort& files, ByteSpan bytes, const std::string& target,
                             const std::string& fallback, const std::string& checkedFolder) {
  WriteReport report;
  for (const std::string* path : {&target, &fallback}) {
    if (path->empty()) continue;
    // Asked again before each way: a junction made meanwhile would take the write
    // wherever it points.
    if (!FolderStillLocal(files, *path, checkedFolder)) return Failure(*path, "folder", 0);
    report = Replace(files, bytes, *path);
    // The volume refused the bytes themselves: writing them over the file in place
    // would only leave it cut short.
    if (report.written || report.failedStep == "write" || report.failedStep == "close") break;
    if (!FolderStillLocal(files, *path, checkedFolder)) return Failure(*path, "folder", 0);
    report = InPlace(files, bytes, *path);
    if (report.written || report.failedStep != "create") break;
  }
  report.fallback = !fallback.empty() && report.path == fallback;
  return report;
}

int RemoveWriteLeftovers(FilePort& files, const std::string& target) {
  const size_t slash = target.find_last_of("\\/");
  if (slash == std::string::npos) return 0;
  const std::string folder = target.substr(0, slash);
  const std::string stem = BaseName(target) + ".";
  std::vector<std::string> names;
  if (files.Kind(folder) != PathKind::kFolder || !files.ListFolder(folder, &names)) return 0;
  const size_t suffix = sizeof kTempSuffix - 1;
  int removed = 0;
  for (const std::string& name : names) {
    // "<target's name>.<16 hex digits>.ost-new", compared as Windows compares names.
    if (name.size() != stem.size() + 16 + suffix || !SamePath(name.substr(0, stem.size()), stem) ||
        name.compare(name.size() - suffix, suffix, kTempSuffix) != 0) {
      continue;
    }
    bool hex = true;
    for (size_t i = stem.size(); i < stem.size() + 16; ++i) {
      hex = hex && std::isxdigit(static_cast<unsigned char>(name[i]));
    }
    const std::string path = folder + "\\" + name;
    if (!hex || files.Kind(path) != PathKind::kFile) continue;
    if (!files.Remove(path)) return -1;
    ++removed;
  }
  return removed;
}

}  // namespace ost
