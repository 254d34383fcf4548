// The file port's contract.
#include <algorithm>
#include <string>
#include <vector>

#include "contract/contract.h"

namespace ost::contract {
namespace {

TEST_P(FilesContract, AMissingFileAnswersAsMissing) {
  const std::string path = At("missing.txt");
  EXPECT_EQ(files().OpenRead(path), nullptr);
  EXPECT_NE(files().LastError(), 0);
  EXPECT_FALSE(files().Exists(path));
  EXPECT_EQ(files().FileSize(path), -1);
  EXPECT_EQ(files().Kind(path), PathKind::kMissing);
  EXPECT_FALSE(files().Remove(path));
  EXPECT_FALSE(files().Rename(path, At("other.txt")));
  std::vector<std::string> names;
  EXPECT_FALSE(files().ListFolder(At("nothing"), &names));
}

TEST_P(FilesContract, WrittenBytesReadBackAndAClosedFileRefusesMore) {
  const std::string path = At("a.txt");
  auto out = files().CreateTruncate(path);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->Write("hello, ", 7), 7);
  EXPECT_EQ(out->Write("world", 5), 5);
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(out->Write("x", 1), -1);
  EXPECT_EQ(Read(path), "hello, world");
  EXPECT_EQ(files().FileSize(path), 12);
  EXPECT_EQ(files().Kind(path), PathKind::kFile);

  auto in = files().OpenRead(path);
  ASSERT_NE(in, nullptr);
  char byte;
  EXPECT_EQ(in->Read(&byte, 1), 1);
  EXPECT_TRUE(in->Close());
  EXPECT_EQ(in->Read(&byte, 1), -1);

  // Truncate starts afresh, append goes on at the end and makes a missing file.
  ASSERT_TRUE(Write(path, "new"));
  auto more = files().OpenAppend(path);
  ASSERT_NE(more, nullptr);
  EXPECT_EQ(more->Write("er", 2), 2);
  EXPECT_TRUE(more->Close());
  EXPECT_EQ(Read(path), "newer");
  auto fresh = files().OpenAppend(At("log.txt"));
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->Close());
  EXPECT_TRUE(files().Exists(At("log.txt")));
}

TEST_P(FilesContract, CreateNewTakesNoNameThatIsTaken) {
  ASSERT_TRUE(Write(At("taken.txt"), "old"));
  ASSERT_TRUE(files().MakeFolders(At("folder")));
  EXPECT_EQ(files().CreateNew(At("taken.txt")), nullptr);
  EXPECT_EQ(files().CreateNew(At("folder")), nullptr);
  EXPECT_EQ(Read(At("taken.txt")), "old");
  auto file = files().CreateNew(At("new.txt"));
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Close());
}

TEST_P(FilesContract, FoldersAreMadeListedAndRemovedWhenEmpty) {
  ASSERT_TRUE(files().MakeFolders(At("a\\b\\c")));
  EXPECT_TRUE(files().MakeFolders(At("a\\b\\c")));  // there already: still true
  EXPECT_EQ(files().Kind(At("a\\b")), PathKind::kFolder);
  ASSERT_TRUE(Write(At("a\\file.txt"), "x"));
  std::vector<std::string> names;
  ASSERT_TRUE(files().ListFolder(At("a"), &names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"b", "file.txt"}));
  EXPECT_FALSE(files().RemoveFolder(At("a\\b")));  // c is in it
  EXPECT_TRUE(files().RemoveFolder(At("a\\b\\c")));
  EXPECT_TRUE(files().RemoveFolder(At("a\\b")));
  EXPECT_FALSE(files().Exists(At("a\\b")));
}

TEST_P(FilesContract, RenameReplacesTheTarget) {
  ASSERT_TRUE(Write(At("new.dll"), "new"));
  ASSERT_TRUE(Write(At("app.dll"), "old"));
  EXPECT_TRUE(files().Rename(At("new.dll"), At("app.dll")));
  EXPECT_EQ(Read(At("app.dll")), "new");
  EXPECT_FALSE(files().Exists(At("new.dll")));
}

// Who retries: the provider. A file held for a moment (a program just stopped, a
// scanner reading it) gives way within the provider's tries; one held for good fails
// the rename and leaves both files as they were.
TEST_P(FilesContract, TheProviderRetriesARenameRefusedForAMoment) {
  ASSERT_TRUE(Write(At("new.dll"), "new"));
  ASSERT_TRUE(Write(At("app.dll"), "old"));
  provider().Hold(At("app.dll"), 2);
  EXPECT_TRUE(files().Rename(At("new.dll"), At("app.dll")));
  EXPECT_EQ(Read(At("app.dll")), "new");

  ASSERT_TRUE(Write(At("new.dll"), "newer"));
  provider().Hold(At("app.dll"), -1);
  EXPECT_FALSE(files().Rename(At("new.dll"), At("app.dll")));
  EXPECT_NE(files().LastError(), 0);
  EXPECT_EQ(Read(At("app.dll")), "new");
  EXPECT_EQ(Read(At("new.dll")), "newer");
}

// Close flushes what was written to the disk, and says so when the system cannot.
TEST_P(FilesContract, CloseReportsAFlushTheSystemRefuses) {
  auto file = files().CreateTruncate(At("a.txt"));
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->Write("data", 4), 4);
  if (!provider().RefuseNextFlush()) GTEST_SKIP() << "the provider cannot refuse a flush";
  EXPECT_FALSE(file->Close());
  EXPECT_NE(files().LastError(), 0);
}

}  // namespace
}  // namespace ost::contract
