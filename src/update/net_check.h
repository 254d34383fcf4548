// --net-check: every configured way to the update hosts (the proxy, directly, each
// route) tried with the manifest's request, one line per way.
#pragma once

#include <functional>
#include <string>

#include "platform/platform.h"

namespace ost {

// Reads the configuration, tries `server.txt` over each way and prints one line per
// way with its result and time. 0 when one way brought the whole manifest, else 1.
// proxyOption: --proxy, before UpdateProxy and the machine's WinHTTP proxy.
int RunNetCheck(const Platform& platform, const std::string& proxyOption,
                const std::function<void(const std::string&)>& print);

}  // namespace ost
