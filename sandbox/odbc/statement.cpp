// Statement handles: running batches, result sets and bound columns.
#include <algorithm>
#include <cstring>

#include "convert.h"
#include "handles.h"
#include "sql_dialect.h"

namespace ost::driver {
namespace {

SQLRETURN Finish(Stmt* stmt, SQLRETURN code) {
  stmt->diag.lastReturn = code;
  stmt->diag.rowCount = stmt->rowCount;
  return code;
}

SQLRETURN Fail(Stmt* stmt, const char* state, const std::string& message) {
  stmt->diag.Add(state, message);
  return Finish(stmt, SQL_ERROR);
}

void CloseCursor(Stmt* stmt) {
  sqlite3_finalize(stmt->cursor);
  stmt->cursor = nullptr;
  stmt->rowPending = stmt->onRow = stmt->atEnd = false;
  stmt->dataColumn = 0;
  // Statements after the result set are discarded with it, as a cancelled batch.
  stmt->next = stmt->sql.size();
}

// The first keyword of a statement's text, upper-cased.
std::string FirstKeyword(const char* sql) {
  const char* p = sql ? sql : "";
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (p[0] == '-' && p[1] == '-') {
      while (*p && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      const char* end = std::strstr(p + 2, "*/");
      p = end ? end + 2 : p + std::strlen(p);
    } else {
      break;
    }
  }
  std::string word;
  while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) {
    word += static_cast<char>(*p >= 'a' ? *p - 32 : *p);
    ++p;
  }
  return word;
}

// With autocommit off, the first statement after a commit or rollback opens the next
// transaction, as SQL Server's implicit transactions do.
bool OpenTransaction(Dbc* dbc) {
  if (dbc->autocommit || !sqlite3_get_autocommit(dbc->db)) return true;
  return sqlite3_exec(dbc->db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A failed statement under XACT_ABORT takes the whole transaction with it.
void AbortTransaction(Dbc* dbc) {
  if (dbc->xactAbort && !sqlite3_get_autocommit(dbc->db)) EndTransaction(dbc, false);
}

// SET XACT_ABORT | NOCOUNT ON | OFF, alone in its batch: options of the session, which
// SQLite has no statement for. True when the text was one (and is done).
bool SessionOption(Dbc* dbc, const std::string& utf8) {
  // Nearly every batch is none: told by its first letter, not by a copy of all of it.
  const size_t first = utf8.find_first_not_of(" \t\r\n;");
  if (first == std::string::npos || (utf8[first] != 'S' && utf8[first] != 's')) return false;
  std::string words;
  for (char c : utf8) {
    if (c == ';') continue;
    const bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (space) {
      if (!words.empty() && words.back() != ' ') words += ' ';
    } else {
      words += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
  }
  if (!words.empty() && words.back() == ' ') words.pop_back();
  if (words == "SET XACT_ABORT ON" || words == "SET XACT_ABORT OFF") {
    dbc->xactAbort = words.back() == 'N';
    return true;
  }
  return words == "SET NOCOUNT ON" || words == "SET NOCOUNT OFF";
}

struct RunResult {
  SQLRETURN code = SQL_SUCCESS;
  bool opened = false;           // a result set is open
  int statements = 0;            // statements run to their end
  bool unmatchedChange = false;  // the last one was an UPDATE or DELETE that changed nothing
};

// Runs the batch's next statements up to the next result set, the end, or the first error
// (which ends the batch: the statements after it are not run).
RunResult RunNext(Stmt* stmt) {
  RunResult result;
  Dbc* dbc = stmt->dbc;
  while (stmt->next < stmt->sql.size()) {
    const char* start = stmt->sql.data() + stmt->next;
    const char* tail = nullptr;
    sqlite3_stmt* st = nullptr;
    dbc->denied.clear();
    int rc = sqlite3_prepare_v2(dbc->db, start, static_cast<int>(stmt->sql.size() - stmt->next),
                                &st, &tail);
    if (rc != SQLITE_OK) {
      AddSqliteError(&stmt->diag, dbc, rc);
      AbortTransaction(dbc);
      stmt->next = stmt->sql.size();
      result.code = SQL_ERROR;
      return result;
    }
    stmt->next = static_cast<size_t>(tail - stmt->sql.data());
    if (!st) continue;  // white space or comments only
    if (!OpenTransaction(dbc)) {
      AddSqliteError(&stmt->diag, dbc, sqlite3_errcode(dbc->db));
      sqlite3_finalize(st);
      stmt->next = stmt->sql.size();
      result.code = SQL_ERROR;
      return result;
    }
    if (sqlite3_bind_parameter_count(st) > 0) {
      sqlite3_finalize(st);
      stmt->diag.Add("07002", "COUNT field incorrect: parameter markers are not supported");
      stmt->next = stmt->sql.size();
      result.code = SQL_ERROR;
      return result;
    }
    rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      AddSqliteError(&stmt->diag, dbc, rc);
      sqlite3_finalize(st);
      AbortTransaction(dbc);
      stmt->next = stmt->sql.size();
      result.code = SQL_ERROR;
      return result;
    }
    if (sqlite3_column_count(st) > 0) {
      stmt->cursor = st;
      stmt->rowPending = rc == SQLITE_ROW;
      stmt->atEnd = rc == SQLITE_DONE;
      stmt->rowCount = -1;
      result.opened = true;
      return result;
    }
    const std::string keyword = FirstKeyword(sqlite3_sql(st));
    const bool changes =
        keyword == "INSERT" || keyword == "UPDATE" || keyword == "DELETE" || keyword == "REPLACE";
    stmt->rowCount = changes ? sqlite3_changes(dbc->db) : -1;
    result.unmatchedChange = (keyword == "UPDATE" || keyword == "DELETE") && stmt->rowCount == 0;
    ++result.statements;
    sqlite3_finalize(st);
  }
  return result;
}

SQLRETURN Execute(Stmt* stmt) {
  stmt->next = 0;
  stmt->rowCount = -1;
  stmt->executed = true;
  const RunResult run = RunNext(stmt);
  if (run.code == SQL_ERROR) return Finish(stmt, SQL_ERROR);
  // ODBC 3: a searched UPDATE or DELETE that affects no rows returns SQL_NO_DATA.
  if (!run.opened && run.statements == 1 && run.unmatchedChange) {
    return Finish(stmt, SQL_NO_DATA);
  }
  return Finish(stmt, SQL_SUCCESS);
}

// utf8: the statement's text, from the narrow or the wide form.
bool Rewrite(Stmt* stmt, const std::string& utf8) {
  std::string error;
  std::string sql = RewriteSqlServerDialect(utf8, &error);
  if (!error.empty()) {
    stmt->diag.Add("42000", error);
    return false;
  }
  stmt->sql = std::move(sql);
  return true;
}

// The statement whose columns describe the current result (or the prepared text).
sqlite3_stmt* Columns(const Stmt* stmt) { return stmt->cursor ? stmt->cursor : stmt->preview; }

// A column's ODBC type from its declared type, or from its value for expressions.
SQLSMALLINT SqlType(sqlite3_stmt* st, int column, bool haveRow, SQLULEN* size) {
  *size = 0;
  const char* declared = sqlite3_column_decltype(st, column);
  if (declared) {
    std::string upper;
    for (const char* p = declared; *p; ++p) {
      upper += static_cast<char>(*p >= 'a' && *p <= 'z' ? *p - 32 : *p);
    }
    const size_t open = upper.find('(');
    const SQLULEN length =
        open == std::string::npos ? 0 : std::strtoul(&upper[open + 1], nullptr, 10);
    if (upper.find("BIGINT") != std::string::npos) {
      *size = 19;
      return SQL_BIGINT;
    }
    if (upper.find("INT") != std::string::npos) {
      *size = 10;
      return SQL_INTEGER;
    }
    if (upper.find("CHAR") != std::string::npos || upper.find("CLOB") != std::string::npos ||
        upper.find("TEXT") != std::string::npos) {
      *size = length;
      return SQL_VARCHAR;
    }
    if (upper.find("BLOB") != std::string::npos || upper.find("BINARY") != std::string::npos) {
      *size = length;
      return SQL_VARBINARY;
    }
    if (upper.find("REAL") != std::string::npos || upper.find("FLOA") != std::string::npos ||
        upper.find("DOUB") != std::string::npos) {
      *size = 15;
      return SQL_DOUBLE;
    }
    *size = length;
    return SQL_VARCHAR;
  }
  if (haveRow) {
    switch (sqlite3_column_type(st, column)) {
      case SQLITE_INTEGER:
        *size = 19;
        return SQL_BIGINT;
      case SQLITE_FLOAT:
        *size = 15;
        return SQL_DOUBLE;
      case SQLITE_BLOB:
        return SQL_VARBINARY;
      default:
        break;
    }
  }
  return SQL_VARCHAR;
}

bool HaveRow(const Stmt* stmt) { return stmt->cursor && (stmt->onRow || stmt->rowPending); }

SQLSMALLINT DefaultCType(Stmt* stmt, int column) {
  SQLULEN size;
  switch (SqlType(Columns(stmt), column, HaveRow(stmt), &size)) {
    case SQL_INTEGER:
      return SQL_C_SLONG;
    case SQL_BIGINT:
      return SQL_C_SBIGINT;
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_VARBINARY:
      return SQL_C_BINARY;
    default:
      return SQL_C_CHAR;
  }
}

CellValue Cell(sqlite3_stmt* st, int column) {
  CellValue value;
  switch (sqlite3_column_type(st, column)) {
    case SQLITE_NULL:
      return value;
    case SQLITE_INTEGER:
      value.type = CellValue::Type::kInteger;
      value.integer = sqlite3_column_int64(st, column);
      break;
    case SQLITE_FLOAT:
      value.type = CellValue::Type::kReal;
      value.real = sqlite3_column_double(st, column);
      break;
    case SQLITE_BLOB: {
      value.type = CellValue::Type::kBlob;
      const void* bytes = sqlite3_column_blob(st, column);
      value.text = std::string_view(static_cast<const char*>(bytes),
                                    static_cast<size_t>(sqlite3_column_bytes(st, column)));
      return value;
    }
    default:
      value.type = CellValue::Type::kText;
      break;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
  value.text =
      std::string_view(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(st, column)));
  return value;
}

// Converts value (as cType) for the application: text in its character set, cut on its
// character boundaries.
ConvertResult ConvertForClient(const Stmt* stmt, CellValue value, SQLSMALLINT cType,
                               SQLPOINTER buffer, SQLLEN bufferLength, SQLLEN* indicator,
                               size_t* offset) {
  const ClientCharset& charset = stmt->dbc->charset;
  std::string client;
  if (charset.converts() && cType == SQL_C_CHAR && value.type == CellValue::Type::kText) {
    client = charset.FromUtf8(value.text);
    value.text = client;
  }
  return ConvertCell(value, cType, buffer, bufferLength, indicator, offset, charset.cut());
}

// A column name, UTF-8.
std::string ColumnName(sqlite3_stmt* st, int index) {
  const char* name = sqlite3_column_name(st, index);
  return name ? name : "";
}

// Checks a C type for SQLBindCol and SQLGetData.
bool CheckCType(Stmt* stmt, SQLSMALLINT cType) {
  if (cType == SQL_C_DEFAULT || IsSupportedCType(cType)) return true;
  if (IsKnownCType(cType) || cType == SQL_ARD_TYPE) {
    stmt->diag.Add("HYC00",
                   "Optional feature not implemented (C type " + std::to_string(cType) + ")");
  } else {
    stmt->diag.Add("HY003", "Invalid application buffer type");
  }
  return false;
}

SQLRETURN Merge(SQLRETURN sofar, const ConvertResult& result, Stmt* stmt, int column) {
  if (result.code == SQL_ERROR || result.code == SQL_SUCCESS_WITH_INFO) {
    stmt->diag.Add(result.state, result.message, 0, column);
  }
  if (result.code == SQL_ERROR || sofar == SQL_ERROR) return SQL_ERROR;
  if (result.code == SQL_SUCCESS_WITH_INFO) return SQL_SUCCESS_WITH_INFO;
  return sofar;
}

Stmt* Begin(SQLHSTMT handle, const char* function) {
  Trace(function);
  Stmt* stmt = Find<Stmt>(handle, SQL_HANDLE_STMT);
  if (stmt) stmt->diag.Clear();
  return stmt;
}

}  // namespace

bool EndTransaction(Dbc* dbc, bool commit) {
  if (sqlite3_get_autocommit(dbc->db)) return true;
  for (Stmt* stmt : dbc->statements) {
    if (stmt->cursor) CloseCursor(stmt);
  }
  return sqlite3_exec(dbc->db, commit ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) ==
         SQLITE_OK;
}

void DestroyStatement(Stmt* stmt) {
  sqlite3_finalize(stmt->cursor);
  sqlite3_finalize(stmt->preview);
  auto& list = stmt->dbc->statements;
  list.erase(std::remove(list.begin(), list.end(), stmt), list.end());
  UnregisterHandle(stmt);
  delete stmt;
}

}  // namespace ost::driver

using namespace ost;
using namespace ost::driver;

namespace {

SQLRETURN ExecDirect(Stmt* stmt, const std::string& utf8) {
  if (stmt->cursor) return Fail(stmt, "24000", "Invalid cursor state");
  sqlite3_finalize(stmt->preview);
  stmt->preview = nullptr;
  stmt->prepared = false;
  if (SessionOption(stmt->dbc, utf8)) {
    stmt->sql.clear();
    stmt->next = 0;
    stmt->rowCount = -1;
    stmt->executed = true;
    return Finish(stmt, SQL_SUCCESS);
  }
  if (!Rewrite(stmt, utf8)) return Finish(stmt, SQL_ERROR);
  return Execute(stmt);
}

SQLRETURN Prepare(Stmt* stmt, const std::string& utf8) {
  if (stmt->cursor) return Fail(stmt, "24000", "Invalid cursor state");
  sqlite3_finalize(stmt->preview);
  stmt->preview = nullptr;
  stmt->prepared = stmt->executed = false;
  if (!Rewrite(stmt, utf8)) return Finish(stmt, SQL_ERROR);
  // The first statement is compiled now, for its errors and its columns.
  const char* start = stmt->sql.c_str();
  const char* tail = start;
  while (!stmt->preview && *tail) {
    start = tail;
    stmt->dbc->denied.clear();
    const int rc = sqlite3_prepare_v2(stmt->dbc->db, start, -1, &stmt->preview, &tail);
    if (rc != SQLITE_OK) {
      AddSqliteError(&stmt->diag, stmt->dbc, rc);
      return Finish(stmt, SQL_ERROR);
    }
  }
  stmt->prepared = true;
  return Finish(stmt, SQL_SUCCESS);
}

}  // namespace

OST_ODBC_EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
  Stmt* stmt = Begin(handle, "SQLExecDirect");
  if (!stmt) return SQL_INVALID_HANDLE;
  return ExecDirect(stmt, InputSql(stmt->dbc, text, length));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT handle, SQLWCHAR* text,
                                                 SQLINTEGER length) {
  Stmt* stmt = Begin(handle, "SQLExecDirectW");
  if (!stmt) return SQL_INVALID_HANDLE;
  return ExecDirect(stmt, InputWide(text, length));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
  Stmt* stmt = Begin(handle, "SQLPrepare");
  if (!stmt) return SQL_INVALID_HANDLE;
  return Prepare(stmt, InputSql(stmt->dbc, text, length));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLPrepareW(SQLHSTMT handle, SQLWCHAR* text, SQLINTEGER length) {
  Stmt* stmt = Begin(handle, "SQLPrepareW");
  if (!stmt) return SQL_INVALID_HANDLE;
  return Prepare(stmt, InputWide(text, length));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT handle) {
  Stmt* stmt = Begin(handle, "SQLExecute");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (!stmt->prepared) return Fail(stmt, "HY010", "Function sequence error");
  if (stmt->cursor) return Fail(stmt, "24000", "Invalid cursor state");
  sqlite3_finalize(stmt->preview);
  stmt->preview = nullptr;
  return Execute(stmt);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT handle) {
  Stmt* stmt = Begin(handle, "SQLMoreResults");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (!stmt->executed) return Finish(stmt, SQL_NO_DATA);
  const size_t next = stmt->next;
  CloseCursor(stmt);
  stmt->next = next;
  const RunResult run = RunNext(stmt);
  if (run.code == SQL_ERROR) return Finish(stmt, SQL_ERROR);
  return Finish(stmt, run.opened ? SQL_SUCCESS : SQL_NO_DATA);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* count) {
  Stmt* stmt = Begin(handle, "SQLNumResultCols");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (!stmt->executed && !stmt->prepared) return Fail(stmt, "HY010", "Function sequence error");
  sqlite3_stmt* st = Columns(stmt);
  if (count) *count = static_cast<SQLSMALLINT>(st ? sqlite3_column_count(st) : 0);
  return Finish(stmt, SQL_SUCCESS);
}

namespace {

SQLRETURN DescribeCol(Stmt* stmt, SQLUSMALLINT column, SQLPOINTER name, SQLSMALLINT bufferLength,
                      SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize,
                      SQLSMALLINT* decimalDigits, SQLSMALLINT* nullable, const TextOut& out) {
  sqlite3_stmt* st = Columns(stmt);
  if (!st) return Fail(stmt, "07005", "Prepared statement is not a query");
  if (column < 1 || column > sqlite3_column_count(st)) {
    return Fail(stmt, "07009", "Invalid descriptor index");
  }
  if (bufferLength < 0) return Fail(stmt, "HY090", "Invalid string or buffer length");
  const int index = column - 1;
  SQLULEN size;
  const SQLSMALLINT type = SqlType(st, index, HaveRow(stmt), &size);
  if (dataType) *dataType = type;
  if (columnSize) *columnSize = size;
  if (decimalDigits) *decimalDigits = 0;
  if (nullable) *nullable = SQL_NULLABLE_UNKNOWN;
  if (out.Put(ColumnName(st, index), name, bufferLength, nameLength) == SQL_SUCCESS_WITH_INFO) {
    stmt->diag.Add("01004", "String data, right truncated");
    return Finish(stmt, SQL_SUCCESS_WITH_INFO);
  }
  return Finish(stmt, SQL_SUCCESS);
}

SQLRETURN ColAttribute(Stmt* stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                       SQLSMALLINT bufferLength, SQLSMALLINT* length, SQLLEN* number,
                       const TextOut& out) {
  sqlite3_stmt* st = Columns(stmt);
  if (!st) return Fail(stmt, "07005", "Prepared statement is not a query");
  if (field == SQL_DESC_COUNT) {
    if (number) *number = sqlite3_column_count(st);
    return Finish(stmt, SQL_SUCCESS);
  }
  if (column < 1 || column > sqlite3_column_count(st)) {
    return Fail(stmt, "07009", "Invalid descriptor index");
  }
  const int index = column - 1;
  SQLULEN size;
  const SQLSMALLINT type = SqlType(st, index, HaveRow(stmt), &size);
  SQLLEN value = 0;
  switch (field) {
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_BASE_COLUMN_NAME:
      if (out.Put(ColumnName(st, index), text, bufferLength, length) == SQL_SUCCESS_WITH_INFO) {
        stmt->diag.Add("01004", "String data, right truncated");
        return Finish(stmt, SQL_SUCCESS_WITH_INFO);
      }
      return Finish(stmt, SQL_SUCCESS);
    case SQL_DESC_TYPE:
    case SQL_DESC_CONCISE_TYPE:
      value = type;
      break;
    case SQL_DESC_LENGTH:
    case SQL_DESC_OCTET_LENGTH:
    case SQL_DESC_DISPLAY_SIZE:
      value = static_cast<SQLLEN>(size);
      break;
    case SQL_DESC_NULLABLE:
      value = SQL_NULLABLE_UNKNOWN;
      break;
    case SQL_DESC_UNSIGNED:
      value = type == SQL_VARCHAR || type == SQL_VARBINARY ? SQL_TRUE : SQL_FALSE;
      break;
    default:
      return Fail(
          stmt, "HYC00",
          "Optional feature not implemented (column attribute " + std::to_string(field) + ")");
  }
  if (number) *number = value;
  return Finish(stmt, SQL_SUCCESS);
}

}  // namespace

OST_ODBC_EXPORT SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT handle, SQLUSMALLINT column,
                                                 SQLCHAR* name, SQLSMALLINT bufferLength,
                                                 SQLSMALLINT* nameLength, SQLSMALLINT* dataType,
                                                 SQLULEN* columnSize, SQLSMALLINT* decimalDigits,
                                                 SQLSMALLINT* nullable) {
  Stmt* stmt = Begin(handle, "SQLDescribeCol");
  if (!stmt) return SQL_INVALID_HANDLE;
  return DescribeCol(stmt, column, name, bufferLength, nameLength, dataType, columnSize,
                     decimalDigits, nullable, TextOut::Narrow(stmt->dbc->charset));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT handle, SQLUSMALLINT column,
                                                  SQLWCHAR* name, SQLSMALLINT bufferLength,
                                                  SQLSMALLINT* nameLength, SQLSMALLINT* dataType,
                                                  SQLULEN* columnSize, SQLSMALLINT* decimalDigits,
                                                  SQLSMALLINT* nullable) {
  Stmt* stmt = Begin(handle, "SQLDescribeColW");
  if (!stmt) return SQL_INVALID_HANDLE;
  return DescribeCol(stmt, column, name, bufferLength, nameLength, dataType, columnSize,
                     decimalDigits, nullable, TextOut::Wide(WideUnit::kCharacters));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLColAttribute(SQLHSTMT handle, SQLUSMALLINT column,
                                                  SQLUSMALLINT field, SQLPOINTER text,
                                                  SQLSMALLINT bufferLength, SQLSMALLINT* length,
                                                  SQLLEN* number) {
  Stmt* stmt = Begin(handle, "SQLColAttribute");
  if (!stmt) return SQL_INVALID_HANDLE;
  return ColAttribute(stmt, column, field, text, bufferLength, length, number,
                      TextOut::Narrow(stmt->dbc->charset));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT handle, SQLUSMALLINT column,
                                                   SQLUSMALLINT field, SQLPOINTER text,
                                                   SQLSMALLINT bufferLength, SQLSMALLINT* length,
                                                   SQLLEN* number) {
  Stmt* stmt = Begin(handle, "SQLColAttributeW");
  if (!stmt) return SQL_INVALID_HANDLE;
  return ColAttribute(stmt, column, field, text, bufferLength, length, number,
                      TextOut::Wide(WideUnit::kBytes));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT handle, SQLLEN* count) {
  Stmt* stmt = Begin(handle, "SQLRowCount");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (!stmt->executed) return Fail(stmt, "HY010", "Function sequence error");
  if (count) *count = stmt->rowCount;
  return Finish(stmt, SQL_SUCCESS);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT handle, SQLUSMALLINT column,
                                             SQLSMALLINT cType, SQLPOINTER buffer,
                                             SQLLEN bufferLength, SQLLEN* indicator) {
  Stmt* stmt = Begin(handle, "SQLBindCol");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (column == 0) return Fail(stmt, "07009", "Invalid descriptor index (no bookmarks)");
  if (!buffer) {  // unbinds the column
    stmt->bindings.erase(column);
    return Finish(stmt, SQL_SUCCESS);
  }
  if (!CheckCType(stmt, cType)) return Finish(stmt, SQL_ERROR);
  if (bufferLength < 0) return Fail(stmt, "HY090", "Invalid string or buffer length");
  stmt->bindings[column] = Binding{cType, buffer, bufferLength, indicator};
  return Finish(stmt, SQL_SUCCESS);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT handle) {
  Stmt* stmt = Begin(handle, "SQLFetch");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (!stmt->cursor) return Fail(stmt, "24000", "Invalid cursor state");
  stmt->onRow = false;
  stmt->dataColumn = 0;
  if (stmt->rowPending) {
    stmt->rowPending = false;
  } else if (stmt->atEnd) {
    return Finish(stmt, SQL_NO_DATA);
  } else {
    const int rc = sqlite3_step(stmt->cursor);
    if (rc == SQLITE_DONE) {
      stmt->atEnd = true;
      return Finish(stmt, SQL_NO_DATA);
    }
    if (rc != SQLITE_ROW) {
      stmt->atEnd = true;
      AddSqliteError(&stmt->diag, stmt->dbc, rc);
      return Finish(stmt, SQL_ERROR);
    }
  }
  stmt->onRow = true;
  const int columns = sqlite3_column_count(stmt->cursor);
  SQLRETURN code = SQL_SUCCESS;
  for (const auto& [column, binding] : stmt->bindings) {
    if (column > columns) {
      stmt->diag.Add("07009", "Invalid descriptor index", 0, column);
      code = SQL_ERROR;
      continue;
    }
    const SQLSMALLINT cType =
        binding.cType == SQL_C_DEFAULT ? DefaultCType(stmt, column - 1) : binding.cType;
    size_t offset = 0;
    const ConvertResult result =
        ConvertForClient(stmt, Cell(stmt->cursor, column - 1), cType, binding.buffer,
                         binding.length, binding.indicator, &offset);
    code = Merge(code, result, stmt, column);
  }
  return Finish(stmt, code);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT handle, SQLUSMALLINT column,
                                             SQLSMALLINT cType, SQLPOINTER buffer,
                                             SQLLEN bufferLength, SQLLEN* indicator) {
  Stmt* stmt = Begin(handle, "SQLGetData");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (!stmt->cursor || !stmt->onRow) return Fail(stmt, "24000", "Invalid cursor state");
  if (column < 1 || column > sqlite3_column_count(stmt->cursor)) {
    return Fail(stmt, "07009", "Invalid descriptor index");
  }
  if (!CheckCType(stmt, cType)) return Finish(stmt, SQL_ERROR);
  if (bufferLength < 0) return Fail(stmt, "HY090", "Invalid string or buffer length");
  if (column != stmt->dataColumn) {
    stmt->dataColumn = column;
    stmt->dataOffset = 0;
  }
  if (cType == SQL_C_DEFAULT) cType = DefaultCType(stmt, column - 1);
  const ConvertResult result = ConvertForClient(stmt, Cell(stmt->cursor, column - 1), cType, buffer,
                                                bufferLength, indicator, &stmt->dataOffset);
  if (result.code == SQL_NO_DATA) return Finish(stmt, SQL_NO_DATA);
  return Finish(stmt, Merge(SQL_SUCCESS, result, stmt, column));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
  Stmt* stmt = Begin(handle, "SQLFreeStmt");
  if (!stmt) return SQL_INVALID_HANDLE;
  switch (option) {
    case SQL_CLOSE:
      CloseCursor(stmt);
      return Finish(stmt, SQL_SUCCESS);
    case SQL_DROP:
      DestroyStatement(stmt);
      return SQL_SUCCESS;
    case SQL_UNBIND:
      stmt->bindings.clear();
      return Finish(stmt, SQL_SUCCESS);
    case SQL_RESET_PARAMS:  // no parameters are ever bound
      return Finish(stmt, SQL_SUCCESS);
    default:
      return Fail(stmt, "HY092", "Invalid attribute/option identifier");
  }
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT handle) {
  Stmt* stmt = Begin(handle, "SQLCloseCursor");
  if (!stmt) return SQL_INVALID_HANDLE;
  if (!stmt->cursor) return Fail(stmt, "24000", "Invalid cursor state");
  CloseCursor(stmt);
  return Finish(stmt, SQL_SUCCESS);
}
