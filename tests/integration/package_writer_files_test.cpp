// The package writer on real files of a machine root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/port_wrappers.h"
#include "platform/posix/machine_root.h"
#include "platform/posix/posix_files.h"
#include "update/package_writer.h"

namespace ost {
namespace {

namespace fs = std::filesystem;

class RealFilesTest : public ::testing::Test {
 protected:
  RealFilesTest() {
    char pattern[] = "/tmp/ost-writer-XXXXXX";
    dir = mkdtemp(pattern);
    root = std::make_unique<MachineRoot>(dir + "/m");
    fs::create_directories(dir + "/m/drives/c/OSTRA");
    Put(dir + "/m/drives/c/OSTRA/CSOstraServer.exe", "old");
    Put(dir + "/outside", "outside the machine");
    files = std::make_unique<PosixFiles>(*root);
  }
  ~RealFilesTest() override { fs::remove_all(dir); }

  static void Put(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Native(const char* path) { return root->Map(path); }
  // The names in the component folder, in order.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir + "/m/drives/c/OSTRA")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir;
  std::unique_ptr<MachineRoot> root;
  std::unique_ptr<PosixFiles> files;
};

constexpr char kTarget[] = "C:\\OSTRA\\CSOstraServer.exe";

TEST_F(RealFilesTest, NewFilesAreNeverOpenedThroughWhatIsThere) {
  const std::string link = Native("C:\\OSTRA\\link");
  ASSERT_EQ(symlink((dir + "/outside").c_str(), link.c_str()), 0);
  ASSERT_EQ(symlink((dir + "/nowhere").c_str(), Native("C:\\OSTRA\\dangling").c_str()), 0);
  EXPECT_EQ(files->CreateNew("C:\\OSTRA\\link"), nullptr);
  EXPECT_EQ(files->LastError(), EEXIST);
  EXPECT_EQ(files->CreateNew("C:\\OSTRA\\dangling"), nullptr);
  EXPECT_FALSE(fs::exists(dir + "/nowhere"));
  EXPECT_EQ(files->CreateNew(kTarget), nullptr);
  EXPECT_EQ(Get(dir + "/outside"), "outside the machine");
  EXPECT_EQ(Get(Native(kTarget)), "old");
}

TEST_F(RealFilesTest, ALinkPlantedBesideTheTargetIsLeftAlone) {
  // Where an earlier build put its temporary file.
  const std::string planted = Native(kTarget) + ".ost-new";
  ASSERT_EQ(symlink((dir + "/outside").c_str(), planted.c_str()), 0);
  const std::string content(8 << 20, 'n');
  WriteReport report = WritePackageFile(*files, ByteSpan::Of(content), kTarget, "");
  ASSERT_TRUE(report.written);
  EXPECT_EQ(report.way, WriteWay::kRenamed);
  EXPECT_EQ(Get(dir + "/outside"), "outside the machine");
  struct stat info;
  ASSERT_EQ(lstat(Native(kTarget).c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(Get(Native(kTarget)), content);
  EXPECT_EQ(Names(), (std::vector<std::string>{"CSOstraServer.exe", "CSOstraServer.exe.ost-new"}));
}

// A target that cannot be replaced (in use, say): one call of the real provider fails.
class NoReplace : public FilesWrapper {
 public:
  using FilesWrapper::FilesWrapper;
  bool Rename(const std::string&, const std::string&) override {
    errno = EBUSY;
    return false;
  }
};

TEST_F(RealFilesTest, AReplaceThatFailsWritesInPlace) {
  NoReplace refusing(*files);
  WriteReport report = WritePackageFile(refusing, ByteSpan::Of("new"), kTarget, "");
  ASSERT_TRUE(report.written);
  EXPECT_EQ(report.way, WriteWay::kInPlace);
  EXPECT_EQ(Get(Native(kTarget)), "new");
  EXPECT_EQ(Names(), (std::vector<std::string>{"CSOstraServer.exe"}));  // no temporary file left
}

// A running program is held as Windows holds it: not written, replaced or deleted,
// but it may be renamed away.
TEST_F(RealFilesTest, AHeldFileIsNeitherWrittenReplacedNorDeleted) {
  const std::string held = Native(kTarget);
  files->SetInUseCheck([held](const std::string& native) { return native == held; });
  EXPECT_EQ(files->CreateTruncate(kTarget), nullptr);
  EXPECT_EQ(files->LastError(), ETXTBSY);
  EXPECT_FALSE(files->Remove(kTarget));
  Put(Native("C:\\OSTRA\\new"), "new");
  EXPECT_FALSE(files->Rename("C:\\OSTRA\\new", kTarget));
  EXPECT_EQ(Get(held), "old");
  WriteReport report = WritePackageFile(*files, ByteSpan::Of("newer"), kTarget, "");
  EXPECT_FALSE(report.written);
  EXPECT_EQ(report.error, ETXTBSY);
  EXPECT_EQ(Get(held), "old");
  EXPECT_TRUE(files->Rename(kTarget, "C:\\OSTRA\\moved"));
  EXPECT_EQ(Get(Native("C:\\OSTRA\\moved")), "old");
}

}  // namespace
}  // namespace ost
