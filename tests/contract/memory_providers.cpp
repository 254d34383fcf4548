// The contract suites run against the in-memory providers.
#include "contract/contract.h"
#include "platform/memory/memory_database.h"
#include "platform/memory/memory_files.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/memory_services.h"
#include "platform/memory/memory_sockets.h"
#include "platform/memory/memory_system.h"
#include "platform/memory/memory_text.h"
#include "ui/memory_view.h"

namespace ost::contract {
namespace {

class MemoryFilesUnderTest : public FilesUnderTest {
 public:
  MemoryFilesUnderTest() { files_.MakeFolders(Folder()); }
  FilePort& files() override { return files_; }
  std::string Folder() override { return "D:\\work"; }
  void Hold(const std::string& path, int times) override { files_.held[path] = times; }
  bool RefuseNextFlush() override {
    files_.failClose = true;
    return true;
  }

 private:
  MemoryFiles files_;
};

class MemoryRegistryUnderTest : public RegistryUnderTest {
 public:
  MemoryRegistryUnderTest() {
    registry_.SetString("SOFTWARE\\Ostra\\Contract", "Name", "ostra");
    registry_.SetDword("SOFTWARE\\Ostra\\Contract", "Port", 1433);
  }
  RegistryPort& registry() override { return registry_; }

 private:
  MemoryRegistry registry_;
};

class MemoryTextUnderTest : public TextUnderTest {
 public:
  TextPort& text() override { return text_; }

 private:
  MemoryText text_;
};

class MemoryDatabaseUnderTest : public DatabaseUnderTest {
 public:
  MemoryDatabaseUnderTest() {
    database_.siteId = kContractSiteGbk;
    database_.platformFlag.reset();
    database_.failing.push_back("no_such_table");
  }
  ProductDatabase& database() override { return database_; }

 private:
  MemoryDatabase database_;
};

class MemorySocketsUnderTest : public SocketsUnderTest {
 public:
  SocketPort& sockets() override { return host_; }
  std::string Host() override { return "update.example"; }
  uint16_t Serve(const std::string& answer) override {
    host_.answers["/manifest.txt"] = answer;
    return 80;
  }
  uint16_t Closed() override {
    host_.closedPorts.insert(81);
    return 81;
  }

 private:
  MemoryHttpHost host_;
};

class MemoryServicesUnderTest : public ServicesUnderTest {
 public:
  ServicesPort& services() override { return services_; }
  void Add(const std::string& name, int32_t state, const std::string& binaryPath,
           const std::vector<std::string>& dependsOn) override {
    MemoryServices::Service& service = services_.services[name];
    service.state = state;
    service.binaryPath = binaryPath;
    service.ownProcess = true;
    for (const std::string& needed : dependsOn)
      services_.services[needed].dependents.push_back(name);
  }

 private:
  MemoryServices services_;
};

class MemorySystemUnderTest : public SystemUnderTest {
 public:
  SystemPort& system() override { return system_; }
  void RunStarted() override {
    while (!system_.threads.empty()) {
      auto body = std::move(system_.threads.front());
      system_.threads.pop_front();
      body();
    }
  }

 private:
  MemorySystem system_;
};

class MemoryViewUnderTest : public ViewUnderTest {
 public:
  MemoryViewUnderTest() {
    for (int column = 0; column < 3; ++column) list_.InsertColumn(column, "column", 100);
  }
  ReportList& list() override { return list_; }

 private:
  MemoryReportList list_;
};

OST_CONTRACT_PROVIDER(memory, FilesContract, FilesUnderTest, MemoryFilesUnderTest);
OST_CONTRACT_PROVIDER(memory, RegistryContract, RegistryUnderTest, MemoryRegistryUnderTest);
OST_CONTRACT_PROVIDER(memory, TextContract, TextUnderTest, MemoryTextUnderTest);
OST_CONTRACT_PROVIDER(memory, DatabaseContract, DatabaseUnderTest, MemoryDatabaseUnderTest);
OST_CONTRACT_PROVIDER(memory, SocketsContract, SocketsUnderTest, MemorySocketsUnderTest);
OST_CONTRACT_PROVIDER(memory, ServicesContract, ServicesUnderTest, MemoryServicesUnderTest);
OST_CONTRACT_PROVIDER(memory, SystemContract, SystemUnderTest, MemorySystemUnderTest);
OST_CONTRACT_PROVIDER(memory, ViewContract, ViewUnderTest, MemoryViewUnderTest);

}  // namespace
}  // namespace ost::contract
