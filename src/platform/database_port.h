// The product database: one connection for the whole run, and the few kinds of
// statement the tool runs on it. The object owns its handles; every failure comes
// back with all the diagnostic records the driver gave.
//
// Contract, whatever the provider:
// - Not connected (before Open, after Close or a refused Open): every statement and
//   BeginTransaction give kNoHandle and run nothing; Close does nothing.
// - A refused login gives a failure and leaves connected() false; a refused password is
//   kConnect with the server's diagnostic records.
// - A statement the server refuses gives kFailed with at least one diagnostic record
//   whose state is five characters.
// - QueryText: no row is kOk with found false; a value longer than width - 1 bytes is
//   cut there, never inside a GBK character, and overflowed says so.
// - EndTransaction(false) takes back what ran since BeginTransaction; autocommit is on
//   again afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ost {

// One diagnostic record of the driver. Texts are GBK, as the tool holds database text
// (the driver gives UTF-16); DbTextToUtf8 turns them into UTF-8.
struct DbDiagnostic {
  std::string state;  // the five characters of the SQLSTATE
  int32_t nativeError = 0;
  std::string message;
};

enum class DbStatus {
  kOk,        // SQL_SUCCESS or SQL_SUCCESS_WITH_INFO
  kNoHandle,  // no statement handle could be had: nothing was run
  kFailed,    // the statement ran and failed (SQL_ERROR, SQL_NO_DATA, ...)
};

struct DbOutcome {
  DbStatus status = DbStatus::kOk;
  std::vector<DbDiagnostic> diagnostics;  // of a failure; may be empty
};

// The first column of the first row as GBK, held as a buffer of `width` bytes would hold
// it (at most width - 1 bytes, cut between characters).
struct DbText {
  DbOutcome outcome;
  bool found = false;       // a row came; false for no row
  std::string bytes;        // what the buffer holds, up to its first zero byte
  bool overflowed = false;  // the value did not fit the buffer and was cut
};

// Rows of two unsigned 32-bit columns, fetched until the end or the first error.
struct DbPairs {
  DbOutcome outcome;
  std::vector<std::pair<uint32_t, uint32_t>> rows;
};

class ProductDatabase {
 public:
  enum class OpenFailure { kNone, kEnvironment, kVersion, kConnection, kConnect };
  struct OpenResult {
    OpenFailure failure = OpenFailure::kNone;
    std::vector<DbDiagnostic> diagnostics;  // of the refused connection
  };

  virtual ~ProductDatabase() = default;

  // Allocates the environment (ODBC 3) and the connection and connects with a
  // 30-second login time-out. The texts are the registry's bytes, in the system code
  // page. After a refused connection nothing is kept open.
  virtual OpenResult Open(const std::string& dataSource, const std::string& user,
                          const std::string& password) = 0;
  virtual bool connected() const = 0;
  // Disconnects and frees the handles; does nothing when not connected.
  virtual void Close() = 0;

  // Each runs one statement on a statement handle of its own, freed before it returns.
  // `statement` is UTF-8 for Execute and the Query calls; ExecuteRaw takes GBK (scripts
  // as published). Not connected: kNoHandle.
  virtual DbOutcome Execute(const std::string& statement) = 0;
  virtual DbOutcome ExecuteRaw(std::string_view statement) = 0;
  virtual DbText QueryText(const std::string& statement, size_t width) = 0;
  virtual DbPairs QueryUnsignedPairs(const std::string& statement) = 0;

  // A script whole or not at all: autocommit off, so that every statement from here on
  // belongs to one transaction until EndTransaction. Not connected: kNoHandle.
  virtual DbOutcome BeginTransaction() = 0;
  // Commits the transaction (or rolls it back) and turns autocommit on again; the
  // outcome is the commit's or rollback's.
  virtual DbOutcome EndTransaction(bool commit) = 0;
};

// Text for a quoted SQL literal: each single quote doubled.
inline std::string QuoteSqlText(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}

}  // namespace ost
