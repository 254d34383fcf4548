// What the product database says is installed: the check's reading of it, without a
// screen. The caller shows what went wrong.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/database_port.h"
#include "platform/file_port.h"

namespace ost {

// The product keeps its managed components in six slots (ii 0 to 5).
constexpr int kServiceCount = 6;
// Below 3.73 the tool refuses to update.
constexpr int32_t kMinimumOstraVersion = 373;
constexpr size_t kVersionTextWidth = 8;
constexpr size_t kSiteIdWidth = 32;
constexpr size_t kPathWidth = 256;

struct InstallationFacts {
  std::string versionText;            // the product version as stored, UTF-8
  int32_t installedOstraVersion = 0;  // hundredths
  // The installed update number of each slot; slots without a row keep theirs.
  std::array<int32_t, kServiceCount> componentNumbers{};
  int32_t velinEnabled = 0;
  std::string webSiteId;
  std::string cgiBinDir;               // the web root and "\cgi-bin"
  int32_t installedVelinVersion = 70;  // tenths
  int32_t libxlPresent = 0;            // libxl.dll lies in cgiBinDir
  int32_t ostDataPending = 0;          // OstData.dll was found
};

// Where the reading stopped, and what the caller shows for it.
enum class ReadStop {
  kNone,           // everything was read
  kNoStatement,    // a statement handle could not be had
  kVersionQuery,   // the product version query failed
  kTooOld,         // the product is older than kMinimumOstraVersion
  kNumbersQuery,   // the update numbers query failed
  kPlatformQuery,  // the web platform flag query failed
  kSiteQuery,      // the web site id query failed
  kWebRootQuery,   // the web root query failed; the check goes on without the web platform
};

struct ReadOutcome {
  int result = 1;  // 1: the check may go on; 0: it stops
  ReadStop stop = ReadStop::kNone;
  DbOutcome failure;  // the statement that failed, with its diagnostics
};

// Reads, in order, the product version, the update numbers, the web platform flag,
// the site id, the web root (and what lies in its cgi-bin folder, through files) and
// the web platform version into *facts. Values read before a failure stay there.
ReadOutcome ReadInstallation(ProductDatabase& database, FilePort& files, InstallationFacts* facts);

// "3.80" -> 380, "7.2" -> 72: the decimal value times 100 or 10, rounded.
int32_t OstraVersionNumber(const std::string& text);
int32_t VelinVersionNumber(const std::string& text);

}  // namespace ost
