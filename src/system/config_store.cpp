#include "system/config_store.h"

#include <cstring>
#include <random>
#include <vector>

#include "util/text.h"

namespace ost {

long RegistryStore::Open(RegistryRoot root, const std::string& path) {
  Close();
  return registry_.OpenKeyRead(root, path, &keyHandle_);
}

void RegistryStore::Close() {
  if (keyHandle_ != 0) {
    registry_.CloseKey(keyHandle_);
    keyHandle_ = 0;
  }
}

long RegistryStore::QueryDword(const std::string& name, int32_t* value) {
  // A shorter value overwrites only its own bytes, as a 4-byte read into the
  // integer would.
  uint8_t bytes[4];
  std::memcpy(bytes, value, sizeof bytes);
  uint32_t size = sizeof bytes;
  long status = registry_.QueryValue(keyHandle_, name, bytes, &size);
  if (status == kRegSuccess) std::memcpy(value, bytes, sizeof bytes);
  return status;
}

long RegistryStore::QueryString(const std::string& name, std::string* value, size_t limit) {
  std::vector<uint8_t> buffer(limit, 0);
  uint32_t size = static_cast<uint32_t>(limit);
  long status = registry_.QueryValue(keyHandle_, name, buffer.data(), &size);
  if (status == kRegSuccess) {
    size_t length = strnlen(reinterpret_cast<const char*>(buffer.data()), size);
    value->assign(reinterpret_cast<const char*>(buffer.data()), length);
  }
  return status;
}

long RegistryStore::QueryBinary(const std::string& name, uint8_t* buffer, uint32_t* count) {
  return registry_.QueryValue(keyHandle_, name, buffer, count);
}

int UnscrambleConfigValue(uint8_t* buffer, int len) {
  // No step fits a value shorter than 15 bytes, and below 3 bytes even the header
  // would be read past the end.
  if (len / 5 < 3) return 1;
  const int step = buffer[0] ^ 0xA5;
  const int position = static_cast<int8_t>(buffer[1]) ^ 0x3E;
  const int length = static_cast<int8_t>(buffer[2]) ^ 0x71;
  if (step > len / 5 || step < 3) return 1;
  if (length > len / 2) return 2;
  if (position < 5 || position > len - 2) return 3;

  const uint8_t key = buffer[position];
  std::vector<uint8_t> result(static_cast<size_t>(len) + 1, 0);
  result[0] = static_cast<uint8_t>((position & 0xFF) ^ key);

  if (length == 1) {
    buffer[0] = result[0];
    buffer[1] = 0;
    return 0;
  }
  if (length >= 3) {
    std::memmove(buffer + position, buffer + position + 1, static_cast<size_t>(len - 1 - position));
    int count = 1;
    // Passes over the buffer, each starting one byte further; the step bound makes
    // the first pass alone long enough, the r bound only guards odd sizes.
    for (int r = 0; count < length && r < len; ++r) {
      for (int m = 0; m * step < len - 6 - r && count < length; ++m) {
        result[static_cast<size_t>(count++)] = buffer[3 + r + m * step] ^ key;
      }
    }
  } else {
    result[1] = buffer[3] ^ key;
  }
  std::memset(buffer, 0, static_cast<size_t>(len));
  for (int i = 0; i < len - 1 && result[static_cast<size_t>(i)] != 0; ++i) {
    buffer[i] = result[static_cast<size_t>(i)];
  }
  return 0;
}

std::vector<uint8_t> ScrambleConfigValue(std::string_view text, const ScrambleChoice& choice) {
  const int len = kScrambledSize;
  const int length = static_cast<int>(text.size());
  if (length < 1 || length > len / 2 || text.find('\0') != std::string_view::npos) return {};
  if (choice.step < 3 || choice.step > len / 5) return {};
  if (choice.position < 5 || choice.position > len - 2) return {};

  std::mt19937 random(choice.seed);
  // The value as it reads once its key byte is taken out.
  std::vector<uint8_t> packed(static_cast<size_t>(len));
  for (uint8_t& byte : packed) byte = static_cast<uint8_t>(random());
  packed[0] = static_cast<uint8_t>(choice.step ^ 0xA5);
  packed[1] = static_cast<uint8_t>(choice.position ^ 0x3E);
  packed[2] = static_cast<uint8_t>(length ^ 0x71);
  const auto key = static_cast<uint8_t>(choice.position ^ static_cast<uint8_t>(text[0]));
  auto at = [&](size_t i) { return static_cast<uint8_t>(static_cast<uint8_t>(text[i]) ^ key); };

  if (length == 2) {
    packed[3] = at(1);  // read before any byte moves
  } else if (length >= 3) {
    size_t count = 1;
    for (int r = 0; count < text.size(); ++r) {
      for (int m = 0; m * choice.step < len - 6 - r && count < text.size(); ++m) {
        packed[static_cast<size_t>(3 + r + m * choice.step)] = at(count++);
      }
    }
  }
  std::vector<uint8_t> stored(static_cast<size_t>(len));
  for (int i = 0, from = 0; i < len; ++i) {
    stored[static_cast<size_t>(i)] =
        i == choice.position ? key : packed[static_cast<size_t>(from++)];
  }
  return stored;
}

namespace {

// A host name fits its 64-byte field and is plain ASCII.
bool UsableHost(const std::string& host) {
  if (host.empty() || host.size() > kHostWidth - 1) return false;
  for (char c : host) {
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) return false;
  }
  return true;
}

}  // namespace

