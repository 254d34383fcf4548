#include "app/run_id.h"

#include <cstdio>
#include <random>

namespace ost {

std::string MakeRunId(SystemPort& system) {
  const LocalTime now = system.Now();
  static std::random_device random;
  char id[32];
  std::snprintf(id, sizeof id, "%04d%02d%02d-%02d%02d%02d-%04x", now.year, now.month, now.day,
                now.hour, now.minute, now.second, static_cast<unsigned>(random() & 0xFFFF));
  return id;
}

}  // namespace ost
