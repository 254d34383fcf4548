// Runs one database script through the update tool's SQL runner on a machine root's
// product database, and prints how long the runner took: the batches sent by the tool's
// own code, the run's record kept by the tool's own keeper, as during an update; with
// --transaction the script in one transaction, as with ScriptTransaction = 1.
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
#include "update/plan.h"
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

  // The run's record as an update keeps it: begun before the first service stop (not
  // timed), then kept by the runner while the script runs.
  ost::PosixFiles files(root);
  ost::RunRecordKeeper record(files, root.ProgramDir(), "bench");
  ost::Plan plan;
  ost::ServiceTable table{};
  for (int entry : {0, 2}) {
    ost::PlanStep component;
    component.entry = entry;
    plan.steps.push_back(component);
    table[static_cast<size_t>(entry)].serviceName = entry == 0 ? "CSOstraServer" : "";
    table[static_cast<size_t>(entry)].stateBefore = 4;
  }
  record.OnPlanBuilt(plan, table);
  record.OnPhaseChanged(ost::RunPhase::kUpdating, "");
  ost::PlanStep step;
  step.kind = ost::StepKind::kOstraScript;
  step.requestPath = "sql/update381.sql.zip";

  script.push_back('\0');  // the terminator's byte
  auto start = std::chrono::steady_clock::now();
  int errors = 0;
  if (transaction && (database.BeginTransaction().status != ost::DbStatus::kOk ||
                      database.ExecuteRaw("SET XACT_ABORT ON").status != ost::DbStatus::kOk)) {
    std::fprintf(stderr, "no transaction could be begun\n");
    return 1;
  }
  const ost::BatchesSent sent =
      ost::SendSqlBatches(database, record, step, script.data(), script.size() - 1, transaction,
                          [](int, const char*, const ost::DbOutcome&) {});
  errors = sent.failed;
  if (sent.stop.status == ost::DbStatus::kNoHandle) ++errors;
  if (transaction && database.EndTransaction(errors == 0).status != ost::DbStatus::kOk) ++errors;
  if (transaction && errors != 0) {
    record.OnScriptRolledBack(step, sent.sent, sent.stop);
  } else {
    record.OnScriptRun(step, sent.sent, sent.failed);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  record.Finish();
  std::printf("B:%d/E:%d seconds %.6f\n", sent.sent, errors, seconds);
  return errors == 0 ? 0 : 1;
}
