// The registry port's contract.
#include <string>

#include "contract/contract.h"

namespace ost::contract {
namespace {

constexpr char kKey[] = "SOFTWARE\\Ostra\\Contract";

RegistryKey Open(RegistryPort& registry, const std::string& path) {
  RegistryKey key = 0;
  EXPECT_EQ(registry.OpenKeyRead(RegistryRoot::kLocalMachine, path, &key), kRegSuccess);
  return key;
}

TEST_P(RegistryContract, MissingKeysAndValuesAreNotFound) {
  RegistryKey key = 77;
  EXPECT_EQ(
      provider().registry().OpenKeyRead(RegistryRoot::kLocalMachine, "SOFTWARE\\Nobody", &key),
      kRegFileNotFound);
  EXPECT_EQ(key, 77u);  // untouched
  key = Open(provider().registry(), kKey);
  uint8_t data[16];
  uint32_t size = sizeof data;
  EXPECT_EQ(provider().registry().QueryValue(key, "Missing", data, &size), kRegFileNotFound);
  EXPECT_EQ(provider().registry().CloseKey(key), kRegSuccess);
}

TEST_P(RegistryContract, ValuesComeAsStoredAndATooSmallBufferGetsTheSize) {
  const RegistryKey key = Open(provider().registry(), kKey);
  uint8_t data[16] = {};
  uint32_t size = sizeof data;
  ASSERT_EQ(provider().registry().QueryValue(key, "Name", data, &size), kRegSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("ostra", 6));
  size = sizeof data;
  ASSERT_EQ(provider().registry().QueryValue(key, "Port", data, &size), kRegSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(data[0] | data[1] << 8, 1433);
  size = 3;
  EXPECT_EQ(provider().registry().QueryValue(key, "Name", data, &size), kRegMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(provider().registry().CloseKey(key), kRegSuccess);
}

// Key paths and value names compare without case, as the registry's do.
TEST_P(RegistryContract, NamesIgnoreCase) {
  const RegistryKey key = Open(provider().registry(), "software\\OSTRA\\contract");
  uint8_t data[16];
  uint32_t size = sizeof data;
  EXPECT_EQ(provider().registry().QueryValue(key, "NAME", data, &size), kRegSuccess);
  EXPECT_EQ(provider().registry().CloseKey(key), kRegSuccess);
}

TEST_P(RegistryContract, AClosedKeyIsNoKey) {
  const RegistryKey key = Open(provider().registry(), kKey);
  ASSERT_EQ(provider().registry().CloseKey(key), kRegSuccess);
  uint8_t data[16];
  uint32_t size = sizeof data;
  EXPECT_EQ(provider().registry().QueryValue(key, "Name", data, &size), kRegInvalidHandle);
  EXPECT_EQ(provider().registry().CloseKey(key), kRegInvalidHandle);
}

TEST_P(RegistryContract, TheOneWriteSetsAStringOfAnExistingKeyOnly) {
  EXPECT_EQ(
      provider().registry().SetStringValue(RegistryRoot::kLocalMachine, kKey, "Serial", "R-7"),
      kRegSuccess);
  const RegistryKey key = Open(provider().registry(), kKey);
  uint8_t data[16];
  uint32_t size = sizeof data;
  ASSERT_EQ(provider().registry().QueryValue(key, "Serial", data, &size), kRegSuccess);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("R-7", 4));
  provider().registry().CloseKey(key);

  EXPECT_EQ(provider().registry().SetStringValue(RegistryRoot::kLocalMachine, "SOFTWARE\\Nobody",
                                                 "Serial", "R-7"),
            kRegFileNotFound);
  RegistryKey none = 0;
  EXPECT_EQ(
      provider().registry().OpenKeyRead(RegistryRoot::kLocalMachine, "SOFTWARE\\Nobody", &none),
      kRegFileNotFound);
}

}  // namespace
}  // namespace ost::contract
