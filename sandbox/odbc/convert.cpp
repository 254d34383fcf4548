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

}  // namespace

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
  return cType == SQL_C_CHAR || cType == SQL_C_BINARY || cType == SQL_C_DOUBLE ||
         cType == SQL_C_FLOAT || FindIntegerTarget(cType) != nullptr;
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
