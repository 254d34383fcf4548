// A release folder, as its maker lays it out: release.json and the files it names
// (docs/RELEASES.md). Reading it checks everything the update tool would misread, so
// that what is built from it is exactly what the tool will see.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "update/catalogue.h"

namespace ost::release {

// The tool's buffers: a package as received, and as unpacked.
constexpr size_t kMaxPackedSize = 24000000;
constexpr size_t kMaxUnpackedSize = 50000000;

struct ComponentSource {
  const Component* component = nullptr;
  int32_t update = 0;
  std::string label;        // UTF-8
  std::string description;  // UTF-8
  std::string file;         // as release.json names it
  std::string content;
  bool hasXVariant = false;  // the web DLL built for servers with libxl.dll
  std::string xFile;
  std::string xContent;
};

struct ScriptSource {
  int32_t version = 0;  // hundredths (Ostra) or tenths (Velin)
  std::string file;
  std::string content;
};

struct DetailSource {
  std::string name;  // in the web folder, UTF-8
  std::string file;
  std::string content;
};

struct ReleaseSource {
  std::string folder;
  int32_t ostraVersion = 0;  // hundredths
  int32_t velinVersion = 0;  // tenths
  std::string ostraText;     // as the manifest writes them
  std::string velinText;
  std::vector<ComponentSource> components;  // in catalogue order
  std::vector<ScriptSource> ostraScripts;   // in version order
  std::vector<ScriptSource> velinScripts;
  std::vector<DetailSource> details;
};

// Reads SOURCE/release.json and the files it names. False with every problem found in
// *errors, each naming the field and the file.
bool ReadReleaseFolder(const std::string& folder, ReleaseSource* source,
                       std::vector<std::string>* errors);

// The header texts of the two versions as the tool reads them back; false when the
// Ostra version cannot be written in the four characters the tool reads.
bool VersionTexts(int32_t ostra, int32_t velin, std::string* ostraText, std::string* velinText);

// Why a script would not run whole, or empty when it would: a zero byte, text after
// the last "GO" line, no batch at all.
std::string ScriptProblem(const std::string& script);

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content);

}  // namespace ost::release
