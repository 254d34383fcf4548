// The way to the update hosts: the proxy of the run, and the other route's host for a
// download that failed on its own.
#include "app/update_dialog.h"
#include "net/proxy_choice.h"

namespace ost {

void UpdateDialog::ChooseNetwork() {
  ProxyValues values;
  values.option = options_.proxy;
  values.configured = config_.proxy;
  values.bypass = config_.proxyBypass;
  values.user = config_.proxyUser;
  values.password = config_.proxyPassword;
  std::string source;
  job_->proxy = ChooseProxy(values, *platform_.system, &source);
  observer_->OnNetworkChosen(job_->proxy.Name(), source, options_.failover || config_.failover);
}

bool UpdateDialog::FailOver(const std::string& why) {
  if (!options_.failover && !config_.failover) return false;
  // The host of the other route: before the operator chose, the manifest came from
  // the first one.
  const std::string& other =
      job_->updateHost == config_.primaryHost ? config_.secondaryHost : config_.primaryHost;
  failoverFrom_ = job_->updateHost;
  observer_->OnFailover(job_->requestPath, failoverFrom_, other, why);
  if (options_.notice) {
    options_.notice("failover | " + job_->requestPath + " failed on " + failoverFrom_ + " (" + why +
                    "), once more on " + other);
  }
  job_->updateHost = other;
  job_->receivedLength = 0;
  job_->expectedLength = 0;
  progressPercent_ = 0;
  StartDownloadWorker();
  return true;
}

bool UpdateDialog::EndFailover() {
  if (failoverFrom_.empty()) return false;
  job_->updateHost = failoverFrom_;
  failoverFrom_.clear();
  return true;
}

}  // namespace ost
