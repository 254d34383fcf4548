// Files under the product's Windows paths. The core names files as the product stores
// them ("D:\wwwroot\cgi-bin\Velin.dll"); a provider maps them to its own file system.
// All calls run on the UI thread, except where a caller says otherwise.
//
// Contract, whatever the provider:
// - A missing file or folder: OpenRead null, Exists false, FileSize -1, Kind kMissing,
//   Remove, Rename and ListFolder false; LastError says why.
// - Close flushes what was written to the disk before it reports, and is false when the
//   system cannot; Read and Write fail afterwards.
// - Rename retries by itself: a target held for a moment (a program just stopped, a
//   scanner reading it) is tried again for about a second (kRenameTries tries,
//   kRenameWaitMs apart); callers make one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ost {

constexpr int kRenameTries = 5;
constexpr unsigned kRenameWaitMs = 200;

// What a name is in itself: a link or junction at it is not followed.
enum class PathKind { kMissing, kFile, kFolder, kLink, kOther, kUnknown };

class File {
 public:
  // Closes the file if Close was not called; a failure there goes unnoticed, so a
  // writer calls Close itself.
  virtual ~File() = default;
  // Bytes read (0 at the end), or -1 on error.
  virtual int64_t Read(void* data, size_t size) = 0;
  // Bytes written, or -1 on error; a short count means the write stopped midway.
  virtual int64_t Write(const void* data, size_t size) = 0;
  // Closes the file; false when the system reports that the bytes may not all have
  // reached it (a full quota, a lost network share). Read and Write fail afterwards.
  virtual bool Close() = 0;
};

class FilePort {
 public:
  virtual ~FilePort() = default;
  // Null when the file cannot be opened.
  virtual std::unique_ptr<File> OpenRead(const std::string& path) = 0;
  // Creates the file or truncates an existing one; null on failure, and for a link or
  // junction at the name, which is not followed.
  virtual std::unique_ptr<File> CreateTruncate(const std::string& path) = 0;
  // Creates a file that must not exist yet, under any name: a file, a folder or a link
  // already there (planted or not) makes it fail, and nothing is followed. Null on
  // failure.
  virtual std::unique_ptr<File> CreateNew(const std::string& path) = 0;
  // Opens a file for writing at its end, creating it when missing; null on failure.
  virtual std::unique_ptr<File> OpenAppend(const std::string& path) = 0;
  // True when a file or folder of exactly this path exists.
  virtual bool Exists(const std::string& path) = 0;
  // The size of a file in bytes, or -1 when it cannot be had.
  virtual int64_t FileSize(const std::string& path) = 0;
  // Creates the folder and every folder above it that is missing; true when it exists
  // afterwards.
  virtual bool MakeFolders(const std::string& path) = 0;
  // The names of what a folder holds (not "." and ".."), in no particular order;
  // false when the folder cannot be read.
  virtual bool ListFolder(const std::string& path, std::vector<std::string>* names) = 0;
  // Removes an empty folder.
  virtual bool RemoveFolder(const std::string& path) = 0;
  // Replaces `to` by `from` in one step (both in one folder); false on failure, after the
  // tries above when the target is held.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  virtual bool Remove(const std::string& path) = 0;
  // True when the path lies on a local fixed drive and the deepest part of it that
  // exists opens at that very path: no junction, link or mounted share on the way.
  virtual bool IsLocalFixedPath(const std::string& path) = 0;
  // The provider's own name for a path, for messages and tools.
  virtual std::string NativePath(const std::string& path) = 0;
  // What is at the path itself; kUnknown when the system cannot tell (no access to a
  // folder above it, say).
  virtual PathKind Kind(const std::string& path) = 0;
  // The tool's own folder (its parent must exist): made writable by the owner only
  // (Linux) or by administrators and SYSTEM only (Windows), or, when it exists, checked
  // to be a real folder that no one else may write to. False otherwise.
  virtual bool MakePrivateFolder(const std::string& path) = 0;
  // The system's error number for the calling thread's last failed call of this port
  // or of one of its files (errno, GetLastError); 0 when the provider has none.
  virtual int LastError() = 0;
};

}  // namespace ost
