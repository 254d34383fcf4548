// The product database over the ODBC 3 API of the platform's driver manager.
//
// Text crosses ODBC through the wide calls, as UTF-16 converted from and to GBK (code page
// 936) here: the ANSI calls would leave it to the driver to read the tool's GBK in the
// server's system code page, which garbles Chinese text on a server whose locale is not
// Chinese. The Linux build takes the same path (unixODBC's SQLWCHAR is two bytes too), so
// that the stand-in machine runs the code that ships.
//
// The login's values are the registry's bytes, which the product's setup wrote in the
// system code page: they are widened from that code page, not from GBK, so that a
// password the system code page has and GBK lacks still works.
#include "platform/odbc/odbc_database.h"

#include <cstring>
#include <memory>

#include "platform/odbc/odbc.h"
#include "util/text.h"

namespace ost {
namespace {

bool Succeeded(SQLRETURN result) {
  return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
}

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide calls take UTF-16");

SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// GBK as the wide calls take it: UTF-16, ending with a zero.
class WideText {
 public:
  explicit WideText(std::string_view gbk) : text_(GbkToUtf16(gbk)) {}
  SQLWCHAR* get() { return reinterpret_cast<SQLWCHAR*>(text_.data()); }

 private:
  std::u16string text_;
};

// UTF-16 from a wide call's buffer, up to its first zero or the end, as GBK.
std::string GbkFrom(const SQLWCHAR* buffer, size_t units) {
  const auto* text = reinterpret_cast<const char16_t*>(buffer);
  size_t length = 0;
  while (length < units && text[length] != 0) ++length;
  return Utf16ToGbk(std::u16string_view(text, length));
}

// Every diagnostic record the driver keeps for a handle, in order.
std::vector<DbDiagnostic> Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<DbDiagnostic> records;
  for (SQLSMALLINT number = 1;; ++number) {
    SQLWCHAR state[6] = {};
    SQLINTEGER nativeError = 0;
    std::vector<SQLWCHAR> message(1024);
    SQLSMALLINT length = 0;  // in characters
    SQLRETURN result = SQLGetDiagRecW(type, handle, number, state, &nativeError, message.data(),
                                      static_cast<SQLSMALLINT>(message.size()), &length);
    if (result == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      // The message did not fit: ask again with room for all of it.
      message.assign(static_cast<size_t>(length) + 1, 0);
      result = SQLGetDiagRecW(type, handle, number, state, &nativeError, message.data(),
                              static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Succeeded(result)) break;
    records.push_back({GbkFrom(state, 5), static_cast<int32_t>(nativeError),
                       GbkFrom(message.data(), message.size())});
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
    WideText wide(text);
    if (!Succeeded(SQLExecDirectW(handle_, wide.get(), SQL_NTS))) {
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

  std::u16string wideSource = SystemTextToUtf16(dataSource);
  std::u16string wideUser = SystemTextToUtf16(user);
  std::u16string widePassword = SystemTextToUtf16(password);
  if (!Succeeded(SQLConnectW(connection, Wide(wideSource), SQL_NTS, Wide(wideUser), SQL_NTS,
                             Wide(widePassword), SQL_NTS))) {
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
  // The width counts GBK bytes. Every character is at least one byte of GBK and at most
  // two units of UTF-16, so a value that does not fit 2 * width units does not fit the
  // width either; one that does is measured in GBK.
  std::vector<SQLWCHAR> buffer(2 * width + 1, 0);
  SQLLEN length = 0;
  SQLBindCol(handle.handle(), 1, SQL_C_WCHAR, buffer.data(),
             static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &length);
  text.found = SQLFetch(handle.handle()) != SQL_NO_DATA;
  if (!text.found || width == 0) return text;
  const std::string gbk = GbkFrom(buffer.data(), buffer.size());
  const bool cut = length != SQL_NULL_DATA && length != SQL_NO_TOTAL &&
                   length > static_cast<SQLLEN>((buffer.size() - 1) * sizeof(SQLWCHAR));
  // As a narrow buffer of width bytes would hold it: width - 1 bytes and the zero.
  text.bytes = std::string(CutGbk(gbk, width - 1));
  text.overflowed = length != SQL_NULL_DATA && (cut || gbk.size() >= width);
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

DbOutcome OdbcDatabase::BeginTransaction() {
  DbOutcome outcome;
  if (!connected_) {
    outcome.status = DbStatus::kNoHandle;
    return outcome;
  }
  auto* connection = static_cast<SQLHDBC>(connection_);
  if (!Succeeded(SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    outcome.status = DbStatus::kFailed;
    outcome.diagnostics = Diagnostics(SQL_HANDLE_DBC, connection);
  }
  return outcome;
}

DbOutcome OdbcDatabase::EndTransaction(bool commit) {
  DbOutcome outcome;
  if (!connected_) {
    outcome.status = DbStatus::kNoHandle;
    return outcome;
  }
  auto* connection = static_cast<SQLHDBC>(connection_);
  if (!Succeeded(SQLEndTran(SQL_HANDLE_DBC, connection, commit ? SQL_COMMIT : SQL_ROLLBACK))) {
    outcome.status = DbStatus::kFailed;
    outcome.diagnostics = Diagnostics(SQL_HANDLE_DBC, connection);
  }
  // Whatever became of it, the statements after it run on their own again.
  SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT,
                    reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  return outcome;
}

}  // namespace ost
