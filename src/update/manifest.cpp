// Parsing the update manifest (server.txt).
#include "update/manifest.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "update/service_table.h"
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

// A decimal number as text to an integer scaled by 10 or 100, rounded. False outside
// 0..limit (NaN included).
bool ScaledNumber(std::string_view text, int scale, int32_t limit, int32_t* number) {
  std::string copy(text);
  const double value = std::strtod(copy.c_str(), nullptr) * scale;
  if (!(value > -0.5 && value < limit + 0.5)) return false;
  *number = static_cast<int32_t>(std::lround(value));
  return true;
}

// A manifest text field, bound by its width in the manifest's own encoding.
std::string Field(std::string_view gbk, size_t width) { return GbkToUtf8(CutGbk(gbk, width - 1)); }

// One line of the entry block, read as far as it goes.
ManifestRow ReadRow(std::string_view line, bool endsWithLineFeed) {
  ManifestRow row;
  size_t tab1 = line.find('\t');
  row.version = ReadVersionField(line.substr(0, tab1));
  size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
  if (tab2 == std::string_view::npos) {
    row.end = RowEnd::kNoKey;
    return row;
  }
  row.component = FindComponent(line.substr(tab1 + 1, tab2 - tab1 - 1));
  if (!row.component) {
    row.end = RowEnd::kUnknownKey;
    return row;
  }
  size_t tab3 = line.find('\t', tab2 + 1);
  if (tab3 == std::string_view::npos) {
    row.end = RowEnd::kNoLabelEnd;
    return row;
  }
  row.versionLabel = Field(line.substr(tab2 + 1, tab3 - tab2 - 1), kNameWidth);
  if (!endsWithLineFeed) {
    row.end = RowEnd::kNoLineFeed;
    return row;
  }
  row.description = Field(line.substr(tab3 + 1), kDescriptionWidth);
  row.end = RowEnd::kComplete;
  return row;
}

}  // namespace

Manifest ParseManifest(std::string_view bytes) {
  Manifest manifest;
  // The text ends at its first zero byte.
  const std::string_view text = bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));

  size_t velinAt = std::min<size_t>(5, text.size());
  while (velinAt < text.size() && !IsDigit(text[velinAt])) ++velinAt;
  manifest.ostraVersionUsable =
      ScaledNumber(text.substr(0, 4), 100, kMaxOstraVersion, &manifest.ostraVersion);
  manifest.velinVersionUsable =
      ScaledNumber(text.substr(velinAt), 10, kMaxVelinVersion, &manifest.velinVersion);

  // The marker searches start at the second number.
  const size_t detailStart = text.find(kDetailMarker, velinAt);
  const size_t begin = text.find(kBeginMarker, velinAt);
  if (begin != std::string_view::npos) {
    manifest.hasEntryBlock = true;
    const std::string_view entries = text.substr(0, text.find(kEndMarker, begin));
    size_t lineStart = begin;
    for (int n = 0; n < kServiceCount; ++n) {
      size_t lf = entries.find('\n', lineStart);
      if (lf == std::string_view::npos) break;
      lineStart = lf + 1;
      size_t lineEnd = entries.find('\n', lineStart);
      std::string_view line =
          entries.substr(lineStart, lineEnd == std::string_view::npos ? std::string_view::npos
                                                                      : lineEnd - lineStart);
      manifest.rows.push_back(ReadRow(line, lineEnd != std::string_view::npos));
    }
  }

  if (detailStart != std::string_view::npos) {
    const size_t detailEnd = text.find(kDetailEndMarker, detailStart);
    if (detailEnd != std::string_view::npos) {
      // The marker and the one byte of its line break.
      size_t at = detailStart + kDetailMarker.size() + 1;
      for (;;) {
        while (at < text.size() && (text[at] == '\r' || text[at] == '\n' || text[at] == ' ')) ++at;
        if (at >= detailEnd) break;
        size_t lf = text.find('\n', at);
        if (lf == std::string_view::npos) break;
        std::string_view line = text.substr(at, lf - at);
        if (line.size() < 10) break;
        manifest.detailLines.emplace_back(line);
        at = lf + 1;
      }
    }
  }
  return manifest;
}

}  // namespace ost
