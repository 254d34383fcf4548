// The text port over the Windows code page tables.
#pragma once

#include <string>

#include "platform/text_port.h"

namespace ost {

class Win32Text : public TextPort {
 public:
  std::string GbkToUtf8(std::string_view gbk) override;
  std::string Utf8ToGbk(std::string_view utf8) override;
  std::u16string GbkToUtf16(std::string_view gbk) override;
  std::string Utf16ToGbk(std::u16string_view utf16) override;
  std::u16string SystemTextToUtf16(std::string_view text) override;
};

}  // namespace ost
