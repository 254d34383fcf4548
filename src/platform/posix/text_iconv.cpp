// GBK <-> UTF-8 with glibc's iconv.
#include <errno.h>
#include <iconv.h>

#include "util/text.h"

namespace ost {
namespace {

std::string Convert(std::string_view input, const char* to, const char* from) {
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
    // An invalid or cut sequence: one '?' for its first byte, then go on.
    *dst++ = '?';
    --outLeft;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out.size() - outLeft);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) { return Convert(gbk, "UTF-8", "GBK"); }

std::string Utf8ToGbk(std::string_view utf8) { return Convert(utf8, "GBK", "UTF-8"); }

// The stand-in machine speaks to its data source in its system code page, GBK, as the
// tool on a Chinese Windows server does through the ANSI calls.
std::string DbTextToUtf8(std::string_view dbText) { return GbkToUtf8(dbText); }

std::string Utf8ToDbText(std::string_view utf8) { return Utf8ToGbk(utf8); }

}  // namespace ost
