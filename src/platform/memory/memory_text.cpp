#include "platform/memory/memory_text.h"

namespace ost {
namespace {

bool IsTrail(uint8_t byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The code points of UTF-8 text; an invalid or cut sequence gives up its first byte as
// U+FFFD, and decoding goes on after it.
std::u32string DecodeUtf8(std::string_view utf8) {
  std::u32string out;
  size_t at = 0;
  while (at < utf8.size()) {
    const auto lead = static_cast<uint8_t>(utf8[at]);
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                    : lead >= 0xE0                 ? 3
                    : lead >= 0xC2 && lead < 0xE0  ? 2
                                                   : 0;
    char32_t c = length == 1   ? lead
                 : length == 2 ? lead & 0x1F
                 : length == 3 ? lead & 0x0F
                               : lead & 0x07;
    bool valid = length > 0 && at + length <= utf8.size();
    for (size_t i = 1; valid && i < length; ++i) {
      const auto next = static_cast<uint8_t>(utf8[at + i]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (valid && ((length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
                  (length == 4 && (c < 0x10000 || c > 0x10FFFF)))) {
      valid = false;
    }
    out.push_back(valid ? c : U'\uFFFD');
    at += valid ? length : 1;
  }
  return out;
}

}  // namespace

MemoryText::MemoryText() {
  const struct {
    uint16_t gbk;
    char16_t unit;
  } kKnown[] = {{0xD6D0, u'中'}, {0xCEC4, u'文'}, {0xC9FD, u'升'}, {0xBCB6, u'级'},
                {0xA3BA, u'：'}, {0xB8FC, u'更'}, {0xD0C2, u'新'}, {0xB7FE, u'服'},
                {0xCEF1, u'务'}, {0xC6F7, u'器'}, {0xCAFD, u'数'}, {0xBEDD, u'据'},
                {0xBFE2, u'库'}, {0xB0E6, u'版'}, {0xB1BE, u'本'}};
  for (const auto& known : kKnown) Add(known.gbk, known.unit);
}

void MemoryText::Add(uint16_t gbk, char16_t unit) {
  toUnicode_[gbk] = unit;
  toGbk_[unit] = gbk;
}

std::u16string MemoryText::GbkToUtf16(std::string_view gbk) {
  std::u16string out;
  size_t at = 0;
  while (at < gbk.size()) {
    const auto lead = static_cast<uint8_t>(gbk[at]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++at;
      continue;
    }
    // A lead byte whose trail is no trail, or a pair not in the table, gives up only the
    // lead byte: the next byte may start a character.
    if (lead >= 0x81 && lead <= 0xFE && at + 1 < gbk.size() &&
        IsTrail(static_cast<uint8_t>(gbk[at + 1]))) {
      auto found =
          toUnicode_.find(static_cast<uint16_t>(lead << 8 | static_cast<uint8_t>(gbk[at + 1])));
      if (found != toUnicode_.end()) {
        out.push_back(found->second);
        at += 2;
        continue;
      }
    }
    out.push_back(u'?');
    ++at;
  }
  return out;
}

std::string MemoryText::GbkToUtf8(std::string_view gbk) {
  std::string out;
  for (char16_t unit : GbkToUtf16(gbk)) AppendUtf8(unit, &out);
  return out;
}

std::string MemoryText::Utf16ToGbk(std::u16string_view utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char16_t c = utf16[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    // A surrogate pair is one character GBK lacks; a lone surrogate is one too.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;
    }
    auto found = toGbk_.find(c);
    if (found == toGbk_.end()) {
      out.push_back('?');
    } else {
      out.push_back(static_cast<char>(found->second >> 8));
      out.push_back(static_cast<char>(found->second & 0xFF));
    }
  }
  return out;
}

std::string MemoryText::Utf8ToGbk(std::string_view utf8) {
  std::u16string units;
  for (char32_t c : DecodeUtf8(utf8)) {
    // Outside the BMP: a character GBK lacks, kept as one unit that finds nothing.
    units.push_back(c > 0xFFFF ? u'\uFFFD' : static_cast<char16_t>(c));
  }
  return Utf16ToGbk(units);
}

}  // namespace ost
