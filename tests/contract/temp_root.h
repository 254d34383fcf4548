// A machine root of its own for one test, removed afterwards.
#pragma once

#include <stdlib.h>

#include <string>

namespace ost::contract {

class TempRoot {
 public:
  TempRoot() {
    char pattern[] = "/tmp/ost-contract-XXXXXX";
    if (mkdtemp(pattern)) dir_ = pattern;
  }
  ~TempRoot() {
    if (!dir_.empty()) (void)system(("rm -rf '" + dir_ + "'").c_str());
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& dir() const { return dir_; }
  // Makes a folder below the root (mkdir -p); true on success.
  bool Make(const std::string& relative) const {
    return system(("mkdir -p '" + dir_ + "/" + relative + "'").c_str()) == 0;
  }

 private:
  std::string dir_;
};

}  // namespace ost::contract
