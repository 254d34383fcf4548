// The server configuration as the product's setup leaves it in the registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_port.h"

namespace ost {

inline constexpr char kConfigKeyPath[] = "SOFTWARE\\OSTRA";
constexpr int kScrambledSize = 128;
// Byte width of the connection values, in the product's code page, terminator included.
constexpr size_t kConfigWidth = 32;
constexpr size_t kHostWidth = 64;

// The maker's two update hosts. The registry values UpdateHost and UpdateHost2 may name
// others (a host name, optionally followed by ":port").
inline constexpr char kPrimaryUpdateHost[] = "update1.lanxi-ostra.com";
inline constexpr char kSecondaryUpdateHost[] = "update2.lanxi-ostra.com";

// The server configuration; values that cannot be read keep these defaults. The three
// connection values are the bytes the registry holds (the system code page), handed to
// the database unchanged: a conversion could change a password.
struct ServerConfig {
  std::string dataSourceName = "ostra";
  std::string dbUser = "sa";
  std::string dbPassword;
  std::string serverIp = "127.0.0.1";
  int32_t sqlPort = 1433;
  std::string primaryHost = kPrimaryUpdateHost;
  std::string secondaryHost = kSecondaryUpdateHost;
  bool stageFirst = false;  // StageFirst = 1: the staged mode
  // ScriptTransaction = 1: each database script in one transaction, whole or not at all.
  bool scriptTransaction = false;
  // HealthSeconds: how long a service started after its component was replaced must
  // keep running; 0 as documented (running once is enough).
  uint32_t healthSeconds = 0;
  // AutoRollback = 1: a run that fails after it changed anything puts the server back.
  bool autoRollback = false;
  // The maker's public key (optional value UpdateKey) as the registry holds it; set
  // whenever the value is there, readable or not, so that a key that cannot be read
  // never lets an unsigned release through.
  std::optional<std::string> updateKey;
  bool failover = false;      // Failover = 1: a failed download goes once to the other host
  std::string proxy;          // UpdateProxy, "host:port"; empty: none configured
  std::string proxyBypass;    // UpdateProxyBypass, ';'-separated host patterns
  std::string proxyUser;      // UpdateProxyUser
  std::string proxyPassword;  // UpdateProxyPassword, scrambled like Item2; never shown
  // With a key: the serial of the newest signed release applied here (UpdateSerial,
  // written by the tool); 0 when none was.
  uint64_t appliedSerial = 0;
};

// The value that keeps the serial of the newest signed release applied.
inline constexpr char kAppliedSerialName[] = "UpdateSerial";

// How one value of the configuration key was read, for the record of the run.
struct ConfigValueRead {
  std::string name;
  long status = kRegSuccess;  // the registry's status code
  bool used = false;          // the value went into the configuration
};

struct ConfigRead {
  int result = 0;                // 1 when the three connection values were read
  long keyStatus = kRegSuccess;  // of opening the key
  std::vector<ConfigValueRead> values;
  // The values of the way to the update hosts (proxy, failover), read after the others.
  std::vector<ConfigValueRead> networkValues;
};

// Reads the configuration key into *config: the three scrambled connection values
// (Item1 data source, Item2 password, Item5 user), ServerIP, SQLPort and the optional
// update hosts and update key. Stops at the first scrambled value that is missing.
ConfigRead ReadServerConfig(RegistryPort& registry, ServerConfig* config);

// One open registry key, closed on every way out of its scope.
class RegistryStore {
 public:
  explicit RegistryStore(RegistryPort& registry) : registry_(registry) {}
  virtual ~RegistryStore() { Close(); }
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Each returns the registry's status code, 0 on success.
  long Open(RegistryRoot root, const std::string& path);
  void Close();
  // Reads 4 bytes over *value; *value is unchanged on failure.
  long QueryDword(const std::string& name, int32_t* value);
  // Reads at most `limit` bytes as text; *value is unchanged on failure.
  long QueryString(const std::string& name, std::string* value, size_t limit = 200);
  // *count: the buffer's size on entry, the bytes stored on return.
  long QueryBinary(const std::string& name, uint8_t* buffer, uint32_t* count);

 private:
  RegistryPort& registry_;
  RegistryKey keyHandle_ = 0;
};

// Turns the scrambled value in buffer[0..len) into a terminated text at its start.
// 0 on success; 1, 2 or 3 when the step, the length or the key position is out of
// bounds.
int UnscrambleConfigValue(uint8_t* buffer, int len);

struct ScrambleChoice {
  int step = 7;       // 3..25
  int position = 40;  // 5..126
  uint32_t seed = 1;  // fills the unused bytes
};

// The inverse, as the product's setup writes these values: kScrambledSize bytes that
// UnscrambleConfigValue turns back into text. Empty when the text cannot be stored
// (empty, longer than 64 bytes, holding a zero byte) or the choice is out of bounds.
std::vector<uint8_t> ScrambleConfigValue(std::string_view text, const ScrambleChoice& choice);

}  // namespace ost
