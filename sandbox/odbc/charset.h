// The character set of an application's text, for a data source whose clients do not
// speak UTF-8 (odbc.ini: ClientCharset = GBK). SQLite keeps UTF-8; text crosses this
// boundary on its way in (statements, logins) and out (values, names, messages).
#pragma once

#include <iconv.h>

#include <mutex>
#include <string>
#include <string_view>

#include "convert.h"

namespace ost {

class ClientCharset {
 public:
  ClientCharset() = default;
  ~ClientCharset();
  ClientCharset(const ClientCharset&) = delete;
  ClientCharset& operator=(const ClientCharset&) = delete;

  // Selects the application's character set by its iconv name. Empty, "UTF-8" and
  // "UTF8" (any case) mean no conversion. False, with the reason, for a name iconv
  // does not know.
  bool Select(const std::string& name, std::string* error);

  bool converts() const { return toUtf8_ != kNone; }
  CharacterCut cut() const { return converts() ? CharacterCut::kDoubleByte : CharacterCut::kUtf8; }

  // Each byte that does not convert becomes one '?'; the rest still converts.
  std::string ToUtf8(std::string_view client) const;
  // Each character the client's set lacks becomes '?'.
  std::string FromUtf8(std::string_view utf8) const;

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  void Close();

  iconv_t toUtf8_ = kNone;
  iconv_t fromUtf8_ = kNone;
  // The descriptors keep state between calls; statements of one connection may run on
  // several threads.
  mutable std::mutex mutex_;
};

}  // namespace ost
