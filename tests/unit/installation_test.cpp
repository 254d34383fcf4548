#include "db/installation.h"

#include <gtest/gtest.h>

#include "unit/fakes.h"
#include "util/text.h"

namespace ost {
namespace {

using testing::FakeDatabase;
using testing::FakeFiles;

// The web root comes from the product database: only a folder on a drive letter of
// this machine is taken. Anything else is no web platform, and nothing is looked for
// there (not even whether a DLL exists, which for a share means a connection).
TEST(InstallationWebRoot, OnlyAFolderOnADriveLetterIsTaken) {
  const struct {
    const char* root;
    bool taken;
  } cases[] = {
      {"D:\\wwwroot", true},
      {"d:/site", true},
      {"E:\\", true},
      {"D:\\网站\\根", true},
      {"\\\\host\\share\\site", false},
      {"//host/share", false},
      {"\\\\?\\D:\\wwwroot", false},
      {"\\\\.\\D:\\wwwroot", false},
      {"wwwroot", false},
      {"\\wwwroot", false},
      {"D:wwwroot", false},
      {"D:\\wwwroot\\..\\Windows", false},
      {"D:\\.\\wwwroot", false},
      {"D:\\www\\\\root", false},
      {"D:\\wwwroot:stream", false},
      {"", false},
  };
  for (const auto& c : cases) {
    FakeDatabase database;
    FakeFiles files;
    database.webRoot = Utf8ToDbText(c.root);
    // A DLL where the folder would be: seen only when the folder is taken.
    std::string folder = c.root;
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    files.files[folder + "\\cgi-bin\\libxl.dll"] = "MZ";
    database.Open("ostra", "sa", database.password);
    InstallationFacts facts;
    ReadInstallation(database, files, &facts);
    if (c.taken) {
      EXPECT_EQ(facts.velinEnabled, 1) << c.root;
      EXPECT_FALSE(facts.cgiBinDir.empty()) << c.root;
      EXPECT_EQ(facts.libxlPresent, 1) << c.root;
    } else {
      EXPECT_EQ(facts.velinEnabled, 0) << c.root;
      EXPECT_EQ(facts.cgiBinDir, "") << c.root;
      EXPECT_EQ(facts.libxlPresent, 0) << c.root;
    }
  }
}

// A web root on a drive of this machine can still lead elsewhere: a junction at
// cgi-bin or above it, a removable or network drive.
TEST(InstallationWebRoot, AFolderThatLeadsElsewhereIsNoWebPlatform) {
  for (const char* elsewhere : {"D:\\wwwroot\\cgi-bin", "D:\\wwwroot", "D:\\"}) {
    FakeDatabase database;
    FakeFiles files;
    database.webRoot = Utf8ToDbText("D:\\wwwroot");
    files.files["D:\\wwwroot\\cgi-bin\\libxl.dll"] = "MZ";
    files.elsewhere.push_back(elsewhere);
    database.Open("ostra", "sa", database.password);
    InstallationFacts facts;
    ReadInstallation(database, files, &facts);
    EXPECT_EQ(facts.velinEnabled, 0) << elsewhere;
    EXPECT_EQ(facts.cgiBinDir, "") << elsewhere;
    EXPECT_EQ(facts.libxlPresent, 0) << elsewhere;
  }
}

}  // namespace
}  // namespace ost
