// Environment and connection handles, diagnostics and driver information.
#include <dirent.h>
#include <odbcinst.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "handles.h"
#include "sql_dialect.h"

// unixODBC's own answer to which files hold data sources: the user's (ODBCINI, or
// ~/.odbc.ini) and the system's (odbc.ini in ODBCSYSINI, or its built-in folder).
// libodbcinst exports them, though its header keeps them for its own use; without
// the verify flag they only name the file and create nothing.
extern "C" BOOL _odbcinst_UserINI(char* fileName, BOOL verify);
extern "C" BOOL _odbcinst_SystemINI(char* fileName, BOOL verify);

namespace ost::driver {
namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unordered_map<const void*, SQLSMALLINT>& Registry() {
  static std::unordered_map<const void*, SQLSMALLINT> handles;
  return handles;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// A value of the data source, as the driver manager sees it: from the user's file or,
// failing that, the system's. With an absolute file name, from that file alone.
std::string ProfileValue(const std::string& dsn, const char* key,
                         const std::string& file = "odbc.ini") {
  char buffer[1024] = {0};
  int n = SQLGetPrivateProfileString(dsn.c_str(), key, "", buffer, sizeof buffer, file.c_str());
  if (n <= 0) return "";
  return buffer;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return path;
  return std::string(buffer) + "/" + path;
}

// The files a data source may come from, in the order unixODBC reads them; only
// those that exist (asking about a missing one would make the driver manager create
// it).
std::vector<std::string> DataSourceFiles() {
  std::vector<std::string> files;
  // Both fill in a folder of up to FILENAME_MAX bytes and a file name after it.
  std::vector<char> buffer(2 * FILENAME_MAX + 64, '\0');
  for (auto name : {_odbcinst_UserINI, _odbcinst_SystemINI}) {
    buffer[0] = '\0';
    if (!name(buffer.data(), 0) || buffer[0] == '\0') continue;
    const std::string file = AbsolutePath(buffer.data());
    if (access(file.c_str(), R_OK) == 0) files.push_back(file);
  }
  return files;
}

// The data source's database folder. A relative one is taken from the folder of the
// odbc.ini it is written in, so that a machine root copied with its databases uses
// its own copies; an absolute one is used as it is. Empty when a relative folder
// cannot be placed.
std::string DatabaseFolder(const std::string& dsn, const std::string& configured) {
  if (configured.empty() || configured[0] == '/') return configured;
  for (const std::string& file : DataSourceFiles()) {
    if (ProfileValue(dsn, "Database", file) != configured) continue;
    return file.substr(0, file.rfind('/') + 1) + configured;
  }
  return "";
}

// A file path as a SQLite URI (file:...), so that mode=rw can refuse to create it.
std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        std::strchr("/-._~", c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri + "?mode=rw";
}

bool IsDatabaseName(const std::string& name) {
  if (name.empty() || SameIgnoringCase(name, "main") || SameIgnoringCase(name, "temp")) {
    return false;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

// The databases of the folder: every NAME.sqlite whose NAME is an identifier.
std::vector<std::string> DatabaseFiles(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string file = entry->d_name;
    const std::string suffix = ".sqlite";
    if (file.size() <= suffix.size() ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    std::string name = file.substr(0, file.size() - suffix.size());
    if (IsDatabaseName(name)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// Objects live in the attached databases; the empty main database stays empty.
int Authorize(void* data, int action, const char* object, const char*, const char* database,
              const char*) {
  auto* dbc = static_cast<Dbc*>(data);
  const bool unnamed =
      database && (std::strcmp(database, "main") == 0 || std::strcmp(database, "temp") == 0);
  switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
      dbc->denied = "ATTACH and DETACH are not available: the server's databases are fixed.";
      return SQLITE_DENY;
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_CREATE_TEMP_TABLE:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_TEMP_VIEW:
      dbc->denied = "Temporary objects are not supported.";
      return SQLITE_DENY;
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_VIEW:
      if (!unnamed) return SQLITE_OK;
      dbc->denied = std::string("'") + (object ? object : "") +
                    "' names no database: create it as db.dbo.name (ostra.dbo." +
                    (object ? object : "name") + ").";
      return SQLITE_DENY;
    default:
      return SQLITE_OK;
  }
}

SQLRETURN Finish(Diagnostics* diag, SQLRETURN code) {
  diag->lastReturn = code;
  return code;
}

// wide: user and password came through a wide entry point, UTF-8 already.
SQLRETURN Connect(Dbc* dbc, const std::string& dsn, std::string user, std::string password,
                  bool wide) {
  if (dbc->db) {
    dbc->diag.Add("08002", "Connection name in use");
    return SQL_ERROR;
  }
  const std::string configuredFolder = ProfileValue(dsn, "Database");
  const std::string loginUser = ProfileValue(dsn, "UID");
  const std::string loginPassword = ProfileValue(dsn, "PWD");
  std::string charsetError;
  if (!dbc->charset.Select(ProfileValue(dsn, "ClientCharset"), &charsetError)) {
    dbc->diag.Add("08001", charsetError);
    return SQL_ERROR;
  }
  if (user.empty()) {  // the data source's own login
    user = loginUser;
    password = loginPassword;
  } else if (!wide) {
    user = dbc->charset.ToUtf8(user);
    password = dbc->charset.ToUtf8(password);
  }
  if (loginUser.empty() || !SameIgnoringCase(user, loginUser) || password != loginPassword) {
    dbc->diag.Add("28000", "Login failed for user '" + user + "'.");
    return SQL_ERROR;
  }
  const std::string folder = DatabaseFolder(dsn, configuredFolder);
  struct stat info;
  if (folder.empty() || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::string where = configuredFolder;
    if (folder != configuredFolder) {
      where += folder.empty() ? ", in no odbc.ini file found" : ", here " + folder;
    }
    dbc->diag.Add("08001", "The data source '" + dsn +
                               "' names no database folder (Database = " + where + ").");
    return SQL_ERROR;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(":memory:", &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
  std::vector<std::string> attached;
  for (const std::string& name :
       rc == SQLITE_OK ? DatabaseFiles(folder) : std::vector<std::string>()) {
    const std::string sql = "ATTACH DATABASE ? AS \"" + name + "\"";
    sqlite3_stmt* attach = nullptr;
    rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &attach, nullptr);
    if (rc == SQLITE_OK) {
      const std::string uri = FileUri(folder + "/" + name + ".sqlite");
      sqlite3_bind_text(attach, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
      rc = sqlite3_step(attach);
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(attach);
    if (rc != SQLITE_OK) {
      dbc->diag.Add("08001", "Database '" + name + "' cannot be opened: " + sqlite3_errmsg(db),
                    sqlite3_extended_errcode(db));
      break;
    }
    attached.push_back(name);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, dbc->readOnly ? "PRAGMA query_only = 1" : "PRAGMA foreign_keys = 1",
                      nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    if (dbc->diag.records.empty()) {
      dbc->diag.Add("08001", db ? sqlite3_errmsg(db) : "out of memory", rc);
    }
    sqlite3_close_v2(db);
    return SQL_ERROR;
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_set_authorizer(db, Authorize, dbc);
  dbc->db = db;
  dbc->dsn = dsn;
  dbc->user = user;
  dbc->databases = attached;
  return SQL_SUCCESS;
}

// KEY=value;KEY={value with ; and }} inside};...
std::map<std::string, std::string> ParseConnectionString(std::string_view text) {
  std::map<std::string, std::string> pairs;
  size_t i = 0;
  while (i < text.size()) {
    const size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) break;
    std::string key;
    for (char c : text.substr(i, equals - i)) {
      if (c != ' ') key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::string value;
    i = equals + 1;
    if (i < text.size() && text[i] == '{') {
      for (++i; i < text.size(); ++i) {
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            value += '}';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        value += text[i];
      }
      const size_t semicolon = text.find(';', i);
      i = semicolon == std::string_view::npos ? text.size() : semicolon + 1;
    } else {
      const size_t semicolon = text.find(';', i);
      const size_t end = semicolon == std::string_view::npos ? text.size() : semicolon;
      value = std::string(text.substr(i, end - i));
      i = end + 1;
    }
    if (!pairs.count(key)) pairs[key] = value;
  }
  return pairs;
}

std::string QuoteConnectionValue(const std::string& value) {
  if (value.find_first_of(";{}= ") == std::string::npos) return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

SQLRETURN PutSmall(SQLPOINTER value, SQLUSMALLINT number, SQLSMALLINT* length) {
  if (value) *static_cast<SQLUSMALLINT*>(value) = number;
  if (length) *length = sizeof(SQLUSMALLINT);
  return SQL_SUCCESS;
}

SQLRETURN PutWord(SQLPOINTER value, SQLUINTEGER number, SQLSMALLINT* length) {
  if (value) *static_cast<SQLUINTEGER*>(value) = number;
  if (length) *length = sizeof(SQLUINTEGER);
  return SQL_SUCCESS;
}

// The functions this library exports, for SQLGetFunctions.
const SQLUSMALLINT kFunctions[] = {
    SQL_API_SQLALLOCHANDLE,   SQL_API_SQLFREEHANDLE,     SQL_API_SQLSETENVATTR,
    SQL_API_SQLGETENVATTR,    SQL_API_SQLSETCONNECTATTR, SQL_API_SQLGETCONNECTATTR,
    SQL_API_SQLCONNECT,       SQL_API_SQLDRIVERCONNECT,  SQL_API_SQLDISCONNECT,
    SQL_API_SQLEXECDIRECT,    SQL_API_SQLPREPARE,        SQL_API_SQLEXECUTE,
    SQL_API_SQLBINDCOL,       SQL_API_SQLFETCH,          SQL_API_SQLGETDATA,
    SQL_API_SQLNUMRESULTCOLS, SQL_API_SQLDESCRIBECOL,    SQL_API_SQLCOLATTRIBUTE,
    SQL_API_SQLROWCOUNT,      SQL_API_SQLMORERESULTS,    SQL_API_SQLFREESTMT,
    SQL_API_SQLCLOSECURSOR,   SQL_API_SQLGETDIAGREC,     SQL_API_SQLGETDIAGFIELD,
    SQL_API_SQLGETINFO,       SQL_API_SQLGETFUNCTIONS,   SQL_API_SQLNATIVESQL,
    SQL_API_SQLENDTRAN,
};

bool Exported(SQLUSMALLINT id) {
  return std::find(std::begin(kFunctions), std::end(kFunctions), id) != std::end(kFunctions);
}

}  // namespace

void RegisterHandle(void* handle, SQLSMALLINT type) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry()[handle] = type;
}

void UnregisterHandle(void* handle) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().erase(handle);
}

bool IsHandle(const void* handle, SQLSMALLINT type) {
  if (!handle) return false;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = Registry().find(handle);
  return it != Registry().end() && it->second == type;
}

std::string InputText(const SQLCHAR* text, SQLINTEGER length) {
  if (!text) return "";
  const char* chars = reinterpret_cast<const char*>(text);
  if (length == SQL_NTS) return chars;
  if (length < 0) return "";
  return std::string(chars, static_cast<size_t>(length));
}

std::string InputSql(const Dbc* dbc, const SQLCHAR* text, SQLINTEGER length) {
  return dbc->charset.ToUtf8(InputText(text, length));
}

std::string InputWide(const SQLWCHAR* text, SQLINTEGER length) {
  static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");
  if (!text || (length < 0 && length != SQL_NTS)) return "";
  const auto* units = reinterpret_cast<const char16_t*>(text);
  return Utf16ToUtf8(length == SQL_NTS ? std::u16string_view(units)
                                       : std::u16string_view(units, static_cast<size_t>(length)));
}

void AddSqliteError(Diagnostics* diag, Dbc* dbc, int code) {
  const int extended = dbc->db ? sqlite3_extended_errcode(dbc->db) : code;
  std::string message = dbc->db ? sqlite3_errmsg(dbc->db) : sqlite3_errstr(code);
  if ((code & 0xFF) == SQLITE_AUTH && !dbc->denied.empty()) {
    diag->Add("42000", dbc->denied, extended);
    return;
  }
  // A database that is not attached: say so, as the server would.
  std::string database;
  const std::string noTable = "no such table: ";
  const std::string noDatabase = "unknown database ";
  if (message.compare(0, noTable.size(), noTable) == 0) {
    const size_t dot = message.find('.', noTable.size());
    if (dot != std::string::npos) database = message.substr(noTable.size(), dot - noTable.size());
  } else if (message.compare(0, noDatabase.size(), noDatabase) == 0) {
    database = message.substr(noDatabase.size());
  }
  if (!database.empty() &&
      std::none_of(dbc->databases.begin(), dbc->databases.end(),
                   [&](const std::string& name) { return SameIgnoringCase(name, database); })) {
    diag->Add("42000",
              "Database '" + database +
                  "' does not exist. Make sure that the name is entered "
                  "correctly.",
              extended);
    return;
  }
  diag->Add(SqliteErrorState(extended, message), message, extended);
}

void Trace(const char* function) {
  static FILE* file = [] {
    const char* path = std::getenv("OST_ODBC_TRACE");
    return path && *path ? std::fopen(path, "a") : nullptr;
  }();
  if (file) {
    std::fprintf(file, "%s\n", function);
    std::fflush(file);
  }
}

}  // namespace ost::driver

using namespace ost;
using namespace ost::driver;

OST_ODBC_EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input,
                                                 SQLHANDLE* output) {
  Trace("SQLAllocHandle");
  if (!output) return SQL_ERROR;
  *output = SQL_NULL_HANDLE;
  switch (type) {
    case SQL_HANDLE_ENV: {
      auto* env = new Env;
      RegisterHandle(env, SQL_HANDLE_ENV);
      *output = env;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Env* env = Find<Env>(input, SQL_HANDLE_ENV);
      if (!env) return SQL_INVALID_HANDLE;
      env->diag.Clear();
      auto* dbc = new Dbc;
      dbc->env = env;
      env->connections.push_back(dbc);
      RegisterHandle(dbc, SQL_HANDLE_DBC);
      *output = dbc;
      return Finish(&env->diag, SQL_SUCCESS);
    }
    case SQL_HANDLE_STMT: {
      Dbc* dbc = Find<Dbc>(input, SQL_HANDLE_DBC);
      if (!dbc) return SQL_INVALID_HANDLE;
      dbc->diag.Clear();
      if (!dbc->db) {
        dbc->diag.Add("08003", "Connection not open");
        return Finish(&dbc->diag, SQL_ERROR);
      }
      auto* stmt = new Stmt;
      stmt->dbc = dbc;
      dbc->statements.push_back(stmt);
      RegisterHandle(stmt, SQL_HANDLE_STMT);
      *output = stmt;
      return Finish(&dbc->diag, SQL_SUCCESS);
    }
    case SQL_HANDLE_DESC: {
      Dbc* dbc = Find<Dbc>(input, SQL_HANDLE_DBC);
      if (!dbc) return SQL_INVALID_HANDLE;
      dbc->diag.Clear();
      dbc->diag.Add("HYC00", "Optional feature not implemented (descriptor handles)");
      return Finish(&dbc->diag, SQL_ERROR);
    }
    default:
      return SQL_ERROR;
  }
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  Trace("SQLFreeHandle");
  switch (type) {
    case SQL_HANDLE_ENV: {
      Env* env = Find<Env>(handle, SQL_HANDLE_ENV);
      if (!env) return SQL_INVALID_HANDLE;
      env->diag.Clear();
      if (!env->connections.empty()) {
        env->diag.Add("HY010", "Function sequence error (connections remain)");
        return Finish(&env->diag, SQL_ERROR);
      }
      UnregisterHandle(env);
      delete env;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
      if (!dbc) return SQL_INVALID_HANDLE;
      dbc->diag.Clear();
      if (dbc->db) {
        dbc->diag.Add("HY010", "Function sequence error (still connected)");
        return Finish(&dbc->diag, SQL_ERROR);
      }
      auto& list = dbc->env->connections;
      list.erase(std::remove(list.begin(), list.end(), dbc), list.end());
      UnregisterHandle(dbc);
      delete dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Stmt* stmt = Find<Stmt>(handle, SQL_HANDLE_STMT);
      if (!stmt) return SQL_INVALID_HANDLE;
      DestroyStatement(stmt);
      return SQL_SUCCESS;
    }
    default:
      return SQL_INVALID_HANDLE;
  }
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute,
                                                SQLPOINTER value, SQLINTEGER) {
  Trace("SQLSetEnvAttr");
  Env* env = Find<Env>(handle, SQL_HANDLE_ENV);
  if (!env) return SQL_INVALID_HANDLE;
  env->diag.Clear();
  const auto number = static_cast<SQLINTEGER>(reinterpret_cast<intptr_t>(value));
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      if (number != SQL_OV_ODBC2 && number != SQL_OV_ODBC3 && number != SQL_OV_ODBC3_80) {
        env->diag.Add("HY024", "Invalid attribute value");
        return Finish(&env->diag, SQL_ERROR);
      }
      env->odbcVersion = number;
      return Finish(&env->diag, SQL_SUCCESS);
    case SQL_ATTR_OUTPUT_NTS:
      if (number == SQL_TRUE) return Finish(&env->diag, SQL_SUCCESS);
      break;
    case SQL_ATTR_CONNECTION_POOLING:
      if (number == static_cast<SQLINTEGER>(SQL_CP_OFF)) return Finish(&env->diag, SQL_SUCCESS);
      break;
    case SQL_ATTR_CP_MATCH:
      if (number == static_cast<SQLINTEGER>(SQL_CP_STRICT_MATCH)) {
        return Finish(&env->diag, SQL_SUCCESS);
      }
      break;
    default:
      env->diag.Add("HY092", "Invalid attribute/option identifier");
      return Finish(&env->diag, SQL_ERROR);
  }
  env->diag.Add("HYC00", "Optional feature not implemented");
  return Finish(&env->diag, SQL_ERROR);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute,
                                                SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  Trace("SQLGetEnvAttr");
  Env* env = Find<Env>(handle, SQL_HANDLE_ENV);
  if (!env) return SQL_INVALID_HANDLE;
  env->diag.Clear();
  SQLINTEGER number;
  switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
      number = env->odbcVersion;
      break;
    case SQL_ATTR_OUTPUT_NTS:
      number = SQL_TRUE;
      break;
    case SQL_ATTR_CONNECTION_POOLING:
      number = static_cast<SQLINTEGER>(SQL_CP_OFF);
      break;
    case SQL_ATTR_CP_MATCH:
      number = static_cast<SQLINTEGER>(SQL_CP_STRICT_MATCH);
      break;
    default:
      env->diag.Add("HY092", "Invalid attribute/option identifier");
      return Finish(&env->diag, SQL_ERROR);
  }
  if (value) *static_cast<SQLINTEGER*>(value) = number;
  if (length) *length = sizeof(SQLINTEGER);
  return Finish(&env->diag, SQL_SUCCESS);
}

namespace {

// The exported names resolve to the driver manager's own from inside this library, so the
// narrow and wide entry points share these rather than calling one another.
SQLRETURN SetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value) {
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  const auto number = static_cast<SQLUINTEGER>(reinterpret_cast<uintptr_t>(value));
  switch (attribute) {
    case SQL_ATTR_LOGIN_TIMEOUT:
      dbc->loginTimeout = number;
      return Finish(&dbc->diag, SQL_SUCCESS);
    case SQL_ATTR_CONNECTION_TIMEOUT:
      dbc->connectionTimeout = number;
      return Finish(&dbc->diag, SQL_SUCCESS);
    case SQL_ATTR_AUTOCOMMIT:
      // Back to autocommit commits what is open, as ODBC has it.
      if (number == SQL_AUTOCOMMIT_ON && dbc->db && !EndTransaction(dbc, true)) {
        AddSqliteError(&dbc->diag, dbc, sqlite3_errcode(dbc->db));
        return Finish(&dbc->diag, SQL_ERROR);
      }
      dbc->autocommit = number == SQL_AUTOCOMMIT_ON;
      return Finish(&dbc->diag, SQL_SUCCESS);
    case SQL_ATTR_TXN_ISOLATION:
      if (number == SQL_TXN_SERIALIZABLE) return Finish(&dbc->diag, SQL_SUCCESS);
      dbc->diag.Add("HYC00", "Optional feature not implemented (isolation level)");
      return Finish(&dbc->diag, SQL_ERROR);
    case SQL_ATTR_ACCESS_MODE:
      dbc->readOnly = number == SQL_MODE_READ_ONLY;
      if (dbc->db) {
        sqlite3_exec(dbc->db, dbc->readOnly ? "PRAGMA query_only = 1" : "PRAGMA query_only = 0",
                     nullptr, nullptr, nullptr);
      }
      return Finish(&dbc->diag, SQL_SUCCESS);
    case SQL_ATTR_ANSI_APP:
      // The narrow entry points take text in the data source's ClientCharset (UTF-8 unless
      // set) and the wide ones UTF-16, whichever kind the application says it is.
      return Finish(&dbc->diag, SQL_SUCCESS);
    default:
      dbc->diag.Add("HYC00", "Optional feature not implemented (connection attribute " +
                                 std::to_string(attribute) + ")");
      return Finish(&dbc->diag, SQL_ERROR);
  }
}

SQLRETURN GetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                         SQLINTEGER* length) {
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  SQLUINTEGER number;
  switch (attribute) {
    case SQL_ATTR_LOGIN_TIMEOUT:
      number = dbc->loginTimeout;
      break;
    case SQL_ATTR_CONNECTION_TIMEOUT:
      number = dbc->connectionTimeout;
      break;
    case SQL_ATTR_AUTOCOMMIT:
      number = dbc->autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
      break;
    case SQL_ATTR_TXN_ISOLATION:
      number = SQL_TXN_SERIALIZABLE;
      break;
    case SQL_ATTR_ACCESS_MODE:
      number = dbc->readOnly ? SQL_MODE_READ_ONLY : SQL_MODE_READ_WRITE;
      break;
    case SQL_ATTR_CONNECTION_DEAD:
      number = dbc->db ? SQL_CD_FALSE : SQL_CD_TRUE;
      break;
    default:
      dbc->diag.Add("HYC00", "Optional feature not implemented (connection attribute " +
                                 std::to_string(attribute) + ")");
      return Finish(&dbc->diag, SQL_ERROR);
  }
  if (value) *static_cast<SQLUINTEGER*>(value) = number;
  if (length) *length = sizeof(SQLUINTEGER);
  return Finish(&dbc->diag, SQL_SUCCESS);
}

}  // namespace

OST_ODBC_EXPORT SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC handle, SQLINTEGER attribute,
                                                    SQLPOINTER value, SQLINTEGER) {
  Trace("SQLSetConnectAttr");
  return SetConnectAttr(handle, attribute, value);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC handle, SQLINTEGER attribute,
                                                    SQLPOINTER value, SQLINTEGER,
                                                    SQLINTEGER* length) {
  Trace("SQLGetConnectAttr");
  return GetConnectAttr(handle, attribute, value, length);
}

// The connection attributes the driver knows are all numbers: the same in both forms.
OST_ODBC_EXPORT SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute,
                                                     SQLPOINTER value, SQLINTEGER length) {
  Trace("SQLSetConnectAttrW");
  (void)length;
  return SetConnectAttr(handle, attribute, value);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute,
                                                     SQLPOINTER value, SQLINTEGER bufferLength,
                                                     SQLINTEGER* length) {
  Trace("SQLGetConnectAttrW");
  (void)bufferLength;
  return GetConnectAttr(handle, attribute, value, length);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC handle, SQLCHAR* server,
                                             SQLSMALLINT serverLength, SQLCHAR* user,
                                             SQLSMALLINT userLength, SQLCHAR* password,
                                             SQLSMALLINT passwordLength) {
  Trace("SQLConnect");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return Finish(&dbc->diag,
                Connect(dbc, InputText(server, serverLength), InputText(user, userLength),
                        InputText(password, passwordLength), false));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLConnectW(SQLHDBC handle, SQLWCHAR* server,
                                              SQLSMALLINT serverLength, SQLWCHAR* user,
                                              SQLSMALLINT userLength, SQLWCHAR* password,
                                              SQLSMALLINT passwordLength) {
  Trace("SQLConnectW");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return Finish(&dbc->diag,
                Connect(dbc, InputWide(server, serverLength), InputWide(user, userLength),
                        InputWide(password, passwordLength), true));
}

namespace {

// in is UTF-8 for a wide application; the completed string goes out through out.
SQLRETURN DriverConnect(Dbc* dbc, const std::string& in, const TextOut& out, SQLPOINTER buffer,
                        SQLSMALLINT bufferLength, SQLSMALLINT* outLength) {
  // Nothing is ever prompted for: every completion mode behaves as SQL_DRIVER_NOPROMPT.
  auto pairs = ParseConnectionString(in);
  const std::string dsn = pairs["DSN"];
  if (dsn.empty()) {
    dbc->diag.Add("08001", "The connection string names no data source (DSN=...).");
    return Finish(&dbc->diag, SQL_ERROR);
  }
  SQLRETURN rc = Connect(dbc, dsn, pairs["UID"], pairs["PWD"], out.wide);
  if (rc != SQL_SUCCESS) return Finish(&dbc->diag, rc);
  const std::string user = out.wide ? dbc->user : dbc->charset.FromUtf8(dbc->user);
  const std::string complete = "DSN=" + QuoteConnectionValue(dsn) +
                               ";UID=" + QuoteConnectionValue(user) +
                               ";PWD=" + QuoteConnectionValue(pairs["PWD"]) + ";";
  if (out.Put(complete, buffer, bufferLength, outLength, true) == SQL_SUCCESS_WITH_INFO) {
    dbc->diag.Add("01004", "String data, right truncated");
    rc = SQL_SUCCESS_WITH_INFO;
  }
  return Finish(&dbc->diag, rc);
}

}  // namespace

OST_ODBC_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC handle, SQLHWND, SQLCHAR* in,
                                                   SQLSMALLINT inLength, SQLCHAR* out,
                                                   SQLSMALLINT outMax, SQLSMALLINT* outLength,
                                                   SQLUSMALLINT) {
  Trace("SQLDriverConnect");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return DriverConnect(dbc, InputText(in, inLength), TextOut::Narrow(dbc->charset), out, outMax,
                       outLength);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC handle, SQLHWND, SQLWCHAR* in,
                                                    SQLSMALLINT inLength, SQLWCHAR* out,
                                                    SQLSMALLINT outMax, SQLSMALLINT* outLength,
                                                    SQLUSMALLINT) {
  Trace("SQLDriverConnectW");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return DriverConnect(dbc, InputWide(in, inLength), TextOut::Wide(WideUnit::kCharacters), out,
                       outMax, outLength);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle) {
  Trace("SQLDisconnect");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  if (!dbc->db) {
    dbc->diag.Add("08003", "Connection not open");
    return Finish(&dbc->diag, SQL_ERROR);
  }
  // Disconnecting frees the connection's statements.
  while (!dbc->statements.empty()) DestroyStatement(dbc->statements.back());
  sqlite3_close_v2(dbc->db);
  dbc->db = nullptr;
  dbc->databases.clear();
  return Finish(&dbc->diag, SQL_SUCCESS);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle,
                                             SQLSMALLINT completion) {
  Trace("SQLEndTran");
  if (completion != SQL_COMMIT && completion != SQL_ROLLBACK) {
    Diagnostics* diag = nullptr;
    if (Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC)) diag = &dbc->diag;
    if (Env* env = Find<Env>(handle, SQL_HANDLE_ENV)) diag = &env->diag;
    if (!diag) return SQL_INVALID_HANDLE;
    diag->Clear();
    diag->Add("HY012", "Invalid transaction operation code");
    return Finish(diag, SQL_ERROR);
  }
  const bool commit = completion == SQL_COMMIT;
  if (type == SQL_HANDLE_ENV) {
    Env* env = Find<Env>(handle, SQL_HANDLE_ENV);
    if (!env) return SQL_INVALID_HANDLE;
    env->diag.Clear();
    bool ok = true;
    for (Dbc* dbc : env->connections) {
      if (dbc->db && !EndTransaction(dbc, commit)) ok = false;
    }
    if (!ok) env->diag.Add("25S01", "Transaction state unknown");
    return Finish(&env->diag, ok ? SQL_SUCCESS : SQL_ERROR);
  }
  if (type != SQL_HANDLE_DBC) return SQL_INVALID_HANDLE;
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  if (!dbc->db) {
    dbc->diag.Add("08003", "Connection not open");
    return Finish(&dbc->diag, SQL_ERROR);
  }
  if (!EndTransaction(dbc, commit)) {
    AddSqliteError(&dbc->diag, dbc, sqlite3_errcode(dbc->db));
    return Finish(&dbc->diag, SQL_ERROR);
  }
  return Finish(&dbc->diag, SQL_SUCCESS);
}

