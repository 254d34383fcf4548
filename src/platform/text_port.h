// Text conversion of the platform: GBK (code page 936, the form of the manifest, the
// database text and the Windows "A" functions), UTF-8 (the program's own text), UTF-16
// (the ODBC wide calls) and the system code page (what the product's setup left in the
// registry).
//
// Contract, whatever the provider (any thread, no state between calls):
// - Empty in, empty out; ASCII passes unchanged.
// - Each GBK byte that does not start a character becomes one '?'; a lead byte whose
//   trail is no trail gives up only itself (the next byte may start a character); a lead
//   byte cut off at the end is one '?'. What follows still converts.
// - A character GBK lacks becomes one '?' (a surrogate pair is one character, a lone
//   surrogate one too); invalid UTF-8 gives '?' and what follows still converts.
// - Never the system code page, except in SystemTextToUtf16.
//
// The core reaches the build's provider through TextPort::Default() (util/text.h
// forwards to it): text conversion runs inside pure functions (the manifest, the plan,
// the journal) that take no Platform.
#pragma once

#include <string>
#include <string_view>

namespace ost {

class TextPort {
 public:
  virtual ~TextPort() = default;

  virtual std::string GbkToUtf8(std::string_view gbk) = 0;
  virtual std::string Utf8ToGbk(std::string_view utf8) = 0;
  virtual std::u16string GbkToUtf16(std::string_view gbk) = 0;
  virtual std::string Utf16ToGbk(std::u16string_view utf16) = 0;
  // Text in the system code page as UTF-16: CP_ACP on Windows, the machine root's code
  // page on Linux.
  virtual std::u16string SystemTextToUtf16(std::string_view text) = 0;

  // The build's provider, one per process; defined by the build's text library
  // (ost_platform_text), which sits below the core.
  static TextPort& Default();
};

}  // namespace ost
