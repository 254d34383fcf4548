// GBK, UTF-8 and UTF-16 through the Windows code page tables.
#include "platform/win32/win32_text.h"

#include <string>
#include <string_view>

#include "platform/win32/windows_headers.h"
#include "util/text.h"

namespace ost {

namespace {

constexpr UINT kGbk = 936;

// The conversion functions count in int; longer texts go through in pieces cut at
// character boundaries.
constexpr size_t kMaxPiece = 1u << 28;

// Appends the UTF-16 form of bytes in code page `page`; false when `flags` asked for
// strict decoding and the bytes are not valid.
bool AppendWide(UINT page, DWORD flags, std::string_view bytes, std::wstring* out) {
  if (bytes.empty()) return true;
  int length = static_cast<int>(bytes.size());
  int needed = MultiByteToWideChar(page, flags, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  size_t start = out->size();
  out->resize(start + static_cast<size_t>(needed));
  int written = MultiByteToWideChar(page, flags, bytes.data(), length, out->data() + start, needed);
  out->resize(start + static_cast<size_t>(written > 0 ? written : 0));
  return written > 0;
}

void AppendNarrow(UINT page, std::wstring_view wide, std::string* out) {
  if (wide.empty()) return;
  // The default character is only allowed for code pages other than UTF-8, and the
  // no-best-fit flag keeps look-alike substitutions out of names.
  DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = page == CP_UTF8 ? nullptr : "?";
  int length = static_cast<int>(wide.size());
  int needed = WideCharToMultiByte(page, flags, wide.data(), length, nullptr, 0, fallback, nullptr);
  if (needed <= 0) return;
  size_t start = out->size();
  out->resize(start + static_cast<size_t>(needed));
  int written = WideCharToMultiByte(page, flags, wide.data(), length, out->data() + start, needed,
                                    fallback, nullptr);
  out->resize(start + static_cast<size_t>(written > 0 ? written : 0));
}

// Decodes GBK one character at a time, so that each byte that does not convert
// becomes one '?' and the bytes after it are still read.
void AppendGbkLenient(std::string_view gbk, std::wstring* out) {
  size_t pos = 0;
  while (pos < gbk.size()) {
    auto lead = static_cast<unsigned char>(gbk[pos]);
    if (lead < 0x80) {
      out->push_back(static_cast<wchar_t>(lead));
      ++pos;
      continue;
    }
    bool pair = lead >= 0x81 && lead <= 0xFE && pos + 1 < gbk.size();
    if (pair && AppendWide(kGbk, MB_ERR_INVALID_CHARS, gbk.substr(pos, 2), out)) {
      pos += 2;
      continue;
    }
    // A bad pair gives up only its first byte; the second may start a character.
    if (pair || !AppendWide(kGbk, MB_ERR_INVALID_CHARS, gbk.substr(pos, 1), out)) {
      out->push_back(L'?');
    }
    ++pos;
  }
}

// GBK has nothing outside the BMP: a surrogate pair is one character that does not
// convert, and should give one '?', not two.
void MergeSurrogates(std::wstring* wide) {
  size_t out = 0;
  for (size_t i = 0; i < wide->size(); ++i) {
    wchar_t c = (*wide)[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide->size() && (*wide)[i + 1] >= 0xDC00 &&
        (*wide)[i + 1] <= 0xDFFF) {
      c = 0xFFFD;
      ++i;
    }
    (*wide)[out++] = c;
  }
  wide->resize(out);
}

}  // namespace

std::string Win32Text::GbkToUtf8(std::string_view gbk) {
  std::string utf8;
  std::wstring wide;
  while (!gbk.empty()) {
    std::string_view piece = CutGbk(gbk, kMaxPiece);
    wide.clear();
    if (!AppendWide(kGbk, MB_ERR_INVALID_CHARS, piece, &wide)) {
      wide.clear();
      AppendGbkLenient(piece, &wide);
    }
    AppendNarrow(CP_UTF8, wide, &utf8);
    gbk.remove_prefix(piece.size());
  }
  return utf8;
}

std::string Win32Text::Utf8ToGbk(std::string_view utf8) {
  std::string gbk;
  std::wstring wide;
  while (!utf8.empty()) {
    std::string_view piece = CutUtf8(utf8, kMaxPiece);
    // Only continuation bytes up to the limit: not UTF-8 anyway, take them as they are.
    if (piece.empty()) piece = utf8.substr(0, kMaxPiece);
    wide.clear();
    // Invalid UTF-8 decodes to U+FFFD, which GBK lacks, so it comes out as '?'.
    AppendWide(CP_UTF8, 0, piece, &wide);
    MergeSurrogates(&wide);
    AppendNarrow(kGbk, wide, &gbk);
    utf8.remove_prefix(piece.size());
  }
  return gbk;
}

// Never CP_ACP: on a server whose system locale is not Chinese the ANSI code page would
// garble every Chinese character of a script or a description.
std::u16string Win32Text::GbkToUtf16(std::string_view gbk) {
  std::wstring wide;
  while (!gbk.empty()) {
    std::string_view piece = CutGbk(gbk, kMaxPiece);
    const size_t start = wide.size();
    if (!AppendWide(kGbk, MB_ERR_INVALID_CHARS, piece, &wide)) {
      wide.resize(start);
      AppendGbkLenient(piece, &wide);
    }
    gbk.remove_prefix(piece.size());
  }
  return std::u16string(wide.begin(), wide.end());
}

// The one place for CP_ACP: the bytes are the system code page's already.
std::u16string Win32Text::SystemTextToUtf16(std::string_view text) {
  std::wstring wide;
  for (size_t at = 0; at < text.size(); at += kMaxPiece) {
    AppendWide(CP_ACP, 0, text.substr(at, kMaxPiece), &wide);
  }
  return std::u16string(wide.begin(), wide.end());
}

std::string Win32Text::Utf16ToGbk(std::u16string_view utf16) {
  std::string gbk;
  std::wstring wide(utf16.begin(), utf16.end());
  MergeSurrogates(&wide);
  for (size_t at = 0; at < wide.size(); at += kMaxPiece) {
    AppendNarrow(kGbk, std::wstring_view(wide).substr(at, kMaxPiece), &gbk);
  }
  return gbk;
}

TextPort& TextPort::Default() {
  static Win32Text* text = new Win32Text;  // never destroyed: threads may convert at exit
  return *text;
}

}  // namespace ost
