#include "platform/posix/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace ost {
namespace {

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool Close() override {
    if (fd_ < 0) {
      errno = EBADF;
      return false;
    }
    int fd = fd_;
    fd_ = -1;
    // What was written reaches the disk before the file counts as written, as
    // FlushFileBuffers makes it on Windows: a rename that replaces a program must not
    // leave an empty one after a power cut.
    if (written_ && ::fsync(fd) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return false;
    }
    // A close interrupted by a signal has still released the descriptor on Linux.
    return ::close(fd) == 0 || errno == EINTR;
  }

  int64_t Read(void* data, size_t size) override {
    ssize_t n;
    do {
      n = ::read(fd_, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  int64_t Write(const void* data, size_t size) override {
    auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::write(fd_, bytes + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return done > 0 ? static_cast<int64_t>(done) : -1;
      done += static_cast<size_t>(n);
      written_ = true;
    }
    return static_cast<int64_t>(done);
  }

 private:
  int fd_;
  bool written_ = false;
};

std::unique_ptr<File> Open(const std::string& native, int flags) {
  if (native.empty()) {
    errno = ENOENT;  // a path that names nothing on this machine
    return nullptr;
  }
  int fd = ::open(native.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd);
}

}  // namespace

PosixFiles::PosixFiles(const MachineRoot& root) : root_(root) {
  // A write past the process's file size limit must fail like a full disk, not end
  // the process.
  std::signal(SIGXFSZ, SIG_IGN);
}

std::unique_ptr<File> PosixFiles::OpenRead(const std::string& path) {
  return Open(root_.Map(path), O_RDONLY);
}

bool PosixFiles::Held(const std::string& native) const {
  if (!inUse_ || native.empty() || !inUse_(native)) return false;
  errno = ETXTBSY;
  return true;
}

std::unique_ptr<File> PosixFiles::CreateTruncate(const std::string& path) {
  const std::string native = root_.Map(path);
  if (Held(native)) return nullptr;
  // A link at the name would send the write wherever it points.
  return Open(native, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW);
}

std::unique_ptr<File> PosixFiles::CreateNew(const std::string& path) {
  // O_EXCL never follows a link at the name; O_NOFOLLOW says so once more.
  return Open(root_.Map(path), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
}

std::unique_ptr<File> PosixFiles::OpenAppend(const std::string& path) {
  const std::string native = root_.Map(path);
  if (Held(native)) return nullptr;
  // A link at the name would append to whatever it points at.
  return Open(native, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW);
}

int64_t PosixFiles::FileSize(const std::string& path) {
  std::string native = root_.Map(path);
  struct stat info;
  if (native.empty() || ::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool PosixFiles::MakeFolders(const std::string& path) {
  const std::string native = root_.Map(path);
  if (native.empty()) {
    errno = ENOENT;
    return false;
  }
  return MakeFoldersNative(native);
}

bool PosixFiles::MakeFoldersNative(const std::string& native) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = native.find('/', slash + 1);
    const std::string prefix = native.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat info;
  return ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PosixFiles::ListFolder(const std::string& path, std::vector<std::string>* names) {
  const std::string native = root_.Map(path);
  DIR* dir = native.empty() ? nullptr : ::opendir(native.c_str());
  if (!dir) return false;
  names->clear();
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  ::closedir(dir);
  return true;
}

bool PosixFiles::RemoveFolder(const std::string& path) {
  const std::string native = root_.Map(path);
  return !native.empty() && ::rmdir(native.c_str()) == 0;
}

bool PosixFiles::Exists(const std::string& path) {
  std::string native = root_.Map(path);
  struct stat info;
  return !native.empty() && ::stat(native.c_str(), &info) == 0;
}

bool PosixFiles::Rename(const std::string& from, const std::string& to) {
  std::string source = root_.Map(from);
  std::string target = root_.Map(to);
  if (source.empty() || target.empty()) {
    errno = ENOENT;
    return false;
  }
  // A held file may move away, but nothing may take its place. A program just stopped
  // may hold its file a moment longer: tried again, as the port's contract says.
  for (int attempt = 1; Held(target); ++attempt) {
    if (attempt == kRenameTries) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kRenameWaitMs));
  }
  return std::rename(source.c_str(), target.c_str()) == 0;
}

bool PosixFiles::Remove(const std::string& path) {
  std::string native = root_.Map(path);
  if (native.empty()) {
    errno = ENOENT;
    return false;
  }
  if (Held(native)) return false;
  return ::unlink(native.c_str()) == 0;
}

bool PosixFiles::IsLocalFixedPath(const std::string& path) {
  const std::string native = root_.Map(path);
  if (native.empty() || path.size() < 2 || path[1] != ':') return false;
  const std::string drive = root_.Map(path.substr(0, 2) + "\\");
  char resolved[PATH_MAX];
  if (!::realpath(drive.c_str(), resolved)) return false;  // no such drive here
  const std::string driveFinal = resolved;
  // The deepest part that exists; what lies below it cannot lead anywhere yet.
  std::string probe = native;
  struct stat info;
  while (probe.size() > drive.size() && ::lstat(probe.c_str(), &info) != 0) {
    probe.erase(probe.rfind('/'));
  }
  if (!::realpath(probe.c_str(), resolved)) return false;  // a dangling link
  return driveFinal + probe.substr(drive.size()) == resolved;
}

PathKind PosixFiles::Kind(const std::string& path) {
  const std::string native = root_.Map(path);
  struct stat info;
  if (native.empty()) return PathKind::kMissing;
  if (::lstat(native.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::kMissing : PathKind::kUnknown;
  }
  if (S_ISLNK(info.st_mode)) return PathKind::kLink;
  if (S_ISREG(info.st_mode)) return PathKind::kFile;
  if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
  return PathKind::kOther;
}

bool PosixFiles::MakePrivateFolder(const std::string& path) {
  const std::string native = root_.Map(path);
  if (native.empty()) {
    errno = ENOENT;
    return false;
  }
  if (::mkdir(native.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  // Opened without following a link, so that the checks and the narrowing concern the
  // folder itself.
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
            (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  if (ok && (info.st_mode & 077) != 0) ok = ::fchmod(fd, 0700) == 0;
  if (!ok && errno == 0) errno = EACCES;
  ::close(fd);
  if (!ok) errno = EACCES;
  return ok;
}

int PosixFiles::LastError() { return errno; }

}  // namespace ost
