// Runs one database script through the update tool's SQL runner on a machine root's
// product database, and prints how long the runner took: the run's record written
// before each batch, as the tool keeps it; with --transaction the script in one
// transaction, as with ScriptTransaction = 1 (the record written once, before it).
// Usage: ost-sql-bench ROOT SCRIPT [--transaction]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/odbc/odbc_database.h"
#include "platform/posix/machine_root.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_registry.h"
#include "system/config_store.h"
#include "update/run_record.h"
#include "update/sql_runner.h"

int main(int argc, char** argv) {
  const bool transaction = argc == 4 && std::string(argv[3]) == "--transaction";
  if (argc != 3 && !transaction) {
    std::fprintf(stderr, "usage: ost-sql-bench ROOT SCRIPT [--transaction]\n");
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
  // batch, the run's record saying which batch is under way.
  ost::PosixFiles files(root);
  ost::RunRecordFile record;
  record.runId = "bench";
  record.services = {{"CSOstraServer", 4}, {"W3SVC", 4}};
  record.script = "sql/update381.sql.zip";
  const std::string programDir = root.ProgramDir();
  int errors = 0;
  script.push_back('\0');  // the terminator's byte
  auto start = std::chrono::steady_clock::now();
  // In one transaction the record names the script once, before it.
  if (transaction) ost::WriteRunRecord(files, programDir, record);
  if (transaction && (database.BeginTransaction().status != ost::DbStatus::kOk ||
                      database.ExecuteRaw("SET XACT_ABORT ON").status != ost::DbStatus::kOk)) {
    std::fprintf(stderr, "no transaction could be begun\n");
    return 1;
  }
  int batches = ost::CutSqlBatches(script.data(), script.size() - 1, [&](const char* batch) {
    if (!transaction) {
      ++record.batch;
      ost::WriteRunRecord(files, programDir, record);
    }
    if (database.ExecuteRaw(batch).status != ost::DbStatus::kOk) ++errors;
    return !transaction || errors == 0;
  });
  if (transaction && database.EndTransaction(errors == 0).status != ost::DbStatus::kOk) ++errors;
  ost::RemoveRunRecord(files, programDir);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("B:%d/E:%d seconds %.6f\n", batches, errors, seconds);
  return errors == 0 ? 0 : 1;
}
