// ost-sandbox: lays out machine roots for ost-server-update on Linux.
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/machine_root.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/reg_file.h"
#include "sandbox/publish.h"
#include "sandbox/sandbox_db.h"
#include "system/config_store.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace {

constexpr int kUsageError = 64;

bool ParseNumber(const char* text, long low, long high, long* out);
bool MakeDirs(const std::string& path);

const char kUsage[] =
    "usage: ost-sandbox init DIR [options]\n"
    "       ost-sandbox publish DIR [options]\n"
    "       ost-sandbox scramble TEXT [--step N] [--position N] [--seed N]\n"
    "\n"
    "init lays out a machine root in DIR for ost-server-update --root DIR:\n"
    "  DIR/registry.reg   the server configuration under HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTRA\n"
    "                     (Item1 data source, Item2 password, Item5 user, scrambled as the\n"
    "                     product's setup stores them; ServerIP; SQLPort)\n"
    "  DIR/program/       the tool's own folder (route file Ostra.rut)\n"
    "  DIR/services.json  the service manager: CSOstraServer, CSOstraAgent,\n"
    "                     CSOstraMessage, CSTuyoMess (in C:\\OSTRA) and W3SVC, running\n"
    "  DIR/drives/c/OSTRA/       the installed component executables\n"
    "  DIR/drives/d/wwwroot/cgi-bin/  the web folder: Velin.dll, OstData.dll\n"
    "\n"
    "init options:\n"
    "  --dsn NAME         ODBC data source name (default ostra)\n"
    "  --user NAME        database login (default sa)\n"
    "  --password TEXT    database password (default ostra-sa)\n"
    "  --server-ip ADDR   ServerIP value (default 127.0.0.1); --no-server-ip leaves it out\n"
    "  --sql-port N       SQLPort value (default 1433); --no-sql-port leaves it out\n"
    "  --no-registry      write no registry.reg (a machine without the configuration)\n"
    "  --code-page NAME   the machine's system code page, an iconv name (default GBK):\n"
    "                     the registry's texts are written in it, and its number\n"
    "                     (ACP) when not 936; the data source takes narrow text in it\n"
    "  --update-host H[:P]   UpdateHost value: the primary update host\n"
    "  --update-host2 H[:P]  UpdateHost2 value: the secondary update host\n"
    "  --update-key KEY   UpdateKey value: the maker's public key as ost-release keygen\n"
    "                     prints it; only releases it signed are applied\n"
    "  --route N          write the route file Ostra.rut holding N\n"
    "  --step N           scramble step, 3..25 (default 7)\n"
    "  --position N       scramble key position, 5..126 (default 40)\n"
    "  --seed N           seed of the scramble's filler bytes (default 1)\n"
    "  --installed KEY=N  installed update number of a component (default 10 each):\n"
    "                     Server, Agent, Velin, Message, OstData, Tuyom\n"
    "  --stopped NAME     the service NAME is stopped (repeatable)\n"
    "  --absent NAME      the service NAME is not installed (repeatable)\n"
    "  --service NAME:KNOB[=VALUE]  a knob of services.json for NAME: startPendingMs,\n"
    "                     stopPendingMs, processLingerMs, refuseStart, refuseStop,\n"
    "                     startEndsStopped, neverSettle, denyAccess, configTooLarge,\n"
    "                     dependsOn=NAME[,NAME] (repeatable)\n"
    "  --no-ostdata       no OstData.dll in the web folder\n"
    "  --libxl            put libxl.dll in the web folder (the x package variant)\n"
    "  --web-file NAME=TEXT  a file of the web folder with this content (repeatable)\n"
    "  DIR/db/ostra.sqlite, DIR/db/velin.sqlite and DIR/odbc/ (the data source DSN\n"
    "  with the stand-in driver) stand for the product's SQL Server:\n"
    "  --ostra-version V  installed product database version (default 3.80; \"\": none)\n"
    "  --velin-version V  installed web platform database version (default 7.0; \"\": none)\n"
    "  --no-web           the web platform is not installed (dictionary entry 29 is 0)\n"
    "  --site-id ID       the web site's id (default site)\n"
    "  --web-root PATH    the web site's root folder (default D:\\wwwroot)\n"
    "  --no-web-main      no web site row for the site id\n"
    "  --no-ostra-db, --no-velin-db   leave that database file out\n"
    "  --odbc-driver PATH the stand-in driver library (default: the one built here)\n"
    "  --dsn-password P   the password the database accepts (default: --password), for\n"
    "                     a configuration that no longer matches the server\n"
    "\n"
    "publish writes a release into DIR/host/ostra/update1/ for a web server to serve:\n"
    "server.txt (the manifest, in GBK), a zlib package for every announced component\n"
    "and detail file, and a script package for every database version step.\n"
    "  --release FILE     the release as JSON (the options below add to it):\n"
    "                     {\"ostra\": \"3.82\", \"velin\": \"7.2\",\n"
    "                      \"components\": {\"Server\": {\"version\": 12, \"label\": \"v12\",\n"
    "                        \"description\": \"...\", \"content\": \"...\",\n"
    "                        \"contentFile\": \"PATH\" (the content read from a file),\n"
    "                        \"package\": \"good|missing|corrupt|truncated\"}},\n"
    "                      \"details\": {\"a.htm\": {\"content\": \"...\", \"package\": "
    "\"good\"}},\n"
    "                      \"scripts\": {\"sql/update381.sql\": \"corrupt\"},\n"
    "                      \"failingBatches\": [381], \"ostraScriptsFrom\": 374,\n"
    "                      \"velinScriptsFrom\": 71, \"manifestMissing\": false,\n"
    "                      \"noFinalSeparator\": [382], \"order\": [\"Server\", ...]}\n"
    "  --ostra X.YZ       the announced product database version (default 3.80)\n"
    "  --velin X.Y        the announced web platform database version (default 7.0)\n"
    "  --component KEY=N  announce update N of a component: Server, Agent, Velin,\n"
    "                     Message, OstData or Tuyom (repeatable)\n"
    "  --detail NAME=TEXT list a detail file of the web folder with this content\n"
    "  --package NAME=STATE  spoil a package: NAME is a component key, a detail file\n"
    "                     or a script (sql/update381.sql); STATE is missing, corrupt\n"
    "                     or truncated\n"
    "  --failing-batch V  the script of version V (381, or 71) has a batch that fails\n"
    "  --no-manifest      publish no server.txt\n"
    "  --no-final-go V    the script of version V lacks the GO line after its last batch\n"
    "  --order K1,K2,...  the manifest's row order by component key (default: Server,\n"
    "                     Agent, Velin, Message, OstData, Tuyom)\n"
    "\n"
    "scramble prints TEXT as the product stores it, as a regedit hex list.\n";

