#include "system/config_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "app/texts.h"
#include "net/http_getter.h"
#include "net/proxy_choice.h"
#include "unit/fakes.h"

namespace ost {
namespace {

using testing::Harness;

// A raw scrambled value: header bytes as stored, everything else `fill`.
std::vector<uint8_t> Raw(int step, int position, int length, uint8_t fill = 0x55) {
  std::vector<uint8_t> buffer(kScrambledSize, fill);
  buffer[0] = static_cast<uint8_t>(step ^ 0xA5);
  buffer[1] = static_cast<uint8_t>(position ^ 0x3E);
  buffer[2] = static_cast<uint8_t>(length ^ 0x71);
  return buffer;
}

std::string Text(const std::vector<uint8_t>& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.data()));
}

int Unscramble(std::vector<uint8_t>& buffer) {
  return UnscrambleConfigValue(buffer.data(), static_cast<int>(buffer.size()));
}

TEST(Unscramble, StepBounds) {
  for (int step : {0, 2, 26, 255}) {
    auto buffer = Raw(step, 40, 1);
    EXPECT_EQ(Unscramble(buffer), 1) << step;
  }
  for (int step : {3, 25}) {
    auto buffer = Raw(step, 40, 5);
    EXPECT_EQ(Unscramble(buffer), 0) << step;
  }
  // The step is checked before the length and the position.
  auto buffer = Raw(2, 4, 65);
  EXPECT_EQ(Unscramble(buffer), 1);
}

TEST(Unscramble, LengthBounds) {
  auto tooLong = Raw(3, 40, 65);
  EXPECT_EQ(Unscramble(tooLong), 2);
  auto longest = Raw(3, 40, 64);
  EXPECT_EQ(Unscramble(longest), 0);
  auto lengthBeforePosition = Raw(3, 4, 65);
  EXPECT_EQ(Unscramble(lengthBeforePosition), 2);
}

TEST(Unscramble, ValuesTooShortForAnyStepAreRefusedUnread) {
  EXPECT_EQ(UnscrambleConfigValue(nullptr, 0), 1);
  for (int len = 1; len < 15; ++len) {
    // Exactly len bytes, so that a sanitizer sees any read beyond them.
    std::unique_ptr<uint8_t[]> value(new uint8_t[static_cast<size_t>(len)]);
    std::memset(value.get(), 3 ^ 0xA5, static_cast<size_t>(len));
    EXPECT_EQ(UnscrambleConfigValue(value.get(), len), 1) << len;
  }
}

TEST(Unscramble, PositionBounds) {
  for (int position : {4, 127}) {
    auto buffer = Raw(5, position, 3);
    EXPECT_EQ(Unscramble(buffer), 3) << position;
  }
  for (int position : {5, 126}) {
    auto buffer = Raw(5, position, 3);
    EXPECT_EQ(Unscramble(buffer), 0) << position;
  }
  // A stored position byte of 0x80 or more reads as a negative position.
  for (int stored : {0x80, 0xC0, 0xFF}) {
    auto buffer = Raw(5, 10, 3);
    buffer[1] = static_cast<uint8_t>(stored);
    EXPECT_EQ(Unscramble(buffer), 3) << stored;
  }
}

TEST(Unscramble, OneCharacterComesFromPositionAndKey) {
  auto buffer = Raw(4, 10, 1);
  buffer[10] = 'A' ^ 10;
  EXPECT_EQ(Unscramble(buffer), 0);
  EXPECT_EQ(buffer[0], 'A');
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(buffer[5], 0x55);  // the rest is left as it was
}

TEST(Unscramble, TwoCharactersKeepTheKeyByte) {
  auto buffer = Raw(4, 10, 2);
  const uint8_t key = 'o' ^ 10;
  buffer[10] = key;
  buffer[3] = 'k' ^ key;
  EXPECT_EQ(Unscramble(buffer), 0);
  EXPECT_EQ(Text(buffer), "ok");
  // Lengths below 1 read the same two characters.
  for (int length : {0, -1, -100}) {
    auto other = Raw(4, 10, length);
    other[10] = key;
    other[3] = 'k' ^ key;
    EXPECT_EQ(Unscramble(other), 0);
    EXPECT_EQ(Text(other), "ok") << length;
  }
}

