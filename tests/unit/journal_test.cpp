// The journal's rotation: at its limit, and when the journal cannot be renamed.
#include <gtest/gtest.h>

#include "journal/journal.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::FakeFiles;
using testing::FakeSystem;

constexpr char kLog[] = "C:\\OSTRA\\OstServerUpdate.log";
const std::string kBom = "\xEF\xBB\xBF";

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

struct JournalTest : ::testing::Test {
  void Begin() { ASSERT_TRUE(journal.Begin("20261209-103005-0a3f", "test")); }

  FakeFiles files;
  FakeSystem system;
  Journal journal{files, system, "C:\\OSTRA\\", {}};
};

TEST_F(JournalTest, RotatesAtItsLimitAndNotJustUnderIt) {
  const std::string old = std::string(kLog) + ".1";
  // One byte under: the header line still goes to the old file, which it takes past
  // the limit; what follows goes to a fresh one.
  files.files[kLog] = kBom + std::string(Journal::kRotateAt - 5, 'x') + "\n";
  Begin();
  EXPECT_NE(files.files[old].find(" RUN "), std::string::npos);
  EXPECT_EQ(files.files[kLog], kBom);
  journal.Note("TEST", "after");
  EXPECT_NE(files.files[kLog].find("TEST"), std::string::npos);

  // At exactly the limit, Begin rotates before it writes.
  FakeFiles exact;
  exact.files[kLog] = kBom + std::string(Journal::kRotateAt - 3, 'x');
  Journal at(exact, system, "C:\\OSTRA\\", {});
  ASSERT_TRUE(at.Begin("20261209-103005-0a3f", "test"));
  EXPECT_EQ(exact.files[old].size(), static_cast<size_t>(Journal::kRotateAt));
  EXPECT_EQ(exact.files[kLog].substr(0, 3), kBom);
  EXPECT_NE(exact.files[kLog].find(" RUN "), std::string::npos);
}

TEST_F(JournalTest, AJournalThatCannotBeRenamedGrowsOnWithOneWarning) {
  // Held open by a viewer without delete sharing: the rename fails, every time.
  files.unreplaceable.insert(std::string(kLog) + ".1");
  files.files[kLog] = kBom + std::string(Journal::kRotateAt, 'x');
  Begin();
  for (int i = 0; i < 30000; ++i) journal.Note("TEST", std::string(60, 'y'));  // ~3 MB more
  const std::string& log = files.files[kLog];
  EXPECT_GT(log.size(), static_cast<size_t>(3 * Journal::kRotateAt));
  EXPECT_EQ(Count(log, kBom), 1u);                // no byte order mark mid-file
  EXPECT_EQ(Count(log, "rotation skipped"), 1u);  // said once, not tried again
  EXPECT_EQ(log.substr(0, 3), kBom);
  EXPECT_TRUE(journal.healthy());
  EXPECT_EQ(files.files.count(std::string(kLog) + ".1"), 0u);
}

}  // namespace
}  // namespace ost
