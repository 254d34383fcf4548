#include "util/text.h"

#include <cstdarg>
#include <cstdio>

#include "platform/text_port.h"

namespace ost {
namespace {

int FormatInto(char* buffer, size_t size, const char* format, va_list args) {
#ifdef __MINGW32__
  return __mingw_vsnprintf(buffer, size, format, args);
#else
  return std::vsnprintf(buffer, size, format, args);
#endif
}

}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = FormatInto(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (needed > 0) {
    out.resize(static_cast<size_t>(needed) + 1);
    FormatInto(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(needed));
  }
  va_end(args);
  return out;
}

std::string_view CutGbk(std::string_view gbk, size_t maxBytes) {
  size_t pos = 0;
  while (pos < gbk.size()) {
    auto lead = static_cast<unsigned char>(gbk[pos]);
    size_t width = (lead >= 0x81 && lead <= 0xFE && pos + 1 < gbk.size()) ? 2 : 1;
    if (pos + width > maxBytes) break;
    pos += width;
  }
  return gbk.substr(0, pos);
}

std::string_view CutUtf8(std::string_view utf8, size_t maxBytes) {
  if (utf8.size() <= maxBytes) return utf8;
  size_t pos = maxBytes;
  // Step back over continuation bytes to the start of the cut character.
  while (pos > 0 && (static_cast<unsigned char>(utf8[pos]) & 0xC0) == 0x80) --pos;
  return utf8.substr(0, pos);
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += ", ";
    joined += part;
  }
  return joined;
}

std::string GbkToUtf8(std::string_view gbk) { return TextPort::Default().GbkToUtf8(gbk); }

std::string Utf8ToGbk(std::string_view utf8) { return TextPort::Default().Utf8ToGbk(utf8); }

std::u16string GbkToUtf16(std::string_view gbk) { return TextPort::Default().GbkToUtf16(gbk); }

std::string Utf16ToGbk(std::u16string_view utf16) { return TextPort::Default().Utf16ToGbk(utf16); }

std::u16string SystemTextToUtf16(std::string_view text) {
  return TextPort::Default().SystemTextToUtf16(text);
}

std::string DbTextToUtf8(std::string_view dbText) { return GbkToUtf8(dbText); }

std::string Utf8ToDbText(std::string_view utf8) { return Utf8ToGbk(utf8); }

}  // namespace ost
