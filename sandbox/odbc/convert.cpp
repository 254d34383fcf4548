#include "convert.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ost {
namespace {

// offset value once a whole value (or a NULL, or a fixed-size value) has been returned.
constexpr size_t kDone = static_cast<size_t>(-1);

struct IntegerTarget {
  SQLSMALLINT cType;
  long double low, high;
  size_t size;
  bool isSigned;
};

const IntegerTarget kIntegerTargets[] = {
    {SQL_C_SLONG, INT32_MIN, INT32_MAX, 4, true},  {SQL_C_LONG, INT32_MIN, INT32_MAX, 4, true},
    {SQL_C_ULONG, 0, UINT32_MAX, 4, false},        {SQL_C_SSHORT, INT16_MIN, INT16_MAX, 2, true},
    {SQL_C_SHORT, INT16_MIN, INT16_MAX, 2, true},  {SQL_C_USHORT, 0, UINT16_MAX, 2, false},
    {SQL_C_STINYINT, INT8_MIN, INT8_MAX, 1, true}, {SQL_C_TINYINT, INT8_MIN, INT8_MAX, 1, true},
    {SQL_C_UTINYINT, 0, UINT8_MAX, 1, false},      {SQL_C_SBIGINT, INT64_MIN, INT64_MAX, 8, true},
    {SQL_C_UBIGINT, 0, UINT64_MAX, 8, false},
};

const IntegerTarget* FindIntegerTarget(SQLSMALLINT cType) {
  for (const IntegerTarget& target : kIntegerTargets) {
    if (target.cType == cType) return &target;
  }
  return nullptr;
}

ConvertResult Error(const char* state, const char* message) { return {SQL_ERROR, state, message}; }

const ConvertResult kCastError = Error("22018", "Invalid character value for cast");
const ConvertResult kRangeError = Error("22003", "Numeric value out of range");

// A number read from a value: exact when isInteger, else real.
struct Number {
  bool isInteger = true;
  int64_t integer = 0;
  double real = 0;
};

bool ParseText(std::string_view text, Number* out) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (begin == end) return false;
  // Only decimal notation; strtod alone would also take "inf", "nan" and hex.
  for (size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) {
      return false;
    }
  }
  const std::string copy(text.substr(begin, end - begin));
  char* stop = nullptr;
  errno = 0;
  const long long integer = std::strtoll(copy.c_str(), &stop, 10);
  if (errno == 0 && *stop == '\0') {
    out->isInteger = true;
    out->integer = integer;
    return true;
  }
  errno = 0;
  const double real = std::strtod(copy.c_str(), &stop);
  if (*stop != '\0' || stop == copy.c_str()) return false;
  out->isInteger = false;
  out->real = real;
  return true;
}

ConvertResult ReadNumber(const CellValue& value, Number* out) {
  switch (value.type) {
    case CellValue::Type::kInteger:
      out->integer = value.integer;
      return {};
    case CellValue::Type::kReal:
      out->isInteger = false;
      out->real = value.real;
      return {};
    case CellValue::Type::kText:
      return ParseText(value.text, out) ? ConvertResult{} : kCastError;
    default:
      return Error("07006", "Restricted data type attribute violation");
  }
}

ConvertResult ToInteger(const Number& number, const IntegerTarget& target, SQLPOINTER buffer) {
  long double value;
  ConvertResult result;
  if (number.isInteger) {
    value = number.integer;
  } else {
    if (std::isnan(number.real)) return kRangeError;
    value = std::trunc(static_cast<long double>(number.real));
    if (value != number.real) {
      result = {SQL_SUCCESS_WITH_INFO, "01S07", "Fractional truncation"};
    }
  }
  if (value < target.low || value > target.high) return kRangeError;
  if (buffer) {
    if (target.isSigned) {
      const int64_t v = number.isInteger ? number.integer : static_cast<int64_t>(value);
      const int32_t v32 = static_cast<int32_t>(v);
      const int16_t v16 = static_cast<int16_t>(v);
      const int8_t v8 = static_cast<int8_t>(v);
      const void* source = target.size == 8   ? static_cast<const void*>(&v)
                           : target.size == 4 ? static_cast<const void*>(&v32)
                           : target.size == 2 ? static_cast<const void*>(&v16)
                                              : static_cast<const void*>(&v8);
      std::memcpy(buffer, source, target.size);
    } else {
      const uint64_t v =
          number.isInteger ? static_cast<uint64_t>(number.integer) : static_cast<uint64_t>(value);
      const uint32_t v32 = static_cast<uint32_t>(v);
      const uint16_t v16 = static_cast<uint16_t>(v);
      const uint8_t v8 = static_cast<uint8_t>(v);
      const void* source = target.size == 8   ? static_cast<const void*>(&v)
                           : target.size == 4 ? static_cast<const void*>(&v32)
                           : target.size == 2 ? static_cast<const void*>(&v16)
                                              : static_cast<const void*>(&v8);
      std::memcpy(buffer, source, target.size);
    }
  }
  return result;
}

