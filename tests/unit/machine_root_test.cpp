#include "platform/posix/machine_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "platform/posix/iconv_text.h"
#include "platform/posix/posix_files.h"
#include "util/text.h"

namespace ost {
namespace {

TEST(MachineRoot, MapsDrivePathsIntoTheRoot) {
  MachineRoot root("/srv/m");
  EXPECT_EQ(root.Map("D:\\wwwroot\\cgi-bin\\Velin.dll"),
            "/srv/m/drives/d/wwwroot/cgi-bin/Velin.dll");
  EXPECT_EQ(root.Map("c:/OSTRA/x.exe"), "/srv/m/drives/c/OSTRA/x.exe");
  EXPECT_EQ(root.Map("C:\\a\\.\\b\\..\\c"), "/srv/m/drives/c/a/c");
  EXPECT_EQ(root.Map("C:\\"), "/srv/m/drives/c");
  EXPECT_EQ(root.ProgramDir(), "/srv/m/program/");
}

TEST(MachineRoot, RefusesPathsThatLeaveTheirDrive) {
  MachineRoot root("/srv/m/");
  EXPECT_EQ(root.Map("D:\\..\\..\\etc\\passwd"), "");
  EXPECT_EQ(root.Map("D:\\a\\..\\..\\b"), "");
  EXPECT_EQ(root.Map("\\\\server\\share\\x"), "");
  EXPECT_EQ(root.Map("\\rooted"), "");
  // The tool's own folder lies inside the root and stays there.
  EXPECT_EQ(root.Map("/srv/m/program/Ostra.rut"), "/srv/m/program/Ostra.rut");
  EXPECT_EQ(root.Map("/srv/m/program/../drives/./c/x"), "/srv/m/drives/c/x");
}

// A service or a web root configured with a path that is no drive path must not
// reach files of the host.
TEST(MachineRoot, PathsOutsideTheRootNameNothing) {
  MachineRoot root("/srv/m");
  EXPECT_EQ(root.Map("/etc/passwd"), "");
  EXPECT_EQ(root.Map("/srv/mx/file"), "");  // a sibling that shares the prefix
  EXPECT_EQ(root.Map("/srv/m/../outside"), "");
  EXPECT_EQ(root.Map("/srv/m"), "");
  EXPECT_EQ(root.Map("sub\\Ostra.rut"), "");
  EXPECT_EQ(root.Map("CSOstraServer.exe"), "");
  EXPECT_EQ(root.Map("..\\x"), "");
}

// The connection values are read in the code page the registry substitute names, as
// Windows keeps it; GBK without it.
TEST(MachineRoot, TheSystemCodePageComesFromTheRegistry) {
  char pattern[] = "/tmp/ost-acp-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  MachineRoot root(dir);
  const std::string latin = "ab\xff";      // "abÿ" in code page 1252
  const std::string chinese = "\xd6\xd0";  // "中" in GBK
  root.UseSystemCodePage();                // no registry file at all
  EXPECT_EQ(SystemTextToUtf16(chinese), u"中");
  std::ofstream(root.RegistryFile())
      << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]"
         "\r\n\"ACP\"=\"1252\"\r\n";
  root.UseSystemCodePage();
  EXPECT_EQ(SystemTextToUtf16(latin), u"abÿ");
  std::ofstream(root.RegistryFile())
      << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]"
         "\r\n\"ACP\"=\"936\"\r\n";
  root.UseSystemCodePage();
  EXPECT_EQ(SystemTextToUtf16(chinese), u"中");
  EXPECT_EQ(SystemTextToUtf16(latin), u"ab?");
  EXPECT_EQ(::system(("rm -rf " + dir).c_str()), 0);
  PosixText().SetSystemCodePage("GBK");
}

TEST(MachineRoot, RelativeRootBecomesAbsolute) {
  MachineRoot root("relative/dir");
  ASSERT_FALSE(root.root().empty());
  EXPECT_EQ(root.root()[0], '/');
  EXPECT_NE(root.root().find("/relative/dir"), std::string::npos);
}

class PosixFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ost-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    root = std::make_unique<MachineRoot>(dir);
    files = std::make_unique<PosixFiles>(*root);
    ASSERT_EQ(system(("mkdir -p " + dir + "/drives/d/web").c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0); }

  std::string dir;
  std::unique_ptr<MachineRoot> root;
  std::unique_ptr<PosixFiles> files;
};

