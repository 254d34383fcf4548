#include "net/proxy_choice.h"

#include "net/http_getter.h"

namespace ost {

std::vector<std::string> SplitBypass(const std::string& list) {
  std::vector<std::string> patterns;
  std::string pattern;
  for (char c : list + ";") {
    if (c == ';' || c == ',' || c == ' ' || c == '\t') {
      if (!pattern.empty()) patterns.push_back(pattern);
      pattern.clear();
    } else {
      pattern += c;
    }
  }
  return patterns;
}

std::string WinHttpProxyFor(const std::string& text) {
  std::vector<std::string> entries = SplitBypass(text);
  for (const std::string& entry : entries) {
    if (entry.rfind("http=", 0) == 0) return entry.substr(5);
  }
  for (const std::string& entry : entries) {
    if (entry.find('=') == std::string::npos) return entry;
  }
  return std::string();
}

ProxySettings ChooseProxy(const ProxyValues& values, SystemPort& system, std::string* source) {
  ProxySettings proxy;
  std::string address;
  std::string bypass = values.bypass;
  if (!values.option.empty()) {
    address = values.option;
    *source = "--proxy";
  } else if (!values.configured.empty()) {
    address = values.configured;
    *source = "UpdateProxy";
  } else {
    std::string machineProxy;
    std::string machineBypass;
    if (system.MachineProxy(&machineProxy, &machineBypass)) {
      address = WinHttpProxyFor(machineProxy);
      if (bypass.empty()) bypass = machineBypass;
      *source = "WinHTTP";
    }
  }
  // "http://host:port" is taken as "host:port".
  if (address.rfind("http://", 0) == 0) address.erase(0, 7);
  if (!address.empty() && address.back() == '/') address.pop_back();
  if (address.empty()) {
    *source = "direct";
    return proxy;
  }
  SplitHostPort(address, &proxy.host, &proxy.port);
  proxy.bypass = SplitBypass(bypass);
  proxy.user = values.user;
  proxy.password = values.password;
  return proxy;
}

}  // namespace ost
