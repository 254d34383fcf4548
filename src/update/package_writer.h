// Writing a file of a package over the installed one. The ways are tried in order:
// a temporary file beside the target renamed over it; the target written in place;
// then the same two at the fixed fallback path, when there is one.
#pragma once

#include <string>

#include "platform/file_port.h"
#include "util/bytes.h"

namespace ost {

enum class WriteWay { kNone, kRenamed, kInPlace };

struct WriteReport {
  bool written = false;
  WriteWay way = WriteWay::kNone;
  bool fallback = false;   // at the fallback path
  std::string path;        // where it was written, or the last path tried
  std::string failedStep;  // of the last failure: "create", "write", "close", "rename",
                           // "folder" (the checked folder leads elsewhere now)
  int error = 0;           // the system's error number of that step
};

// A failed write of the bytes themselves (a full disk, a quota) ends the tries: the
// installed file is never overwritten in place by a write that has already failed
// once beside it.
// A path whose folder is `checkedFolder` is written only while that folder still is
// where it was checked to be (no link or junction made since), asked again right
// before each way is tried; such a refusal ends the tries.
WriteReport WritePackageFile(FilePort& files, ByteSpan bytes, const std::string& target,
                             const std::string& fallback, const std::string& checkedFolder = "");

// A write killed half-way leaves its temporary file beside the target: removes every
// plain file named as this writer names them for `target`. Returns how many went;
// -1 when one of them could not be removed.
int RemoveWriteLeftovers(FilePort& files, const std::string& target);

// False when `path` lies directly in `checkedFolder` and that folder now leads
// elsewhere; true for every other path.
bool FolderStillLocal(FilePort& files, const std::string& path, const std::string& checkedFolder);

}  // namespace ost