namespace {

// The optional values for networks that reach the update hosts only through a proxy,
// and for the second host when the first fails.
void ReadNetworkValues(RegistryStore& store, ConfigRead* read, ServerConfig* config) {
  int32_t failover = 0;
  ConfigValueRead& failoverValue = read->networkValues.emplace_back();
  failoverValue.name = "Failover";
  failoverValue.status = store.QueryDword("Failover", &failover);
  failoverValue.used = failoverValue.status == kRegSuccess;
  config->failover = failoverValue.used && failover == 1;
  for (auto [name, member] : {std::pair{"UpdateProxy", &config->proxy},
                              std::pair{"UpdateProxyBypass", &config->proxyBypass},
                              std::pair{"UpdateProxyUser", &config->proxyUser}}) {
    std::string text;
    ConfigValueRead& entry = read->networkValues.emplace_back();
    entry.name = name;
    entry.status = store.QueryString(name, &text);
    entry.used = entry.status == kRegSuccess && (member != &config->proxy || UsableHost(text));
    if (entry.used) *member = text;
  }
  uint8_t buffer[kScrambledSize] = {};
  uint32_t count = sizeof buffer;
  ConfigValueRead& password = read->networkValues.emplace_back();
  password.name = "UpdateProxyPassword";
  password.status = store.QueryBinary("UpdateProxyPassword", buffer, &count);
  if (password.status == kRegSuccess && UnscrambleConfigValue(buffer, kScrambledSize) == 0) {
    config->proxyPassword.assign(reinterpret_cast<const char*>(buffer),
                                 strnlen(reinterpret_cast<const char*>(buffer), sizeof buffer));
    password.used = true;
  }
}

}  // namespace

