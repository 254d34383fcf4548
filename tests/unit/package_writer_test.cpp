// Writing a package's file over the installed one: the ways tried, in order, and what
// a failure leaves behind.
#include "update/package_writer.h"

#include <gtest/gtest.h>

#include "unit/fakes.h"

namespace ost {
namespace {

using testing::FakeFiles;

const std::string kTarget = "C:\\OSTRA\\CSOstraServer.exe";
const std::string kFallback = "d:\\wwwroot\\cgi-bin\\Velin.dll";

class PackageWriterTest : public ::testing::Test {
 protected:
  PackageWriterTest() { files.files[kTarget] = "old"; }
  WriteReport Write(const std::string& content, const std::string& target = kTarget,
                    const std::string& fallback = "") {
    return WritePackageFile(files, ByteSpan::Of(content), target, fallback);
  }

  FakeFiles files;
};

TEST_F(PackageWriterTest, ATemporaryFileIsRenamedOverTheTarget) {
  WriteReport report = Write("new");
  EXPECT_TRUE(report.written);
  EXPECT_EQ(report.way, WriteWay::kRenamed);
  EXPECT_FALSE(report.fallback);
  EXPECT_EQ(files.files[kTarget], "new");
  EXPECT_FALSE(files.HasTemporaryFiles());
  // The temporary file stood beside the target under a name of its own.
  const std::string temp = files.opened.front();
  EXPECT_EQ(temp.compare(0, kTarget.size() + 1, kTarget + "."), 0);
  EXPECT_EQ(temp.size(), kTarget.size() + 1 + 16 + 8);

  // Every write picks another name.
  Write("newer");
  EXPECT_NE(files.opened.back(), temp);
}

// Someone plants a file (or a link) under the first name the writer picks, just in
// time: that name is given up, not opened.
class Planting : public FakeFiles {
 public:
  std::unique_ptr<File> CreateNew(const std::string& path) override {
    if (planted.empty()) {
      planted = path;
      files[path] = "planted";
    }
    return FakeFiles::CreateNew(path);
  }
  std::string planted;
};

// The rename refused, and the checked folder turned into a junction before the write
// in place: asked again, it is not written through.
class TurningIntoAJunction : public FakeFiles {
 public:
  bool Rename(const std::string&, const std::string&) override {
    elsewhere = {"D:\\web"};
    return false;
  }
};

TEST(PackageWriter, TheCheckedFolderIsAskedAgainBeforeEachWay) {
  const std::string target = "D:\\web\\cgi-bin\\Velin.dll";
  TurningIntoAJunction files;
  files.files[target] = "old";
  WriteReport report =
      WritePackageFile(files, ByteSpan::Of("new"), target, kFallback, "d:\\WEB\\cgi-bin");
  EXPECT_FALSE(report.written);
  EXPECT_EQ(report.failedStep, "folder");
  EXPECT_EQ(files.files[target], "old");
  EXPECT_EQ(files.files.count(kFallback), 0u) << "a moved folder is no reason for the fixed path";
  EXPECT_FALSE(files.HasTemporaryFiles());
}

TEST(PackageWriter, ANameTakenAlreadyIsNeverOpened) {
  Planting files;
  files.files[kTarget] = "old";
  WriteReport report = WritePackageFile(files, ByteSpan::Of("new"), kTarget, "");
  EXPECT_TRUE(report.written);
  EXPECT_EQ(report.way, WriteWay::kRenamed);
  EXPECT_EQ(files.files[kTarget], "new");
  EXPECT_EQ(files.files[files.planted], "planted");
}

TEST_F(PackageWriterTest, AFolderThatTakesNoNewFileIsWrittenInPlace) {
  files.closedFolders = {"C:\\OSTRA\\"};
  WriteReport report = Write("new");
  EXPECT_TRUE(report.written);
  EXPECT_EQ(report.way, WriteWay::kInPlace);
  EXPECT_EQ(files.files[kTarget], "new");
  EXPECT_FALSE(files.HasTemporaryFiles());
}

TEST_F(PackageWriterTest, ATargetThatCannotBeReplacedIsWrittenInPlace) {
  files.unreplaceable = {kTarget};
  WriteReport report = Write("new");
  EXPECT_TRUE(report.written);
  EXPECT_EQ(report.way, WriteWay::kInPlace);
  EXPECT_EQ(files.files[kTarget], "new");
  EXPECT_FALSE(files.HasTemporaryFiles());
}

TEST_F(PackageWriterTest, TheFallbackPathComesAfterBothWaysAtTheTarget) {
  const std::string target = "E:\\site\\cgi-bin\\Velin.dll";
  files.unwritableFolders = {"E:\\site"};
  WriteReport report = Write("velin", target, kFallback);
  EXPECT_TRUE(report.written);
  EXPECT_TRUE(report.fallback);
  EXPECT_EQ(report.way, WriteWay::kRenamed);
  EXPECT_EQ(report.path, kFallback);
  EXPECT_EQ(files.files[kFallback], "velin");
  EXPECT_EQ(files.files.count(target), 0u);

  // Nowhere to write: the last try is reported, with the system's error.
  files.unwritableFolders = {"E:\\site", "d:\\wwwroot"};
  files.files.erase(kFallback);
  report = Write("velin", target, kFallback);
  EXPECT_FALSE(report.written);
  EXPECT_EQ(report.path, kFallback);
  EXPECT_EQ(report.failedStep, "create");
  EXPECT_EQ(report.error, 13);
}

TEST_F(PackageWriterTest, AFailedWriteLeavesTheTargetWholeAndTriesNothingElse) {
  files.diskSpace = 2;
  WriteReport report = Write("much longer", kTarget, kFallback);
  EXPECT_FALSE(report.written);
  EXPECT_EQ(report.failedStep, "write");
  EXPECT_EQ(report.error, 28);
  EXPECT_EQ(files.files[kTarget], "old");
  EXPECT_EQ(files.files.count(kFallback), 0u);
  EXPECT_FALSE(files.HasTemporaryFiles());
}

TEST_F(PackageWriterTest, AFailedCloseIsAFailedWrite) {
  files.failClose = true;
  WriteReport report = Write("new");
  EXPECT_FALSE(report.written);
  EXPECT_EQ(report.failedStep, "close");
  EXPECT_EQ(report.error, 122);
  EXPECT_EQ(files.files[kTarget], "old");
  EXPECT_FALSE(files.HasTemporaryFiles());
}

}  // namespace
}  // namespace ost

namespace ost {
namespace {

// What a write killed half-way left beside the target goes; nothing else of the
// folder does, not even a name that looks nearly the same.
TEST_F(PackageWriterTest, ALeftoverTemporaryFileGoesAndNothingElse) {
  files.folders.insert("C:\\OSTRA");
  const std::string leftover = kTarget + ".0123456789abcdef.ost-new";
  const std::vector<std::string> kept = {
      kTarget + ".0123456789abcdeg.ost-new",                   // no hex digit
      kTarget + ".0123456789abcdef.ost-new.txt",               // another suffix
      "C:\\OSTRA\\CSOstraAgent.exe.0123456789abcdef.ost-new",  // another file's
      "C:\\OSTRA\\operator-notes.txt"};
  files.files[leftover] = "half";
  for (const std::string& path : kept) files.files[path] = "theirs";

  EXPECT_EQ(RemoveWriteLeftovers(files, kTarget), 1);
  EXPECT_EQ(files.files.count(leftover), 0u);
  for (const std::string& path : kept) EXPECT_EQ(files.files.count(path), 1u) << path;
  EXPECT_EQ(files.files[kTarget], "old");
}

}  // namespace
}  // namespace ost
