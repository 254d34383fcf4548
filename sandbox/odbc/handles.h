// The stand-in driver's environment, connection and statement handles.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "charset.h"
#include "diagnostics.h"

// The ODBC entry points are the library's only exported symbols.
#define OST_ODBC_EXPORT extern "C" __attribute__((visibility("default")))

namespace ost::driver {

struct Dbc;
struct Stmt;

struct Env {
  Diagnostics diag;
  SQLINTEGER odbcVersion = SQL_OV_ODBC3;
  std::vector<Dbc*> connections;
};

struct Dbc {
  Diagnostics diag;
  Env* env = nullptr;
  sqlite3* db = nullptr;  // open while connected
  std::string dsn;
  std::string user;
  std::vector<std::string> databases;  // attached, in attach order
  SQLUINTEGER loginTimeout = 0;
  SQLUINTEGER connectionTimeout = 0;
  bool readOnly = false;
  // Autocommit off: the first statement opens a transaction that lasts until SQLEndTran.
  bool autocommit = true;
  // SET XACT_ABORT ON: a statement that fails rolls the open transaction back whole.
  bool xactAbort = false;
  std::vector<Stmt*> statements;
  std::string denied;  // why the authorizer refused the statement being prepared
  // The application's character set (the data source's ClientCharset); user is UTF-8.
  ClientCharset charset;
};

struct Binding {
  SQLSMALLINT cType;
  SQLPOINTER buffer;
  SQLLEN length;
  SQLLEN* indicator;
};

struct Stmt {
  Diagnostics diag;
  Dbc* dbc = nullptr;
  std::string sql;        // the batch, rewritten for SQLite
  size_t next = 0;        // where the batch's statements not yet run begin
  bool prepared = false;  // SQLPrepare'd: sql may be executed (again)
  bool executed = false;
  sqlite3_stmt* preview = nullptr;  // a prepared text's first statement, for its columns
  sqlite3_stmt* cursor = nullptr;   // the open result set
  bool rowPending = false;          // the first row, stepped during execution, awaits SQLFetch
  bool onRow = false;
  bool atEnd = false;
  SQLLEN rowCount = -1;
  std::map<SQLUSMALLINT, Binding> bindings;
  SQLUSMALLINT dataColumn = 0;  // SQLGetData's column and how much of it was returned
  size_t dataOffset = 0;
};

// Live handles, so that a stale or foreign handle gives SQL_INVALID_HANDLE.
void RegisterHandle(void* handle, SQLSMALLINT type);
void UnregisterHandle(void* handle);
bool IsHandle(const void* handle, SQLSMALLINT type);

template <typename T>
T* Find(SQLHANDLE handle, SQLSMALLINT type) {
  return IsHandle(handle, type) ? static_cast<T*>(handle) : nullptr;
}

// Ends the connection's open transaction, if any: COMMIT or ROLLBACK. Open cursors are
// closed first, as SQL Server closes them at the end of a transaction.
bool EndTransaction(Dbc* dbc, bool commit);

// Closes the cursor, finalizes everything and frees the statement.
void DestroyStatement(Stmt* stmt);

// Adds SQLite's last error on db to diag, as a SQLSTATE with the extended code.
void AddSqliteError(Diagnostics* diag, Dbc* dbc, int code);

// Text given as pointer and length (or SQL_NTS).
std::string InputText(const SQLCHAR* text, SQLINTEGER length);

// Statement text from the application, as UTF-8.
std::string InputSql(const Dbc* dbc, const SQLCHAR* text, SQLINTEGER length);

// Text of a wide entry point (UTF-16, length in characters or SQL_NTS), as UTF-8. The
// data source's ClientCharset is for narrow text only: wide text is Unicode already.
std::string InputWide(const SQLWCHAR* text, SQLINTEGER length);

// Where an entry point's text output goes: narrow, in the client's character set, or wide,
// its buffer counted as unit says.
struct TextOut {
  const ClientCharset* charset = nullptr;  // narrow
  bool wide = false;
  WideUnit unit = WideUnit::kCharacters;

  static TextOut Narrow(const ClientCharset& set) { return {&set, false, WideUnit::kCharacters}; }
  static TextOut Wide(WideUnit unit) { return {nullptr, true, unit}; }

  // utf8 as the application gets it; raw is for narrow texts that are passed back as
  // the application gave them.
  template <typename LengthType>
  SQLRETURN Put(std::string_view utf8, SQLPOINTER buffer, SQLLEN bufferLength, LengthType* length,
                bool raw = false) const {
    if (wide) return CopyOutWide(utf8, buffer, bufferLength, unit, length);
    if (raw || !charset) return CopyOut(utf8, buffer, bufferLength, length);
    return CopyOut(charset->FromUtf8(utf8), buffer, bufferLength, length);
  }
};

// Appends the function name to the file named by OST_ODBC_TRACE, when set.
void Trace(const char* function);

}  // namespace ost::driver