ConvertResult ToReal(const Number& number, SQLSMALLINT cType, SQLPOINTER buffer) {
  const double value = number.isInteger ? static_cast<double>(number.integer) : number.real;
  if (cType == SQL_C_FLOAT) {
    if (std::isfinite(value) && std::fabs(value) > FLT_MAX) return kRangeError;
    if (buffer) *static_cast<float*>(buffer) = static_cast<float>(value);
  } else if (buffer) {
    *static_cast<double*>(buffer) = value;
  }
  return {};
}

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Character and binary data, returned in parts when the buffer is short.
// keepCharacters: a text cut on a character boundary, as cut says.
ConvertResult ToBytes(std::string_view source, bool text, bool keepCharacters, CharacterCut cut,
                      SQLPOINTER buffer, SQLLEN bufferLength, SQLLEN* indicator, size_t* offset) {
  if (*offset == kDone || (*offset > 0 && *offset >= source.size())) {
    return {SQL_NO_DATA, nullptr, nullptr};
  }
  const std::string_view rest = source.substr(*offset);
  if (indicator) *indicator = static_cast<SQLLEN>(rest.size());
  size_t n = 0;
  if (buffer && bufferLength > 0) {
    const size_t room = static_cast<size_t>(bufferLength) - (text ? 1 : 0);
    n = rest.size() < room ? rest.size() : room;
    // A buffer too small for one character gets bytes.
    if (keepCharacters && n < rest.size()) n = WholeCharacters(rest, n, cut);
    std::memcpy(buffer, rest.data(), n);
    if (text) static_cast<char*>(buffer)[n] = '\0';
  }
  if (n < rest.size()) {
    *offset += n;
    return {SQL_SUCCESS_WITH_INFO, "01004", "String data, right truncated"};
  }
  *offset = kDone;
  return {};
}

// The wide form of ToBytes: source in units, lengths and offset in bytes, never a cut
// between the two halves of a surrogate pair.
ConvertResult ToWide(std::u16string_view source, SQLPOINTER buffer, SQLLEN bufferLength,
                     SQLLEN* indicator, size_t* offset) {
  const size_t unitsDone = *offset == kDone ? kDone : *offset / 2;
  if (unitsDone == kDone || (unitsDone > 0 && unitsDone >= source.size())) {
    return {SQL_NO_DATA, nullptr, nullptr};
  }
  const std::u16string_view rest = source.substr(unitsDone);
  if (indicator) *indicator = static_cast<SQLLEN>(rest.size() * 2);
  size_t n = 0;
  if (buffer && bufferLength >= 2) {
    const size_t room = static_cast<size_t>(bufferLength) / 2 - 1;
    n = rest.size() < room ? rest.size() : room;
    if (n < rest.size() && n > 1 && rest[n - 1] >= 0xD800 && rest[n - 1] <= 0xDBFF) --n;
    std::memcpy(buffer, rest.data(), n * 2);
    static_cast<char16_t*>(buffer)[n] = 0;
  }
  if (n < rest.size()) {
    *offset += n * 2;
    return {SQL_SUCCESS_WITH_INFO, "01004", "String data, right truncated"};
  }
  *offset = kDone;
  return {};
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead < 0x80) {
      length = 1;
      c = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      c = lead & 0x1F;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      c = lead & 0x0F;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      c = lead & 0x07;
      least = 0x10000;
    }
    bool valid = length > 0 && i + length <= utf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if (!valid || c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  // Written through a pointer into room for the longest form: a statement's text comes
  // through here on every call.
  std::string out(utf16.size() * 3, '\0');
  char* at = out.data();
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      *at++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *at++ = static_cast<char>(0xC0 | (c >> 6));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *at++ = static_cast<char>(0xE0 | (c >> 12));
      *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      // A surrogate pair: two units in, four bytes out, within the room of six.
      *at++ = static_cast<char>(0xF0 | (c >> 18));
      *at++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(at - out.data()));
  return out;
}

