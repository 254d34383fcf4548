// The ports' contract suites: each suite is written once (the *_contract.cpp files) and
// instantiated once per provider (memory_providers.cpp, posix_providers.cpp,
// win32_providers.cpp) under the provider's name. A provider comes with what only it
// can stage: a held file, a refused flush, a server that answers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/crypto_port.h"
#include "platform/database_port.h"
#include "platform/file_port.h"
#include "platform/registry_port.h"
#include "platform/services_port.h"
#include "platform/socket_port.h"
#include "platform/system_port.h"
#include "platform/text_port.h"
#include "platform/view_port.h"

namespace ost::contract {

// The fixture of a suite: a fresh provider for each test, made by the parameter.
template <typename UnderTest>
class Contract : public ::testing::TestWithParam<std::function<std::unique_ptr<UnderTest>()>> {
 protected:
  void SetUp() override { provider_ = this->GetParam()(); }
  UnderTest& provider() { return *provider_; }
  std::unique_ptr<UnderTest> provider_;
};

// Instantiates Suite for one provider: its tests run as <provider>/<Suite>.<test>.
#define OST_CONTRACT_PROVIDER(provider, Suite, UnderTest, Made)                           \
  INSTANTIATE_TEST_SUITE_P(provider, Suite,                                               \
                           ::testing::Values(std::function<std::unique_ptr<UnderTest>()>( \
                               [] { return std::unique_ptr<UnderTest>(new Made); })))

// Files, with the folder Folder() made and empty.
class FilesUnderTest {
 public:
  virtual ~FilesUnderTest() = default;
  virtual FilePort& files() = 0;
  // The folder the tests work in, as the core names paths ("D:\work").
  virtual std::string Folder() = 0;
  // Renames onto path are refused for a moment: `times` tries of the provider's
  // (-1: until the test ends), as while a program holds the file.
  virtual void Hold(const std::string& path, int times) = 0;
  // Makes the system refuse the next flush; false when the provider cannot stage that.
  virtual bool RefuseNextFlush() = 0;
};

// HKLM\SOFTWARE\Ostra\Contract holds Name = "ostra" (REG_SZ) and Port = 1433 (DWORD).
class RegistryUnderTest {
 public:
  virtual ~RegistryUnderTest() = default;
  virtual RegistryPort& registry() = 0;
};

class CryptoUnderTest {
 public:
  virtual ~CryptoUnderTest() = default;
  virtual CryptoPort& crypto() = 0;
};

class TextUnderTest {
 public:
  virtual ~TextUnderTest() = default;
  virtual TextPort& text() = 0;
};

// Not connected; the data source "ostra" takes the login sa/secret and holds the site
// id kContractSiteGbk and no platform flag.
class DatabaseUnderTest {
 public:
  virtual ~DatabaseUnderTest() = default;
  virtual ProductDatabase& database() = 0;
  // Why no such data source can be had here; empty when it can.
  virtual std::string Unavailable() { return ""; }
};
extern const char kContractSiteGbk[];  // "中文中文" in GBK

// A host that answers one request on a port with the given bytes, then closes.
class SocketsUnderTest {
 public:
  virtual ~SocketsUnderTest() = default;
  virtual SocketPort& sockets() = 0;
  // The host's IPv4 name (resolvable by ResolveIpv4).
  virtual std::string Host() = 0;
  // A port where the host reads one request up to its blank line and answers `answer`.
  virtual uint16_t Serve(const std::string& answer) = 0;
  // A port where nobody listens.
  virtual uint16_t Closed() = 0;
};

// An empty service manager that services are added to.
class ServicesUnderTest {
 public:
  virtual ~ServicesUnderTest() = default;
  virtual ServicesPort& services() = 0;
  // A service in state (1 stopped, 4 running) with its program; it depends on the
  // services named in dependsOn.
  virtual void Add(const std::string& name, int32_t state, const std::string& binaryPath,
                   const std::vector<std::string>& dependsOn = {}) = 0;
  // Why the manager cannot keep dependents (it neither lists them nor refuses their
  // stop); empty when it can.
  virtual std::string NoDependents() { return ""; }
};

// An empty report list with three columns.
class ViewUnderTest {
 public:
  virtual ~ViewUnderTest() = default;
  virtual ReportList& list() = 0;
};

class SystemUnderTest {
 public:
  virtual ~SystemUnderTest() = default;
  virtual SystemPort& system() = 0;
  // Runs what StartThread started, for a provider whose threads wait to be run.
  virtual void RunStarted() {}
};

// Files named in the test folder, written and read whole.
class FilesContract : public Contract<FilesUnderTest> {
 protected:
  FilePort& files() { return provider().files(); }
  std::string At(const std::string& name) { return provider().Folder() + "\\" + name; }

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
};

using RegistryContract = Contract<RegistryUnderTest>;
using TextContract = Contract<TextUnderTest>;
using CryptoContract = Contract<CryptoUnderTest>;
class DatabaseContract : public Contract<DatabaseUnderTest> {
 protected:
  void SetUp() override {
    Contract::SetUp();
    if (!provider().Unavailable().empty()) GTEST_SKIP() << provider().Unavailable();
  }
};
using SocketsContract = Contract<SocketsUnderTest>;
using ServicesContract = Contract<ServicesUnderTest>;
using SystemContract = Contract<SystemUnderTest>;
using ViewContract = Contract<ViewUnderTest>;

}  // namespace ost::contract
