// The update manifest (server.txt): versions, one entry row per component, and the
// detail files with their digests. Evaluated once, right after the check.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {
namespace {

constexpr std::string_view kBeginMarker = "--BEGIN--";
constexpr std::string_view kEndMarker = "--END--";
constexpr std::string_view kDetailMarker = "--FILE DETAIL--";
constexpr std::string_view kDetailEndMarker = "--FILE DETAIL END--";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A version field as a standard integer conversion reads it: blanks, a sign, digits.
int32_t ReadVersionField(std::string_view field) {
  size_t at = 0;
  while (at < field.size() && field[at] == ' ') ++at;
  bool negative = at < field.size() && field[at] == '-';
  if (at < field.size() && (field[at] == '-' || field[at] == '+')) ++at;
  int64_t value = 0;
  for (; at < field.size() && IsDigit(field[at]); ++at) {
    value = std::min<int64_t>(value * 10 + (field[at] - '0'), INT32_MAX);
  }
  return static_cast<int32_t>(negative ? -value : value);
}

// Beyond these (Ostra 99.99, Velin 99.9) a version names no release; within them a
// plan has a few thousand script rows at most.
constexpr int32_t kMaxOstraVersion = 9999;
constexpr int32_t kMaxVelinVersion = 999;

// A decimal number as text to an integer scaled by 10 or 100, rounded. False beyond
// +-limit (NaN included), where the plan would get a script row for every step up to
// a number without end.
bool ScaledNumber(std::string_view text, int scale, int32_t limit, int32_t* number) {
  std::string copy(text);
  const double value = std::strtod(copy.c_str(), nullptr) * scale;
  if (!(std::fabs(value) <= limit)) return false;
  *number = static_cast<int32_t>(std::lround(value));
  return true;
}

// A manifest text field, bound by its width in the manifest's own encoding.
std::string Field(std::string_view gbk, size_t width) { return GbkToUtf8(CutGbk(gbk, width - 1)); }

}  // namespace

void UpdateDialog::EvaluateManifest() {
  const char* bytes = reinterpret_cast<const char*>(receiveBuffer.get());
  // The text ends at its first zero byte, as the terminated buffer shows it.
  const std::string_view text(bytes, strnlen(bytes, static_cast<size_t>(job.receivedLength.load())));
  const int manifestRow = currentRow;

  updateFound = 0;
  size_t velinAt = std::min<size_t>(5, text.size());
  while (velinAt < text.size() && !IsDigit(text[velinAt])) ++velinAt;
  int32_t ostraVersion = 0;
  int32_t velinVersion = 0;
  if (!ScaledNumber(text.substr(0, 4), 100, kMaxOstraVersion, &ostraVersion) ||
      !ScaledNumber(text.substr(velinAt), 10, kMaxVelinVersion, &velinVersion)) {
    // Read as a manifest without entries.
    run.updateRunning = 0;
    return;
  }
  versions.availableOstraVersion = ostraVersion;
  versions.availableVelinVersion = velinVersion;

  const size_t detailStart = text.find(kDetailMarker, velinAt);
  const size_t begin = text.find(kBeginMarker, velinAt);
  if (begin == std::string_view::npos) {
    run.updateRunning = 0;
    return;
  }
  const std::string_view entries = text.substr(0, text.find(kEndMarker, begin));

  size_t lineStart = begin;
  for (int n = 0; n < kServiceCount; ++n) {
    size_t lf = entries.find('\n', lineStart);
    if (lf == std::string_view::npos) break;
    lineStart = lf + 1;
    size_t lineEnd = entries.find('\n', lineStart);
    std::string_view line = entries.substr(lineStart, lineEnd == std::string_view::npos
                                                          ? std::string_view::npos
                                                          : lineEnd - lineStart);
    ServiceEntry& entry = serviceTable[static_cast<size_t>(n)];
    size_t tab1 = line.find('\t');
    entry.availableVersion = ReadVersionField(line.substr(0, tab1));
    if (entry.availableVersion <= entry.installedVersion) continue;

    entry.needsUpdate = 1;
    updateFound = 1;
    size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string_view::npos) break;
    const Component* component = FindComponent(line.substr(tab1 + 1, tab2 - tab1 - 1));
    if (!component) break;
    entry.kind = component->kind;
    entry.displayName = component->displayName;
    entry.fileName = component->fileName;
    entry.serviceName = component->serviceName;
    entry.estimatedSeconds = component->estimatedSeconds;
    if (component->inWebFolder) entry.installDir = db.cgiBinDir;
    if (component->kind == kVelinKind) velinEntry = n;
    if (component->kind == kOstDataKind) ostDataEntry = n;

    size_t tab3 = line.find('\t', tab2 + 1);
    if (tab3 == std::string_view::npos) break;
    entry.versionLabel = Field(line.substr(tab2 + 1, tab3 - tab2 - 1), kNameWidth);
    if (lineEnd == std::string_view::npos) break;  // no line feed after the description
    entry.description = Field(line.substr(tab3 + 1), kDescriptionWidth);
  }

  if (detailStart != std::string_view::npos) {
    const size_t detailEnd = text.find(kDetailEndMarker, detailStart);
    if (detailEnd != std::string_view::npos) {
      size_t at = detailStart + kDetailMarker.size() + 1;
      for (;;) {
        while (at < text.size() && (text[at] == '\r' || text[at] == '\n' || text[at] == ' ')) ++at;
        if (at >= detailEnd) break;
        size_t lf = text.find('\n', at);
        if (lf == std::string_view::npos) break;
        std::string_view line = text.substr(at, lf - at);
        if (line.size() < 10) break;
        CompareDetailFile(line);
        at = lf + 1;
      }
    }
  }

  SetStepStatus(text::kManifestDone, true);
  if (versions.installedOstraVersion < versions.availableOstraVersion) {
    SetCell(manifestRow, 2,
            Format(text::kVersionUpgrade, versions.installedOstraVersion / 100.0,
                   versions.availableOstraVersion / 100.0));
    updateFound = 1;
  } else {
    SetCell(manifestRow, 2, Format(text::kVersionLatest, versions.installedOstraVersion / 100.0));
  }
  currentRow = manifestRow + 1;

  if (updateFound) {
    BuildPlan();
    if (RowCount() > headerRow + 1) {
      closeOnClick = 0;
      return;
    }
  }
  InsertRow(currentRow, text::kNothingStep);
  SetCell(currentRow, 1, text::kCheckResult);
  SetCell(currentRow, 2, text::kNothingToUpdate);
  SetRowColors(currentRow, kAlertRed, kWhite);
  SetButtonState(ButtonState::kFinished);
  run.updateRunning = 0;
  closeOnClick = 1;
  FinishedBeeps();
}

void UpdateDialog::FinishedBeeps() {
  Beep(462, 300);
  Beep(494, 300);
  Beep(530, 300);
}

}  // namespace ost