namespace {

SQLRETURN NativeSql(Dbc* dbc, const std::string& in, const TextOut& out, SQLPOINTER buffer,
                    SQLINTEGER bufferLength, SQLINTEGER* outLength) {
  std::string error;
  const std::string sql = RewriteSqlServerDialect(in, &error);
  if (!error.empty()) {
    dbc->diag.Add("42000", error);
    return Finish(&dbc->diag, SQL_ERROR);
  }
  if (out.Put(sql, buffer, bufferLength, outLength) == SQL_SUCCESS_WITH_INFO) {
    dbc->diag.Add("01004", "String data, right truncated");
    return Finish(&dbc->diag, SQL_SUCCESS_WITH_INFO);
  }
  return Finish(&dbc->diag, SQL_SUCCESS);
}

}  // namespace

OST_ODBC_EXPORT SQLRETURN SQL_API SQLNativeSql(SQLHDBC handle, SQLCHAR* in, SQLINTEGER inLength,
                                               SQLCHAR* out, SQLINTEGER outMax,
                                               SQLINTEGER* outLength) {
  Trace("SQLNativeSql");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return NativeSql(dbc, InputSql(dbc, in, inLength), TextOut::Narrow(dbc->charset), out, outMax,
                   outLength);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC handle, SQLWCHAR* in, SQLINTEGER inLength,
                                                SQLWCHAR* out, SQLINTEGER outMax,
                                                SQLINTEGER* outLength) {
  Trace("SQLNativeSqlW");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return NativeSql(dbc, InputWide(in, inLength), TextOut::Wide(WideUnit::kCharacters), out, outMax,
                   outLength);
}

