// The text port over glibc's iconv.
#pragma once

#include <mutex>
#include <string>

#include "platform/text_port.h"

namespace ost {

class IconvText : public TextPort {
 public:
  std::string GbkToUtf8(std::string_view gbk) override;
  std::string Utf8ToGbk(std::string_view utf8) override;
  std::u16string GbkToUtf16(std::string_view gbk) override;
  std::string Utf16ToGbk(std::u16string_view utf16) override;
  std::u16string SystemTextToUtf16(std::string_view text) override;

  // The code page SystemTextToUtf16 reads, an iconv name (GBK until set): the machine
  // root's.
  void SetSystemCodePage(const std::string& iconvName);

 private:
  std::mutex mutex_;
  std::string systemCodePage_ = "GBK";
};

// The process's provider, the one TextPort::Default() gives.
IconvText& PosixText();

}  // namespace ost
