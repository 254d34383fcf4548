// The text port's contract.
#include <string>

#include "contract/contract.h"

namespace ost::contract {
namespace {

const std::string kGbk = "\xc9\xfd\xbc\xb6\xa3\xba ok";  // "升级： ok"

TEST_P(TextContract, GbkConvertsBothWays) {
  EXPECT_EQ(provider().text().GbkToUtf8(kGbk), "升级： ok");
  EXPECT_EQ(provider().text().Utf8ToGbk("升级： ok"), kGbk);
  EXPECT_EQ(provider().text().GbkToUtf16(kGbk), u"升级： ok");
  EXPECT_EQ(provider().text().Utf16ToGbk(u"升级： ok"), kGbk);
  EXPECT_EQ(provider().text().SystemTextToUtf16("plain"), u"plain");
  EXPECT_EQ(provider().text().GbkToUtf8(""), "");
  EXPECT_EQ(provider().text().Utf16ToGbk(u""), "");
}

TEST_P(TextContract, WhatDoesNotConvertIsOneQuestionMarkAndTheRestGoesOn) {
  // A byte that starts nothing; a lead byte whose trail is no trail gives up only
  // itself; a lead byte cut off at the end.
  EXPECT_EQ(provider().text().GbkToUtf8("a\xff"
                                        "b"),
            "a?b");
  EXPECT_EQ(provider().text().GbkToUtf8("\x81"
                                        "0\xd6\xd0"),
            "?0中");
  EXPECT_EQ(provider().text().GbkToUtf16("ab\xd6"), u"ab?");
  // A character GBK lacks: a surrogate pair is one, a lone surrogate one too.
  EXPECT_EQ(provider().text().Utf16ToGbk(u"x\U0001F600y"), "x?y");
  EXPECT_EQ(provider().text().Utf16ToGbk(std::u16string(u"x") + char16_t(0xDC00) + u"中"),
            "x?\xd6\xd0");
  EXPECT_EQ(provider().text().Utf8ToGbk("x\U0001F600y"), "x?y");
  EXPECT_EQ(provider().text().Utf8ToGbk("x\xff"
                                        "y"),
            "x?y");
}

}  // namespace
}  // namespace ost::contract