TEST_F(PosixFilesTest, WritesReadsAndReplacesUnderTheDrive) {
  auto out = files->CreateTruncate("D:\\web\\a.dll");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->Write("hello", 5), 5);
  out.reset();
  EXPECT_TRUE(files->Exists("D:\\web\\a.dll"));
  EXPECT_TRUE(files->Exists("D:\\web"));
  EXPECT_FALSE(files->Exists("D:\\web\\A.dll"));  // case matters here

  auto in = files->OpenRead("D:\\web\\a.dll");
  ASSERT_NE(in, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(in->Read(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer), "hello");
  EXPECT_EQ(in->Read(buffer, sizeof buffer), 0);

  auto temp = files->CreateTruncate("D:\\web\\a.dll.tmp");
  ASSERT_NE(temp, nullptr);
  temp->Write("new", 3);
  temp.reset();
  EXPECT_TRUE(files->Rename("D:\\web\\a.dll.tmp", "D:\\web\\a.dll"));
  std::ifstream check(dir + "/drives/d/web/a.dll");
  std::string content((std::istreambuf_iterator<char>(check)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "new");
  EXPECT_TRUE(files->Remove("D:\\web\\a.dll"));
  EXPECT_FALSE(files->Exists("D:\\web\\a.dll"));
}

// A write in place never follows a link at the name: it fails, and the file the link
// points at stays as it was.
TEST_F(PosixFilesTest, AWriteInPlaceRefusesALink) {
  {
    std::ofstream victim(dir + "/victim");
    victim << "a file of the host";
  }
  ASSERT_EQ(symlink((dir + "/victim").c_str(), (dir + "/drives/d/web/a.dll").c_str()), 0);
  EXPECT_EQ(files->CreateTruncate("D:\\web\\a.dll"), nullptr);
  EXPECT_EQ(files->LastError(), ELOOP);
  std::ifstream check(dir + "/victim");
  std::string content((std::istreambuf_iterator<char>(check)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "a file of the host");
}

TEST_F(PosixFilesTest, FailuresAreReportedNotHidden) {
  EXPECT_EQ(files->OpenRead("D:\\web\\missing"), nullptr);
  EXPECT_EQ(files->OpenRead("D:\\web"), nullptr);  // a folder is not a file
  EXPECT_EQ(files->CreateTruncate("D:\\no-such-folder\\x"), nullptr);
  EXPECT_EQ(files->CreateTruncate("D:\\..\\..\\escape"), nullptr);
  EXPECT_FALSE(files->Exists("D:\\..\\..\\"));
  EXPECT_FALSE(files->Rename("D:\\web\\missing", "D:\\web\\other"));
}

// Where the database may send the tool: only a place reached on a drive of the root
// without a link on the way, judged by its deepest part that exists.
TEST_F(PosixFilesTest, LocalFixedPathsAreThoseReachedWithoutALink) {
  ASSERT_EQ(system(("mkdir -p " + dir + "/outside " + dir + "/drives/d/web/real").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/outside").c_str(), (dir + "/drives/d/web/cgi-bin").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/gone").c_str(), (dir + "/drives/d/dangling").c_str()), 0);
  EXPECT_TRUE(files->IsLocalFixedPath("D:\\web"));
  EXPECT_TRUE(files->IsLocalFixedPath("D:\\web\\real"));
  EXPECT_TRUE(files->IsLocalFixedPath("D:\\"));
  EXPECT_TRUE(files->IsLocalFixedPath("D:\\web\\not-yet\\cgi-bin"));  // nothing to follow
  EXPECT_FALSE(files->IsLocalFixedPath("D:\\web\\cgi-bin"));
  EXPECT_FALSE(files->IsLocalFixedPath("D:\\web\\cgi-bin\\deeper"));
  EXPECT_FALSE(files->IsLocalFixedPath("D:\\dangling\\x"));
  EXPECT_FALSE(files->IsLocalFixedPath("E:\\web"));  // no such drive on this machine
  EXPECT_FALSE(files->IsLocalFixedPath("\\\\host\\share"));
  EXPECT_FALSE(files->IsLocalFixedPath(dir + "/drives/d/web"));  // no drive path
  // A drive folder that is itself a link is the drive, wherever it lies.
  ASSERT_EQ(system(("mkdir -p " + dir + "/elsewhere/e/web").c_str()), 0);
  ASSERT_EQ(symlink((dir + "/elsewhere/e").c_str(), (dir + "/drives/e").c_str()), 0);
  EXPECT_TRUE(files->IsLocalFixedPath("E:\\web"));
}

}  // namespace
}  // namespace ost
