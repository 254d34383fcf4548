#include "update/net_check.h"

#include <memory>
#include <vector>

#include "net/http_getter.h"
#include "net/proxy_choice.h"
#include "system/config_store.h"
#include "update/catalogue.h"
#include "util/text.h"

namespace ost {
namespace {

// Keeps the end of one download; a check has no window.
class EndKeeper : public WindowPort {
 public:
  void Post(uint32_t msg, uintptr_t wParam, intptr_t) override {
    if (msg == WM_DOWNLOAD_DONE) result = static_cast<int>(wParam);
  }
  void PostQuit() override {}
  BoxAnswer ShowMessageBox(const std::string&, const std::string&, BoxButtons, BoxIcon) override {
    return BoxAnswer::kOk;
  }
  void ShowAboutBox() override {}
  bool AppendSystemMenuItem(uint32_t, const std::string&) override { return false; }
  void SetWindowIcon() override {}
  void EndDialog() override {}
  int result = -1;
};

}  // namespace

int RunNetCheck(const Platform& platform, const std::string& proxyOption,
                const std::function<void(const std::string&)>& print) {
  // The only use of the sockets in this process: the layer starts here.
  if (!platform.sockets->Startup()) {
    print("the sockets layer cannot be started");
    return 1;
  }
  ServerConfig config;
  ConfigRead read = ReadServerConfig(*platform.registry, &config);
  if (read.keyStatus != kRegSuccess) print("the registry key HKLM\\SOFTWARE\\OSTRA cannot be read");
  ProxyValues values;
  values.option = proxyOption;
  values.configured = config.proxy;
  values.bypass = config.proxyBypass;
  values.user = config.proxyUser;
  values.password = config.proxyPassword;
  std::string source;
  const ProxySettings proxy = ChooseProxy(values, *platform.system, &source);

  EndKeeper window;
  DownloadJob job(&window);
  job.AttachBuffer(platform.system->AllocateBuffer(kReceiveBufferSize + 1));
  if (!job.receiveBuffer) {
    print("no memory for the receive buffer");
    return 1;
  }
  job.clock = [&platform] { return platform.system->MonotonicMilliseconds(); };
  job.sleep = [&platform](uint32_t ms) { platform.system->Sleep(ms); };
  job.requestPath = std::string(kUpdatePath) + kManifestName;
  job.downloadKind = DownloadKind::kManifest;

  bool reached = false;
  const std::string hosts[] = {config.primaryHost, config.secondaryHost};
  for (int route = 0; route < 2; ++route) {
    std::vector<std::pair<ProxySettings, std::string>> ways;
    if (proxy.Serves(hosts[route])) {
      ways.push_back({proxy, "proxy " + proxy.Name() + " (" + source + ")"});
    }
    ways.push_back({ProxySettings(), "direct"});
    for (const auto& [settings, name] : ways) {
      job.proxy = settings;
      job.updateHost = hosts[route];
      job.hops.clear();
      window.result = -1;
      const uint64_t started = platform.system->MonotonicMilliseconds();
      DownloadWorker(job, *platform.sockets);
      const uint64_t took = platform.system->MonotonicMilliseconds() - started;
      const int32_t expected = job.expectedLength.load();
      const int32_t received = job.receivedLength.load();
      const bool whole = window.result == 0 && received == expected && expected > 0;
      reached = reached || whole;
      std::string outcome = whole ? Format("ok, %d bytes", received)
                            : window.result != 0
                                ? Format("failed with code %d", window.result)
                                : Format("failed: %d of %d bytes", received, expected);
      if (!job.hops.empty() && !whole && !job.hops.back().statusLine.empty())
        outcome += " ('" + job.hops.back().statusLine + "')";
      print(Format("route %d | http://%s%s | %s | %s | %llu ms", route, hosts[route].c_str(),
                   job.requestPath.c_str(), name.c_str(), outcome.c_str(),
                   static_cast<unsigned long long>(took)));
    }
  }
  return reached ? 0 : 1;
}

}  // namespace ost