namespace {

SQLRETURN GetInfo(Dbc* dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                  SQLSMALLINT* length, const TextOut& out) {
  std::string text;
  bool raw = true;  // the narrow form of the text is the text itself
  switch (type) {
    case SQL_DRIVER_ODBC_VER:
      text = "03.00";
      break;
    case SQL_DRIVER_NAME:
      text = "libostodbc.so";
      break;
    case SQL_DRIVER_VER:
      text = "01.00.0000";
      break;
    case SQL_DBMS_NAME:
      text = "SQL Server stand-in (SQLite)";
      break;
    case SQL_DBMS_VER: {
      const int v = sqlite3_libversion_number();
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", v / 1000000, v / 1000 % 1000,
                    v % 1000);
      text = buffer;
      break;
    }
    case SQL_DATA_SOURCE_NAME:
    case SQL_SERVER_NAME:
      text = dbc->dsn;
      break;
    case SQL_USER_NAME:
      text = dbc->user;
      raw = false;
      break;
    case SQL_DATA_SOURCE_READ_ONLY:
      text = dbc->readOnly ? "Y" : "N";
      break;
    case SQL_IDENTIFIER_QUOTE_CHAR:
      text = "\"";
      break;
    case SQL_MAX_CONCURRENT_ACTIVITIES:
    case SQL_MAX_DRIVER_CONNECTIONS:
      return Finish(&dbc->diag, PutSmall(value, 0, length));
    case SQL_TXN_CAPABLE:
      // SQLite's transactions take definitions as well as data, as SQL Server's do.
      return Finish(&dbc->diag, PutSmall(value, SQL_TC_ALL, length));
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR:
      return Finish(&dbc->diag, PutSmall(value, SQL_CB_PRESERVE, length));
    case SQL_GETDATA_EXTENSIONS:
      return Finish(&dbc->diag,
                    PutWord(value, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND, length));
    case SQL_SCROLL_OPTIONS:
      return Finish(&dbc->diag, PutWord(value, SQL_SO_FORWARD_ONLY, length));
    case SQL_ASYNC_MODE:
      return Finish(&dbc->diag, PutWord(value, SQL_AM_NONE, length));
    default:
      dbc->diag.Add("HYC00", "Optional feature not implemented (information type " +
                                 std::to_string(type) + ")");
      return Finish(&dbc->diag, SQL_ERROR);
  }
  if (out.Put(text, value, bufferLength, length, raw) == SQL_SUCCESS_WITH_INFO) {
    dbc->diag.Add("01004", "String data, right truncated");
    return Finish(&dbc->diag, SQL_SUCCESS_WITH_INFO);
  }
  return Finish(&dbc->diag, SQL_SUCCESS);
}

}  // namespace

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value,
                                             SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  Trace("SQLGetInfo");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return GetInfo(dbc, type, value, bufferLength, length, TextOut::Narrow(dbc->charset));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetInfoW(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value,
                                              SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  Trace("SQLGetInfoW");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  return GetInfo(dbc, type, value, bufferLength, length, TextOut::Wide(WideUnit::kBytes));
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC handle, SQLUSMALLINT id,
                                                  SQLUSMALLINT* supported) {
  Trace("SQLGetFunctions");
  Dbc* dbc = Find<Dbc>(handle, SQL_HANDLE_DBC);
  if (!dbc) return SQL_INVALID_HANDLE;
  dbc->diag.Clear();
  if (!supported) return Finish(&dbc->diag, SQL_SUCCESS);
  if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::fill(supported, supported + SQL_API_ODBC3_ALL_FUNCTIONS_SIZE, 0);
    for (SQLUSMALLINT f : kFunctions) supported[f >> 4] |= static_cast<SQLUSMALLINT>(1 << (f & 15));
  } else if (id == SQL_API_ALL_FUNCTIONS) {
    std::fill(supported, supported + 100, 0);
    for (SQLUSMALLINT f : kFunctions) {
      if (f < 100) supported[f] = SQL_TRUE;
    }
  } else {
    *supported = Exported(id) ? SQL_TRUE : SQL_FALSE;
  }
  return Finish(&dbc->diag, SQL_SUCCESS);
}

