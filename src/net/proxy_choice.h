// Which way a run's downloads take to the update hosts: a proxy named on the command
// line, else the one in the registry, else the machine's WinHTTP proxy (the setting a
// service running as SYSTEM has), else directly.
#pragma once

#include <string>
#include <vector>

#include "net/download_job.h"
#include "platform/system_port.h"

namespace ost {

struct ProxyValues {
  std::string option;      // --proxy host:port
  std::string configured;  // UpdateProxy
  std::string bypass;      // UpdateProxyBypass
  std::string user;        // UpdateProxyUser
  std::string password;    // UpdateProxyPassword, unscrambled
};

// *source says where the proxy came from: "--proxy", "UpdateProxy", "WinHTTP" or
// "direct".
ProxySettings ChooseProxy(const ProxyValues& values, SystemPort& system, std::string* source);

// Host patterns of a bypass list (';', ',' or blanks between them).
std::vector<std::string> SplitBypass(const std::string& list);

// The proxy of a WinHTTP proxy text: "host:port", or the http= entry of a list
// ("http=host:port;https=..."); empty when it names none.
std::string WinHttpProxyFor(const std::string& text);

}  // namespace ost