TEST(Unscramble, LongerTextsAreReadWithTheKeyByteRemoved) {
  // step 3, key at 6: after removal, character 1 is at [3] and character 2 at [6],
  // which held the byte stored at [7].
  auto buffer = Raw(3, 6, 3);
  const uint8_t key = 'x' ^ 6;
  buffer[6] = key;
  buffer[3] = 'y' ^ key;
  buffer[7] = 'z' ^ key;
  EXPECT_EQ(Unscramble(buffer), 0);
  EXPECT_EQ(Text(buffer), "xyz");
  EXPECT_EQ(buffer[4], 0);  // everything after the text is cleared
  EXPECT_EQ(buffer[127], 0);
}

TEST(Unscramble, ZeroCharacterEndsTheText) {
  auto buffer = Raw(3, 6, 3);
  const uint8_t key = 'x' ^ 6;
  buffer[6] = key;
  buffer[3] = key;  // decodes to zero
  buffer[7] = 'z' ^ key;
  EXPECT_EQ(Unscramble(buffer), 0);
  EXPECT_EQ(Text(buffer), "x");
}

TEST(Scramble, RoundTripsEveryStepPositionAndLength) {
  std::mt19937 random(7);
  for (int step = 3; step <= 25; ++step) {
    for (int position = 5; position <= 126; ++position) {
      int length = 1 + static_cast<int>(random() % 64);
      std::string text(static_cast<size_t>(length), '\0');
      for (char& c : text) c = static_cast<char>(1 + random() % 255);  // high bytes too
      ScrambleChoice choice{step, position, static_cast<uint32_t>(random())};
      std::vector<uint8_t> stored = ScrambleConfigValue(text, choice);
      ASSERT_EQ(stored.size(), static_cast<size_t>(kScrambledSize));
      ASSERT_EQ(Unscramble(stored), 0) << step << " " << position;
      ASSERT_EQ(Text(stored), text) << step << " " << position << " " << length;
    }
  }
}

TEST(Scramble, RefusesWhatCannotBeStored) {
  EXPECT_TRUE(ScrambleConfigValue("", {}).empty());
  EXPECT_TRUE(ScrambleConfigValue(std::string(65, 'a'), {}).empty());
  EXPECT_FALSE(ScrambleConfigValue(std::string(64, 'a'), {}).empty());
  EXPECT_TRUE(ScrambleConfigValue(std::string("a\0b", 3), {}).empty());
  EXPECT_TRUE(ScrambleConfigValue("abc", {2, 40, 1}).empty());
  EXPECT_TRUE(ScrambleConfigValue("abc", {7, 127, 1}).empty());
}

// The configuration as the check reads it. The harness's registry starts empty here.
class ReadServerConfigTest : public ::testing::Test {
 protected:
  ReadServerConfigTest() { h.registry.keys.clear(); }
  void SetScrambled(const char* name, const std::string& text) {
    h.registry.SetValue(kConfigKeyPath, name, ScrambleConfigValue(text, {9, 33, 5}));
  }
  int Read() {
    read = ReadServerConfig(h.registry, &config);
    return read.result;
  }

  Harness h;
  ServerConfig config;
  ConfigRead read;
};