struct Options {
  std::string dsn = "ostra";
  std::string codePage = "GBK";  // the machine's: its registry values and ODBC clients
  std::string user = "sa";
  std::string password = "ostra-sa";
  std::string serverIp = "127.0.0.1";
  bool writeServerIp = true;
  long sqlPort = 1433;
  bool writeSqlPort = true;
  bool writeRegistry = true;
  std::string updateHost;
  std::string updateHost2;
  std::string updateKey;
  bool writeRoute = false;
  long route = 0;
  ost::ScrambleChoice scramble;
  std::map<std::string, int> installed;
  std::vector<ost::ServiceRecord> services;
  bool ostData = true;
  bool libxl = false;
  std::map<std::string, std::string> webFiles;
  ost::SandboxDbOptions database;
  std::string odbcDriver = OST_ODBC_DRIVER_PATH;
  std::optional<std::string> dsnPassword;
};

// The product's services as a fresh installation has them.
std::vector<ost::ServiceRecord> DefaultServices() {
  std::vector<ost::ServiceRecord> services;
  for (const char* name : {"CSOstraServer", "CSOstraAgent", "CSOstraMessage", "CSTuyoMess"}) {
    ost::ServiceRecord record;
    record.name = name;
    record.state = 4;
    record.binaryPath = std::string("C:\\OSTRA\\") + name + ".exe";
    services.push_back(record);
  }
  ost::ServiceRecord web;
  web.name = "W3SVC";
  web.state = 4;
  web.binaryPath = "C:\\Windows\\system32\\inetsrv\\inetinfo.exe";
  services.push_back(web);
  return services;
}

ost::ServiceRecord* FindService(Options& options, const std::string& name) {
  for (ost::ServiceRecord& record : options.services) {
    if (ost::ServiceNamesEqual(record.name, name)) return &record;
  }
  return nullptr;
}

