#include "sql_dialect.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace ost {
namespace {

enum class Kind { kSpace, kComment, kString, kQuoted, kBracket, kWord, kNumber, kPunct };

struct Token {
  Kind kind;
  std::string_view text;
  bool nested = false;  // a block comment holding other block comments
};

constexpr size_t kNone = static_cast<size_t>(-1);

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes of multi-byte UTF-8 characters count as letters, as SQL Server treats them.
bool IsWordStart(char c) {
  return IsAlpha(c) || c == '_' || c == '@' || c == '#' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != lower[i]) return false;
  }
  return true;
}

// A short, single-line excerpt for error messages.
std::string Excerpt(std::string_view text) {
  constexpr size_t kMax = 40;
  size_t cut = std::min(text.size(), kMax);
  // Never split a UTF-8 character.
  while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  std::string out(text.substr(0, cut));
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return out;
}

bool Lex(std::string_view s, std::vector<Token>* tokens, std::string* error) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const size_t start = i;
    const char c = s[i];
    Token token{Kind::kPunct, {}};
    if (IsSpace(c)) {
      while (i < n && IsSpace(s[i])) ++i;
      token.kind = Kind::kSpace;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
      token.kind = Kind::kComment;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      int depth = 0;
      while (i < n) {
        if (s[i] == '/' && i + 1 < n && s[i + 1] == '*') {
          if (++depth > 1) token.nested = true;
          i += 2;
        } else if (s[i] == '*' && i + 1 < n && s[i + 1] == '/') {
          i += 2;
          if (--depth == 0) break;
        } else {
          ++i;
        }
      }
      if (depth != 0) {
        *error = "Missing end comment mark '*/'.";
        return false;
      }
      token.kind = Kind::kComment;
    } else if (c == '\'' || c == '"' || c == '[') {
      const char close = c == '[' ? ']' : c;
      bool closed = false;
      for (++i; i < n; ++i) {
        if (s[i] != close) continue;
        if (i + 1 < n && s[i + 1] == close) {
          ++i;  // doubled: an escaped closing character
          continue;
        }
        ++i;
        closed = true;
        break;
      }
      if (!closed) {
        if (c == '\'') {
          *error = "Unclosed quotation mark after the character string '" +
                   Excerpt(s.substr(start + 1)) + "'.";
        } else {
          *error = "Unclosed quoted identifier " + Excerpt(s.substr(start)) + ".";
        }
        return false;
      }
      token.kind = c == '\'' ? Kind::kString : c == '"' ? Kind::kQuoted : Kind::kBracket;
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(s[i + 1]))) {
      for (++i; i < n; ++i) {
        const char d = s[i];
        if ((d == 'e' || d == 'E') && i + 1 < n && (s[i + 1] == '+' || s[i + 1] == '-')) {
          ++i;
        } else if (!IsDigit(d) && !IsAlpha(d) && d != '_' && d != '.') {
          break;
        }
      }
      token.kind = Kind::kNumber;
    } else if (IsWordStart(c)) {
      while (i < n && IsWordChar(s[i])) ++i;
      token.kind = Kind::kWord;
    } else {
      ++i;
    }
    token.text = s.substr(start, i - start);
    tokens->push_back(token);
  }
  return true;
}

bool IsName(const Token& t) {
  return t.kind == Kind::kWord || t.kind == Kind::kQuoted || t.kind == Kind::kBracket;
}

// The text of a name without its quotes.
std::string Unquoted(const Token& t) {
  if (t.kind == Kind::kWord) return std::string(t.text);
  const char close = t.text.front() == '[' ? ']' : '"';
  std::string out;
  std::string_view inner = t.text.substr(1, t.text.size() - 2);
  for (size_t i = 0; i < inner.size(); ++i) {
    out += inner[i];
    if (inner[i] == close) ++i;  // skip the doubling
  }
  return out;
}

