// Cutting a database script into its batches.
#pragma once

#include <cstddef>
#include <functional>

#include "update/run_events.h"
#include "platform/database_port.h"

namespace ost {

// Cuts text[0..length) in place at every "GO\r\n" (a plain, case-sensitive byte search,
// wherever it stands) and hands each batch to send, in order, without its leading CR,
// LF, space and tab bytes; text[length] must be writable and receives a terminator.
// The text ends at its first zero byte, and text after the last separator is not
// sent. Stops early when send returns false.
// Returns the number of batches sent.
int CutSqlBatches(char* text, size_t length, const std::function<bool(const char* batch)>& send);

// What became of a script's batches.
struct BatchesSent {
  int sent = 0;    // handed to the database, the one that ended the sending included
  int failed = 0;  // of them, refused by the database
  DbOutcome stop;  // what ended the sending early (kOk: every batch was sent)
};

// Sends the batches of text[0..length) (cut as above) one by one. Each is announced to
// `observer` first with its number, from 1, so that the run's record says which one is
// under way; in one transaction (`whole`) the script is announced once, as batch 0, and
// the first refused batch ends the sending. A batch the database refuses goes to
// `refused` (its number, its text, the outcome); no statement handle ends the sending.
BatchesSent SendSqlBatches(
    ProductDatabase& database, RunObserver& observer, const PlanStep& step, char* text,
    size_t length, bool whole,
    const std::function<void(int number, const char* batch, const DbOutcome& outcome)>& refused);

}  // namespace ost
