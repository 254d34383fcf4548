-- The web platform's database "velin" (DIR/db/velin.sqlite), in SQLite's dialect.
-- The stand-in driver maps velin.dbo.NAME to the table NAME of this file.

-- Web sites and their root folders (Windows paths, as the product stores them).
-- Site ids compare without case, as under SQL Server's default collation.
CREATE TABLE web_main (
  wcid TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,
  wcroot TEXT
);

-- Installed web platform database versions; the tool reads the highest cversion.
CREATE TABLE sys_version (
  cversion TEXT NOT NULL,
  cdate TEXT NOT NULL DEFAULT (datetime('now', 'localtime')),
  cnote TEXT
);
