// The text port's contract, run against every provider of this build.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/memory/memory_text.h"
#include "platform/posix/iconv_text.h"

namespace ost::contract {
namespace {

using Maker = std::function<std::unique_ptr<TextPort>()>;

class TextContract : public ::testing::TestWithParam<Maker> {
 protected:
  void SetUp() override { text_ = GetParam()(); }
  TextPort& text() { return *text_; }
  std::unique_ptr<TextPort> text_;
};

const std::string kGbk = "\xc9\xfd\xbc\xb6\xa3\xba ok";  // "升级： ok"

TEST_P(TextContract, GbkConvertsBothWays) {
  EXPECT_EQ(text().GbkToUtf8(kGbk), "升级： ok");
  EXPECT_EQ(text().Utf8ToGbk("升级： ok"), kGbk);
  EXPECT_EQ(text().GbkToUtf16(kGbk), u"升级： ok");
  EXPECT_EQ(text().Utf16ToGbk(u"升级： ok"), kGbk);
  EXPECT_EQ(text().SystemTextToUtf16("plain"), u"plain");
  EXPECT_EQ(text().GbkToUtf8(""), "");
  EXPECT_EQ(text().Utf16ToGbk(u""), "");
}

TEST_P(TextContract, WhatDoesNotConvertIsOneQuestionMarkAndTheRestGoesOn) {
  // A byte that starts nothing; a lead byte whose trail is no trail gives up only
  // itself; a lead byte cut off at the end.
  EXPECT_EQ(text().GbkToUtf8("a\xff"
                             "b"),
            "a?b");
  EXPECT_EQ(text().GbkToUtf8("\x81"
                             "0\xd6\xd0"),
            "?0中");
  EXPECT_EQ(text().GbkToUtf16("ab\xd6"), u"ab?");
  // A character GBK lacks: a surrogate pair is one, a lone surrogate one too.
  EXPECT_EQ(text().Utf16ToGbk(u"x\U0001F600y"), "x?y");
  EXPECT_EQ(text().Utf16ToGbk(std::u16string(u"x") + char16_t(0xDC00) + u"中"), "x?\xd6\xd0");
  EXPECT_EQ(text().Utf8ToGbk("x\U0001F600y"), "x?y");
  EXPECT_EQ(text().Utf8ToGbk("x\xff"
                             "y"),
            "x?y");
}

INSTANTIATE_TEST_SUITE_P(memory, TextContract,
                         ::testing::Values(Maker([] { return std::make_unique<MemoryText>(); })));
INSTANTIATE_TEST_SUITE_P(posix, TextContract,
                         ::testing::Values(Maker([] { return std::make_unique<IconvText>(); })));

}  // namespace
}  // namespace ost::contract
