// The product database: one ODBC connection for the whole run, and what the check
// reads through it.
#include "db/product_database.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/texts.h"
#include "app/update_dialog.h"
#include "db/odbc.h"
#include "util/text.h"

namespace ost {
namespace {

bool Succeeded(SQLRETURN result) {
  return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
}

SQLCHAR* Sql(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

// One statement handle, freed on every way out.
class Statement {
 public:
  ~Statement() {
    if (handle_) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  // Statement allocation counts only with SQL_SUCCESS.
  bool Allocate(void* connection) {
    return SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(connection), &handle_) ==
           SQL_SUCCESS;
  }
  bool Execute(const std::string& utf8) {
    return Succeeded(SQLExecDirect(handle_, Sql(Utf8ToDbText(utf8)), SQL_NTS));
  }
  void BindText(SQLUSMALLINT column, char* buffer, SQLLEN size, SQLLEN* length) {
    SQLBindCol(handle_, column, SQL_C_CHAR, buffer, size, length);
  }
  void BindUnsigned(SQLUSMALLINT column, SQLUINTEGER* value) {
    SQLBindCol(handle_, column, SQL_C_ULONG, value, sizeof *value, nullptr);
  }
  SQLRETURN Fetch() { return SQLFetch(handle_); }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

// A text column bound into a fixed buffer of the database's width.
template <size_t N>
struct TextColumn {
  char bytes[N] = {};
  SQLLEN length = 0;
  // More than the buffer held (the driver cut it).
  bool Overflowed() const { return length != SQL_NULL_DATA && length >= static_cast<SQLLEN>(N); }
  std::string Utf8() const { return DbTextToUtf8(std::string_view(bytes, strnlen(bytes, N))); }
};

// Version text to an integer in hundredths or tenths, rounded to the nearest.
int32_t VersionNumber(const char* text, int scale) {
  return static_cast<int32_t>(std::lround(std::strtod(text, nullptr) * scale));
}

}  // namespace

ExecResult ExecuteRawStatement(void* connection, const char* sql) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!connection || SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(connection),
                                    &statement) != SQL_SUCCESS) {
    return ExecResult::kNoHandle;
  }
  SQLRETURN result =
      SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS);
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
  return Succeeded(result) ? ExecResult::kSucceeded : ExecResult::kFailed;
}

ExecResult ExecuteStatement(void* connection, const std::string& utf8Sql) {
  return ExecuteRawStatement(connection, Utf8ToDbText(utf8Sql).c_str());
}

int32_t OstraVersionNumber(const std::string& text) { return VersionNumber(text.c_str(), 100); }
int32_t VelinVersionNumber(const std::string& text) { return VersionNumber(text.c_str(), 10); }

std::string QuoteSqlText(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}

