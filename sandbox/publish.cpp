#include "sandbox/publish.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "ost-release/manifest_writer.h"
#include "update/catalogue.h"
#include "util/md5.h"
#include "util/text.h"

namespace ost::sandbox {

const char* const kComponentKeys[6] = {"Server", "Agent", "Velin", "Message", "OstData", "Tuyom"};

namespace {

bool MakeDirs(const std::string& path, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    std::string partial = path.substr(0, at);
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot create " + partial + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool WriteFile(const std::string& path, const std::string& bytes, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

std::string Compress(const std::string& data) {
  return release::CompressPackage(data, Z_BEST_SPEED);
}

// Writes (or leaves out, or spoils) one package.
bool WritePackage(const std::string& path, const std::string& content, PackageState state,
                  std::string* error) {
  std::remove(path.c_str());
  switch (state) {
    case PackageState::kMissing:
      return true;
    case PackageState::kCorrupt:
      return WriteFile(path, "this is not a zlib stream: " + content.substr(0, 40), error);
    case PackageState::kTruncated: {
      std::string packed = Compress(content);
      return WriteFile(path, packed.substr(0, packed.size() / 2), error);
    }
    case PackageState::kGood:
      break;
  }
  return WriteFile(path, Compress(content), error);
}

int Scaled(const std::string& text, int scale) {
  return static_cast<int>(std::lround(std::strtod(text.c_str(), nullptr) * scale));
}

std::string OstraScript(int version, bool failing, bool finalSeparator) {
  std::string v = Format("%.2f", version / 100.0);
  std::string script = "-- Ostra database upgrade to " + v + "\r\n";
  script += "UPDATE ostra.dbo.sys_dict SET dcvalue = dcvalue WHERE dcname = '29'\r\nGO\r\n";
  if (failing) script += "SELECT nothing FROM ostra.dbo.no_such_table\r\nGO\r\n";
  script += "INSERT INTO ostra.dbo.sys_version (cversion) VALUES ('" + v + "')\r\n";
  if (finalSeparator) script += "GO\r\n";
  return script;
}

std::string VelinScript(int version, bool failing, bool finalSeparator) {
  std::string v = Format("%.1f", version / 10.0);
  std::string script = "-- Velin database upgrade to " + v + "\r\n";
  if (failing) script += "SELECT nothing FROM velin.dbo.no_such_table\r\nGO\r\n";
  script += "INSERT INTO velin.dbo.sys_version (cversion) VALUES ('" + v + "')\r\n";
  if (finalSeparator) script += "GO\r\n";
  return script;
}

PackageState ScriptState(const Release& release, const std::string& name) {
  auto found = release.scriptPackages.find(name);
  return found == release.scriptPackages.end() ? PackageState::kGood : found->second;
}

bool Contains(const std::vector<int>& list, int value) {
  for (int item : list) {
    if (item == value) return true;
  }
  return false;
}

}  // namespace

bool ParsePackageState(const std::string& text, PackageState* state) {
  if (text == "good")
    *state = PackageState::kGood;
  else if (text == "missing")
    *state = PackageState::kMissing;
  else if (text == "corrupt")
    *state = PackageState::kCorrupt;
  else if (text == "truncated")
    *state = PackageState::kTruncated;
  else
    return false;
  return true;
}

std::string DefaultComponentContent(const std::string& fileName, int version) {
  return "MZ sandbox component " + fileName + " update " + std::to_string(version) + "\n";
}

bool ParseRelease(const std::string& json, Release* release, std::string* error) {
  nlohmann::json doc = nlohmann::json::parse(json, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    *error = "the release description is not a JSON object";
    return false;
  }
  try {
    if (doc.contains("ostra")) release->ostraVersion = doc["ostra"].get<std::string>();
    if (doc.contains("velin")) release->velinVersion = doc["velin"].get<std::string>();
    if (doc.contains("ostraScriptsFrom"))
      release->ostraScriptsFrom = doc["ostraScriptsFrom"].get<int>();
    if (doc.contains("velinScriptsFrom"))
      release->velinScriptsFrom = doc["velinScriptsFrom"].get<int>();
    if (doc.contains("failingBatches"))
      release->failingBatches = doc["failingBatches"].get<std::vector<int>>();
    if (doc.contains("manifestMissing"))
      release->manifestMissing = doc["manifestMissing"].get<bool>();
    if (doc.contains("noFinalSeparator")) {
      release->noFinalSeparator = doc["noFinalSeparator"].get<std::vector<int>>();
    }
    if (doc.contains("order")) release->order = doc["order"].get<std::vector<std::string>>();
    auto state = [&](const nlohmann::json& item, PackageState* out) {
      if (!item.contains("package")) return true;
      if (ParsePackageState(item["package"].get<std::string>(), out)) return true;
      *error = "package must be good, missing, corrupt or truncated";
      return false;
    };
    const nlohmann::json empty = nlohmann::json::object();
    const nlohmann::json& components = doc.contains("components") ? doc["components"] : empty;
    const nlohmann::json& details = doc.contains("details") ? doc["details"] : empty;
    const nlohmann::json& scripts = doc.contains("scripts") ? doc["scripts"] : empty;
    for (auto& [key, item] : components.items()) {
      if (!FindComponent(key)) {
        *error = "unknown component " + key;
        return false;
      }
      ComponentRelease component;
      component.version = item.value("version", 0);
      component.label = item.value("label", "");
      component.description = item.value("description", "");
      component.content = item.value("content", "");
      // Binary content (a real executable) comes from a file.
      if (item.contains("contentFile")) {
        const std::string path = item["contentFile"].get<std::string>();
        std::ifstream in(path, std::ios::binary);
        component.content.assign(std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
          *error = "cannot read " + path;
          return false;
        }
        if (component.content.empty()) {
          *error = path + " is missing or empty";
          return false;
        }
      }
      if (!state(item, &component.package)) return false;
      release->components[key] = component;
    }
    for (auto& [name, item] : details.items()) {
      DetailRelease detail;
      detail.content = item.value("content", "");
      if (!state(item, &detail.package)) return false;
      release->details[name] = detail;
    }
    for (auto& [name, item] : scripts.items()) {
      PackageState s;
      if (!ParsePackageState(item.get<std::string>(), &s)) {
        *error = "script package state must be good, missing, corrupt or truncated";
        return false;
      }
      release->scriptPackages[name] = s;
    }
  } catch (const nlohmann::json::exception& e) {
    *error = std::string("bad release description: ") + e.what();
    return false;
  }
  return true;
}

bool PublishRelease(const std::string& hostDir, const Release& release, std::string* error) {
  const std::string dir = hostDir + "/ostra/update1";
  if (!MakeDirs(dir + "/sql", error)) return false;

  release::ManifestText manifest;
  manifest.ostraVersion = release.ostraVersion;
  manifest.velinVersion = release.velinVersion;
  std::vector<std::string> order = release.order;
  if (order.empty()) order.assign(std::begin(kComponentKeys), std::end(kComponentKeys));
  for (const std::string& keyText : order) {
    const char* key = keyText.c_str();
    const Component* component = FindComponent(key);
    if (!component) {
      *error = "unknown component " + keyText;
      return false;
    }
    auto found = release.components.find(key);
    ComponentRelease entry = found == release.components.end() ? ComponentRelease{} : found->second;
    std::string label = entry.label.empty() ? "v" + std::to_string(entry.version) : entry.label;
    std::string description =
        entry.description.empty()
            ? std::string(component->displayName) + " 更新 " + std::to_string(entry.version)
            : entry.description;
    manifest.rows.push_back({entry.version, key, label, description});
    if (found == release.components.end()) continue;
    std::string content = entry.content.empty()
                              ? DefaultComponentContent(component->fileName, entry.version)
                              : entry.content;
    if (!WritePackage(dir + "/" + release::ComponentPackagePath(*component, false), content,
                      entry.package, error)) {
      return false;
    }
    if (component->kind == kVelinKind &&
        !WritePackage(dir + "/" + release::ComponentPackagePath(*component, true), content,
                      entry.package, error)) {
      return false;
    }
  }

  for (const auto& [name, detail] : release.details) {
    char digest[33];
    Md5Hex(detail.content.data(), detail.content.size(), digest);
    manifest.details.push_back({name, detail.content.size(), digest});
    if (!WritePackage(dir + "/" + release::DetailPackagePath(name), detail.content, detail.package,
                      error)) {
      return false;
    }
  }

  for (int v = release.ostraScriptsFrom; v <= Scaled(release.ostraVersion, 100); ++v) {
    std::string name = "sql/update" + std::to_string(v) + ".sql";
    if (!WritePackage(dir + "/" + release::OstraScriptPath(v),
                      OstraScript(v, Contains(release.failingBatches, v),
                                  !Contains(release.noFinalSeparator, v)),
                      ScriptState(release, name), error)) {
      return false;
    }
  }
  for (int v = release.velinScriptsFrom; v <= Scaled(release.velinVersion, 10); ++v) {
    std::string name = "sql/v" + std::to_string(v) + ".sql";
    if (!WritePackage(dir + "/" + release::VelinScriptPath(v),
                      VelinScript(v, Contains(release.failingBatches, v),
                                  !Contains(release.noFinalSeparator, v)),
                      ScriptState(release, name), error)) {
      return false;
    }
  }
  std::remove((dir + "/server.txt").c_str());
  if (release.manifestMissing) return true;
  return WriteFile(dir + "/server.txt", release::WriteManifest(manifest), error);
}

}  // namespace ost::sandbox
