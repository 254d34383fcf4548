// The six components the update tool manages, by the key the manifest names them.
#pragma once

#include <cstdint>
#include <string_view>

namespace ost {

struct Component {
  const char* key;
  const char* displayName;
  const char* fileName;
  const char* serviceName;  // empty: runs inside the web server
  int32_t kind;             // also the download kind of its package
  int32_t estimatedSeconds;
  bool inWebFolder;  // written to the web site's cgi-bin folder
};

inline constexpr Component kCatalogue[] = {
    {"Server", "Ostra 服务器", "CSOstraServer.exe", "CSOstraServer", 5, 21, false},
    {"Agent", "Ostra 代理服务", "CSOstraAgent.exe", "CSOstraAgent", 3, 61, false},
    {"Velin", "Velin 网站后台", "Velin.dll", "W3SVC", 4, 101, true},
    {"Message", "Ostra 短信服务", "CSOstraMessage.exe", "CSOstraMessage", 6, 31, false},
    {"OstData", "OstData 数据接口", "OstData.dll", "", 8, 87, true},
    {"Tuyom", "Tuyo 即讯服务", "CSTuyoMess.exe", "CSTuyoMess", 7, 32, false},
};

// Where the update host keeps the manifest and the packages.
inline constexpr char kUpdatePath[] = "/ostra/update1/";
inline constexpr char kManifestName[] = "server.txt";

constexpr int32_t kManifestKind = 0;
constexpr int32_t kOstraScriptKind = 1;
constexpr int32_t kVelinScriptKind = 2;
constexpr int32_t kVelinKind = 4;
constexpr int32_t kOstDataKind = 8;
constexpr int32_t kDetailFileKind = 250;
constexpr int32_t kEntryTagBase = 10000;

inline const Component* FindComponent(std::string_view key) {
  for (const Component& component : kCatalogue) {
    if (key == component.key) return &component;
  }
  return nullptr;
}

}  // namespace ost
