#include "platform/posix/reg_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ost {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
// regedit breaks a hex list once a line has grown past this many characters.
constexpr size_t kHexWrapColumn = 76;

bool IsGbkLead(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}

bool IsGbkTrail(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// 2 for a GBK double-byte character at text[pos], else 1.
size_t CharWidth(std::string_view text, size_t pos) {
  if (IsGbkLead(text[pos]) && pos + 1 < text.size() && IsGbkTrail(text[pos + 1])) return 2;
  return 1;
}

char AsciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Upper-cases ASCII letters but leaves the trail bytes of GBK characters alone, as
// those are not letters even where their value says so.
std::string FoldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    size_t width = CharWidth(name, i);
    if (width == 2) {
      out.append(name.substr(i, 2));
    } else {
      out.push_back(AsciiUpperChar(name[i]));
    }
    i += width;
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size() && IsBlank(text[begin])) ++begin;
  size_t end = text.size();
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Nothing but blanks, or blanks and a comment.
bool IsRestEmpty(std::string_view rest) {
  rest = TrimBlanks(rest);
  return rest.empty() || rest[0] == ';';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiUpperChar(text[i]) != AsciiUpperChar(prefix[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True when a single-byte character starts at `pos` (not the trail of a GBK pair).
bool IsCharStart(std::string_view text, size_t pos) {
  size_t i = 0;
  while (i < pos) i += CharWidth(text, i);
  return i == pos;
}

// True when `path` has an empty component ("A\\B").
bool HasEmptyComponent(std::string_view path) {
  bool afterSeparator = true;
  for (size_t i = 0; i < path.size();) {
    size_t width = CharWidth(path, i);
    bool separator = width == 1 && path[i] == '\\';
    if (separator && afterSeparator) return true;
    afterSeparator = separator;
    i += width;
  }
  return false;
}

enum class QuotedResult { kOk, kUnterminated, kBadEscape };

// Reads a quoted text whose opening quote is at *pos; on success *pos is just after the
// closing quote.
QuotedResult ReadQuoted(std::string_view line, size_t* pos, std::string* out) {
  size_t i = *pos + 1;
  while (i < line.size()) {
    size_t width = CharWidth(line, i);
    char c = line[i];
    if (width == 2) {
      out->append(line.substr(i, 2));
    } else if (c == '"') {
      *pos = i + 1;
      return QuotedResult::kOk;
    } else if (c == '\\') {
      if (i + 1 >= line.size()) return QuotedResult::kUnterminated;
      char next = line[i + 1];
      if (next != '\\' && next != '"') return QuotedResult::kBadEscape;
      out->push_back(next);
      width = 2;
    } else {
      out->push_back(c);
    }
    i += width;
  }
  return QuotedResult::kUnterminated;
}

class Parser {
 public:
  Parser(std::string_view text, std::string_view fileName, std::string* error)
      : text_(text), fileName_(fileName), error_(error) {}

  bool Run(RegDocument* doc);

 private:
  bool NextLine(std::string_view* line);
  bool Fail(const char* message);
  bool ParseKeyLine(std::string_view line, RegDocument* doc);
  bool ParseValueLine(std::string_view line, RegDocument* doc);
  bool ParseHexList(std::string_view rest, std::vector<uint8_t>* out);

  std::string_view text_;
  std::string_view fileName_;
  std::string* error_;
  size_t pos_ = 0;
  size_t lineNumber_ = 0;
  // Index of the key that value lines go to, or -1 before any key and after a deletion.
  ptrdiff_t currentKey_ = -1;
};

bool Parser::Fail(const char* message) {
  if (error_) {
    *error_ = std::string(fileName_) + ":" + std::to_string(lineNumber_) + ": " + message;
  }
  return false;
}

bool Parser::NextLine(std::string_view* line) {
  if (pos_ >= text_.size()) return false;
  size_t end = text_.find('\n', pos_);
  if (end == std::string_view::npos) end = text_.size();
  std::string_view raw = text_.substr(pos_, end - pos_);
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  pos_ = end + 1;
  ++lineNumber_;
  *line = raw;
  return true;
}

bool Parser::Run(RegDocument* doc) {
  if (text_.substr(0, kBom.size()) == kBom) pos_ = kBom.size();
  std::string_view line;
  if (!NextLine(&line)) {
    lineNumber_ = 1;
    return Fail("missing REGEDIT4 header (empty file)");
  }
  std::string_view header = TrimBlanks(line);
  if (header != kHeader4 && header != kHeader5) {
    // regedit's default export is UTF-16; say so rather than just "bad header".
    if (text_.size() >= 2 && ((text_[0] == '\xFF' && text_[1] == '\xFE') ||
                              (text_[0] == '\xFE' && text_[1] == '\xFF'))) {
      return Fail("file is UTF-16; save it as ANSI (REGEDIT4) text");
    }
    return Fail("missing REGEDIT4 header");
  }
  while (NextLine(&line)) {
    line = TrimBlanks(line);
    if (line.empty() || line[0] == ';') continue;
    bool ok = line[0] == '[' ? ParseKeyLine(line, doc) : ParseValueLine(line, doc);
    if (!ok) return false;
  }
  return true;
}

bool Parser::ParseKeyLine(std::string_view line, RegDocument* doc) {
  currentKey_ = -1;
  if (line.back() != ']' || line.size() < 2) return Fail("missing ']' at the end of the key line");
  std::string_view name = line.substr(1, line.size() - 2);
  bool remove = !name.empty() && name[0] == '-';
  if (remove) name.remove_prefix(1);
  size_t slash = name.find('\\');
  std::string_view rootName = name.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? std::string_view() : name.substr(slash);
  RegistryRoot root;
  if (!ParseRegistryRootName(rootName, &root)) return Fail("unknown root key");
  path = TrimRegPath(path);
  if (HasEmptyComponent(path)) return Fail("empty key name in the key path");
  if (remove) {
    if (path.empty()) return Fail("a root key cannot be deleted");
    doc->DeleteKeyTree(root, path);
    return true;
  }
  RegKeyData& key = doc->AddKey(root, path);
  currentKey_ = &key - doc->keys.data();
  return true;
}

bool Parser::ParseValueLine(std::string_view line, RegDocument* doc) {
  std::string name;
  size_t i = 0;
  if (line[0] == '@') {
    i = 1;
  } else if (line[0] == '"') {
    switch (ReadQuoted(line, &i, &name)) {
      case QuotedResult::kOk:
        break;
      case QuotedResult::kUnterminated:
        return Fail("missing closing quote in the value name");
      case QuotedResult::kBadEscape:
        return Fail("bad escape in the value name (only \\\\ and \\\" are allowed)");
    }
  } else {
    return Fail("line is neither a key, a value nor a comment");
  }
  if (currentKey_ < 0) return Fail("value line outside a key (before any key or after a deletion)");
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size() || line[i] != '=') return Fail("missing '=' after the value name");
  ++i;
  while (i < line.size() && IsBlank(line[i])) ++i;
  std::string_view rest = line.substr(i);
  RegKeyData& key = doc->keys[static_cast<size_t>(currentKey_)];

  if (!rest.empty() && rest[0] == '"') {
    std::string text;
    size_t end = 0;
    switch (ReadQuoted(rest, &end, &text)) {
      case QuotedResult::kOk:
        break;
      case QuotedResult::kUnterminated:
        return Fail("missing closing quote in the string value");
      case QuotedResult::kBadEscape:
        return Fail("bad escape in the string value (only \\\\ and \\\" are allowed)");
    }
    if (!IsRestEmpty(rest.substr(end))) return Fail("unexpected text after the string value");
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    key.SetValue(name, kRegSz, std::move(data));
    return true;
  }
  if (!rest.empty() && rest[0] == '-') {
    if (!IsRestEmpty(rest.substr(1))) return Fail("unexpected text after '-'");
    key.DeleteValue(name);
    return true;
  }
  if (StartsWithNoCase(rest, "dword:")) {
    std::string_view digits = rest.substr(6);
    uint32_t value = 0;
    for (size_t d = 0; d < 8; ++d) {
      int digit = d < digits.size() ? HexDigit(digits[d]) : -1;
      if (digit < 0) return Fail("bad dword value (expected 8 hex digits)");
      value = (value << 4) | static_cast<uint32_t>(digit);
    }
    if (!IsRestEmpty(digits.substr(8))) return Fail("bad dword value (expected 8 hex digits)");
    std::vector<uint8_t> data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                 static_cast<uint8_t>(value >> 16),
                                 static_cast<uint8_t>(value >> 24)};
    key.SetValue(name, kRegDword, std::move(data));
    return true;
  }
  if (StartsWithNoCase(rest, "hex")) {
    size_t j = 3;
    uint32_t type = kRegBinary;
    if (j < rest.size() && rest[j] == '(') {
      ++j;
      uint64_t number = 0;
      size_t digits = 0;
      for (; j < rest.size() && HexDigit(rest[j]) >= 0; ++j, ++digits) {
        number = (number << 4) | static_cast<uint64_t>(HexDigit(rest[j]));
        if (number > UINT32_MAX) return Fail("bad hex value type");
      }
      if (digits == 0 || j >= rest.size() || rest[j] != ')') return Fail("bad hex value type");
      ++j;
      type = static_cast<uint32_t>(number);
    }
    if (j >= rest.size() || rest[j] != ':') return Fail("missing ':' after hex");
    std::vector<uint8_t> data;
    if (!ParseHexList(rest.substr(j + 1), &data)) return false;
    key.SetValue(name, type, std::move(data));
    return true;
  }
  return Fail("bad value data (expected \"text\", dword:, hex: or -)");
}

// A list of two-digit hex bytes separated by commas; a backslash at the end of a line
// continues it on the next line.
bool Parser::ParseHexList(std::string_view rest, std::vector<uint8_t>* out) {
  bool expectByte = true;
  for (;;) {
    rest = TrimBlanks(rest);
    bool continued = false;
    size_t i = 0;
    while (i < rest.size()) {
      char c = rest[i];
      if (IsBlank(c)) {
        ++i;
      } else if (c == ';') {
        break;
      } else if (c == '\\') {
        if (i + 1 != rest.size()) return Fail("bad hex data ('\\' must end the line)");
        continued = true;
        break;
      } else if (expectByte) {
        int high = HexDigit(c);
        int low = i + 1 < rest.size() ? HexDigit(rest[i + 1]) : -1;
        bool third = i + 2 < rest.size() && HexDigit(rest[i + 2]) >= 0;
        if (high < 0 || low < 0 || third) {
          return Fail("bad hex data (expected two hex digits per byte)");
        }
        out->push_back(static_cast<uint8_t>(high * 16 + low));
        expectByte = false;
        i += 2;
      } else {
        if (c != ',') return Fail("bad hex data (expected a comma between bytes)");
        expectByte = true;
        ++i;
      }
    }
    if (!continued) break;
    if (!NextLine(&rest)) return Fail("hex data continues past the end of the file");
  }
  // A trailing comma is let through: harmless, though regedit never writes one.
  return true;
}

std::string EscapeQuoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    size_t width = CharWidth(text, i);
    if (width == 1 && (text[i] == '\\' || text[i] == '"')) out.push_back('\\');
    out.append(text.substr(i, width));
    i += width;
  }
  return out;
}