TEST_F(ReadServerConfigTest, ReadsAllValues) {
  h.WriteConfig("ostra2", "pa ss", "operator");
  h.registry.SetString(kConfigKeyPath, "ServerIP", "10.1.2.3");
  h.registry.SetDword(kConfigKeyPath, "SQLPort", 1444);
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.dataSourceName, "ostra2");
  EXPECT_EQ(config.dbPassword, "pa ss");
  EXPECT_EQ(config.dbUser, "operator");
  EXPECT_EQ(config.serverIp, "10.1.2.3");
  EXPECT_EQ(config.sqlPort, 1444);
  EXPECT_EQ(config.primaryHost, kPrimaryUpdateHost);
  EXPECT_EQ(h.registry.openKeys, 0);
  // What was found, for the record of the run.
  ASSERT_EQ(read.values.size(), 12u);
  EXPECT_EQ(read.values[0].name, "Item1");
  EXPECT_TRUE(read.values[0].used);
  EXPECT_EQ(read.values[5].name, "UpdateHost");
  EXPECT_EQ(read.values[5].status, kRegFileNotFound);
  EXPECT_FALSE(read.values[5].used);
  EXPECT_EQ(read.values[7].name, "StageFirst");
  EXPECT_FALSE(read.values[7].used);
  EXPECT_EQ(read.values[8].name, "ScriptTransaction");
  EXPECT_EQ(read.values[9].name, "HealthSeconds");
  EXPECT_FALSE(config.scriptTransaction);
  EXPECT_EQ(config.healthSeconds, 0u);
  EXPECT_EQ(read.values[10].name, "AutoRollback");
  EXPECT_FALSE(config.autoRollback);
  EXPECT_EQ(read.values[11].name, "UpdateKey");
  EXPECT_FALSE(read.values[11].used);
  EXPECT_FALSE(config.updateKey.has_value());
}

// The maker's key: absent is the only state that asks for no signature.
TEST_F(ReadServerConfigTest, UpdateKeyIsSetWheneverTheValueIsThere) {
  h.WriteConfig("ostra", "pw", "sa");
  h.registry.SetString(kConfigKeyPath, "UpdateKey", "ecdsa-p256:04ab");
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.updateKey, std::optional<std::string>("ecdsa-p256:04ab"));
  ASSERT_GE(read.values.size(), 2u);
  const ConfigValueRead& key = read.values[read.values.size() - 2];
  EXPECT_EQ(key.name, "UpdateKey");
  EXPECT_TRUE(key.used);
  // No release applied yet.
  EXPECT_EQ(read.values.back().name, "UpdateSerial");
  EXPECT_EQ(config.appliedSerial, 0u);

  // Three keys and their separators fit; longer than the 600 bytes a key value is read
  // into: set, but to nothing usable.
  config = ServerConfig{};
  const std::string three =
      std::string(141, 'k') + ";" + std::string(141, 'k') + ";" + std::string(141, 'k');
  h.registry.SetString(kConfigKeyPath, "UpdateKey", three);
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.updateKey, std::optional<std::string>(three));
  h.registry.SetString(kConfigKeyPath, "UpdateKey", std::string(650, 'a'));
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.updateKey, std::optional<std::string>(""));
  EXPECT_EQ(read.values[read.values.size() - 2].status, kRegMoreData);
}

TEST_F(ReadServerConfigTest, TheAppliedSerialIsReadAndAnUnreadableOneRefusesEveryRelease) {
  h.WriteConfig("ostra", "pw", "sa");
  h.registry.SetString(kConfigKeyPath, "UpdateSerial", "1765000000");
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.appliedSerial, 0u) << "read only with a key set";
  h.registry.SetString(kConfigKeyPath, "UpdateKey", "ecdsa-p256:04ab");
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.appliedSerial, 1765000000u);
  for (const std::string& bad : {std::string("12x"), std::string(""), std::string("-1")}) {
    h.registry.SetString(kConfigKeyPath, "UpdateSerial", bad);
    EXPECT_EQ(Read(), 1);
    EXPECT_EQ(config.appliedSerial, UINT64_MAX) << bad;
  }
}

TEST_F(ReadServerConfigTest, PlainValuesFallBackToDefaults) {
  h.WriteConfig("ostra", "pw", "sa");
  config.serverIp = "10.9.9.9";
  config.sqlPort = 1;
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.serverIp, "127.0.0.1");
  EXPECT_EQ(config.sqlPort, 1433);

  // An 8-byte port value does not fit the 4-byte read.
  h.registry.SetValue(kConfigKeyPath, "SQLPort", std::vector<uint8_t>(8, 1));
  config.sqlPort = 1;
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.sqlPort, 1433);
}

