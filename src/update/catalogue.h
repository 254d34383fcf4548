// The six components the update tool manages, by the key the manifest names them.
#pragma once

#include <cstdint>
#include <string_view>

#include "net/download_job.h"
#include "update/product_facts.h"

namespace ost {

struct Component {
  const char* key;
  const char* displayName;
  const char* fileName;
  const char* serviceName;  // empty: runs inside the web server
  int32_t kind;             // also the download kind of its package (DownloadKind)
  int32_t estimatedSeconds;
  bool inWebFolder;  // written to the web site's cgi-bin folder
};

inline constexpr Component kCatalogue[] = {
    {"Server", "Ostra 服务器", "CSOstraServer.exe", "CSOstraServer", 5, 21, false},
    {"Agent", "Ostra 代理服务", "CSOstraAgent.exe", "CSOstraAgent", 3, 61, false},
    {"Velin", "Velin 网站后台", "Velin.dll", kWebServerService, 4, 101, true},
    {"Message", "Ostra 短信服务", "CSOstraMessage.exe", "CSOstraMessage", 6, 31, false},
    {"OstData", "OstData 数据接口", "OstData.dll", "", 8, 87, true},
    {"Tuyom", "Tuyo 即讯服务", "CSTuyoMess.exe", "CSTuyoMess", 7, 32, false},
};

constexpr int32_t kVelinKind = 4;
constexpr int32_t kOstDataKind = 8;
constexpr int32_t kEntryTagBase = 10000;

// The download kind of a component's package.
inline DownloadKind PackageKindOf(int32_t componentKind) {
  return static_cast<DownloadKind>(componentKind);
}

inline const Component* FindComponent(std::string_view key) {
  for (const Component& component : kCatalogue) {
    if (key == component.key) return &component;
  }
  return nullptr;
}

}  // namespace ost
