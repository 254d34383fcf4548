// Cutting a database script into its batches.
#pragma once

#include <cstddef>
#include <functional>

namespace ost {

// Cuts text[0..length) in place at every "GO\r\n" (a plain, case-sensitive byte search,
// wherever it stands) and hands each batch to send, in order, without its leading CR,
// LF, space and tab bytes; text[length] must be writable and receives a terminator.
// The text ends at its first zero byte, and text after the last separator is not
// sent. Stops early when send returns false.
// Returns the number of batches sent.
int CutSqlBatches(char* text, size_t length, const std::function<bool(const char* batch)>& send);

}  // namespace ost
