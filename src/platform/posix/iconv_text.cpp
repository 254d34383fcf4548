// GBK, UTF-8 and UTF-16 with glibc's iconv.
#include <errno.h>
#include <iconv.h>

#include <algorithm>

#include "platform/posix/iconv_text.h"

namespace ost {
namespace {

// input in `from`, whose units are `unit` bytes long; a sequence that does not convert
// gives `replacement` for its first unit.
std::string Convert(std::string_view input, const char* to, const char* from, size_t unit,
                    std::string_view replacement) {
  std::string out;
  if (input.empty()) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(input);
  out.resize(input.size() * 4 + 16);
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) break;  // cannot happen with 4x room; stop rather than spin
    if (inLeft < unit) break;   // half a UTF-16 unit: nothing to say
    // An invalid or cut sequence: one replacement for its first unit, then go on.
    replacement.copy(dst, replacement.size());
    dst += replacement.size();
    outLeft -= replacement.size();
    in += unit;
    inLeft -= unit;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out.size() - outLeft);
  iconv_close(cd);
  return out;
}

// UTF-16 in the machine's byte order, as SQLWCHAR holds it.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr char kUtf16[] = "UTF-16LE";
#else
constexpr char kUtf16[] = "UTF-16BE";
#endif

}  // namespace

std::string IconvText::GbkToUtf8(std::string_view gbk) {
  return Convert(gbk, "UTF-8", "GBK", 1, "?");
}

// Through UTF-16, so that a character GBK lacks is one '?' however many bytes its UTF-8
// takes, as on Windows; a byte that is no UTF-8 becomes U+FFFD, which GBK lacks too.
std::string IconvText::Utf8ToGbk(std::string_view utf8) {
  const char16_t replacement = u'\uFFFD';
  const std::string bytes = Convert(
      utf8, kUtf16, "UTF-8", 1, std::string_view(reinterpret_cast<const char*>(&replacement), 2));
  std::u16string wide(bytes.size() / 2, u'\0');
  bytes.copy(reinterpret_cast<char*>(wide.data()), wide.size() * 2);
  return Utf16ToGbk(wide);
}

std::u16string IconvText::GbkToUtf16(std::string_view gbk) {
  // Script text is mostly ASCII, which GBK shares: widened as it is, without the
  // iconv_open of every call (a tenth of a short batch's time).
  if (std::all_of(gbk.begin(), gbk.end(), [](char c) { return (c & 0x80) == 0; })) {
    return std::u16string(gbk.begin(), gbk.end());
  }
  const char16_t question = u'?';
  const std::string bytes =
      Convert(gbk, kUtf16, "GBK", 1, std::string_view(reinterpret_cast<const char*>(&question), 2));
  std::u16string out(bytes.size() / 2, u'\0');
  bytes.copy(reinterpret_cast<char*>(out.data()), out.size() * 2);
  return out;
}

void IconvText::SetSystemCodePage(const std::string& iconvName) {
  std::lock_guard<std::mutex> lock(mutex_);
  systemCodePage_ = iconvName;
}

std::u16string IconvText::SystemTextToUtf16(std::string_view text) {
  std::string codePage;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    codePage = systemCodePage_;
  }
  const char16_t question = u'?';
  const std::string bytes = Convert(text, kUtf16, codePage.c_str(), 1,
                                    std::string_view(reinterpret_cast<const char*>(&question), 2));
  std::u16string out(bytes.size() / 2, u'\0');
  bytes.copy(reinterpret_cast<char*>(out.data()), out.size() * 2);
  return out;
}

std::string IconvText::Utf16ToGbk(std::u16string_view utf16) {
  // GBK has nothing outside the BMP: a surrogate pair, or half of one, is one character
  // that does not convert and gives one '?'.
  std::u16string merged;
  merged.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char16_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
        ++i;
      }
      c = u'\uFFFD';
    }
    merged += c;
  }
  return Convert(std::string_view(reinterpret_cast<const char*>(merged.data()), merged.size() * 2),
                 "GBK", kUtf16, 2, "?");
}

IconvText& PosixText() {
  static IconvText* text = new IconvText;  // never destroyed: threads may convert at exit
  return *text;
}

TextPort& TextPort::Default() { return PosixText(); }

}  // namespace ost
