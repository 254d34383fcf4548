// The tool's own folders in the program folder (backup, staging): ordinary users may
// be able to write to the program folder, so nothing the tool later reads back from
// these, or deletes in them, may be theirs.
#pragma once

#include <string>

#include "platform/file_port.h"

namespace ost {

// Makes, or checks, `folder` (e.g. "C:\OSTRA\backup") as the tool's own: writable by
// the owner only on Linux, by administrators and SYSTEM only on Windows. Refused when
// it is a link or junction, no folder, or open to others' writes; *why then says so,
// for the journal.
bool MakeOwnFolder(FilePort& files, const std::string& folder, std::string* why);

}  // namespace ost
