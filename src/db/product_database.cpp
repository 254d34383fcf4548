// The product database: one ODBC connection for the whole run.
#include "app/update_dialog.h"
#include "db/odbc.h"

namespace ost {

void UpdateDialog::ReleaseProductDatabase() {
  if (!run.dbConnected) return;
  SQLDisconnect(static_cast<SQLHDBC>(run.dbConnection));
  SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHANDLE>(run.dbConnection));
  SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHANDLE>(run.dbEnvironment));
  run.dbConnection = nullptr;
  run.dbEnvironment = nullptr;
  run.dbConnected = 0;
}

}  // namespace ost
