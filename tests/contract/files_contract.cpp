// The file port's contract, run against every provider of this build.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "contract/flush_hook.h"
#include "contract/temp_root.h"
#include "platform/memory/memory_files.h"
#include "platform/posix/posix_files.h"

namespace ost::contract {
namespace {

// A provider with the folder D:\work made, and the two things only the provider can
// stage: a file something holds, and a flush the system refuses.
class FilesUnderTest {
 public:
  virtual ~FilesUnderTest() = default;
  virtual FilePort& files() = 0;
  // Renames onto path are refused `times` times (-1: for good), as while a program runs.
  virtual void Hold(const std::string& path, int times) = 0;
  virtual void RefuseNextFlush() = 0;
};

class MemoryFilesUnderTest : public FilesUnderTest {
 public:
  MemoryFilesUnderTest() { files_.MakeFolders("D:\\work"); }
  FilePort& files() override { return files_; }
  void Hold(const std::string& path, int times) override { files_.held[path] = times; }
  void RefuseNextFlush() override { files_.failClose = true; }

 private:
  MemoryFiles files_;
};

class PosixFilesUnderTest : public FilesUnderTest {
 public:
  PosixFilesUnderTest() : root_(temp_.dir()), files_(root_) {
    temp_.Make("drives/d/work");
    files_.SetInUseCheck([this](const std::string& native) {
      for (auto& [path, times] : held_) {
        if (root_.Map(path) != native || times == 0) continue;
        if (times > 0) --times;
        return true;
      }
      return false;
    });
  }
  FilePort& files() override { return files_; }
  void Hold(const std::string& path, int times) override { held_[path] = times; }
  void RefuseNextFlush() override { contract::RefuseNextFlush(); }

 private:
  TempRoot temp_;
  MachineRoot root_;
  PosixFiles files_;
  std::map<std::string, int> held_;
};

using Maker = std::function<std::unique_ptr<FilesUnderTest>()>;

class FilesContract : public ::testing::TestWithParam<Maker> {
 protected:
  void SetUp() override { provider_ = GetParam()(); }
  FilePort& files() { return provider_->files(); }

