// The check's reading of the product database.
#include "db/installation.h"

#include <cctype>

#include <cmath>
#include <cstdlib>

#include "util/text.h"

namespace ost {
namespace {

// An absolute path on a drive letter (UTF-8, where no byte of a character is a
// backslash): "X:\" and names, none of them "." or ".." nor naming a stream. Network
// shares ("\\host\..."), "\\?\" paths and relative paths are refused.
bool LocalDrivePath(const std::string& path) {
  if (path.size() < 3) return false;
  const unsigned char letter = static_cast<unsigned char>(path[0]);
  if (!std::isalpha(letter) || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return false;
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "." || part == ".." || part.find(':') != std::string::npos) return false;
    if (part.empty() && end != path.size()) return false;  // "\\" inside the path
    start = end + 1;
  }
  return true;
}

// Version text to an integer in hundredths or tenths, rounded to the nearest.
int32_t VersionNumber(const std::string& text, int scale) {
  return static_cast<int32_t>(std::lround(std::strtod(text.c_str(), nullptr) * scale));
}

ReadOutcome Stop(ReadStop stop, int result, const DbOutcome& failure) {
  ReadOutcome outcome;
  outcome.result = result;
  outcome.stop = failure.status == DbStatus::kNoHandle ? ReadStop::kNoStatement : stop;
  outcome.failure = failure;
  return outcome;
}

}  // namespace

int32_t OstraVersionNumber(const std::string& text) { return VersionNumber(text, 100); }
int32_t VelinVersionNumber(const std::string& text) { return VersionNumber(text, 10); }

ReadOutcome ReadInstallation(ProductDatabase& database, FilePort& files, InstallationFacts* facts) {
  // Product version.
  DbText version = database.QueryText(
      "SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC", kVersionTextWidth);
  if (version.outcome.status != DbStatus::kOk)
    return Stop(ReadStop::kVersionQuery, 0, version.outcome);
  facts->installedOstraVersion = 0;
  if (!version.found) {
    facts->versionText.clear();
  } else {
    facts->versionText = DbTextToUtf8(version.bytes);
    facts->installedOstraVersion = OstraVersionNumber(version.bytes);
  }
  if (facts->installedOstraVersion < kMinimumOstraVersion) {
    ReadOutcome outcome;
    outcome.result = 0;
    outcome.stop = ReadStop::kTooOld;
    return outcome;
  }

  // Installed update number of each component. Rows come in falling order, so a slot
  // with several rows keeps its smallest.
  DbPairs numbers =
      database.QueryUnsignedPairs("SELECT ii,nn FROM ostra.dbo.sys_server_update ORDER BY nn DESC");
  if (numbers.outcome.status != DbStatus::kOk) {
    return Stop(ReadStop::kNumbersQuery, 0, numbers.outcome);
  }
  for (const auto& [slot, number] : numbers.rows) {
    if (slot < kServiceCount) facts->componentNumbers[slot] = static_cast<int32_t>(number);
  }

  // Is the web platform installed?
  DbText platform =
      database.QueryText("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='29'", 128);
  if (platform.outcome.status != DbStatus::kOk) {
    return Stop(ReadStop::kPlatformQuery, 0, platform.outcome);
  }
  facts->velinEnabled = platform.found && !platform.bytes.empty() && platform.bytes[0] == '1';
  if (!facts->velinEnabled) return {};

  // The web site's id.
  DbText site = database.QueryText("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='45'", 128);
  if (site.outcome.status != DbStatus::kOk) return Stop(ReadStop::kSiteQuery, 0, site.outcome);
  bool siteUsable = true;
  if (!site.found) {
    facts->webSiteId.clear();
  } else if (site.overflowed || site.bytes.size() > kSiteIdWidth - 1) {
    // An id that does not fit its 31 bytes names no site this tool can look up.
    facts->webSiteId.clear();
    siteUsable = false;
  } else {
    facts->webSiteId = DbTextToUtf8(site.bytes);
  }

  // The web root, and what lies in its cgi-bin folder.
  if (siteUsable) {
    DbText root = database.QueryText(
        "SELECT wcroot FROM velin.dbo.web_main WHERE wcid='" + QuoteSqlText(facts->webSiteId) + "'",
        kPathWidth);
    if (root.outcome.status == DbStatus::kNoHandle) {
      return Stop(ReadStop::kNoStatement, 0, root.outcome);
    }
    if (root.outcome.status != DbStatus::kOk) {
      facts->velinEnabled = 0;
      return Stop(ReadStop::kWebRootQuery, 1, root.outcome);
    }
    if (!root.found) {
      facts->velinEnabled = 0;
      facts->cgiBinDir.clear();
    } else {
      std::string dir = root.bytes;
      if (!dir.empty() && dir.back() == '\\') dir.pop_back();
      dir += "\\cgi-bin";
      if (root.overflowed || dir.size() > kPathWidth - 1 ||
          !LocalDrivePath(DbTextToUtf8(root.bytes)) || !files.IsLocalFixedPath(DbTextToUtf8(dir))) {
        // A cut folder would point the update at the wrong place, and one elsewhere (a
        // network share, the current folder, a climb out, a removable drive, a junction
        // to any of them) hands the elevated tool to whoever the database names: no
        // web platform.
        facts->velinEnabled = 0;
        facts->cgiBinDir.clear();
      } else {
        facts->cgiBinDir = DbTextToUtf8(dir);
        if (files.Exists(facts->cgiBinDir + "\\libxl.dll")) facts->libxlPresent = 1;
        if (facts->webSiteId != "revid") {
          if (files.Exists(facts->cgiBinDir + "\\OstData.dll") ||
              files.Exists("D:\\wwwroot\\cgi-bin\\OstData.dll")) {
            facts->ostDataPending = 1;
          }
        }
      }
    }
  } else {
    facts->velinEnabled = 0;
    facts->cgiBinDir.clear();
  }

  // The web platform's version; a failed query leaves the default.
  facts->installedVelinVersion = 70;
  DbText velin = database.QueryText(
      "SELECT TOP 1 cversion FROM velin.dbo.sys_version ORDER BY cversion DESC", kVersionTextWidth);
  if (velin.outcome.status == DbStatus::kNoHandle)
    return Stop(ReadStop::kNoStatement, 0, velin.outcome);
  if (velin.outcome.status != DbStatus::kOk) return {};
  if (velin.found) facts->installedVelinVersion = VelinVersionNumber(velin.bytes);
  return {};
}

}  // namespace ost
