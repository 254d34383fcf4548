// Cutting a database script into its batches, each ended by a "GO" line.
#include <cstring>
#include <string_view>

#include "update/sql_runner.h"

namespace ost {

int CutSqlBatches(char* text, size_t length, const std::function<bool(const char*)>& send) {
  static constexpr std::string_view kSeparator = "GO\r\n";
  text[length] = '\0';
  // The text ends at its first zero byte; nothing after it is sent.
  char* const end = text + strnlen(text, length);
  int sent = 0;
  char* at = text;
  for (;;) {
    size_t found = std::string_view(at, static_cast<size_t>(end - at)).find(kSeparator);
    if (found == std::string_view::npos) break;
    char* separator = at + found;
    *separator = '\0';
    char* batch = at;
    while (*batch == '\r' || *batch == '\n' || *batch == ' ' || *batch == '\t') ++batch;
    if (!send(batch)) break;
    ++sent;
    at = separator + 3;  // at the separator's line feed
  }
  return sent;
}

}  // namespace ost
