// Writing a file of a package over the installed one.
#include "update/package_writer.h"

namespace ost {
namespace {

constexpr char kTempSuffix[] = ".ost-new";

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
  const std::string temp = path + kTempSuffix;
  std::unique_ptr<File> file = files.CreateTruncate(temp);
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

WriteReport WritePackageFile(FilePort& files, ByteSpan bytes, const std::string& target,
                             const std::string& fallback) {
  WriteReport report;
  for (const std::string* path : {&target, &fallback}) {
    if (path->empty()) continue;
    report = Replace(files, bytes, *path);
    // The volume refused the bytes themselves: writing them over the file in place
    // would only leave it cut short.
    if (report.written || report.failedStep == "write" || report.failedStep == "close") break;
    report = InPlace(files, bytes, *path);
    if (report.written || report.failedStep != "create") break;
  }
  report.fallback = !fallback.empty() && report.path == fallback;
  return report;
}

}  // namespace ost
