// Converting one result value into an application's buffer (SQLBindCol, SQLGetData).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ost {

// A value as SQLite holds it. text is SQLite's rendering for integers and reals, the bytes
// of text and blobs.
struct CellValue {
  enum class Type { kNull, kInteger, kReal, kText, kBlob };
  Type type = Type::kNull;
  int64_t integer = 0;
  double real = 0;
  std::string_view text;
};

struct ConvertResult {
  SQLRETURN code = SQL_SUCCESS;  // SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA, SQL_ERROR
  const char* state = nullptr;   // SQLSTATE for SUCCESS_WITH_INFO and ERROR
  const char* message = nullptr;
};

// How a text value may be cut when a buffer is too short.
enum class CharacterCut {
  kUtf8,        // never inside a UTF-8 sequence
  kDoubleByte,  // never between the lead and the trail byte of a double-byte character (GBK)
};

// The longest prefix of text, at most limit bytes, that ends on a character boundary
// (text starts on one). A limit below the first character's length gives limit bytes.
size_t WholeCharacters(std::string_view text, size_t limit, CharacterCut cut);

// UTF-8 and UTF-16, the text of the wide entry points (SQLWCHAR is two bytes). An invalid
// UTF-8 sequence costs one byte and a lone surrogate one unit; each becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// True for the C types that the driver converts to.
bool IsSupportedCType(SQLSMALLINT cType);
// True for any C type that ODBC defines (so the rest are invalid, not just unsupported).
bool IsKnownCType(SQLSMALLINT cType);

// Converts value into buffer as cType. offset is the number of bytes of a character or
// binary value already returned by earlier calls for the same column (SQLGetData in
// parts); it is advanced. A text cut keeps whole characters (as cut says) when it can.
// SQL_C_WCHAR gives the UTF-16 form of the text (lengths and offset in bytes), cut between
// whole characters whatever cut says.
ConvertResult ConvertCell(const CellValue& value, SQLSMALLINT cType, SQLPOINTER buffer,
                          SQLLEN bufferLength, SQLLEN* indicator, size_t* offset,
                          CharacterCut cut = CharacterCut::kUtf8);

}  // namespace ost
