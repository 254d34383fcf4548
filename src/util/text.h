// Text helpers. The program keeps text in UTF-8; GBK (code page 936) is the form of
// the manifest and of the Windows "A" functions, converted at the edges.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ost {

// printf-style formatting into a std::string.
// C99 formats on every build (%zu, %lld): MinGW's own printf family, not msvcrt's.
#ifdef __MINGW32__
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

// The conversions of the build's text port (platform/text_port.h, its contract there).
// Bytes that do not convert become '?'.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// Database text as the tool holds it: GBK, the product's code page, on both builds.
std::string DbTextToUtf8(std::string_view dbText);
std::string Utf8ToDbText(std::string_view utf8);

// GBK and UTF-16, the text of the ODBC wide calls: code page 936 whatever the system's
// code page is. A byte that does not convert, or a character GBK lacks, becomes '?'.
std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view utf16);

// Text in the system code page, as the product's setup leaves the connection values in
// the registry, as UTF-16: CP_ACP on Windows, the machine root's code page on Linux.
std::u16string SystemTextToUtf16(std::string_view text);

// The longest prefix of a GBK text that fits in maxBytes without splitting a
// two-byte character.
std::string_view CutGbk(std::string_view gbk, size_t maxBytes);

// The same for UTF-8 text.
std::string_view CutUtf8(std::string_view utf8, size_t maxBytes);

// ASCII upper-casing (the other bytes stay as they are).
std::string AsciiUpper(std::string_view text);

// "a, b, c".
std::string Join(const std::vector<std::string>& parts);

}  // namespace ost
