// The text port in memory: ASCII and a small table of GBK characters, so that tests,
// fuzz targets and benchmarks convert the same way on every machine. It keeps the
// port's contract for what does not convert; a GBK pair outside its table is a
// character it does not know, and becomes '?'.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/text_port.h"

namespace ost {

class MemoryText : public TextPort {
 public:
  // Knows the characters of the product's common words (中文, 升级, 更新, 服务器, 数据库,
  // 版本, the full-width colon).
  MemoryText();

  // Adds a character: its two GBK bytes and its code point (in the BMP).
  void Add(uint16_t gbk, char16_t unit);

  std::string GbkToUtf8(std::string_view gbk) override;
  std::string Utf8ToGbk(std::string_view utf8) override;
  std::u16string GbkToUtf16(std::string_view gbk) override;
  std::string Utf16ToGbk(std::u16string_view utf16) override;
  // The system code page of this machine is GBK.
  std::u16string SystemTextToUtf16(std::string_view text) override { return GbkToUtf16(text); }

 private:
  std::map<uint16_t, char16_t> toUnicode_;
  std::map<char16_t, uint16_t> toGbk_;
};

}  // namespace ost