  bool Write(const std::string& path, const std::string& text) {
    auto file = files().CreateTruncate(path);
    return file && file->Write(text.data(), text.size()) == static_cast<int64_t>(text.size()) &&
           file->Close();
  }
  std::string Read(const std::string& path) {
    auto file = files().OpenRead(path);
    if (!file) return "<none>";
    std::string text;
    char buffer[3];  // small, so that a read of several calls is what is checked
    for (int64_t n; (n = file->Read(buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
  }

  std::unique_ptr<FilesUnderTest> provider_;
};

TEST_P(FilesContract, AMissingFileAnswersAsMissing) {
  const std::string path = "D:\\work\\missing.txt";
  EXPECT_EQ(files().OpenRead(path), nullptr);
  EXPECT_NE(files().LastError(), 0);
  EXPECT_FALSE(files().Exists(path));
  EXPECT_EQ(files().FileSize(path), -1);
  EXPECT_EQ(files().Kind(path), PathKind::kMissing);
  EXPECT_FALSE(files().Remove(path));
  EXPECT_FALSE(files().Rename(path, "D:\\work\\other.txt"));
  std::vector<std::string> names;
  EXPECT_FALSE(files().ListFolder("D:\\work\\nothing", &names));
}

TEST_P(FilesContract, WrittenBytesReadBackAndAClosedFileRefusesMore) {
  const std::string path = "D:\\work\\a.txt";
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
  auto fresh = files().OpenAppend("D:\\work\\log.txt");
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(fresh->Close());
  EXPECT_TRUE(files().Exists("D:\\work\\log.txt"));
}

TEST_P(FilesContract, CreateNewTakesNoNameThatIsTaken) {
  ASSERT_TRUE(Write("D:\\work\\taken.txt", "old"));
  ASSERT_TRUE(files().MakeFolders("D:\\work\\folder"));
  EXPECT_EQ(files().CreateNew("D:\\work\\taken.txt"), nullptr);
  EXPECT_EQ(files().CreateNew("D:\\work\\folder"), nullptr);
  EXPECT_EQ(Read("D:\\work\\taken.txt"), "old");
  auto file = files().CreateNew("D:\\work\\new.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Close());
}

TEST_P(FilesContract, FoldersAreMadeListedAndRemovedWhenEmpty) {
  ASSERT_TRUE(files().MakeFolders("D:\\work\\a\\b\\c"));
  EXPECT_TRUE(files().MakeFolders("D:\\work\\a\\b\\c"));  // there already: still true
  EXPECT_EQ(files().Kind("D:\\work\\a\\b"), PathKind::kFolder);
  ASSERT_TRUE(Write("D:\\work\\a\\file.txt", "x"));
  std::vector<std::string> names;
  ASSERT_TRUE(files().ListFolder("D:\\work\\a", &names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"b", "file.txt"}));
  EXPECT_FALSE(files().RemoveFolder("D:\\work\\a\\b"));  // c is in it
  EXPECT_TRUE(files().RemoveFolder("D:\\work\\a\\b\\c"));
  EXPECT_TRUE(files().RemoveFolder("D:\\work\\a\\b"));
  EXPECT_FALSE(files().Exists("D:\\work\\a\\b"));
}

TEST_P(FilesContract, RenameReplacesTheTarget) {
  ASSERT_TRUE(Write("D:\\work\\new.dll", "new"));
  ASSERT_TRUE(Write("D:\\work\\app.dll", "old"));
  EXPECT_TRUE(files().Rename("D:\\work\\new.dll", "D:\\work\\app.dll"));
  EXPECT_EQ(Read("D:\\work\\app.dll"), "new");
  EXPECT_FALSE(files().Exists("D:\\work\\new.dll"));
}

// Who retries: the provider. A file held for a moment (a program just stopped, a
// scanner reading it) gives way within the provider's tries; one held for good fails
// the rename and leaves both files as they were.
TEST_P(FilesContract, TheProviderRetriesARenameRefusedForAMoment) {
  ASSERT_TRUE(Write("D:\\work\\new.dll", "new"));
  ASSERT_TRUE(Write("D:\\work\\app.dll", "old"));
  provider_->Hold("D:\\work\\app.dll", 2);
  EXPECT_TRUE(files().Rename("D:\\work\\new.dll", "D:\\work\\app.dll"));
  EXPECT_EQ(Read("D:\\work\\app.dll"), "new");

  ASSERT_TRUE(Write("D:\\work\\new.dll", "newer"));
  provider_->Hold("D:\\work\\app.dll", -1);
  EXPECT_FALSE(files().Rename("D:\\work\\new.dll", "D:\\work\\app.dll"));
  EXPECT_NE(files().LastError(), 0);
  EXPECT_EQ(Read("D:\\work\\app.dll"), "new");
  EXPECT_EQ(Read("D:\\work\\new.dll"), "newer");
}

// Close flushes what was written to the disk, and says so when the system cannot.
TEST_P(FilesContract, CloseReportsAFlushTheSystemRefuses) {
  auto file = files().CreateTruncate("D:\\work\\a.txt");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->Write("data", 4), 4);
  provider_->RefuseNextFlush();
  EXPECT_FALSE(file->Close());
  EXPECT_NE(files().LastError(), 0);
}

INSTANTIATE_TEST_SUITE_P(memory, FilesContract, ::testing::Values(Maker([] {
                           return std::unique_ptr<FilesUnderTest>(new MemoryFilesUnderTest);
                         })));
INSTANTIATE_TEST_SUITE_P(posix, FilesContract, ::testing::Values(Maker([] {
                           return std::unique_ptr<FilesUnderTest>(new PosixFilesUnderTest);
                         })));

// Only the POSIX provider has a disk to flush to: every written file is flushed once.
TEST(PosixFilesFlush, CloseFlushesAWrittenFileOnly) {
  PosixFilesUnderTest provider;
  const int before = FlushesSeen();
  auto out = provider.files().CreateTruncate("D:\\work\\a.txt");
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->Write("x", 1), 1);
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(FlushesSeen(), before + 1);
  auto in = provider.files().OpenRead("D:\\work\\a.txt");
  ASSERT_NE(in, nullptr);
  EXPECT_TRUE(in->Close());
  EXPECT_EQ(FlushesSeen(), before + 1);
}

}  // namespace
}  // namespace ost::contract
