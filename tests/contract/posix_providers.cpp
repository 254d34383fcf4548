// The contract suites run against the POSIX providers: files and registry on a
// temporary machine root, the database through unixODBC and the stand-in driver,
// sockets against a server on the loopback address.
#include <stdlib.h>

#include <fstream>
#include <list>
#include <map>

#include "contract/contract.h"
#include "contract/flush_hook.h"
#include "contract/loopback_server.h"
#include "contract/temp_root.h"
#include "platform/odbc/odbc_database.h"
#include "platform/posix/iconv_text.h"
#include "platform/posix/machine_root.h"
#include "platform/posix/openssl_crypto.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/reg_file.h"
#include "sandbox_db.h"
#include "util/text.h"

#include <nlohmann/json.hpp>

namespace ost::contract {
namespace {

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
  std::string Folder() override { return "D:\\work"; }
  void Hold(const std::string& path, int times) override { held_[path] = times; }
  bool RefuseNextFlush() override {
    contract::RefuseNextFlush();
    return true;
  }

 private:
  TempRoot temp_;
  MachineRoot root_;
  PosixFiles files_;
  std::map<std::string, int> held_;
};

class PosixRegistryUnderTest : public RegistryUnderTest {
 public:
  PosixRegistryUnderTest() : registry_(temp_.dir() + "/registry.reg") {
    RegDocument doc;
    doc.SetString(RegistryRoot::kLocalMachine, "SOFTWARE\\Ostra\\Contract", "Name", "ostra");
    doc.SetValue(RegistryRoot::kLocalMachine, "SOFTWARE\\Ostra\\Contract", "Port", kRegDword,
                 {0x99, 0x05, 0, 0});
    std::string error;
    EXPECT_TRUE(SaveRegFile(temp_.dir() + "/registry.reg", doc, &error)) << error;
  }
  RegistryPort& registry() override { return registry_; }

 private:
  TempRoot temp_;
  PosixRegistry registry_;
};

class PosixCryptoUnderTest : public CryptoUnderTest {
 public:
  CryptoPort& crypto() override { return crypto_; }

 private:
  OpenSslCrypto crypto_;
};

class PosixTextUnderTest : public TextUnderTest {
 public:
  TextPort& text() override { return text_; }

 private:
  IconvText text_;
};

// The driver manager reads its configuration once per process: one root for all.
const TempRoot& OdbcRoot() {
  static const TempRoot* root = [] {
    auto* made = new TempRoot;  // never destroyed: the driver manager may use it at exit
    std::string error;
    EXPECT_TRUE(WriteOdbcConfig(made->dir() + "/odbc", OST_ODBC_DRIVER_PATH, made->dir() + "/db",
                                "ostra", "sa", "secret", &error, "GBK"))
        << error;
    setenv("ODBCSYSINI", (made->dir() + "/odbc").c_str(), 1);
    return made;
  }();
  return *root;
}

class OdbcDatabaseUnderTest : public DatabaseUnderTest {
 public:
  OdbcDatabaseUnderTest() {
    SandboxDbOptions options;
    options.siteId = GbkToUtf8(kContractSiteGbk);
    std::string error;
    const std::string db = OdbcRoot().dir() + "/db";
    EXPECT_TRUE(CreateSandboxDatabases(db, options, &error)) << error;
    EXPECT_TRUE(RunSandboxSql(db, "ostra", "DELETE FROM sys_dict WHERE dcname='29'", &error))
        << error;
  }
  ProductDatabase& database() override { return database_; }

 private:
  OdbcDatabase database_;
};

using PosixSocketsUnderTest = LoopbackSocketsUnderTest<PosixSockets>;

class PosixServicesUnderTest : public ServicesUnderTest {
 public:
  PosixServicesUnderTest() : services_(temp_.dir() + "/services.json") { Write(); }
  ServicesPort& services() override { return services_; }
  void Add(const std::string& name, int32_t state, const std::string& binaryPath,
           const std::vector<std::string>& dependsOn) override {
    nlohmann::json& service = doc_["services"][name];
    service["state"] = state;
    service["binaryPath"] = binaryPath;
    if (!dependsOn.empty()) service["dependsOn"] = dependsOn;
    Write();
  }

 private:
  void Write() { std::ofstream(temp_.dir() + "/services.json") << doc_.dump(); }

  TempRoot temp_;
  nlohmann::json doc_ = {{"services", nlohmann::json::object()}};
  PosixServices services_;
};

class PosixSystemUnderTest : public SystemUnderTest {
 public:
  PosixSystemUnderTest() : system_(temp_.dir() + "/program/", temp_.dir()) {}
  ~PosixSystemUnderTest() override {
    // Threads started here may still be on their way out.
    for (int i = 0; i < 500 && system_.LiveThreads() > 0; ++i) system_.Sleep(10);
  }
  SystemPort& system() override { return system_; }

 private:
  TempRoot temp_;
  PosixSystem system_;
};

OST_CONTRACT_PROVIDER(posix, FilesContract, FilesUnderTest, PosixFilesUnderTest);
OST_CONTRACT_PROVIDER(posix, RegistryContract, RegistryUnderTest, PosixRegistryUnderTest);
OST_CONTRACT_PROVIDER(posix, TextContract, TextUnderTest, PosixTextUnderTest);
OST_CONTRACT_PROVIDER(posix, CryptoContract, CryptoUnderTest, PosixCryptoUnderTest);
OST_CONTRACT_PROVIDER(posix, DatabaseContract, DatabaseUnderTest, OdbcDatabaseUnderTest);
OST_CONTRACT_PROVIDER(posix, SocketsContract, SocketsUnderTest, PosixSocketsUnderTest);
OST_CONTRACT_PROVIDER(posix, ServicesContract, ServicesUnderTest, PosixServicesUnderTest);
OST_CONTRACT_PROVIDER(posix, SystemContract, SystemUnderTest, PosixSystemUnderTest);

// Only the POSIX provider's flushes can be counted: every written file is flushed once.
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
