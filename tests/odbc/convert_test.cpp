#include "convert.h"

#include <gtest/gtest.h>

#include <string>

namespace ost {
namespace {

CellValue Text(std::string_view text) {
  CellValue value;
  value.type = CellValue::Type::kText;
  value.text = text;
  return value;
}

CellValue Integer(int64_t number) {
  CellValue value;
  value.type = CellValue::Type::kInteger;
  value.integer = number;
  return value;
}

CellValue Real(double number) {
  CellValue value;
  value.type = CellValue::Type::kReal;
  value.real = number;
  return value;
}

TEST(Convert, TextIsCutToTheBufferWithInfo01004) {
  char buffer[8];
  SQLLEN indicator = 0;
  size_t offset = 0;
  ConvertResult r =
      ConvertCell(Text("10.0.12345"), SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset);
  EXPECT_EQ(r.code, SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(r.state, "01004");
  EXPECT_STREQ(buffer, "10.0.12");
  EXPECT_EQ(indicator, 10);  // the whole length, not what fitted

  offset = 0;
  r = ConvertCell(Text("3.80"), SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset);
  EXPECT_EQ(r.code, SQL_SUCCESS);
  EXPECT_STREQ(buffer, "3.80");
  EXPECT_EQ(indicator, 4);
}

TEST(Convert, ACutKeepsWholeUtf8Characters) {
  char buffer[8];
  SQLLEN indicator = 0;
  size_t offset = 0;
  // "Ost服务" is 3 + 3 * 2 bytes: 7 bytes fit, the last character would be split.
  ConvertCell(Text("Ost服务"), SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset);
  EXPECT_STREQ(buffer, "Ost服");
}

TEST(Convert, ACutKeepsWholeDoubleByteCharacters) {
  // "a服务" in GBK: the trail byte of 服 (0xFE) and the lead of 务 (0xCE) are no UTF-8
  // continuation bytes, so only a walk from the start finds the boundary.
  const std::string gbk = "a\xB7\xFE\xCE\xF1";
  char buffer[5];
  SQLLEN indicator = 0;
  size_t offset = 0;
  ConvertResult r = ConvertCell(Text(gbk), SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset,
                                CharacterCut::kDoubleByte);
  EXPECT_EQ(r.code, SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(buffer, "a\xB7\xFE");
  EXPECT_EQ(indicator, 5);
  r = ConvertCell(Text(gbk), SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset,
                  CharacterCut::kDoubleByte);
  EXPECT_EQ(r.code, SQL_SUCCESS);
  EXPECT_STREQ(buffer, "\xCE\xF1");
}

TEST(Convert, WholeCharactersOfEitherKind) {
  // "ab服c" in GBK.
  const std::string mixed = std::string("ab\xB7\xFE") + "c";
  EXPECT_EQ(WholeCharacters(mixed, 3, CharacterCut::kDoubleByte), 2u);
  EXPECT_EQ(WholeCharacters(mixed, 4, CharacterCut::kDoubleByte), 4u);
  EXPECT_EQ(WholeCharacters(mixed, 9, CharacterCut::kDoubleByte), 5u);
  // A trail byte in ASCII range (0x5C, a backslash) still belongs to its lead.
  EXPECT_EQ(WholeCharacters("\x81\x5C\x81\x5C", 3, CharacterCut::kDoubleByte), 2u);
  // Too little room for one character: the bytes that fit.
  EXPECT_EQ(WholeCharacters("\xB7\xFE", 1, CharacterCut::kDoubleByte), 1u);
  EXPECT_EQ(WholeCharacters("a服", 3, CharacterCut::kUtf8), 1u);
  EXPECT_EQ(WholeCharacters("服", 2, CharacterCut::kUtf8), 2u);
}

TEST(Convert, GetDataInPartsReassemblesTheValue) {
  const std::string text = "D:\\wwwroot\\服务器\\site";
  std::string joined;
  char buffer[5];
  SQLLEN indicator = 0;
  size_t offset = 0;
  ConvertResult r;
  int calls = 0;
  while (
      (r = ConvertCell(Text(text), SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset)).code !=
      SQL_NO_DATA) {
    ASSERT_LT(++calls, 20);
    joined += buffer;
    if (r.code == SQL_SUCCESS) break;
  }
  EXPECT_EQ(joined, text);
  EXPECT_EQ(ConvertCell(Text(text), SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset).code,
            SQL_NO_DATA);
}

TEST(Convert, NullNeedsAnIndicator) {
  CellValue null;
  SQLINTEGER number = 0;
  SQLLEN indicator = 0;
  size_t offset = 0;
  EXPECT_EQ(ConvertCell(null, SQL_C_SLONG, &number, 0, &indicator, &offset).code, SQL_SUCCESS);
  EXPECT_EQ(indicator, SQL_NULL_DATA);
  offset = 0;
  ConvertResult r = ConvertCell(null, SQL_C_SLONG, &number, 0, nullptr, &offset);
  EXPECT_EQ(r.code, SQL_ERROR);
  EXPECT_STREQ(r.state, "22002");
}

TEST(Convert, NumbersChecksRangeAndSyntax) {
  SQLUINTEGER u = 0;
  SQLINTEGER s = 0;
  SQLBIGINT big = 0;
  double d = 0;
  SQLLEN indicator = 0;
  auto convert = [&](const CellValue& value, SQLSMALLINT type, void* out) {
    size_t offset = 0;
    return ConvertCell(value, type, out, 0, &indicator, &offset);
  };
  EXPECT_EQ(convert(Integer(4294967295LL), SQL_C_ULONG, &u).code, SQL_SUCCESS);
  EXPECT_EQ(u, 4294967295u);
  EXPECT_EQ(indicator, 4);
  EXPECT_STREQ(convert(Integer(-1), SQL_C_ULONG, &u).state, "22003");
  EXPECT_STREQ(convert(Integer(2147483648LL), SQL_C_SLONG, &s).state, "22003");
  EXPECT_EQ(convert(Text(" 380 "), SQL_C_ULONG, &u).code, SQL_SUCCESS);
  EXPECT_EQ(u, 380u);
  EXPECT_STREQ(convert(Text("3.8x"), SQL_C_DOUBLE, &d).state, "22018");
  EXPECT_STREQ(convert(Text("inf"), SQL_C_DOUBLE, &d).state, "22018");
  ConvertResult r = convert(Real(-3.7), SQL_C_SLONG, &s);
  EXPECT_EQ(r.code, SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(r.state, "01S07");
  EXPECT_EQ(s, -3);
  EXPECT_EQ(convert(Text("3.73"), SQL_C_DOUBLE, &d).code, SQL_SUCCESS);
  EXPECT_DOUBLE_EQ(d, 3.73);
  EXPECT_EQ(convert(Integer(-9000000000LL), SQL_C_SBIGINT, &big).code, SQL_SUCCESS);
  EXPECT_EQ(big, -9000000000LL);
}

TEST(Convert, BlobsAsTextAreHexDigits) {
  CellValue blob;
  blob.type = CellValue::Type::kBlob;
  blob.text = std::string_view("\x01\xAB", 2);
  char buffer[8];
  SQLLEN indicator = 0;
  size_t offset = 0;
  EXPECT_EQ(ConvertCell(blob, SQL_C_CHAR, buffer, sizeof buffer, &indicator, &offset).code,
            SQL_SUCCESS);
  EXPECT_STREQ(buffer, "01AB");
  offset = 0;
  SQLINTEGER number;
  EXPECT_STREQ(ConvertCell(blob, SQL_C_SLONG, &number, 0, &indicator, &offset).state, "07006");
}

TEST(Convert, TypesTheDriverDoesNotConvertAreKnownButUnsupported) {
  EXPECT_TRUE(IsSupportedCType(SQL_C_ULONG));
  EXPECT_FALSE(IsSupportedCType(SQL_C_TYPE_TIMESTAMP));
  EXPECT_TRUE(IsKnownCType(SQL_C_TYPE_TIMESTAMP));
  EXPECT_FALSE(IsKnownCType(1234));
}

TEST(Convert, Utf16RoundTripsEveryPlaneAndMarksWhatIsNotText) {
  // BMP, a character outside it (a surrogate pair) and ASCII.
  const std::string text = "升级脚本：中文说明 \xF0\x9F\x98\x80 ok";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"升级脚本：中文说明 \U0001F600 ok");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  // A lone surrogate, a stray continuation byte, an overlong '/', a cut sequence.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf8ToUtf16("a\x80"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("x\xE5\x8D"), u"x\uFFFD\uFFFD");
}

TEST(Convert, WideTextCountsBytesAndComesInPartsOfWholeCharacters) {
  // "中文😀" is 2 + 2 units: a 4-unit buffer holds 3 with the terminator, and the pair
  // is not split, so the first part is "中文".
  char16_t buffer[4];
  SQLLEN indicator = 0;
  size_t offset = 0;
  const CellValue value = Text("中文\xF0\x9F\x98\x80");
  ConvertResult r = ConvertCell(value, SQL_C_WCHAR, buffer, sizeof buffer, &indicator, &offset);
  EXPECT_EQ(r.code, SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(r.state, "01004");
  EXPECT_EQ(indicator, 8);  // bytes, all of the value
  EXPECT_EQ(std::u16string(buffer), u"中文");
  r = ConvertCell(value, SQL_C_WCHAR, buffer, sizeof buffer, &indicator, &offset);
  EXPECT_EQ(r.code, SQL_SUCCESS);
  EXPECT_EQ(indicator, 4);  // what was left
  EXPECT_EQ(std::u16string(buffer), u"\U0001F600");
  EXPECT_EQ(ConvertCell(value, SQL_C_WCHAR, buffer, sizeof buffer, &indicator, &offset).code,
            SQL_NO_DATA);
  // Numbers and blobs as wide text.
  offset = 0;
  CellValue number = Integer(-42);
  number.text = "-42";  // SQLite's rendering, as the driver reads it
  EXPECT_EQ(ConvertCell(number, SQL_C_WCHAR, buffer, sizeof buffer, &indicator, &offset).code,
            SQL_SUCCESS);
  EXPECT_EQ(std::u16string(buffer), u"-42");
  CellValue blob;
  blob.type = CellValue::Type::kBlob;
  blob.text = std::string_view("\x01\xAB", 2);
  char16_t hex[8];
  offset = 0;
  EXPECT_EQ(ConvertCell(blob, SQL_C_WCHAR, hex, sizeof hex, &indicator, &offset).code, SQL_SUCCESS);
  EXPECT_EQ(std::u16string(hex), u"01AB");
  EXPECT_EQ(indicator, 8);
}

}  // namespace
}  // namespace ost
