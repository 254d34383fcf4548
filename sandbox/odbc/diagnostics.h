// Diagnostic records of the stand-in driver's handles, and SQLite errors as SQLSTATEs.
#pragma once

#include <sql.h>

#include <string>
#include <string_view>
#include <vector>

#include "convert.h"

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

// How a wide entry point counts its text buffer and the length it returns: in characters
// (SQLGetDiagRecW, SQLDescribeColW, SQLDriverConnectW, SQLNativeSqlW) or in bytes
// (SQLGetInfoW, SQLColAttributeW, SQLGetDiagFieldW).
enum class WideUnit { kCharacters, kBytes };

// CopyOut for the wide entry points: the UTF-16 form of utf8, cut between whole characters.
template <typename LengthType>
SQLRETURN CopyOutWide(std::string_view utf8, SQLPOINTER buffer, SQLLEN bufferLength, WideUnit unit,
                      LengthType* length) {
  const std::u16string text = Utf8ToUtf16(utf8);
  const size_t scale = unit == WideUnit::kBytes ? 2 : 1;
  if (length) *length = static_cast<LengthType>(text.size() * scale);
  const SQLLEN units = bufferLength / static_cast<SQLLEN>(scale);
  if (!buffer || units <= 0) return text.empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  const size_t room = static_cast<size_t>(units) - 1;
  size_t n = text.size() < room ? text.size() : room;
  if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  auto* out = static_cast<char16_t*>(buffer);
  text.copy(out, n);
  out[n] = 0;
  return n < text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace ost