size_t WholeCharacters(std::string_view text, size_t limit, CharacterCut cut) {
  if (limit >= text.size()) return text.size();
  size_t whole = 0;
  if (cut == CharacterCut::kUtf8) {
    whole = limit;
    while (whole > 0 && (static_cast<unsigned char>(text[whole]) & 0xC0) == 0x80) --whole;
  } else {
    // Trail bytes of a double-byte set look like anything, so walk from the start.
    size_t at = 0;
    while (at < limit) {
      const auto lead = static_cast<unsigned char>(text[at]);
      const size_t length = lead >= 0x81 && lead <= 0xFE && at + 1 < text.size() ? 2 : 1;
      if (at + length > limit) break;
      at += length;
    }
    whole = at;
  }
  return whole > 0 ? whole : limit;
}

bool IsSupportedCType(SQLSMALLINT cType) {
  return cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY ||
         cType == SQL_C_DOUBLE || cType == SQL_C_FLOAT || FindIntegerTarget(cType) != nullptr;
}

bool IsKnownCType(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY:
    case SQL_C_BIT:
    case SQL_C_DOUBLE:
    case SQL_C_FLOAT:
    case SQL_C_NUMERIC:
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_GUID:
    case SQL_C_DEFAULT:
      return true;
    default:
      return FindIntegerTarget(cType) != nullptr ||
             (cType >= SQL_C_INTERVAL_YEAR && cType <= SQL_C_INTERVAL_MINUTE_TO_SECOND);
  }
}

ConvertResult ConvertCell(const CellValue& value, SQLSMALLINT cType, SQLPOINTER buffer,
                          SQLLEN bufferLength, SQLLEN* indicator, size_t* offset,
                          CharacterCut cut) {
  if (value.type == CellValue::Type::kNull) {
    if (*offset == kDone) return {SQL_NO_DATA, nullptr, nullptr};
    if (!indicator) return Error("22002", "Indicator variable required but not supplied");
    *indicator = SQL_NULL_DATA;
    *offset = kDone;
    return {};
  }
  if (cType == SQL_C_CHAR) {
    if (value.type == CellValue::Type::kBlob) {
      return ToBytes(Hex(value.text), true, false, cut, buffer, bufferLength, indicator, offset);
    }
    return ToBytes(value.text, true, true, cut, buffer, bufferLength, indicator, offset);
  }
  if (cType == SQL_C_WCHAR) {
    const std::u16string wide =
        Utf8ToUtf16(value.type == CellValue::Type::kBlob ? Hex(value.text) : value.text);
    return ToWide(wide, buffer, bufferLength, indicator, offset);
  }
  if (cType == SQL_C_BINARY) {
    std::string_view bytes = value.text;
    if (value.type == CellValue::Type::kInteger) {
      bytes = std::string_view(reinterpret_cast<const char*>(&value.integer), 8);
    } else if (value.type == CellValue::Type::kReal) {
      bytes = std::string_view(reinterpret_cast<const char*>(&value.real), 8);
    }
    return ToBytes(bytes, false, false, cut, buffer, bufferLength, indicator, offset);
  }
  if (*offset == kDone) return {SQL_NO_DATA, nullptr, nullptr};
  Number number;
  ConvertResult result = ReadNumber(value, &number);
  if (result.code == SQL_ERROR) return result;
  size_t size;
  if (const IntegerTarget* target = FindIntegerTarget(cType)) {
    result = ToInteger(number, *target, buffer);
    size = target->size;
  } else if (cType == SQL_C_DOUBLE || cType == SQL_C_FLOAT) {
    result = ToReal(number, cType, buffer);
    size = cType == SQL_C_DOUBLE ? sizeof(double) : sizeof(float);
  } else {
    return Error("HYC00", "Optional feature not implemented");
  }
  if (result.code == SQL_ERROR) return result;
  if (indicator) *indicator = static_cast<SQLLEN>(size);
  *offset = kDone;
  return result;
}

}  // namespace ost