// NAME:KNOB[=VALUE] for one service of services.json.
bool SetServiceKnob(Options& options, const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  ost::ServiceRecord* record = FindService(options, text.substr(0, colon));
  if (!record) return false;
  std::string knob = text.substr(colon + 1);
  std::string value = "1";
  size_t eq = knob.find('=');
  if (eq != std::string::npos) {
    value = knob.substr(eq + 1);
    knob.resize(eq);
  }
  long number = 0;
  if (knob == "startPendingMs" || knob == "stopPendingMs" || knob == "processLingerMs") {
    if (!ParseNumber(value.c_str(), 0, 3600000, &number)) return false;
    (knob == "startPendingMs"  ? record->startPendingMs
     : knob == "stopPendingMs" ? record->stopPendingMs
                               : record->processLingerMs) = number;
    return true;
  }
  if (knob == "dependsOn") {
    record->dependsOn.clear();
    for (size_t start = 0; start <= value.size();) {
      size_t comma = value.find(',', start);
      if (comma == std::string::npos) comma = value.size();
      if (comma == start) return false;
      record->dependsOn.push_back(value.substr(start, comma - start));
      start = comma + 1;
    }
    return true;
  }
  bool on = value == "1" || value == "true";
  if (!on && value != "0" && value != "false") return false;
  if (knob == "refuseStart")
    record->refuseStart = on;
  else if (knob == "refuseStop")
    record->refuseStop = on;
  else if (knob == "startEndsStopped")
    record->startEndsStopped = on;
  else if (knob == "neverSettle")
    record->neverSettle = on;
  else if (knob == "denyAccess")
    record->denyAccess = on;
  else if (knob == "configTooLarge")
    record->configTooLarge = on;
  else
    return false;
  return true;
}

bool WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

// The installed components on the machine's drives.
bool LayOutDrives(const ost::MachineRoot& root, const Options& options) {
  const std::string programs = root.DrivesDir() + "/c/OSTRA";
  const std::string web = root.DrivesDir() + "/d/wwwroot/cgi-bin";
  if (!MakeDirs(programs) || !MakeDirs(web)) return false;
  for (const ost::Component& component : ost::kCatalogue) {
    if (component.kind == ost::kOstDataKind && !options.ostData) continue;
    auto found = options.installed.find(component.key);
    int number = found == options.installed.end() ? 10 : found->second;
    std::string folder = component.inWebFolder ? web : programs;
    if (!WriteText(folder + "/" + component.fileName,
                   ost::sandbox::DefaultComponentContent(component.fileName, number))) {
      return false;
    }
  }
  if (options.libxl && !WriteText(web + "/libxl.dll", "MZ sandbox libxl\n")) return false;
  for (const auto& [name, content] : options.webFiles) {
    if (!WriteText(web + "/" + name, content)) return false;
  }
  return true;
}

bool ParseNumber(const char* text, long low, long high, long* out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

bool MakeDirs(const std::string& path) {
  std::string partial;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    partial = path.substr(0, end);
    if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    start = end + 1;
  }
  return true;
}

// UTF-8 text in the machine's code page; false when a character has no place in it.
// The Windows number of a code page named as iconv names it (CP1252, WINDOWS-1252, GBK);
// empty for one Windows has no number for here.
std::string AnsiCodePageNumber(const std::string& name) {
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  if (upper == "GBK" || upper == "GB2312") return "936";
  for (const char* prefix : {"CP", "WINDOWS-"}) {
    const std::string digits = upper.substr(0, std::strlen(prefix)) == prefix
                                   ? upper.substr(std::strlen(prefix))
                                   : std::string();
    if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) {
      return digits;
    }
  }
  return "";
}

