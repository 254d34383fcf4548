#include "util/text.h"

#include <gtest/gtest.h>

namespace ost {
namespace {

TEST(Text, GbkAndUtf8ConvertBothWays) {
  const std::string gbk = "\xd6\xd0\xce\xc4 ok";  // "中文 ok"
  EXPECT_EQ(GbkToUtf8(gbk), "中文 ok");
  EXPECT_EQ(Utf8ToGbk("中文 ok"), gbk);
  EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(Text, BadBytesBecomeQuestionMarks) {
  EXPECT_EQ(GbkToUtf8("a\xff"
                      "b"),
            "a?b");
  EXPECT_EQ(GbkToUtf8("ab\xd6"), "ab?");  // a lead byte cut off at the end
  EXPECT_EQ(Utf8ToGbk("x\xc3"), "x?");
}

TEST(Text, GbkAndUtf16ForTheWideOdbcCalls) {
  const std::string gbk = "\xc9\xfd\xbc\xb6\xa3\xba ok";  // "升级： ok"
  EXPECT_EQ(GbkToUtf16(gbk), u"升级： ok");
  EXPECT_EQ(Utf16ToGbk(u"升级： ok"), gbk);
  EXPECT_EQ(GbkToUtf16(""), u"");
  // A bad byte, a lead byte cut off; a character GBK lacks (a surrogate pair) and a lone
  // surrogate are one '?' each, and what follows still converts.
  EXPECT_EQ(GbkToUtf16("a\xff"
                       "b\xd6"),
            u"a?b?");
  EXPECT_EQ(Utf16ToGbk(u"x\U0001F600y"), "x?y");
  EXPECT_EQ(Utf16ToGbk(std::u16string(u"x") + char16_t(0xDC00) + u"中"), "x?\xd6\xd0");
}

TEST(Text, CutsNeverSplitACharacter) {
  const std::string gbk = "a\xd6\xd0\xce\xc4";  // a + two double-byte characters
  EXPECT_EQ(CutGbk(gbk, 5), gbk);
  EXPECT_EQ(CutGbk(gbk, 4), "a\xd6\xd0");
  EXPECT_EQ(CutGbk(gbk, 2), "a");
  EXPECT_EQ(CutGbk(gbk, 0), "");
  // A trail byte that looks like a backslash stays with its lead byte.
  EXPECT_EQ(CutGbk("\x81\\x", 1), "");

  const std::string utf8 = "a中文";  // 1 + 3 + 3 bytes
  EXPECT_EQ(CutUtf8(utf8, 7), utf8);
  EXPECT_EQ(CutUtf8(utf8, 6), "a中");
  EXPECT_EQ(CutUtf8(utf8, 3), "a");
}

TEST(Text, FormatAndUpperCase) {
  EXPECT_EQ(Format("%s[%s]", "3.80", ""), "3.80[]");
  EXPECT_EQ(Format("%d%%", 5), "5%");
  EXPECT_EQ(Format("%s", std::string(5000, 'x').c_str()).size(), 5000u);
  EXPECT_EQ(AsciiUpper("c:\\ostra\\中"), "C:\\OSTRA\\中");
}

}  // namespace
}  // namespace ost
