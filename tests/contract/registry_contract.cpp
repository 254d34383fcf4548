// The registry port's contract, run against every provider of this build.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "contract/temp_root.h"
#include "platform/memory/memory_registry.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/reg_file.h"

namespace ost::contract {
namespace {

constexpr char kKey[] = "SOFTWARE\\Ostra\\Server";

// A provider whose HKLM holds kKey with Name = "ostra" (REG_SZ) and Port = 1433 (DWORD).
class RegistryUnderTest {
 public:
  virtual ~RegistryUnderTest() = default;
  virtual RegistryPort& registry() = 0;
};

class MemoryRegistryUnderTest : public RegistryUnderTest {
 public:
  MemoryRegistryUnderTest() {
    registry_.SetString(kKey, "Name", "ostra");
    registry_.SetDword(kKey, "Port", 1433);
  }
  RegistryPort& registry() override { return registry_; }

 private:
  MemoryRegistry registry_;
};

class PosixRegistryUnderTest : public RegistryUnderTest {
 public:
  PosixRegistryUnderTest() : registry_(temp_.dir() + "/registry.reg") {
    RegDocument doc;
    doc.SetString(RegistryRoot::kLocalMachine, kKey, "Name", "ostra");
    doc.SetValue(RegistryRoot::kLocalMachine, kKey, "Port", kRegDword, {0x99, 0x05, 0, 0});
    std::string error;
    EXPECT_TRUE(SaveRegFile(temp_.dir() + "/registry.reg", doc, &error)) << error;
  }
  RegistryPort& registry() override { return registry_; }

 private:
  TempRoot temp_;
  PosixRegistry registry_;
};

using Maker = std::function<std::unique_ptr<RegistryUnderTest>()>;

class RegistryContract : public ::testing::TestWithParam<Maker> {
 protected:
  void SetUp() override { provider_ = GetParam()(); }
  RegistryPort& registry() { return provider_->registry(); }
  RegistryKey Open(const std::string& path) {
    RegistryKey key = 0;
    EXPECT_EQ(registry().OpenKeyRead(RegistryRoot::kLocalMachine, path, &key), kRegSuccess);
    return key;
  }
  std::unique_ptr<RegistryUnderTest> provider_;
};

TEST_P(RegistryContract, MissingKeysAndValuesAreNotFound) {
  RegistryKey key = 77;
  EXPECT_EQ(registry().OpenKeyRead(RegistryRoot::kLocalMachine, "SOFTWARE\\Nobody", &key),
            kRegFileNotFound);
  EXPECT_EQ(key, 77u);  // untouched
  key = Open(kKey);
  uint8_t data[16];
  uint32_t size = sizeof data;
  EXPECT_EQ(registry().QueryValue(key, "Missing", data, &size), kRegFileNotFound);
  EXPECT_EQ(registry().CloseKey(key), kRegSuccess);
}

TEST_P(RegistryContract, ValuesComeAsStoredAndATooSmallBufferGetsTheSize) {
  const RegistryKey key = Open(kKey);
  uint8_t data[16] = {};
  uint32_t size = sizeof data;
  ASSERT_EQ(registry().QueryValue(key, "Name", data, &size), kRegSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("ostra", 6));
  size = sizeof data;
  ASSERT_EQ(registry().QueryValue(key, "Port", data, &size), kRegSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(data[0] | data[1] << 8, 1433);
  size = 3;
  EXPECT_EQ(registry().QueryValue(key, "Name", data, &size), kRegMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(registry().CloseKey(key), kRegSuccess);
}

// Key paths and value names compare without case, as the registry's do.
TEST_P(RegistryContract, NamesIgnoreCase) {
  const RegistryKey key = Open("software\\OSTRA\\server");
  uint8_t data[16];
  uint32_t size = sizeof data;
  EXPECT_EQ(registry().QueryValue(key, "NAME", data, &size), kRegSuccess);
  EXPECT_EQ(registry().CloseKey(key), kRegSuccess);
}

TEST_P(RegistryContract, AClosedKeyIsNoKey) {
  const RegistryKey key = Open(kKey);
  ASSERT_EQ(registry().CloseKey(key), kRegSuccess);
  uint8_t data[16];
  uint32_t size = sizeof data;
  EXPECT_EQ(registry().QueryValue(key, "Name", data, &size), kRegInvalidHandle);
  EXPECT_EQ(registry().CloseKey(key), kRegInvalidHandle);
}

TEST_P(RegistryContract, TheOneWriteSetsAStringOfAnExistingKeyOnly) {
  EXPECT_EQ(registry().SetStringValue(RegistryRoot::kLocalMachine, kKey, "Serial", "R-7"),
            kRegSuccess);
  const RegistryKey key = Open(kKey);
  uint8_t data[16];
  uint32_t size = sizeof data;
  ASSERT_EQ(registry().QueryValue(key, "Serial", data, &size), kRegSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("R-7", 4));
  registry().CloseKey(key);

  EXPECT_EQ(
      registry().SetStringValue(RegistryRoot::kLocalMachine, "SOFTWARE\\Nobody", "Serial", "R-7"),
      kRegFileNotFound);
  RegistryKey none = 0;
  EXPECT_EQ(registry().OpenKeyRead(RegistryRoot::kLocalMachine, "SOFTWARE\\Nobody", &none),
            kRegFileNotFound);
}

INSTANTIATE_TEST_SUITE_P(memory, RegistryContract, ::testing::Values(Maker([] {
                           return std::unique_ptr<RegistryUnderTest>(new MemoryRegistryUnderTest);
                         })));
INSTANTIATE_TEST_SUITE_P(posix, RegistryContract, ::testing::Values(Maker([] {
                           return std::unique_ptr<RegistryUnderTest>(new PosixRegistryUnderTest);
                         })));

}  // namespace
}  // namespace ost::contract