ConfigRead ReadServerConfig(RegistryPort& registry, ServerConfig* config) {
  ConfigRead read;
  RegistryStore store(registry);
  read.keyStatus = store.Open(RegistryRoot::kLocalMachine, kConfigKeyPath);
  if (read.keyStatus != kRegSuccess) return read;

  struct Scrambled {
    const char* name;
    std::string* member;
  };
  const Scrambled values[] = {{"Item1", &config->dataSourceName},
                              {"Item2", &config->dbPassword},
                              {"Item5", &config->dbUser}};
  for (const Scrambled& value : values) {
    uint8_t buffer[kScrambledSize] = {};
    uint32_t count = sizeof buffer;
    ConfigValueRead& entry = read.values.emplace_back();
    entry.name = value.name;
    entry.status = store.QueryBinary(value.name, buffer, &count);
    if (entry.status != kRegSuccess) return read;
    if (UnscrambleConfigValue(buffer, kScrambledSize) != 0) continue;
    size_t bytes = strnlen(reinterpret_cast<const char*>(buffer), sizeof buffer);
    // The members hold 31 bytes; a longer text is refused rather than cut, since a
    // cut name or password would only fail later and less clearly.
    if (bytes > kConfigWidth - 1) continue;
    value.member->assign(reinterpret_cast<const char*>(buffer), bytes);
    entry.used = true;
  }

  std::string serverIp;
  ConfigValueRead& ip = read.values.emplace_back();
  ip.name = "ServerIP";
  ip.status = store.QueryString("ServerIP", &serverIp);
  ip.used = ip.status == kRegSuccess;
  config->serverIp = ip.used ? GbkToUtf8(serverIp) : "127.0.0.1";
  ConfigValueRead& port = read.values.emplace_back();
  port.name = "SQLPort";
  port.status = store.QueryDword("SQLPort", &config->sqlPort);
  port.used = port.status == kRegSuccess;
  if (!port.used) config->sqlPort = 1433;

  // Optional: other update hosts than the built-in ones.
  for (auto [name, member] : {std::pair{"UpdateHost", &config->primaryHost},
                              std::pair{"UpdateHost2", &config->secondaryHost}}) {
    std::string host;
    ConfigValueRead& entry = read.values.emplace_back();
    entry.name = name;
    entry.status = store.QueryString(name, &host);
    entry.used = entry.status == kRegSuccess && UsableHost(host);
    if (entry.used) *member = host;
  }
  // Optional: the staged mode.
  int32_t stage = 0;
  ConfigValueRead& staged = read.values.emplace_back();
  staged.name = "StageFirst";
  staged.status = store.QueryDword("StageFirst", &stage);
  staged.used = staged.status == kRegSuccess;
  config->stageFirst = staged.used && stage == 1;
  // Optional: scripts in one transaction each, and the health check of started services.
  int32_t whole = 0;
  ConfigValueRead& transaction = read.values.emplace_back();
  transaction.name = "ScriptTransaction";
  transaction.status = store.QueryDword("ScriptTransaction", &whole);
  transaction.used = transaction.status == kRegSuccess;
  config->scriptTransaction = transaction.used && whole == 1;
  int32_t seconds = 0;
  ConfigValueRead& health = read.values.emplace_back();
  health.name = "HealthSeconds";
  health.status = store.QueryDword("HealthSeconds", &seconds);
  // Beyond an hour is no health check but a service held down for nothing.
  health.used = health.status == kRegSuccess && seconds >= 0 && seconds <= 3600;
  config->healthSeconds = health.used ? static_cast<uint32_t>(seconds) : 0;
  int32_t back = 0;
  ConfigValueRead& rollback = read.values.emplace_back();
  rollback.name = "AutoRollback";
  rollback.status = store.QueryDword("AutoRollback", &back);
  rollback.used = rollback.status == kRegSuccess;
  config->autoRollback = rollback.used && back == 1;
  // Optional: the maker's key; only a value that is not there at all leaves it unset.
  std::string key;
  ConfigValueRead& updateKey = read.values.emplace_back();
  updateKey.name = "UpdateKey";
  // Room for three keys and their separators.
  updateKey.status = store.QueryString("UpdateKey", &key, 600);
  updateKey.used = updateKey.status != kRegFileNotFound;
  if (updateKey.used) config->updateKey = updateKey.status == kRegSuccess ? key : std::string();
  ReadNetworkValues(store, &read, config);
  if (updateKey.used) {
    // A serial that cannot be read refuses every release: nothing older may pass.
    std::string serial;
    ConfigValueRead& applied = read.values.emplace_back();
    applied.name = kAppliedSerialName;
    applied.status = store.QueryString(kAppliedSerialName, &serial);
    config->appliedSerial = 0;
    if (applied.status == kRegSuccess) {
      uint64_t value = 0;
      applied.used = !serial.empty() && serial.size() <= 19 &&
                     serial.find_first_not_of("0123456789") == std::string::npos;
      for (char c : applied.used ? serial : std::string()) value = value * 10 + (c - '0');
      config->appliedSerial = applied.used ? value : UINT64_MAX;
    } else if (applied.status != kRegFileNotFound) {
      config->appliedSerial = UINT64_MAX;
    }
  }
  read.result = 1;
  return read;
}

}  // namespace ost
