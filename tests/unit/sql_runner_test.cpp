#include "update/sql_runner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ost {
namespace {

// The batches handed over; *sent receives the count the cutter reports.
std::vector<std::string> Cut(std::string script, size_t stopAfter = 1000, int* sent = nullptr) {
  script.push_back('#');  // the terminator's byte, which must be overwritten
  std::vector<std::string> batches;
  int count = CutSqlBatches(script.data(), script.size() - 1, [&](const char* batch) {
    batches.push_back(batch);
    return batches.size() < stopAfter;
  });
  EXPECT_EQ(script.back(), '\0');
  if (sent) *sent = count;
  return batches;
}

TEST(SqlBatches, TheTextEndsAtItsFirstZeroByte) {
  // What follows a zero byte is not the script's: no batch is cut from it.
  EXPECT_EQ(Cut(std::string("INSERT a\r\nGO\r\nINSERT b\0\r\nGO\r\nINSERT c\r\nGO\r\n", 38)),
            (std::vector<std::string>{"INSERT a\r\n"}));
  EXPECT_TRUE(Cut(std::string("\0GO\r\n", 5)).empty());
}

TEST(SqlBatches, EachBatchEndsAtItsSeparatorLine) {
  EXPECT_EQ(Cut("INSERT a\r\nGO\r\nINSERT b\r\nGO\r\n"),
            (std::vector<std::string>{"INSERT a\r\n", "INSERT b\r\n"}));
  // Without its separator the last batch is never sent.
  EXPECT_EQ(Cut("INSERT a\r\nGO\r\nINSERT b\r\n"), (std::vector<std::string>{"INSERT a\r\n"}));
  EXPECT_TRUE(Cut("INSERT a\r\nINSERT b\r\n").empty());
  EXPECT_TRUE(Cut("").empty());
}

TEST(SqlBatches, LeadingBlankLinesAndIndentationAreSkipped) {
  EXPECT_EQ(Cut("\r\n\r\n  \tSELECT 1\r\nGO\r\n\r\n   SELECT 2\r\nGO\r\n"),
            (std::vector<std::string>{"SELECT 1\r\n", "SELECT 2\r\n"}));
}

TEST(SqlBatches, EmptyBatchesAreStillSent) {
  EXPECT_EQ(Cut("GO\r\nGO\r\nSELECT 1\r\nGO\r\n"),
            (std::vector<std::string>{"", "", "SELECT 1\r\n"}));
}

TEST(SqlBatches, SeparatorIsAPlainCaseSensitiveByteSearch) {
  // A word ending in GO splits before those two letters; lower-case go does not split.
  EXPECT_EQ(Cut("SELECT 'FLAMINGO\r\nGO\r\n"), (std::vector<std::string>{"SELECT 'FLAMIN", ""}));
  EXPECT_TRUE(Cut("select 1\r\ngo\r\n").empty());
  // A separator needs CR LF: GO followed by LF alone does not split.
  EXPECT_TRUE(Cut("SELECT 1\nGO\n").empty());
}

TEST(SqlBatches, StopsWhenTheSenderSaysSo) {
  int sent = 0;
  EXPECT_EQ(Cut("A\r\nGO\r\nB\r\nGO\r\nC\r\nGO\r\n", 2, &sent).size(), 2u);
  EXPECT_EQ(sent, 1);  // the refused batch does not count
  Cut("A\r\nGO\r\nB\r\nGO\r\n", 1000, &sent);
  EXPECT_EQ(sent, 2);
}

}  // namespace
}  // namespace ost
