// Publishing a release on the sandbox's update host: the manifest, one package per
// component and detail file, and one script package per database version step.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ost::sandbox {

// How a package lies on the host.
enum class PackageState { kGood, kMissing, kCorrupt, kTruncated };

struct ComponentRelease {
  int version = 0;
  std::string label;        // UTF-8
  std::string description;  // UTF-8
  std::string content;      // the file inside the package; empty: made up from the name
  PackageState package = PackageState::kGood;
};

struct DetailRelease {
  std::string content;
  PackageState package = PackageState::kGood;
};

struct Release {
  std::string ostraVersion = "3.80";  // "%.2f" form
  std::string velinVersion = "7.0";   // "%.1f" form
  // By catalogue key ("Server", "Agent", "Velin", "Message", "OstData", "Tuyom"); keys
  // left out are announced at version 0.
  std::map<std::string, ComponentRelease> components;
  std::map<std::string, DetailRelease> details;  // by file name in the web folder
  // Scripts: every step from these versions up to the announced ones.
  int ostraScriptsFrom = 374;
  int velinScriptsFrom = 71;
  std::vector<int> failingBatches;    // versions whose script carries a failing batch
  std::vector<int> noFinalSeparator;  // versions whose script's last batch lacks its GO line
  // The manifest's row order (the Service table index of each key); empty: the
  // catalogue's order. The database's update numbers follow the same indexes.
  std::vector<std::string> order;
  std::map<std::string, PackageState> scriptPackages;  // "sql/update381.sql" -> state
  bool manifestMissing = false;
};

// The six keys in manifest row order.
extern const char* const kComponentKeys[6];

// Reads a release description (JSON, see ost-sandbox --help); false with a message.
bool ParseRelease(const std::string& json, Release* release, std::string* error);
bool ParsePackageState(const std::string& text, PackageState* state);

// Writes the release into hostDir/ostra/update1/ (created as needed).
bool PublishRelease(const std::string& hostDir, const Release& release, std::string* error);

// The content a component's package holds unless the release names one.
std::string DefaultComponentContent(const std::string& fileName, int version);

}  // namespace ost::sandbox