TEST_F(ReadServerConfigTest, MissingScrambledValueStopsTheRead) {
  SetScrambled("Item1", "first");
  SetScrambled("Item5", "never read");
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(config.dataSourceName, "first");  // read before the failure
  EXPECT_EQ(config.dbUser, "sa");
  EXPECT_EQ(h.registry.openKeys, 0);
  EXPECT_EQ(read.values.back().name, "Item2");
  EXPECT_EQ(read.values.back().status, kRegFileNotFound);

  // Longer than the 128-byte work buffer: the same.
  h.registry.SetValue(kConfigKeyPath, "Item2", std::vector<uint8_t>(129, 0x41));
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(read.values.back().status, kRegMoreData);
}

TEST_F(ReadServerConfigTest, RejectedValuesKeepTheirMember) {
  h.WriteConfig("ostra", "pw", "sa");
  h.registry.SetValue(kConfigKeyPath, "Item1", Raw(2, 40, 3));  // bad step
  SetScrambled("Item5", std::string(32, 'u'));                  // too long for the member
  config.dataSourceName = "kept";
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.dataSourceName, "kept");
  EXPECT_EQ(config.dbUser, "sa");
  EXPECT_EQ(config.dbPassword, "pw");
  EXPECT_FALSE(read.values[0].used);

  SetScrambled("Item5", std::string(31, 'u'));  // fits exactly
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.dbUser, std::string(31, 'u'));
}

TEST_F(ReadServerConfigTest, ShortScrambledValueIsReadFromAZeroedBuffer) {
  // A value shorter than 128 bytes: the rest of the work buffer reads as zeros.
  std::vector<uint8_t> stored = ScrambleConfigValue("abc", {3, 6, 1});
  stored.resize(10);
  h.WriteConfig("ostra", "pw", "sa");
  h.registry.SetValue(kConfigKeyPath, "Item2", stored);
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.dbPassword, "abc");
}

// The connection values stay the bytes the registry holds, all the way to the
// database; only what is shown is converted.
TEST_F(ReadServerConfigTest, ConnectionValuesKeepTheirBytes) {
  h.WriteConfig("ostra",
                "ab\xff"
                "cd",
                "\xb9\xdc\xc0\xed\xd4\xb1");  // "管理员" in GBK
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.dbUser, "\xb9\xdc\xc0\xed\xd4\xb1");
  EXPECT_EQ(config.dbPassword,
            "ab\xff"
            "cd");  // no GBK: it would turn into "ab?cd"

  h.database.password =
      "ab\xff"
      "cd";
  h.OpenDialog();
  EXPECT_EQ(h.database.logins, (std::vector<std::string>{"ostra \xb9\xdc\xc0\xed\xd4\xb1 ab\xff"
                                                         "cd"}));
  EXPECT_EQ(h.Cell(0, 2), "管理员");
  EXPECT_EQ(h.Cell(1, 3), "连接查询完成");
}

TEST_F(ReadServerConfigTest, UpdateHostsMayBeConfigured) {
  h.WriteConfig("ostra", "pw", "sa");
  h.registry.SetString(kConfigKeyPath, "UpdateHost", "mirror.example:8080");
  h.registry.SetString(kConfigKeyPath, "UpdateHost2", "bad host");  // not a host name
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(config.primaryHost, "mirror.example:8080");
  EXPECT_EQ(config.secondaryHost, kSecondaryUpdateHost);
}

TEST_F(ReadServerConfigTest, MissingKeyIsReportedByTheCheck) {
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(read.keyStatus, kRegFileNotFound);
  h.OpenDialog();
  ASSERT_EQ(h.window.boxes.size(), 2u);
  EXPECT_EQ(h.window.boxes[0].text, "注册表读取失败！");
  EXPECT_EQ(h.window.boxes[0].caption, text::kAppName);
  EXPECT_EQ(h.window.boxes[0].icon, BoxIcon::kWarning);
}

