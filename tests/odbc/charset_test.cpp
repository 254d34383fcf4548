#include "charset.h"

#include <gtest/gtest.h>

#include <string>

namespace ost {
namespace {

// "服务器" in GBK.
const char kServerGbk[] = "\xB7\xFE\xCE\xF1\xC6\xF7";

TEST(ClientCharset, Utf8NamesMeanNoConversion) {
  for (const char* name : {"", "UTF-8", "utf8", "Utf-8"}) {
    ClientCharset charset;
    std::string error;
    ASSERT_TRUE(charset.Select(name, &error)) << name;
    EXPECT_FALSE(charset.converts()) << name;
    EXPECT_EQ(charset.cut(), CharacterCut::kUtf8);
    EXPECT_EQ(charset.ToUtf8(kServerGbk), kServerGbk);
    EXPECT_EQ(charset.FromUtf8("服务器"), "服务器");
  }
}

TEST(ClientCharset, GbkTextCrossesBothWays) {
  ClientCharset charset;
  std::string error;
  ASSERT_TRUE(charset.Select("GBK", &error)) << error;
  EXPECT_TRUE(charset.converts());
  EXPECT_EQ(charset.cut(), CharacterCut::kDoubleByte);
  EXPECT_EQ(charset.ToUtf8(std::string("Ostra ") + kServerGbk + " 'x'"), "Ostra 服务器 'x'");
  EXPECT_EQ(charset.FromUtf8("Ostra 服务器"), std::string("Ostra ") + kServerGbk);
  // Long texts go through the fixed block in several rounds.
  std::string utf8, gbk;
  for (int i = 0; i < 3000; ++i) {
    utf8 += "服务器";
    gbk += kServerGbk;
  }
  EXPECT_EQ(charset.FromUtf8(utf8), gbk);
  EXPECT_EQ(charset.ToUtf8(gbk), utf8);
}

TEST(ClientCharset, WhatDoesNotConvertBecomesOneQuestionMarkEach) {
  ClientCharset charset;
  std::string error;
  ASSERT_TRUE(charset.Select("GBK", &error)) << error;
  // A lead byte with an invalid trail, and a lead byte cut off at the end.
  EXPECT_EQ(charset.ToUtf8("a\x81\x20"
                           "b\xB7"),
            "a? b?");
  // GBK has no emoji; the four bytes of one character give one '?'.
  EXPECT_EQ(charset.FromUtf8("服\xF0\x9F\x98\x80器"), "\xB7\xFE?\xC6\xF7");
  // Broken UTF-8 costs its bytes, not the text after it.
  EXPECT_EQ(charset.FromUtf8("x\xE6\x9C"
                             "y"),
            "x?y");
}

TEST(ClientCharset, AnUnknownSetIsRefused) {
  ClientCharset charset;
  std::string error;
  EXPECT_FALSE(charset.Select("NO-SUCH-SET-17", &error));
  EXPECT_NE(error.find("NO-SUCH-SET-17"), std::string::npos) << error;
  EXPECT_FALSE(charset.converts());
}

}  // namespace
}  // namespace ost
