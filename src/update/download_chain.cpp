// The chain of downloads after the start click: detail files first, then one package
// per plan row, each applied before the next one starts.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "app/update_hosts.h"
#include "update/catalogue.h"
#include "util/md5.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr size_t kReadBlock = 1 << 20;

// A detail file's name must stay a plain name inside the web folder.
// Windows opens these as devices whatever the folder or extension.
bool IsDeviceName(std::string_view name) {
  std::string base = AsciiUpper(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  // A trailing dot or space is dropped by Windows, so the name would be another file.
  if (name.back() == '.' || name.back() == ' ') return false;
  return name.find("..") == std::string_view::npos && !IsDeviceName(name);
}

}  // namespace

int UpdateDialog::CompareDetailFile(std::string_view line) {
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
  std::string_view localName = packageName.substr(0, zip);
  // A name that climbs out of the web folder, or names another drive, is never fetched.
  if (!IsPlainFileName(localName)) return -6;

  std::string name = GbkToUtf8(localName);
  std::unique_ptr<File> file = platform().files->OpenRead(db.cgiBinDir + "\\" + name);
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

  bool same = wanted.size() == 32;
  for (size_t i = 0; same && i < 32; ++i) {
    same = std::tolower(static_cast<unsigned char>(wanted[i])) == digest[i];
  }
  if (same) return 0;
  detailFiles.push_back(name);
  return size;
}

void UpdateDialog::StartNextDownload() {
  if (!detailFiles.empty()) {
    job.downloadKind = kDetailFileKind;
    const std::string name = detailFiles.front();
    detailFiles.erase(detailFiles.begin());
    job.requestPath = Format("%s%s.zip", kUpdatePath, Utf8ToGbk(name).c_str());
    job.targetPath = db.cgiBinDir + "\\" + name;
    SetCell(headerRow, 3, job.targetPath);
  } else if (currentRow >= RowCount()) {
    SetButtonState(ButtonState::kFinished);
    SetStatusLine(text::kUpdateComplete);
    run.updateRunning = 0;
    closeOnClick = 1;
    FinishedBeeps();
    return;
  } else {
    int32_t tag = GetRowTag(currentRow);
    if (tag < kEntryTagBase) {
      job.downloadKind = tag < 300 ? 2 : 1;
      job.requestPath = tag < 300 ? Format("%ssql/v%d.sql.zip", kUpdatePath, tag)
                                  : Format("%ssql/update%d.sql.zip", kUpdatePath, tag);
      // Scripts have no local file; the progress texts name the package instead.
      job.targetPath = job.requestPath.substr(std::strlen(kUpdatePath));
    } else {
      currentEntry = tag - kEntryTagBase;
      const ServiceEntry& entry = serviceTable[static_cast<size_t>(currentEntry)];
      job.downloadKind = entry.kind;
      const bool xVariant = entry.fileName == "Velin.dll" && run.libxlPresent;
      job.requestPath =
          Format(xVariant ? "%s%sx.zip" : "%s%s.zip", kUpdatePath, entry.fileName.c_str());
      job.targetPath = entry.installDir + "\\" + entry.fileName;
    }
  }
  job.receivedLength = 0;
  job.expectedLength = 0;
  progressPercent = 0;
  StartDownloadWorker();
}

}  // namespace ost