TEST(RegistryStore, DwordShorterThanFourBytesOverwritesOnlyItsBytes) {
  testing::FakeRegistry registry;
  registry.SetValue("K", "Short", {0x34, 0x12});
  RegistryStore store(registry);
  ASSERT_EQ(store.Open(RegistryRoot::kLocalMachine, "K"), kRegSuccess);
  int32_t value = 0x7F000000;
  EXPECT_EQ(store.QueryDword("Short", &value), kRegSuccess);
  EXPECT_EQ(value, 0x7F001234);
  EXPECT_EQ(store.QueryDword("Missing", &value), kRegFileNotFound);
  EXPECT_EQ(value, 0x7F001234);
  std::string text = "unchanged";
  registry.SetValue("K", "Long", std::vector<uint8_t>(201, 'a'));
  EXPECT_EQ(store.QueryString("Long", &text), kRegMoreData);
  EXPECT_EQ(text, "unchanged");
}

}  // namespace
}  // namespace ost

namespace ost {
namespace {

// The way to the update hosts: the proxy's password is unscrambled like the database
// password, and the proxy comes from the option, the registry or WinHTTP, in that order.
TEST_F(ReadServerConfigTest, NetworkValuesAndTheProxyChoice) {
  h.WriteConfig("ostra", "pw", "sa");
  h.registry.SetDword(kConfigKeyPath, "Failover", 1);
  h.registry.SetString(kConfigKeyPath, "UpdateProxy", "proxy.corp:3128");
  h.registry.SetString(kConfigKeyPath, "UpdateProxyBypass", "<local>;*.lan;10.*");
  h.registry.SetString(kConfigKeyPath, "UpdateProxyUser", "svc");
  SetScrambled("UpdateProxyPassword", "S3cret!");
  EXPECT_EQ(Read(), 1);
  EXPECT_TRUE(config.failover);
  EXPECT_EQ(config.proxyPassword, "S3cret!");

  class MachineWithProxy : public testing::FakeSystem {
   public:
    bool MachineProxy(std::string* proxy, std::string* bypass) override {
      *proxy = "http=winhttp.corp:8080;https=other:1";
      *bypass = "update2.lanxi-ostra.com";
      return true;
    }
  } machine;
  ProxyValues values{"", config.proxy, config.proxyBypass, config.proxyUser, config.proxyPassword};
  std::string source;
  ProxySettings proxy = ChooseProxy(values, machine, &source);
  EXPECT_EQ(source, "UpdateProxy");
  EXPECT_EQ(proxy.Name(), "proxy.corp:3128");
  EXPECT_TRUE(proxy.Serves("update1.lanxi-ostra.com"));
  EXPECT_FALSE(proxy.Serves("updatehost"));  // <local>: no dot
  EXPECT_FALSE(proxy.Serves("mirror.LAN"));
  EXPECT_FALSE(proxy.Serves("10.0.0.7"));
  EXPECT_TRUE(proxy.Serves("110.0.0.7"));

  values.option = "127.0.0.1:8888";
  EXPECT_EQ(ChooseProxy(values, machine, &source).Name(), "127.0.0.1:8888");
  EXPECT_EQ(source, "--proxy");
  values.option.clear();
  values.configured.clear();
  values.bypass.clear();
  proxy = ChooseProxy(values, machine, &source);
  EXPECT_EQ(source, "WinHTTP");
  EXPECT_EQ(proxy.Name(), "winhttp.corp:8080");
  EXPECT_FALSE(proxy.Serves("update2.lanxi-ostra.com"));
  testing::FakeSystem direct;
  EXPECT_EQ(ChooseProxy(values, direct, &source).Name(), "direct");
  EXPECT_FALSE(ChooseProxy(values, direct, &source).Serves("update1.lanxi-ostra.com"));
  EXPECT_EQ(source, "direct");
  EXPECT_EQ(Base64("ostproxy:Pr0xy-pass"), "b3N0cHJveHk6UHIweHktcGFzcw==");
}

}  // namespace
}  // namespace ost
