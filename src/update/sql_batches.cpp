// Cutting a database script into its batches, each ended by a "GO" line, and sending them.
#include <cstring>
#include <string_view>

#include "update/sql_runner.h"

#include "platform/database_port.h"

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

BatchesSent SendSqlBatches(ProductDatabase& database, RunObserver& observer, const PlanStep& step,
                           char* text, size_t length, bool whole,
                           const std::function<void(int, const char*, const DbOutcome&)>& refused) {
  BatchesSent sent;
  // Batch 0: the whole script is under way; none of it stays unless all of it does.
  if (whole) observer.OnBatchStarting(step, 0);
  CutSqlBatches(text, length, [&](const char* batch) {
    ++sent.sent;
    if (!whole) observer.OnBatchStarting(step, sent.sent);
    const DbOutcome result = database.ExecuteRaw(batch);
    if (result.status == DbStatus::kOk) return true;
    if (result.status == DbStatus::kFailed) {
      ++sent.failed;
      refused(sent.sent, batch, result);
    }
    if (result.status == DbStatus::kNoHandle || whole) {
      sent.stop = result;
      return false;
    }
    return true;
  });
  return sent;
}

}  // namespace ost