int UpdateDialog::OpenProductDatabase() {
  run.dbConnected = 0;

  SQLHENV environment = SQL_NULL_HENV;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) {
    SetStepStatus(text::kDbEnvAllocFailed, false);
    return 0;
  }
  run.dbEnvironment = environment;
  if (!Succeeded(SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION,
                               reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    SetStepStatus(text::kDbEnvSetFailed, false);
    return 0;
  }
  SQLHDBC connection = SQL_NULL_HDBC;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection))) {
    SetStepStatus(text::kDbConnAllocFailed, false);
    return 0;
  }
  run.dbConnection = connection;
  SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(30), 0);

  std::string dsn = Utf8ToDbText(config.dataSourceName);
  std::string user = Utf8ToDbText(config.dbUser);
  std::string password = Utf8ToDbText(config.dbPassword);
  if (!Succeeded(
          SQLConnect(connection, Sql(dsn), SQL_NTS, Sql(user), SQL_NTS, Sql(password), SQL_NTS))) {
    SQLCHAR state[6] = {};
    SQLINTEGER nativeError = 0;
    SQLCHAR message[256] = {};
    SQLSMALLINT messageLength = 0;
    SQLGetDiagRec(SQL_HANDLE_DBC, connection, 1, state, &nativeError, message, sizeof message,
                  &messageLength);
    std::string stateText(reinterpret_cast<char*>(state),
                          strnlen(reinterpret_cast<char*>(state), 5));
    std::string messageText =
        DbTextToUtf8(std::string_view(reinterpret_cast<char*>(message),
                                      strnlen(reinterpret_cast<char*>(message), sizeof message)));
    platform().window->ShowMessageBox(stateText, text::kAppName, BoxButtons::kOk, BoxIcon::kNone);
    platform().window->ShowMessageBox(messageText, text::kAppName, BoxButtons::kOk, BoxIcon::kNone);
    SetStepStatus(text::kDbConnectFailed + stateText, false);
    // Nothing will use these handles, and the close handler frees only a connection.
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    run.dbConnection = nullptr;
    run.dbEnvironment = nullptr;
    return 0;
  }
  run.dbConnected = 1;

  // Product version.
  {
    Statement statement;
    if (!statement.Allocate(connection)) return StatementAllocationFailed();
    if (!statement.Execute(
            "SELECT TOP 1 cversion FROM ostra.dbo.sys_version ORDER BY cversion DESC")) {
      SetStepStatus(text::kDbQueryFailedVer, false);
      return 0;
    }
    TextColumn<kVersionTextWidth> version;
    statement.BindText(1, version.bytes, sizeof version.bytes, &version.length);
    versions.installedOstraVersion = 0;
    if (statement.Fetch() == SQL_NO_DATA) {
      db.versionText.clear();
    } else {
      db.versionText = version.Utf8();
      versions.installedOstraVersion = VersionNumber(version.bytes, 100);
    }
  }
  if (versions.installedOstraVersion < kMinimumOstraVersion) {
    platform().window->ShowMessageBox(text::kVersionTooLowText, text::kVersionTooLowCaption,
                                      BoxButtons::kOk, BoxIcon::kInformation);
    platform().window->PostQuit();
    return 0;
  }

  // Installed update number of each component.
  {
    Statement statement;
    if (!statement.Allocate(connection)) return StatementAllocationFailed();
    if (!statement.Execute("SELECT ii,nn FROM ostra.dbo.sys_server_update ORDER BY nn DESC")) {
      SetStepStatus(text::kDbQueryFailedNn, false);
      return 0;
    }
    SQLUINTEGER index = 0;
    SQLUINTEGER number = 0;
    statement.BindUnsigned(1, &index);
    statement.BindUnsigned(2, &number);
    // Rows come in falling order, so an index with several rows keeps its smallest.
    while (Succeeded(statement.Fetch())) {
      if (index < kServiceCount)
        serviceTable[index].installedVersion = static_cast<int32_t>(number);
    }
  }

  // Is the web platform installed?
  {
    Statement statement;
    if (!statement.Allocate(connection)) return StatementAllocationFailed();
    if (!statement.Execute("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='29'")) {
      SetStepStatus(text::kDbQueryFailedSelf, false);
      return 0;
    }
    TextColumn<128> value;
    statement.BindText(1, value.bytes, sizeof value.bytes, &value.length);
    db.velinEnabled = statement.Fetch() == SQL_NO_DATA ? 0 : (value.bytes[0] == '1' ? 1 : 0);
  }
  if (!db.velinEnabled) return 1;

  // The web site's id.
  bool siteUsable = true;
  {
    Statement statement;
    if (!statement.Allocate(connection)) return StatementAllocationFailed();
    if (!statement.Execute("SELECT dcvalue FROM ostra.dbo.sys_dict WHERE dcname='45'")) {
      SetStepStatus(text::kDbQueryFailedWcid, false);
      return 0;
    }
    TextColumn<128> value;
    statement.BindText(1, value.bytes, sizeof value.bytes, &value.length);
    if (statement.Fetch() == SQL_NO_DATA) {
      db.webSiteId.clear();
    } else if (value.Overflowed() || strnlen(value.bytes, sizeof value.bytes) > kSiteIdWidth - 1) {
      // An id that does not fit its 31 bytes names no site this tool can look up.
      db.webSiteId.clear();
      siteUsable = false;
    } else {
      db.webSiteId = value.Utf8();
    }
  }

  // The web root, and what lies in its cgi-bin folder.
  if (siteUsable) {
    Statement statement;
    if (!statement.Allocate(connection)) return StatementAllocationFailed();
    if (!statement.Execute("SELECT wcroot FROM velin.dbo.web_main WHERE wcid='" +
                           QuoteSqlText(db.webSiteId) + "'")) {
      db.velinEnabled = 0;
      SetStepStatus(text::kDbQueryFailedWcroot, false);
      return 1;
    }
    TextColumn<256> root;
    statement.BindText(1, root.bytes, sizeof root.bytes, &root.length);
    if (statement.Fetch() == SQL_NO_DATA) {
      db.velinEnabled = 0;
      db.cgiBinDir.clear();
    } else {
      std::string dir(root.bytes, strnlen(root.bytes, sizeof root.bytes));
      if (!dir.empty() && dir.back() == '\\') dir.pop_back();
      dir += "\\cgi-bin";
      if (root.Overflowed() || dir.size() > kPathWidth - 1) {
        // A cut folder would point the update at the wrong place: no web platform.
        db.velinEnabled = 0;
        db.cgiBinDir.clear();
      } else {
        db.cgiBinDir = DbTextToUtf8(dir);
        FilePort& files = *platform().files;
        if (files.Exists(db.cgiBinDir + "\\libxl.dll")) run.libxlPresent = 1;
        if (db.webSiteId != "revid") {
          if (files.Exists(db.cgiBinDir + "\\OstData.dll") ||
              files.Exists("D:\\wwwroot\\cgi-bin\\OstData.dll")) {
            run.ostDataPending = 1;
          }
        }
      }
    }
  } else {
    db.velinEnabled = 0;
    db.cgiBinDir.clear();
  }

  // The web platform's version.
  versions.installedVelinVersion = 70;
  {
    Statement statement;
    if (!statement.Allocate(connection)) return StatementAllocationFailed();
    if (!statement.Execute(
            "SELECT TOP 1 cversion FROM velin.dbo.sys_version ORDER BY cversion DESC")) {
      return 1;
    }
    TextColumn<kVersionTextWidth> version;
    statement.BindText(1, version.bytes, sizeof version.bytes, &version.length);
    if (statement.Fetch() != SQL_NO_DATA) {
      versions.installedVelinVersion = VersionNumber(version.bytes, 10);
    }
  }
  return 1;
}

int UpdateDialog::StatementAllocationFailed() {
  SetStepStatus(text::kDbStmtAllocFailed, false);
  return 0;
}

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