// True when the data can be written as "text" and read back unchanged: one terminating
// zero and no other, no line break, and no byte pairing that the escapes would upset
// (a stray GBK lead byte before a quote).
bool WritesAsString(const RegValue& value, std::string* escaped) {
  if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
  std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
  if (text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) return false;
  std::string quoted = "\"" + EscapeQuoted(text) + "\"";
  std::string back;
  size_t end = 0;
  if (ReadQuoted(quoted, &end, &back) != QuotedResult::kOk || end != quoted.size() ||
      back != text) {
    return false;
  }
  *escaped = std::move(quoted);
  return true;
}

void WriteHex(const RegValue& value, std::string* line) {
  char buffer[32];
  if (value.type == kRegBinary) {
    line->append("hex:");
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
    line->append(buffer);
  }
  size_t lineStart = 0;
  for (size_t i = 0; i < value.data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned>(value.data[i]));
    line->append(buffer);
    if (i + 1 == value.data.size()) break;
    line->push_back(',');
    if (line->size() - lineStart > kHexWrapColumn) {
      line->append("\\\r\n  ");
      lineStart = line->size() - 2;
    }
  }
}

void WriteValue(const RegValue& value, std::string* out) {
  std::string line = value.name.empty() ? "@=" : "\"" + EscapeQuoted(value.name) + "\"=";
  std::string quoted;
  if (WritesAsString(value, &quoted)) {
    line += quoted;
  } else if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number =
        static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
        static_cast<uint32_t>(value.data[2]) << 16 | static_cast<uint32_t>(value.data[3]) << 24;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(number));
    line += buffer;
  } else {
    WriteHex(value, &line);
  }
  out->append(line);
  out->append("\r\n");
}

}  // namespace