bool Encode(const std::string& utf8, const std::string& codePage, std::string* out) {
  iconv_t cd = iconv_open(codePage.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* dst = out->data();
  size_t outLeft = out->size();
  const bool ok = iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  out->resize(out->size() - outLeft);
  return ok && inLeft == 0;
}

bool Scramble(const std::string& utf8, const std::string& codePage,
              const ost::ScrambleChoice& choice, const char* what, std::vector<uint8_t>* out) {
  std::string gbk;
  if (!Encode(utf8, codePage, &gbk)) {
    std::fprintf(stderr, "ost-sandbox: %s has characters that code page %s lacks\n", what,
                 codePage.c_str());
    return false;
  }
  if (gbk.size() > 31) {
    std::fprintf(stderr, "ost-sandbox: %s is longer than 31 bytes\n", what);
    return false;
  }
  *out = ost::ScrambleConfigValue(gbk, choice);
  if (out->empty()) {
    std::fprintf(stderr, "ost-sandbox: %s cannot be stored (empty?)\n", what);
    return false;
  }
  return true;
}

int Init(const std::string& dir, const Options& options) {
  ost::MachineRoot root(dir);
  if (!MakeDirs(root.root()) || !MakeDirs(root.ProgramDir())) {
    std::fprintf(stderr, "ost-sandbox: cannot create %s: %s\n", root.root().c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (options.writeRegistry) {
    ost::RegDocument doc;
    const auto machine = ost::RegistryRoot::kLocalMachine;
    struct Item {
      const char* name;
      const std::string* text;
      const char* what;
    };
    const Item items[] = {{"Item1", &options.dsn, "--dsn"},
                          {"Item2", &options.password, "--password"},
                          {"Item5", &options.user, "--user"}};
    ost::ScrambleChoice choice = options.scramble;
    for (const Item& item : items) {
      std::vector<uint8_t> bytes;
      if (!Scramble(*item.text, options.codePage, choice, item.what, &bytes)) return 1;
      doc.SetBinary(machine, ost::kConfigKeyPath, item.name, bytes);
      ++choice.seed;  // each value gets its own filler
    }
    if (options.writeServerIp) {
      std::string serverIp;
      if (!Encode(options.serverIp, options.codePage, &serverIp)) {
        std::fprintf(stderr, "ost-sandbox: --server-ip has characters that code page %s lacks\n",
                     options.codePage.c_str());
        return 1;
      }
      doc.SetString(machine, ost::kConfigKeyPath, "ServerIP", serverIp);
    }
    // Where Windows keeps its system code page: the Linux tool reads the connection
    // values in it. GBK (936) is what the tool takes without it.
    const std::string acp = AnsiCodePageNumber(options.codePage);
    if (!acp.empty() && acp != "936") {
      doc.SetString(machine, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", acp);
    }
    if (!options.updateHost.empty()) {
      doc.SetString(machine, ost::kConfigKeyPath, "UpdateHost", options.updateHost);
    }
    if (!options.updateKey.empty()) {
      doc.SetString(machine, ost::kConfigKeyPath, "UpdateKey", options.updateKey);
    }
    if (!options.updateHost2.empty()) {
      doc.SetString(machine, ost::kConfigKeyPath, "UpdateHost2", options.updateHost2);
    }
    if (options.writeSqlPort) {
      doc.SetDword(machine, ost::kConfigKeyPath, "SQLPort", static_cast<uint32_t>(options.sqlPort));
    }
    std::string error;
    if (!ost::SaveRegFile(root.RegistryFile(), doc, &error)) {
      std::fprintf(stderr, "ost-sandbox: %s\n", error.c_str());
      return 1;
    }
  } else {
    std::remove(root.RegistryFile().c_str());
  }
  std::string serviceError;
  if (!ost::WriteServicesFile(root.ServicesFile(), options.services, &serviceError)) {
    std::fprintf(stderr, "ost-sandbox: %s\n", serviceError.c_str());
    return 1;
  }
  ost::SandboxDbOptions database = options.database;
  for (size_t i = 0; i < 6; ++i) {
    auto found = options.installed.find(ost::kCatalogue[i].key);
    database.componentNumbers[i] = found == options.installed.end() ? 10 : found->second;
  }
  std::string dbError;
  if (!MakeDirs(root.DatabaseDir()) || !MakeDirs(root.OdbcDir()) ||
      !ost::CreateSandboxDatabases(root.DatabaseDir(), database, &dbError) ||
      !ost::WriteOdbcConfig(root.OdbcDir(), options.odbcDriver, root.DatabaseDir(), options.dsn,
                            options.user, options.dsnPassword.value_or(options.password), &dbError,
                            options.codePage)) {
    std::fprintf(stderr, "ost-sandbox: %s\n",
                 dbError.empty() ? "cannot create the databases" : dbError.c_str());
    return 1;
  }
  if (!LayOutDrives(root, options)) {
    std::fprintf(stderr, "ost-sandbox: cannot lay out the drives in %s\n",
                 root.DrivesDir().c_str());
    return 1;
  }
  if (options.writeRoute) {
    std::string path = root.ProgramDir() + "Ostra.rut";
    FILE* file = std::fopen(path.c_str(), "wb");
    auto value = static_cast<uint32_t>(static_cast<int32_t>(options.route));
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    if (!file || std::fwrite(bytes, 1, 4, file) != 4 || std::fclose(file) != 0) {
      std::fprintf(stderr, "ost-sandbox: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::printf("machine root laid out in %s\n", root.root().c_str());
  return 0;
}

bool SplitInstalled(const std::string& text, Options* options) {
  size_t eq = text.find('=');
  long number = 0;
  if (eq == std::string::npos || !ost::FindComponent(text.substr(0, eq)) ||
      !ParseNumber(text.c_str() + eq + 1, 0, 2147483647L, &number)) {
    return false;
  }
  options->installed[text.substr(0, eq)] = static_cast<int>(number);
  return true;
}

bool SplitWebFile(const std::string& text, Options* options) {
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || text.find('/') < eq) return false;
  options->webFiles[text.substr(0, eq)] = text.substr(eq + 1);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out->append(buffer, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

int Publish(const std::string& dir, int argc, char** argv) {
  namespace sb = ost::sandbox;
  sb::Release release;
  auto split = [](const std::string& text, std::string* key, std::string* value) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    *key = text.substr(0, eq);
    *value = text.substr(eq + 1);
    return true;
  };
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    std::string key, value;
    long number = 0;
    if (arg == "--release" && hasValue) {
      std::string json, error;
      if (!ReadWholeFile(argv[++i], &json)) {
        std::fprintf(stderr, "ost-sandbox: cannot read %s\n", argv[i]);
        return 1;
      }
      if (!sb::ParseRelease(json, &release, &error)) {
        std::fprintf(stderr, "ost-sandbox: %s: %s\n", argv[i], error.c_str());
        return 1;
      }
    } else if (arg == "--ostra" && hasValue) {
      release.ostraVersion = argv[++i];
    } else if (arg == "--velin" && hasValue) {
      release.velinVersion = argv[++i];
    } else if (arg == "--component" && hasValue && split(argv[++i], &key, &value) &&
               ost::FindComponent(key) && ParseNumber(value.c_str(), 0, 2147483647L, &number)) {
      release.components[key].version = static_cast<int>(number);
    } else if (arg == "--detail" && hasValue && split(argv[++i], &key, &value)) {
      release.details[key].content = value;
    } else if (arg == "--package" && hasValue && split(argv[++i], &key, &value)) {
      sb::PackageState state;
      if (!sb::ParsePackageState(value, &state)) {
        std::fprintf(stderr, "ost-sandbox: package state must be missing, corrupt or truncated\n");
        return kUsageError;
      }
      if (ost::FindComponent(key)) {
        release.components[key].package = state;
      } else if (key.rfind("sql/", 0) == 0) {
        release.scriptPackages[key] = state;
      } else {
        release.details[key].package = state;
      }
    } else if (arg == "--failing-batch" && hasValue && ParseNumber(argv[++i], 0, 100000, &number)) {
      release.failingBatches.push_back(static_cast<int>(number));
    } else if (arg == "--no-final-go" && hasValue && ParseNumber(argv[++i], 0, 100000, &number)) {
      release.noFinalSeparator.push_back(static_cast<int>(number));
    } else if (arg == "--order" && hasValue) {
      std::string list = argv[++i];
      release.order.clear();
      for (size_t start = 0; start <= list.size();) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        release.order.push_back(list.substr(start, comma - start));
        start = comma + 1;
      }
    } else if (arg == "--no-manifest") {
      release.manifestMissing = true;
    } else {
      std::fprintf(stderr, "ost-sandbox: bad publish option or value: %s\n", arg.c_str());
      return kUsageError;
    }
  }
  ost::MachineRoot root(dir);
  std::string error;
  if (!sb::PublishRelease(root.HostDir(), release, &error)) {
    std::fprintf(stderr, "ost-sandbox: %s\n", error.c_str());
    return 1;
  }
  std::printf("release %s / %s published in %s/ostra/update1\n", release.ostraVersion.c_str(),
              release.velinVersion.c_str(), root.HostDir().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? kUsageError : 0;
  }
  std::string command = argv[1];
  if (command == "publish" && argc >= 3) return Publish(argv[2], argc - 3, argv + 3);
  if ((command != "init" && command != "scramble") || argc < 3) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  std::string subject = argv[2];
  Options options;
  options.services = DefaultServices();
  for (int i = 3; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto needValue = [&]() {
      if (!value) std::fprintf(stderr, "ost-sandbox: %s needs a value\n", arg.c_str());
      return value != nullptr;
    };
    long number = 0;
    if (arg == "--dsn" && needValue()) {
      options.dsn = argv[++i];
    } else if (arg == "--code-page" && needValue()) {
      options.codePage = argv[++i];
    } else if (arg == "--user" && needValue()) {
      options.user = argv[++i];
    } else if (arg == "--password" && needValue()) {
      options.password = argv[++i];
    } else if (arg == "--server-ip" && needValue()) {
      options.serverIp = argv[++i];
    } else if (arg == "--no-server-ip") {
      options.writeServerIp = false;
    } else if (arg == "--sql-port" && needValue() &&
               ParseNumber(argv[++i], 0, 0xFFFFFFFFL, &number)) {
      options.sqlPort = number;
    } else if (arg == "--no-sql-port") {
      options.writeSqlPort = false;
    } else if (arg == "--update-host" && needValue()) {
      options.updateHost = argv[++i];
    } else if (arg == "--update-host2" && needValue()) {
      options.updateHost2 = argv[++i];
    } else if (arg == "--update-key" && needValue()) {
      options.updateKey = argv[++i];
    } else if (arg == "--no-registry") {
      options.writeRegistry = false;
    } else if (arg == "--route" && needValue() &&
               ParseNumber(argv[++i], -2147483648L, 2147483647L, &number)) {
      options.writeRoute = true;
      options.route = number;
    } else if (arg == "--installed" && needValue() && SplitInstalled(argv[++i], &options)) {
    } else if (arg == "--stopped" && needValue() && FindService(options, argv[i + 1])) {
      FindService(options, argv[++i])->state = 1;
    } else if (arg == "--absent" && needValue() && FindService(options, argv[i + 1])) {
      std::string name = argv[++i];
      auto& list = options.services;
      list.erase(std::remove_if(list.begin(), list.end(),
                                [&](const ost::ServiceRecord& r) {
                                  return ost::ServiceNamesEqual(r.name, name);
                                }),
                 list.end());
    } else if (arg == "--service" && needValue() && SetServiceKnob(options, argv[++i])) {
    } else if (arg == "--ostra-version" && needValue()) {
      options.database.ostraVersion = argv[++i];
    } else if (arg == "--velin-version" && needValue()) {
      options.database.velinVersion = argv[++i];
    } else if (arg == "--no-web") {
      options.database.velinEnabled = false;
    } else if (arg == "--site-id" && needValue()) {
      options.database.siteId = argv[++i];
    } else if (arg == "--web-root" && needValue()) {
      options.database.webRoot = argv[++i];
    } else if (arg == "--no-web-main") {
      options.database.webMainRow = false;
    } else if (arg == "--no-ostra-db") {
      options.database.createOstra = false;
    } else if (arg == "--no-velin-db") {
      options.database.createVelin = false;
    } else if (arg == "--dsn-password" && needValue()) {
      options.dsnPassword = argv[++i];
    } else if (arg == "--odbc-driver" && needValue()) {
      options.odbcDriver = argv[++i];
    } else if (arg == "--no-ostdata") {
      options.ostData = false;
    } else if (arg == "--libxl") {
      options.libxl = true;
    } else if (arg == "--web-file" && needValue() && SplitWebFile(argv[++i], &options)) {
    } else if (arg == "--step" && needValue() && ParseNumber(argv[++i], 3, 25, &number)) {
      options.scramble.step = static_cast<int>(number);
    } else if (arg == "--position" && needValue() && ParseNumber(argv[++i], 5, 126, &number)) {
      options.scramble.position = static_cast<int>(number);
    } else if (arg == "--seed" && needValue() && ParseNumber(argv[++i], 0, 0x7FFFFFFFL, &number)) {
      options.scramble.seed = static_cast<uint32_t>(number);
    } else {
      std::fprintf(stderr, "ost-sandbox: bad option or value: %s\n", arg.c_str());
      return kUsageError;
    }
  }
  if (command == "scramble") {
    std::vector<uint8_t> bytes;
    if (!Scramble(subject, options.codePage, options.scramble, "TEXT", &bytes)) return 1;
    std::string line = "hex:";
    for (size_t i = 0; i < bytes.size(); ++i) {
      line += ost::Format(i == 0 ? "%02x" : ",%02x", bytes[i]);
    }
    std::printf("%s\n", line.c_str());
    return 0;
  }
  return Init(subject, options);
}
