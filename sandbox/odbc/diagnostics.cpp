#include "diagnostics.h"

#include <sqlext.h>
#include <sqlite3.h>

#include <cstring>

namespace ost {

namespace {

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// SQLite reports most statement errors as SQLITE_ERROR; its message tells which.
const char* PlainErrorState(std::string_view message) {
  if (Contains(message, "no such table") || Contains(message, "no such view")) return "42S02";
  if (Contains(message, "no such column") || Contains(message, "has no column named")) {
    return "42S22";
  }
  if (Contains(message, "no such index")) return "42S12";
  if (Contains(message, "already exists")) {
    return Contains(message, "index") ? "42S11" : "42S01";
  }
  if (Contains(message, "duplicate column name")) return "42S21";
  if (Contains(message, "values were supplied") || Contains(message, "values for")) {
    return "21S01";
  }
  if (Contains(message, "syntax error") || Contains(message, "incomplete input") ||
      Contains(message, "unrecognized token") || Contains(message, "no such function") ||
      Contains(message, "wrong number of arguments")) {
    return "42000";
  }
  return "HY000";
}

bool IsOdbcSubclass(const std::string& state) {
  if (state.size() != 5) return false;
  if (state.compare(0, 2, "IM") == 0) return true;
  if (state[2] == 'S') return true;  // 01Sxx, 07S01, 08S01, 21Sxx, 25Sxx, 42Sxx
  if (state.compare(0, 3, "HYT") == 0) return true;
  return state.compare(0, 2, "HY") == 0 && state >= "HY095" && state <= "HY111";
}

SQLRETURN PutInteger(SQLPOINTER info, SQLINTEGER value) {
  if (info) *static_cast<SQLINTEGER*>(info) = value;
  return SQL_SUCCESS;
}

SQLRETURN PutText(std::string_view text, SQLPOINTER info, SQLSMALLINT bufferLength,
                  SQLSMALLINT* stringLength) {
  if (bufferLength < 0) return SQL_ERROR;
  return CopyOut(text, info, bufferLength, stringLength);
}

}  // namespace

const char* SqliteErrorState(int extendedCode, std::string_view message) {
  switch (extendedCode & 0xFF) {
    case SQLITE_ERROR:
      return PlainErrorState(message);
    case SQLITE_CONSTRAINT:
      return "23000";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "HYT00";
    case SQLITE_NOMEM:
      return "HY001";
    case SQLITE_INTERRUPT:
      return "HY008";
    case SQLITE_TOOBIG:
      return "22001";
    case SQLITE_MISMATCH:
      return "22018";
    case SQLITE_AUTH:
    case SQLITE_PERM:
      return "42000";
    case SQLITE_RANGE:
      return "07009";
    case SQLITE_MISUSE:
      return "HY010";
    default:
      // IOERR, CORRUPT, FULL, CANTOPEN, READONLY, NOTADB, SCHEMA, ABORT, ...
      return "HY000";
  }
}

void Diagnostics::Add(const char* state, std::string_view message, SQLINTEGER native,
                      SQLINTEGER column) {
  DiagRecord record;
  record.state = state;
  record.native = native;
  record.message = std::string(kMessagePrefix) + std::string(message);
  record.column = column;
  records.push_back(std::move(record));
}

SQLRETURN GetDiagRec(const Diagnostics& diag, SQLSMALLINT record, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT bufferLength,
                     SQLSMALLINT* textLength) {
  if (record < 1 || bufferLength < 0) return SQL_ERROR;
  if (static_cast<size_t>(record) > diag.records.size()) return SQL_NO_DATA;
  const DiagRecord& r = diag.records[record - 1];
  if (state) std::memcpy(state, r.state.c_str(), 6);
  if (native) *native = r.native;
  return CopyOut(r.message, message, bufferLength, textLength);
}

SQLRETURN GetDiagField(const Diagnostics& diag, SQLSMALLINT handleType, SQLSMALLINT record,
                       SQLSMALLINT identifier, SQLPOINTER info, SQLSMALLINT bufferLength,
                       SQLSMALLINT* stringLength, const std::string& serverName) {
  // Header fields.
  switch (identifier) {
    case SQL_DIAG_NUMBER:
      return PutInteger(info, static_cast<SQLINTEGER>(diag.records.size()));
    case SQL_DIAG_RETURNCODE:
      if (info) *static_cast<SQLRETURN*>(info) = diag.lastReturn;
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT:
      if (handleType != SQL_HANDLE_STMT) return SQL_ERROR;
      if (info) {
        *static_cast<SQLLEN*>(info) = identifier == SQL_DIAG_ROW_COUNT ? diag.rowCount : -1;
      }
      return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (handleType != SQL_HANDLE_STMT) return SQL_ERROR;
      return PutText("", info, bufferLength, stringLength);
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (handleType != SQL_HANDLE_STMT) return SQL_ERROR;
      return PutInteger(info, SQL_DIAG_UNKNOWN_STATEMENT);
    default:
      break;
  }
  // Record fields.
  if (record < 1) return SQL_ERROR;
  if (static_cast<size_t>(record) > diag.records.size()) return SQL_NO_DATA;
  const DiagRecord& r = diag.records[record - 1];
  switch (identifier) {
    case SQL_DIAG_SQLSTATE:
      return PutText(r.state, info, bufferLength, stringLength);
    case SQL_DIAG_NATIVE:
      return PutInteger(info, r.native);
    case SQL_DIAG_MESSAGE_TEXT:
      return PutText(r.message, info, bufferLength, stringLength);
    case SQL_DIAG_CLASS_ORIGIN: {
      const bool odbc = r.state.compare(0, 2, "IM") == 0 || r.state.compare(0, 2, "HY") == 0;
      return PutText(odbc ? "ODBC 3.0" : "ISO 9075", info, bufferLength, stringLength);
    }
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return PutText(IsOdbcSubclass(r.state) ? "ODBC 3.0" : "ISO 9075", info, bufferLength,
                     stringLength);
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
      return PutText(serverName, info, bufferLength, stringLength);
    case SQL_DIAG_COLUMN_NUMBER:
      if (handleType != SQL_HANDLE_STMT) return SQL_ERROR;
      return PutInteger(info, r.column);
    case SQL_DIAG_ROW_NUMBER:
      if (handleType != SQL_HANDLE_STMT) return SQL_ERROR;
      if (info) *static_cast<SQLLEN*>(info) = r.row;
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}

}  // namespace ost