const RegValue* RegKeyData::FindValue(std::string_view name) const {
  for (const RegValue& value : values) {
    if (RegNamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

RegValue* RegKeyData::FindValue(std::string_view name) {
  return const_cast<RegValue*>(static_cast<const RegKeyData*>(this)->FindValue(name));
}

void RegKeyData::SetValue(std::string_view name, uint32_t type, std::vector<uint8_t> data) {
  RegValue* value = FindValue(name);
  if (!value) {
    values.push_back(RegValue{std::string(name), type, {}});
    value = &values.back();
  }
  value->type = type;
  value->data = std::move(data);
}

bool RegKeyData::DeleteValue(std::string_view name) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (RegNamesEqual(it->name, name)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

const RegKeyData* RegDocument::FindKey(RegistryRoot root, std::string_view path) const {
  for (const RegKeyData& key : keys) {
    if (key.root == root && RegPathsEqual(key.path, path)) return &key;
  }
  return nullptr;
}

RegKeyData* RegDocument::FindKey(RegistryRoot root, std::string_view path) {
  return const_cast<RegKeyData*>(static_cast<const RegDocument*>(this)->FindKey(root, path));
}

RegKeyData& RegDocument::AddKey(RegistryRoot root, std::string_view path) {
  if (RegKeyData* key = FindKey(root, path)) return *key;
  keys.push_back(RegKeyData{root, std::string(TrimRegPath(path)), {}});
  return keys.back();
}

size_t RegDocument::DeleteKeyTree(RegistryRoot root, std::string_view path) {
  std::string folded = FoldName(TrimRegPath(path));
  size_t before = keys.size();
  for (auto it = keys.begin(); it != keys.end();) {
    bool doomed = false;
    if (it->root == root) {
      std::string other = FoldName(it->path);
      if (other == folded) {
        doomed = true;
      } else if (other.size() > folded.size() && other.compare(0, folded.size(), folded) == 0 &&
                 other[folded.size()] == '\\' && IsCharStart(other, folded.size())) {
        doomed = true;
      }
    }
    it = doomed ? keys.erase(it) : it + 1;
  }
  return before - keys.size();
}

void RegDocument::SetValue(RegistryRoot root, std::string_view path, std::string_view name,
                           uint32_t type, std::vector<uint8_t> data) {
  AddKey(root, path).SetValue(name, type, std::move(data));
}

void RegDocument::SetString(RegistryRoot root, std::string_view path, std::string_view name,
                            std::string_view text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(root, path, name, kRegSz, std::move(data));
}

void RegDocument::SetDword(RegistryRoot root, std::string_view path, std::string_view name,
                           uint32_t value) {
  SetValue(root, path, name, kRegDword,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

void RegDocument::SetBinary(RegistryRoot root, std::string_view path, std::string_view name,
                            std::vector<uint8_t> bytes) {
  SetValue(root, path, name, kRegBinary, std::move(bytes));
}

namespace {

struct RootName {
  RegistryRoot root;
  const char* longName;
  const char* shortName;
};

constexpr RootName kRootNames[] = {
    {RegistryRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RegistryRoot::kCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {RegistryRoot::kClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {RegistryRoot::kUsers, "HKEY_USERS", "HKU"},
    {RegistryRoot::kCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
};

}  // namespace

const char* RegistryRootName(RegistryRoot root) {
  for (const RootName& entry : kRootNames) {
    if (entry.root == root) return entry.longName;
  }
  return "HKEY_LOCAL_MACHINE";
}

bool ParseRegistryRootName(std::string_view name, RegistryRoot* root) {
  for (const RootName& entry : kRootNames) {
    if (RegNamesEqual(name, entry.longName) || RegNamesEqual(name, entry.shortName)) {
      *root = entry.root;
      return true;
    }
  }
  return false;
}

bool RegNamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FoldName(a) == FoldName(b);
}

bool RegPathsEqual(std::string_view a, std::string_view b) {
  return RegNamesEqual(TrimRegPath(a), TrimRegPath(b));
}

std::string_view TrimRegPath(std::string_view path) {
  size_t begin = 0;
  while (begin < path.size() && path[begin] == '\\') ++begin;
  path.remove_prefix(begin);
  // A trailing 0x5C may be the second byte of a GBK character; keep that one.
  size_t end = 0;
  for (size_t i = 0; i < path.size();) {
    size_t width = CharWidth(path, i);
    i += width;
    if (width == 2 || path[i - 1] != '\\') end = i;
  }
  return path.substr(0, end);
}

bool ParseRegFile(std::string_view text, std::string_view fileName, RegDocument* out,
                  std::string* error) {
  RegDocument doc;
  Parser parser(text, fileName, error);
  if (!parser.Run(&doc)) return false;
  *out = std::move(doc);
  return true;
}

std::string WriteRegFile(const RegDocument& doc) {
  std::string out(kHeader4);
  out.append("\r\n");
  for (const RegKeyData& key : doc.keys) {
    out.append("\r\n[");
    out.append(RegistryRootName(key.root));
    std::string_view path = TrimRegPath(key.path);
    if (!path.empty()) {
      out.push_back('\\');
      out.append(path);
    }
    out.append("]\r\n");
    for (const RegValue& value : key.values) WriteValue(value, &out);
  }
  out.append("\r\n");
  return out;
}

RegLoadStatus LoadRegFile(const std::string& path, RegDocument* out, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    int code = errno;
    if (error) *error = path + ": " + std::strerror(code);
    return (code == ENOENT || code == ENOTDIR) ? RegLoadStatus::kNotFound
                                               : RegLoadStatus::kUnreadable;
  }
  std::string text;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  bool failed = std::ferror(file) != 0;
  int code = errno;
  std::fclose(file);
  if (failed) {
    if (error) *error = path + ": " + std::strerror(code);
    return RegLoadStatus::kUnreadable;
  }
  return ParseRegFile(text, path, out, error) ? RegLoadStatus::kOk : RegLoadStatus::kBadSyntax;
}

bool SaveRegFile(const std::string& path, const RegDocument& doc, std::string* error) {
  std::string text = WriteRegFile(doc);
  std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    if (error) *error = temporary + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  int code = errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    if (error) *error = path + ": " + std::strerror(code);
    std::remove(temporary.c_str());
  }
  return ok;
}

}  // namespace ost