// A name as SQLite accepts it: words as they are, [x] as "x".
std::string SqliteName(const Token& t) {
  if (t.kind != Kind::kBracket) return std::string(t.text);
  std::string out = "\"";
  for (char c : Unquoted(t)) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string FlattenComment(std::string_view text) {
  std::string body(text.substr(2, text.size() - 4));
  std::string out = "/*";
  for (size_t i = 0; i < body.size(); ++i) {
    out += body[i];
    if (i + 1 < body.size() &&
        ((body[i] == '/' && body[i + 1] == '*') || (body[i] == '*' && body[i + 1] == '/'))) {
      out += ' ';
    }
  }
  return out + "*/";
}

class Rewriter {
 public:
  explicit Rewriter(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  bool Run(std::string* out, std::string* error) {
    if (!PlanTops() || !PlanIndexes() || !Render(0, t_.size(), out)) {
      *error = error_;
      return false;
    }
    return true;
  }

 private:
  // A TOP clause: tokens [begin, end) leave their place; the count [exprBegin, exprEnd)
  // follows token insertAfter as " LIMIT count".
  struct Top {
    size_t begin, exprBegin, exprEnd, end, insertAfter;
  };

  // A dotted name: indices of its parts, kNone for an empty part (db..table).
  struct Chain {
    std::vector<size_t> parts;
    size_t next;
  };

  bool Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
  }

  bool FailNear(size_t i) {
    if (i >= t_.size()) return Fail("Incorrect syntax near the end of the statement.");
    return Fail("Incorrect syntax near '" + Excerpt(t_[i].text) + "'.");
  }

  // The same for the emitters, which return the next token index or kNone.
  size_t Stop(const std::string& message) {
    Fail(message);
    return kNone;
  }
  size_t StopNear(size_t i) {
    FailNear(i);
    return kNone;
  }

  bool IsPunct(size_t i, char c) const {
    return i < t_.size() && t_[i].kind == Kind::kPunct && t_[i].text[0] == c;
  }

  bool IsWord(size_t i, std::string_view lower) const {
    return i < t_.size() && t_[i].kind == Kind::kWord && SameWord(t_[i].text, lower);
  }

  // The first token at or after i that is neither white space nor a comment.
  size_t NextSig(size_t i) const {
    while (i < t_.size() && (t_[i].kind == Kind::kSpace || t_[i].kind == Kind::kComment)) ++i;
    return i;
  }

  size_t MatchingParen(size_t open) const {
    int depth = 0;
    for (size_t i = open; i < t_.size(); ++i) {
      if (IsPunct(i, '(')) ++depth;
      if (IsPunct(i, ')') && --depth == 0) return i;
    }
    return kNone;
  }

  bool PlanTops() {
    for (size_t i = 0; i < t_.size(); ++i) {
      if (!IsWord(i, "select")) continue;
      size_t top = NextSig(i + 1);
      size_t lastKept = i;
      if (IsWord(top, "distinct") || IsWord(top, "all")) {
        lastKept = top;
        top = NextSig(top + 1);
      }
      if (!IsWord(top, "top")) continue;
      const size_t exprBegin = NextSig(top + 1);
      size_t exprEnd;
      if (exprBegin < t_.size() && t_[exprBegin].kind == Kind::kNumber) {
        exprEnd = exprBegin + 1;
      } else if (IsPunct(exprBegin, '(')) {
        const size_t close = MatchingParen(exprBegin);
        if (close == kNone) return FailNear(top);
        exprEnd = close + 1;
      } else {
        continue;  // TOP used as a name
      }
      const size_t after = NextSig(exprEnd);
      if (IsWord(after, "percent")) return Fail("TOP ... PERCENT is not supported.");
      if (IsWord(after, "with") && IsWord(NextSig(after + 1), "ties")) {
        return Fail("TOP ... WITH TIES is not supported.");
      }
      // The SELECT ends at ';', at the parenthesis that encloses it, or at the end.
      int depth = 0;
      for (size_t m = after; m < t_.size(); m = NextSig(m + 1)) {
        if (IsPunct(m, ';') && depth == 0) break;
        if (IsPunct(m, '(')) ++depth;
        if (IsPunct(m, ')') && depth-- == 0) break;
        if (depth == 0 && (IsWord(m, "union") || IsWord(m, "except") || IsWord(m, "intersect"))) {
          return Fail("TOP in a SELECT joined by UNION, EXCEPT or INTERSECT is not supported.");
        }
        lastKept = m;
      }
      const size_t index = tops_.size();
      tops_.push_back({top, exprBegin, exprEnd, after, lastKept});
      topAt_[top] = index;
      limitAfter_.emplace(lastKept, index);
    }
    return true;
  }

  // SQL Server: CREATE INDEX ix ON db.dbo.t(...); SQLite: CREATE INDEX db.ix ON t(...).
  // CLUSTERED and NONCLUSTERED have no SQLite counterpart and are left out.
  bool PlanIndexes() {
    for (size_t i = 0; i < t_.size(); ++i) {
      if (!IsWord(i, "create")) continue;
      size_t j = NextSig(i + 1);
      if (IsWord(j, "unique")) j = NextSig(j + 1);
      if (IsWord(j, "clustered") || IsWord(j, "nonclustered")) {
        skip_[j] = NextSig(j + 1);
        j = NextSig(j + 1);
      }
      if (!IsWord(j, "index")) continue;
      const size_t name = NextSig(j + 1);
      if (name >= t_.size() || !IsName(t_[name]) || IsPunct(name + 1, '.')) continue;
      const size_t on = NextSig(name + 1);
      const size_t table = NextSig(on + 1);
      if (!IsWord(on, "on") || table >= t_.size() || !IsName(t_[table])) continue;
      const Chain chain = ParseChain(table);
      const size_t schema = SchemaPart(chain);
      if (schema == kNone || schema == 0) continue;
      indexDatabase_[name] = SqliteName(t_[chain.parts[schema - 1]]);
      moveDatabase_.insert(table);
    }
    return true;
  }

  bool Render(size_t begin, size_t end, std::string* out) {
    size_t i = begin;
    while (i < end) {
      auto top = topAt_.find(i);
      if (top != topAt_.end()) {
        i = tops_[top->second].end;
        continue;
      }
      auto skip = skip_.find(i);
      if (skip != skip_.end()) {
        i = skip->second;
        continue;
      }
      const size_t next = EmitOne(i, out);
      if (next == kNone) return false;
      for (size_t k = i; k < next; ++k) {
        auto range = limitAfter_.equal_range(k);
        for (auto it = range.first; it != range.second; ++it) {
          const Top& limit = tops_[it->second];
          *out += " LIMIT ";
          if (!Render(limit.exprBegin, limit.exprEnd, out)) return false;
        }
      }
      i = next;
    }
    return true;
  }

  size_t EmitOne(size_t i, std::string* out) {
    const Token& t = t_[i];
    switch (t.kind) {
      case Kind::kComment:
        *out += t.nested ? FlattenComment(t.text) : std::string(t.text);
        return i + 1;
      case Kind::kWord:
      case Kind::kQuoted:
      case Kind::kBracket:
        return EmitName(i, out);
      case Kind::kPunct:
        if (t.text[0] == '{') return EmitEscape(i, out);
        if (t.text[0] == '}') return StopNear(i);
        break;
      default:
        break;
    }
    *out += t.text;
    return i + 1;
  }

  Chain ParseChain(size_t i) const {
    Chain chain{{i}, i + 1};
    size_t j = i;
    while (IsPunct(j + 1, '.')) {
      if (j + 2 < t_.size() && IsName(t_[j + 2])) {
        chain.parts.push_back(j + 2);
        j += 2;
      } else if (IsPunct(j + 2, '.') && chain.parts.back() != kNone) {
        chain.parts.push_back(kNone);
        j += 1;
      } else {
        break;
      }
    }
    // A trailing empty part is not a name: leave its dot to the caller.
    if (chain.parts.back() == kNone) {
      chain.parts.pop_back();
      --j;
    }
    chain.next = j + 1;
    return chain;
  }

  bool IsDbo(size_t part) const {
    return part != kNone && IsName(t_[part]) && SameWord(Unquoted(t_[part]), "dbo");
  }

  // The part that names the schema (dbo, or empty in db..x), or kNone.
  size_t SchemaPart(const Chain& chain) const {
    for (size_t p = 0; p + 1 < chain.parts.size(); ++p) {
      if (IsDbo(chain.parts[p]) || (p > 0 && chain.parts[p] == kNone)) return p;
    }
    return kNone;
  }

  // db.dbo.x and db..x lose their schema; dbo.x becomes x.
  void EmitChain(const Chain& chain, std::string* out) {
    const size_t drop = SchemaPart(chain);
    bool first = true;
    for (size_t p = 0; p < chain.parts.size(); ++p) {
      if (p == drop) continue;
      if (p + 1 == drop && moveDatabase_.count(chain.parts[0])) continue;
      if (!first) *out += '.';
      first = false;
      if (chain.parts[p] == kNone) continue;
      *out += SqliteName(t_[chain.parts[p]]);
    }
  }

  size_t EmitName(size_t i, std::string* out) {
    auto index = indexDatabase_.find(i);
    if (index != indexDatabase_.end()) *out += index->second + ".";
    const Chain chain = ParseChain(i);
    if (chain.parts.size() == 1 && t_[i].kind == Kind::kWord) {
      if ((t_[i].text == "N" || t_[i].text == "n") && i + 1 < t_.size() &&
          t_[i + 1].kind == Kind::kString) {
        *out += t_[i + 1].text;
        return i + 2;
      }
      const bool local = SameWord(t_[i].text, "getdate");
      if (local || SameWord(t_[i].text, "getutcdate")) {
        const size_t open = NextSig(i + 1);
        const size_t close = NextSig(open + 1);
        if (IsPunct(open, '(') && IsPunct(close, ')')) {
          *out += local ? "(datetime('now','localtime'))" : "(datetime('now'))";
          return close + 1;
        }
      }
    }
    EmitChain(chain, out);
    return chain.next;
  }

  // ODBC escapes: {CALL ...}, {d '...'}, {t '...'}, {ts '...'}.
  size_t EmitEscape(size_t open, std::string* out) {
    const size_t word = NextSig(open + 1);
    if (IsPunct(word, '?')) {
      return Stop("Procedure return values ({? = CALL ...}) are not supported.");
    }
    if (IsWord(word, "d") || IsWord(word, "t") || IsWord(word, "ts")) {
      const size_t literal = NextSig(word + 1);
      const size_t close = NextSig(literal + 1);
      if (literal >= t_.size() || t_[literal].kind != Kind::kString || !IsPunct(close, '}')) {
        return StopNear(word);
      }
      *out += t_[literal].text;
      return close + 1;
    }
    if (!IsWord(word, "call")) {
      if (word < t_.size() && t_[word].kind == Kind::kWord) {
        return Stop("The ODBC escape '{" + std::string(t_[word].text) + "' is not supported.");
      }
      return StopNear(open);
    }
    const size_t name = NextSig(word + 1);
    if (name >= t_.size() || !IsName(t_[name])) return StopNear(word);
    const Chain chain = ParseChain(name);
    *out += "INSERT INTO ";
    EmitChain(chain, out);
    size_t close = NextSig(chain.next);
    if (IsPunct(close, '(')) {
      const size_t end = MatchingParen(close);
      if (end == kNone) return StopNear(close);
      if (NextSig(close + 1) == end) {
        *out += " DEFAULT VALUES";
      } else {
        *out += " VALUES(";
        if (!Render(close + 1, end, out)) return kNone;
        *out += ')';
      }
      close = NextSig(end + 1);
    } else {
      *out += " DEFAULT VALUES";
    }
    if (!IsPunct(close, '}')) return StopNear(close);
    return close + 1;
  }

  std::vector<Token> t_;
  std::vector<Top> tops_;
  std::map<size_t, size_t> topAt_;
  std::map<size_t, size_t> skip_;  // tokens [first, second) left out
  // CREATE INDEX: the index name takes the database of its table's three-part name.
  std::map<size_t, std::string> indexDatabase_;
  std::set<size_t> moveDatabase_;
  std::multimap<size_t, size_t> limitAfter_;
  std::string error_;
};

}  // namespace

std::string RewriteSqlServerDialect(std::string_view sql, std::string* error) {
  error->clear();
  std::vector<Token> tokens;
  // Short statements come one after another: room for their tokens at once.
  tokens.reserve(sql.size() / 2 + 8);
  if (!Lex(sql, &tokens, error)) return "";
  std::string out;
  out.reserve(sql.size() + 16);
  Rewriter rewriter(std::move(tokens));
  if (!rewriter.Run(&out, error)) return "";
  return out;
}

}  // namespace ost