namespace {

Diagnostics* HandleDiagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string* server,
                               const Dbc** dbc) {
  switch (type) {
    case SQL_HANDLE_ENV:
      if (Env* env = Find<Env>(handle, type)) return &env->diag;
      return nullptr;
    case SQL_HANDLE_DBC:
      if (Dbc* connection = Find<Dbc>(handle, type)) {
        *server = connection->dsn;
        *dbc = connection;
        return &connection->diag;
      }
      return nullptr;
    case SQL_HANDLE_STMT:
      if (Stmt* stmt = Find<Stmt>(handle, type)) {
        *server = stmt->dbc->dsn;
        *dbc = stmt->dbc;
        return &stmt->diag;
      }
      return nullptr;
    default:
      return nullptr;
  }
}

// The records with their messages in the application's character set.
Diagnostics ForClient(const Diagnostics& diag, const Dbc* dbc) {
  Diagnostics copy = diag;
  if (dbc && dbc->charset.converts()) {
    for (DiagRecord& record : copy.records) record.message = dbc->charset.FromUtf8(record.message);
  }
  return copy;
}

}  // namespace

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle,
                                                SQLSMALLINT record, SQLCHAR* state,
                                                SQLINTEGER* native, SQLCHAR* message,
                                                SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  Trace("SQLGetDiagRec");
  std::string server;
  const Dbc* dbc = nullptr;
  Diagnostics* diag = HandleDiagnostics(type, handle, &server, &dbc);
  if (!diag) return SQL_INVALID_HANDLE;
  return GetDiagRec(ForClient(*diag, dbc), record, state, native, message, bufferLength, length);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle,
                                                  SQLSMALLINT record, SQLSMALLINT identifier,
                                                  SQLPOINTER info, SQLSMALLINT bufferLength,
                                                  SQLSMALLINT* length) {
  Trace("SQLGetDiagField");
  std::string server;
  const Dbc* dbc = nullptr;
  Diagnostics* diag = HandleDiagnostics(type, handle, &server, &dbc);
  if (!diag) return SQL_INVALID_HANDLE;
  return GetDiagField(ForClient(*diag, dbc), type, record, identifier, info, bufferLength, length,
                      server);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle,
                                                 SQLSMALLINT record, SQLWCHAR* state,
                                                 SQLINTEGER* native, SQLWCHAR* message,
                                                 SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  Trace("SQLGetDiagRecW");
  std::string server;
  const Dbc* dbc = nullptr;
  Diagnostics* diag = HandleDiagnostics(type, handle, &server, &dbc);
  if (!diag) return SQL_INVALID_HANDLE;
  if (record < 1 || bufferLength < 0) return SQL_ERROR;
  if (static_cast<size_t>(record) > diag->records.size()) return SQL_NO_DATA;
  // The records hold UTF-8: the wide form needs no character set.
  const DiagRecord& r = diag->records[static_cast<size_t>(record) - 1];
  if (state)
    CopyOutWide(r.state, state, 6, WideUnit::kCharacters, static_cast<SQLSMALLINT*>(nullptr));
  if (native) *native = r.native;
  return CopyOutWide(r.message, message, bufferLength, WideUnit::kCharacters, length);
}

