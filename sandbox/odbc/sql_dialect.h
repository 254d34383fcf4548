// The SQL Server dialect that the tool and the sandbox scripts send, rewritten for SQLite.
#pragma once

#include <string>
#include <string_view>

namespace ost {

// Rewrites, outside string literals, quoted names and comments:
//   SELECT [DISTINCT|ALL] TOP n ...     ->  SELECT ... LIMIT n    (also TOP (expression))
//   db.dbo.name, db..name, dbo.name     ->  db.name, db.name, name
//   [name]                              ->  "name"
//   N'text'                             ->  'text'
//   GETDATE(), GETUTCDATE()             ->  local and UTC datetime('now')
//   {CALL db.dbo.proc(args)}            ->  INSERT INTO db.proc VALUES(args)
//   {CALL db.dbo.proc}                  ->  INSERT INTO db.proc DEFAULT VALUES
//   {d '...'}, {t '...'}, {ts '...'}    ->  '...'
//   CREATE [UNIQUE] [NON]CLUSTERED INDEX ix ON db.dbo.t(...)  ->  CREATE INDEX db.ix ON t(...)
// Nested block comments (legal in SQL Server) are flattened so that SQLite sees one comment.
// Everything else is left for SQLite; statements must be separated by ';'.
// Returns the rewritten text; on malformed input returns "" and sets *error to a SQL
// Server-like message.
std::string RewriteSqlServerDialect(std::string_view sql, std::string* error);

}  // namespace ost
