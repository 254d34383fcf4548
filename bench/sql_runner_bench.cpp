// Runs one database script through the update tool's SQL runner on a machine root's
// product database, and prints how long the runner took.
// Usage: ost-sql-bench ROOT SCRIPT
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "db/product_database.h"
#include "platform/posix/machine_root.h"
#include "platform/posix/posix_registry.h"
#include "system/config_store.h"
#include "update/sql_runner.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ost-sql-bench ROOT SCRIPT\n");
    return 64;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string script = text.str();

  // The connection the check would open, with the machine's configuration.
  ost::MachineRoot root(argv[1]);
  root.UseOdbcConfiguration();
  ost::PosixRegistry registry(root.RegistryFile());
  ost::ServerConfig config;
  if (!ost::ReadServerConfig(registry, &config).result) {
    std::fprintf(stderr, "no server configuration in %s\n", argv[1]);
    return 1;
  }
  ost::OdbcDatabase database;
  if (database.Open(config.dataSourceName, config.dbUser, config.dbPassword).failure !=
      ost::ProductDatabase::OpenFailure::kNone) {
    std::fprintf(stderr, "cannot open the product database\n");
    return 1;
  }

  // What the runner does with an unpacked script: cut it in place, one statement per
  // batch.
  int errors = 0;
  script.push_back('\0');  // the terminator's byte
  auto start = std::chrono::steady_clock::now();
  int batches = ost::CutSqlBatches(script.data(), script.size() - 1, [&](const char* batch) {
    if (database.ExecuteRaw(batch).status != ost::DbStatus::kOk) ++errors;
    return true;
  });
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("B:%d/E:%d seconds %.6f\n", batches, errors, seconds);
  return errors == 0 ? 0 : 1;
}
