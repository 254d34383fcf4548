#include "sandbox_db.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace ost {

// The schema files, embedded at build time (generated sandbox_schema.cpp).
extern const char kOstraSchemaSql[];
extern const char kVelinSchemaSql[];

namespace {

bool MakeDirs(const std::string& path, std::string* error) {
  for (size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != '/') continue;
    const std::string partial = path.substr(0, end);
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot create " + partial + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::vector<char> buffer(4096);
  if (!getcwd(buffer.data(), buffer.size())) return path;
  return std::string(buffer.data()) + "/" + path;
}

// An absolute path without "." and "name/.." steps and repeated or trailing slashes,
// worked out on the text alone.
std::string Normalized(const std::string& absolute) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string part = absolute.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string path;
  for (const std::string& part : parts) path += "/" + part;
  return path.empty() ? "/" : path;
}

// The database folder as odbc.ini names it: relative to odbcDir when it lies in the
// folder that holds odbcDir (the machine root), so that a copy of the root uses its own
// databases; absolute otherwise.
std::string DatabaseFolderEntry(const std::string& odbcDir, const std::string& dbDir) {
  const std::string db = Normalized(Absolute(dbDir));
  const std::string odbc = Normalized(Absolute(odbcDir));
  const size_t slash = odbc.rfind('/');
  if (slash == 0 || slash == std::string::npos) return db;
  const std::string root = odbc.substr(0, slash);
  if (db == root) return "..";
  if (db.compare(0, root.size() + 1, root + "/") != 0) return db;
  return "../" + db.substr(root.size() + 1);
}

bool RemoveDatabaseFiles(const std::string& path, std::string* error) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string file = path + suffix;
    if (std::remove(file.c_str()) != 0 && errno != ENOENT) {
      *error = "cannot remove " + file + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// One database file, open for the duration of its filling.
class Database {
 public:
  Database(const std::string& path, bool create, std::string* error) : path_(path), error_(error) {
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) Fail();
  }
  ~Database() { sqlite3_close(db_); }

  bool ok() const { return ok_; }

  bool Exec(const char* sql) {
    if (ok_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
    return ok_;
  }

  // Runs sql with text parameters.
  bool Run(const char* sql, const std::vector<std::string>& values) {
    if (!ok_) return false;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) return Fail();
    for (size_t i = 0; i < values.size(); ++i) {
      sqlite3_bind_text(st, static_cast<int>(i + 1), values[i].data(),
                        static_cast<int>(values[i].size()), SQLITE_TRANSIENT);
    }
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return Fail();
    return true;
  }

 private:
  bool Fail() {
    ok_ = false;
    *error_ = path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open");
    return false;
  }

  std::string path_;
  std::string* error_;
  sqlite3* db_ = nullptr;
  bool ok_ = true;
};

bool FillOstra(Database* db, const SandboxDbOptions& options) {
  if (!db->Exec(kOstraSchemaSql) || !db->Exec("BEGIN")) return false;
  if (!options.ostraVersion.empty()) {
    db->Run("INSERT INTO sys_version (cversion) VALUES (?)", {options.ostraVersion});
  }
  for (size_t ii = 0; ii < options.componentNumbers.size(); ++ii) {
    if (options.componentNumbers[ii] < 0) continue;
    db->Run("INSERT INTO sys_server_update (ii, nn) VALUES (?, ?)",
            {std::to_string(ii), std::to_string(options.componentNumbers[ii])});
  }
  db->Run("INSERT INTO sys_dict (dcname, dcvalue) VALUES ('29', ?)",
          {options.velinEnabled ? "1" : "0"});
  db->Run("INSERT INTO sys_dict (dcname, dcvalue) VALUES ('45', ?)", {options.siteId});
  return db->Exec("COMMIT");
}

bool FillVelin(Database* db, const SandboxDbOptions& options) {
  if (!db->Exec(kVelinSchemaSql) || !db->Exec("BEGIN")) return false;
  if (options.webMainRow) {
    db->Run("INSERT INTO web_main (wcid, wcroot) VALUES (?, ?)", {options.siteId, options.webRoot});
  }
  if (!options.velinVersion.empty()) {
    db->Run("INSERT INTO sys_version (cversion) VALUES (?)", {options.velinVersion});
  }
  return db->Exec("COMMIT");
}

// odbc.ini holds one value per line; unixODBC trims the blanks around it.
bool CheckIniValue(const char* what, const std::string& value, std::string* error) {
  const bool blankEnds = !value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                            value.back() == ' ' || value.back() == '\t');
  if (value.find_first_of("\r\n") != std::string::npos || blankEnds) {
    *error = std::string(what) + " cannot be stored in odbc.ini (line break or blanks at an end)";
    return false;
  }
  return true;
}

bool WriteFile(const std::string& path, const std::string& text, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  const bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file && std::fclose(file) != 0) file = nullptr;
  if (!ok || !file) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool CreateSandboxDatabases(const std::string& dbDir, const SandboxDbOptions& options,
                            std::string* error) {
  if (!MakeDirs(dbDir, error)) return false;
  const std::string ostraPath = dbDir + "/ostra.sqlite";
  const std::string velinPath = dbDir + "/velin.sqlite";
  if (!RemoveDatabaseFiles(ostraPath, error) || !RemoveDatabaseFiles(velinPath, error)) {
    return false;
  }
  if (options.createOstra) {
    Database db(ostraPath, true, error);
    if (!FillOstra(&db, options)) return false;
  }
  if (options.createVelin) {
    Database db(velinPath, true, error);
    if (!FillVelin(&db, options)) return false;
  }
  return true;
}

bool RunSandboxSql(const std::string& dbDir, const std::string& database, const std::string& sql,
                   std::string* error) {
  Database db(dbDir + "/" + database + ".sqlite", false, error);
  return db.Exec(sql.c_str());
}

bool WriteOdbcConfig(const std::string& odbcDir, const std::string& driverPath,
                     const std::string& dbDir, const std::string& dsn, const std::string& user,
                     const std::string& password, std::string* error,
                     const std::string& clientCharset) {
  if (!CheckIniValue("client character set", clientCharset, error) ||
      !CheckIniValue("driver path", driverPath, error) ||
      !CheckIniValue("database folder", dbDir, error) || !CheckIniValue("user", user, error) ||
      !CheckIniValue("password", password, error) || !CheckIniValue("DSN", dsn, error)) {
    return false;
  }
  if (dsn.empty() || dsn.find_first_of("[]") != std::string::npos) {
    *error = "the DSN must be a non-empty name without brackets";
    return false;
  }
  if (!MakeDirs(odbcDir, error)) return false;
  const std::string driverText = std::string("[") + kSandboxOdbcDriverName +
                                 "]\n"
                                 "Description = SQL Server stand-in over SQLite (ost sandbox)\n"
                                 "Driver = " +
                                 Absolute(driverPath) + "\n";
  const std::string sourceText =
      "[" + dsn +
      "]\n"
      "Description = The product's SQL Server (sandbox stand-in)\n"
      "Driver = " +
      kSandboxOdbcDriverName +
      "\n"
      "Database = " +
      DatabaseFolderEntry(odbcDir, dbDir) + "\nUID = " + user + "\nPWD = " + password + "\n" +
      (clientCharset.empty() ? "" : "ClientCharset = " + clientCharset + "\n");
  return WriteFile(odbcDir + "/odbcinst.ini", driverText, error) &&
         WriteFile(odbcDir + "/odbc.ini", sourceText, error);
}

}  // namespace ost
