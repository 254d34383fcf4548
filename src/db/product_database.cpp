// The product database over the ODBC 3 API of the platform's driver manager.
#include "db/product_database.h"

#include <cstring>
#include <memory>

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

// Every diagnostic record the driver keeps for a handle, in order.
std::vector<DbDiagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<DbDiagnostic> records;
  for (SQLSMALLINT number = 1;; ++number) {
    SQLCHAR state[6] = {};
    SQLINTEGER nativeError = 0;
    std::vector<SQLCHAR> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN result = SQLGetDiagRec(type, handle, number, state, &nativeError, message.data(),
                                     static_cast<SQLSMALLINT>(message.size()), &length);
    if (result == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      // The message did not fit: ask again with room for all of it.
      message.assign(static_cast<size_t>(length) + 1, 0);
      result = SQLGetDiagRec(type, handle, number, state, &nativeError, message.data(),
                             static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Succeeded(result)) break;
    const char* text = reinterpret_cast<const char*>(message.data());
    records.push_back({std::string(reinterpret_cast<const char*>(state),
                                   strnlen(reinterpret_cast<const char*>(state), 5)),
                       static_cast<int32_t>(nativeError),
                       std::string(text, strnlen(text, message.size()))});
  }
  return records;
}

// One statement handle on the connection, freed on every way out.
class Statement {
 public:
  explicit Statement(void* connection) {
    // Statement allocation counts only with SQL_SUCCESS.
    if (!connection || SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(connection),
                                      &handle_) != SQL_SUCCESS) {
      handle_ = SQL_NULL_HSTMT;
    }
  }
  ~Statement() {
    if (handle_) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Runs the text; the outcome carries the statement's diagnostics on failure.
  DbOutcome Execute(std::string_view text) {
    DbOutcome outcome;
    if (!handle_) {
      outcome.status = DbStatus::kNoHandle;
      return outcome;
    }
    std::string terminated(text);
    if (!Succeeded(SQLExecDirect(handle_, Sql(terminated), SQL_NTS))) {
      outcome.status = DbStatus::kFailed;
      outcome.diagnostics = Diagnostics(SQL_HANDLE_STMT, handle_);
    }
    return outcome;
  }
  SQLHSTMT handle() const { return handle_; }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

}  // namespace

OdbcDatabase::~OdbcDatabase() {
  Close();
  // Handles of an open that stopped halfway.
  if (connection_) SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHANDLE>(connection_));
  if (environment_) SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHANDLE>(environment_));
}

ProductDatabase::OpenResult OdbcDatabase::Open(const std::string& dataSource,
                                               const std::string& user,
                                               const std::string& password) {
  OpenResult result;
  connected_ = false;
  SQLHENV environment = SQL_NULL_HENV;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) {
    result.failure = OpenFailure::kEnvironment;
    return result;
  }
  environment_ = environment;
  if (!Succeeded(SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION,
                               reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    result.failure = OpenFailure::kVersion;
    return result;
  }
  SQLHDBC connection = SQL_NULL_HDBC;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection))) {
    result.failure = OpenFailure::kConnection;
    return result;
  }
  connection_ = connection;
  SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(30), 0);

  if (!Succeeded(SQLConnect(connection, Sql(dataSource), SQL_NTS, Sql(user), SQL_NTS, Sql(password),
                            SQL_NTS))) {
    result.failure = OpenFailure::kConnect;
    result.diagnostics = Diagnostics(SQL_HANDLE_DBC, connection);
    // Nothing will use these handles again.
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    connection_ = nullptr;
    environment_ = nullptr;
    return result;
  }
  connected_ = true;
  return result;
}

void OdbcDatabase::Close() {
  if (!connected_) return;
  SQLDisconnect(static_cast<SQLHDBC>(connection_));
  SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHANDLE>(connection_));
  SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHANDLE>(environment_));
  connection_ = nullptr;
  environment_ = nullptr;
  connected_ = false;
}

DbOutcome OdbcDatabase::Execute(const std::string& statement) {
  return ExecuteRaw(Utf8ToDbText(statement));
}

DbOutcome OdbcDatabase::ExecuteRaw(std::string_view statement) {
  Statement handle(connected_ ? connection_ : nullptr);
  return handle.Execute(statement);
}

DbText OdbcDatabase::QueryText(const std::string& statement, size_t width) {
  DbText text;
  Statement handle(connected_ ? connection_ : nullptr);
  text.outcome = handle.Execute(Utf8ToDbText(statement));
  if (text.outcome.status != DbStatus::kOk) return text;
  std::vector<char> buffer(width, 0);
  SQLLEN length = 0;
  SQLBindCol(handle.handle(), 1, SQL_C_CHAR, buffer.data(), static_cast<SQLLEN>(width), &length);
  text.found = SQLFetch(handle.handle()) != SQL_NO_DATA;
  text.bytes.assign(buffer.data(), strnlen(buffer.data(), width));
  text.overflowed = text.found && length != SQL_NULL_DATA && length >= static_cast<SQLLEN>(width);
  return text;
}

DbPairs OdbcDatabase::QueryUnsignedPairs(const std::string& statement) {
  DbPairs pairs;
  Statement handle(connected_ ? connection_ : nullptr);
  pairs.outcome = handle.Execute(Utf8ToDbText(statement));
  if (pairs.outcome.status != DbStatus::kOk) return pairs;
  SQLUINTEGER first = 0;
  SQLUINTEGER second = 0;
  SQLBindCol(handle.handle(), 1, SQL_C_ULONG, &first, sizeof first, nullptr);
  SQLBindCol(handle.handle(), 2, SQL_C_ULONG, &second, sizeof second, nullptr);
  while (Succeeded(SQLFetch(handle.handle()))) pairs.rows.emplace_back(first, second);
  return pairs;
}

std::string QuoteSqlText(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}

}  // namespace ost
