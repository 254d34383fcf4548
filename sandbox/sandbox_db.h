// The sandbox's product databases (SQLite files behind the SQL Server stand-in driver) and
// the driver manager's configuration that reaches them.
#pragma once

#include <array>
#include <string>

namespace ost {

struct SandboxDbOptions {
  bool createOstra = true;            // false: no ostra.sqlite at all (a missing database)
  bool createVelin = true;            // false: no velin.sqlite
  std::string ostraVersion = "3.80";  // ostra sys_version row; empty: no row
  bool velinEnabled = true;           // sys_dict '29': "1", or "0" when false
  std::string siteId = "site";        // sys_dict '45', and web_main's wcid
  bool webMainRow = true;             // whether web_main has the row siteId -> webRoot
  std::string webRoot = "D:\\wwwroot";
  std::string velinVersion = "7.0";  // velin sys_version row; empty: no row
  // sys_server_update: the nn of component ii = 0..5; -1: no row for that ii.
  std::array<int, 6> componentNumbers = {-1, -1, -1, -1, -1, -1};
};

// The driver's name in odbcinst.ini.
inline constexpr char kSandboxOdbcDriverName[] = "OST SQL Server stand-in";

// Creates dbDir (if needed) and in it ostra.sqlite and velin.sqlite afresh from the
// sandbox schema, filled as options say.
bool CreateSandboxDatabases(const std::string& dbDir, const SandboxDbOptions& options,
                            std::string* error);

// Runs SQL (SQLite's dialect, bare table names) on dbDir/<database>.sqlite, for situations
// the options do not cover. The file must exist.
bool RunSandboxSql(const std::string& dbDir, const std::string& database, const std::string& sql,
                   std::string* error);

// Writes odbcDir/odbcinst.ini (the driver at driverPath) and odbcDir/odbc.ini (the data
// source dsn over dbDir, whose only valid login is user/password). unixODBC reads them
// when ODBCSYSINI names odbcDir. The driver path is stored absolute; the database folder
// relative to odbcDir when it lies in odbcDir's parent folder (the machine root), so that
// a copied root uses its own databases, and absolute otherwise. A client character set
// (an iconv name) makes the data source convert its clients' text from and to it.
bool WriteOdbcConfig(const std::string& odbcDir, const std::string& driverPath,
                     const std::string& dbDir, const std::string& dsn, const std::string& user,
                     const std::string& password, std::string* error,
                     const std::string& clientCharset = "");

}  // namespace ost
