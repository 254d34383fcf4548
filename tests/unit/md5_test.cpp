#include "util/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace ost {
namespace {

std::string Hex(const std::string& data) {
  char out[40] = {};
  return Md5Hex(data.data(), data.size(), out);
}

// Reference digests from the RFC's test suite and from md5sum, which share no code
// with this implementation.
TEST(Md5, MatchesReferenceDigests) {
  EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
}

// 55 bytes pad within one block; 56 to 63 need a second; 64 and 65 cross a block edge.
TEST(Md5, PaddingAroundBlockEdges) {
  EXPECT_EQ(Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
  EXPECT_EQ(Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  EXPECT_EQ(Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
  EXPECT_EQ(Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, PiecewiseUpdatesEqualOneShot) {
  std::mt19937 random(42);
  std::string data(5000, '\0');
  for (char& c : data) c = static_cast<char>(random());
  std::string whole = Hex(data);
  for (int trial = 0; trial < 50; ++trial) {
    Md5Context context;
    Md5Init(&context);
    size_t at = 0;
    while (at < data.size()) {
      size_t piece = std::min<size_t>(random() % 130, data.size() - at);  // zero-length too
      Md5Update(&context, data.data() + at, piece);
      at += piece;
    }
    Md5Final(&context);
    char out[33];
    for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02x", context.digest[i]);
    ASSERT_EQ(std::string(out), whole) << "trial " << trial;
  }
}

TEST(Md5, HexIsLowercaseAndTerminated) {
  char out[40];
  std::memset(out, 'X', sizeof out);
  std::string text = Md5Hex("\xff\xfe", 2, out);
  EXPECT_EQ(text.size(), 32u);
  EXPECT_EQ(out[32], '\0');
  EXPECT_EQ(out[33], 'X');
  for (char c : text) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << c;
}

}  // namespace
}  // namespace ost
