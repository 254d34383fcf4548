// Diagnostic records of the stand-in driver's handles, and SQLite errors as SQLSTATEs.
#pragma once

#include <sql.h>

#include <string>
#include <string_view>
#include <vector>

namespace ost {

// Every message the driver reports starts with this, as SQL Server's driver names itself.
inline constexpr char kMessagePrefix[] = "[ost][SQL Server stand-in]";

// The SQLSTATE that stands for a SQLite error (extended result code and its message).
const char* SqliteErrorState(int extendedCode, std::string_view message);

struct DiagRecord {
  std::string state;  // five characters
  SQLINTEGER native = 0;
  std::string message;     // with kMessagePrefix
  SQLLEN row = -1;         // SQL_NO_ROW_NUMBER
  SQLINTEGER column = -1;  // SQL_NO_COLUMN_NUMBER
};

// The records of one handle; cleared at the start of each call on that handle.
struct Diagnostics {
  std::vector<DiagRecord> records;
  SQLRETURN lastReturn = SQL_SUCCESS;
  SQLLEN rowCount = 0;

  void Clear() { records.clear(); }
  // Adds a record; the message gets the driver's prefix.
  void Add(const char* state, std::string_view message, SQLINTEGER native = 0,
           SQLINTEGER column = -1);
};

// SQLGetDiagRec and SQLGetDiagField over one handle's records. serverName names the
// data source (empty before a connection).
SQLRETURN GetDiagRec(const Diagnostics& diag, SQLSMALLINT record, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT bufferLength,
                     SQLSMALLINT* textLength);
SQLRETURN GetDiagField(const Diagnostics& diag, SQLSMALLINT handleType, SQLSMALLINT record,
                       SQLSMALLINT identifier, SQLPOINTER info, SQLSMALLINT bufferLength,
                       SQLSMALLINT* stringLength, const std::string& serverName);

// Copies text into an ODBC string output (NUL-terminated, cut to fit); gives
// SQL_SUCCESS_WITH_INFO when cut. length receives the full length.
template <typename LengthType>
SQLRETURN CopyOut(std::string_view text, SQLPOINTER buffer, SQLLEN bufferLength,
                  LengthType* length) {
  if (length) *length = static_cast<LengthType>(text.size());
  if (!buffer || bufferLength <= 0) return text.empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  const size_t room = static_cast<size_t>(bufferLength) - 1;
  const size_t n = text.size() < room ? text.size() : room;
  auto* out = static_cast<char*>(buffer);
  text.copy(out, n);
  out[n] = '\0';
  return n < text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace ost
