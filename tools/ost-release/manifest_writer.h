// The one writer of update manifests (server.txt) and of the names the packages have
// on the update host, shared by the release tool and the sandbox's publisher. It
// writes what it is given; checking that the tool reads it as meant is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/catalogue.h"

namespace ost::release {

struct ManifestRowText {
  int32_t version = 0;      // the component's update number
  std::string key;          // a catalogue key
  std::string label;        // UTF-8
  std::string description;  // UTF-8
};

struct DetailLineText {
  std::string name;  // the file's name in the web folder, UTF-8
  size_t size = 0;
  std::string md5;  // 32 hex digits
};

struct ManifestText {
  std::string ostraVersion;  // the header's two numbers as written ("3.82", "7.1")
  std::string velinVersion;
  std::vector<ManifestRowText> rows;  // in the order of the installation's slots
  std::vector<DetailLineText> details;
};

// server.txt's bytes, in GBK.
std::string WriteManifest(const ManifestText& manifest);

// Where the tool requests each package, below the update folder (kUpdatePath).
std::string ComponentPackagePath(const Component& component, bool xVariant);
std::string OstraScriptPath(int32_t version);  // hundredths
std::string VelinScriptPath(int32_t version);  // tenths
std::string DetailPackagePath(const std::string& utf8Name);

// A package: the zlib stream of data, as the tool's uncompress takes it.
std::string CompressPackage(const std::string& data, int level);

}  // namespace ost::release