OST_ODBC_EXPORT SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle,
                                                   SQLSMALLINT record, SQLSMALLINT identifier,
                                                   SQLPOINTER info, SQLSMALLINT bufferLength,
                                                   SQLSMALLINT* length) {
  Trace("SQLGetDiagFieldW");
  std::string server;
  const Dbc* dbc = nullptr;
  Diagnostics* diag = HandleDiagnostics(type, handle, &server, &dbc);
  if (!diag) return SQL_INVALID_HANDLE;
  switch (identifier) {
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_DYNAMIC_FUNCTION: {
      // The field's text, whole, then in its wide form.
      if (bufferLength < 0) return SQL_ERROR;
      SQLSMALLINT size = 0;
      SQLRETURN rc = GetDiagField(*diag, type, record, identifier, nullptr, 0, &size, server);
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return rc;
      std::vector<char> text(static_cast<size_t>(size) + 1, '\0');
      rc = GetDiagField(*diag, type, record, identifier, text.data(),
                        static_cast<SQLSMALLINT>(text.size()), &size, server);
      if (rc != SQL_SUCCESS) return rc;
      return CopyOutWide(std::string_view(text.data(), static_cast<size_t>(size)), info,
                         bufferLength, WideUnit::kBytes, length);
    }
    default:
      return GetDiagField(*diag, type, record, identifier, info, bufferLength, length, server);
  }
}
