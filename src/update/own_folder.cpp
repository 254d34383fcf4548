#include "update/own_folder.h"

#include "util/text.h"

namespace ost {

bool MakeOwnFolder(FilePort& files, const std::string& folder, std::string* why) {
  if (files.MakePrivateFolder(folder)) return true;
  const int error = files.LastError();
  switch (files.Kind(folder)) {
    case PathKind::kLink:
      *why = folder + " is a link or junction: it is not used";
      break;
    case PathKind::kFolder:
      *why = Format(
          "%s is not the tool's own: others may write to it (system error %d); it is "
          "not used until it is removed",
          folder.c_str(), error);
      break;
    case PathKind::kMissing:
      *why = Format("%s cannot be made (system error %d)", folder.c_str(), error);
      break;
    default:
      *why = folder + " is there but no folder: it is not used";
      break;
  }
  return false;
}

}  // namespace ost
