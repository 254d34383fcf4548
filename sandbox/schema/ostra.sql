-- The product database "ostra" (DIR/db/ostra.sqlite), in SQLite's dialect.
-- The stand-in driver maps ostra.dbo.NAME to the table NAME of this file.

-- Installed database versions; the tool reads the highest cversion.
CREATE TABLE sys_version (
  cversion TEXT NOT NULL,
  cdate TEXT NOT NULL DEFAULT (datetime('now', 'localtime')),
  cnote TEXT
);

-- Installed update number nn of each managed component ii. An ii may have several rows.
CREATE TABLE sys_server_update (
  ii INTEGER NOT NULL,
  nn INTEGER NOT NULL,
  cdate TEXT NOT NULL DEFAULT (datetime('now', 'localtime'))
);

-- Product settings: '29' web platform present ("1"), '45' web site id.
-- Names compare without case, as under SQL Server's default collation.
CREATE TABLE sys_dict (
  dcname TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,
  dcvalue TEXT
);

-- Every call of cp_sys_server_update_set, with what the caller said about it.
CREATE TABLE sys_server_update_log (
  ii INTEGER,
  nn INTEGER,
  cname TEXT,
  cdesc TEXT,
  cdate TEXT NOT NULL DEFAULT (datetime('now', 'localtime'))
);

-- The procedure cp_sys_server_update_set(index, version, display name, description):
-- {CALL ostra.dbo.cp_sys_server_update_set(...)} inserts one row into this view, and the
-- trigger records the version of that index.
CREATE VIEW cp_sys_server_update_set (ii, nn, cname, cdesc) AS
  SELECT NULL, NULL, NULL, NULL WHERE 0;

CREATE TRIGGER cp_sys_server_update_set_run
INSTEAD OF INSERT ON cp_sys_server_update_set
BEGIN
  UPDATE sys_server_update
     SET nn = NEW.nn, cdate = datetime('now', 'localtime')
   WHERE ii = NEW.ii;
  INSERT INTO sys_server_update (ii, nn)
    SELECT NEW.ii, NEW.nn
     WHERE NOT EXISTS (SELECT 1 FROM sys_server_update WHERE ii = NEW.ii);
  INSERT INTO sys_server_update_log (ii, nn, cname, cdesc)
    VALUES (NEW.ii, NEW.nn, NEW.cname, NEW.cdesc);
END;
